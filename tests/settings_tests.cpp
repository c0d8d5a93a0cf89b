// The profile accessor and the settings file, on the platform's own profile
// functions, each test in a fresh current directory.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/app_state.h"
#include "settings/profile_accessor.h"
#include "resources/resource_ids.h"
#include "settings/settings.h"
#include "tests/test_files.h"

namespace {

const char FILE_NAME[] = "./vornick.ini";

class SettingsTest : public ::testing::Test {
protected:
    void SetUp() override { ResetState(); }
    void TearDown() override { ResetState(); }
    static void ResetState() {
        app.phrases.clear();
        app.hotkeyVk = 0;
        app.hotkeyModifiers = 0;
    }
    // Saves the given list and hotkey the way the settings dialog does.
    static void Save(const PhraseList& list, int vk, int modifiers) {
        app.hotkeyVk = vk;
        app.hotkeyModifiers = modifiers;
        SaveSettings(static_cast<INT32>(list.size()),
                     [&](INT32 i) -> const std::string& { return list[i]; });
    }
    static std::string Entry(const char* key) {
        char text[4096];
        GetPrivateProfileStringA("DefStr", key, "<missing>", text, sizeof text, FILE_NAME);
        return text;
    }
    ScopedWorkDir dir_;
};

TEST_F(SettingsTest, AccessorStartsOnItsDefaultsAndChains) {
    ProfileAccessor profile(FILE_NAME);
    EXPECT_EQ(profile.fileName, FILE_NAME);
    EXPECT_EQ(profile.section, "SETTING");
    EXPECT_EQ(profile.key, "key");
    EXPECT_EQ(profile.value, "");

    // Chained setters return the accessor itself.
    EXPECT_EQ(&profile.SetKey("a"), &profile);
    EXPECT_EQ(&profile.SetKeyIndex(7), &profile);
    EXPECT_EQ(&profile.SetString("x"), &profile);
    EXPECT_EQ(profile.key, "7");
    EXPECT_EQ(profile.SetKeyIndex(0).key, "0");
    EXPECT_EQ(profile.SetKeyIndex(-12).key, "-12");

    profile.section = "S";
    profile.SetKeyIndex(0).SetString("zero");
    profile.SetKey("n").SetInt(-5);
    EXPECT_STREQ(profile.SetKeyIndex(0).GetString(""), "zero");
    EXPECT_EQ(profile.value, "zero");
    EXPECT_EQ(profile.SetKey("n").GetInt(0), -5);
}

TEST_F(SettingsTest, MissingFileSectionOrKeyYieldsTheDefault) {
    ProfileAccessor profile(FILE_NAME);
    profile.section = "Here";
    EXPECT_EQ(profile.SetKey("k").GetInt(42), 42);  // no file
    EXPECT_STREQ(profile.GetString("dflt"), "dflt");
    EXPECT_STREQ(profile.GetString(""), "");

    profile.SetKey("present").SetString("1");
    EXPECT_EQ(profile.SetKey("absent").GetInt(-3), -3);  // no key
    EXPECT_STREQ(profile.GetString("d"), "d");
    profile.section = "Elsewhere";  // no section
    EXPECT_EQ(profile.SetKey("present").GetInt(9), 9);
}

TEST_F(SettingsTest, EmptyStringWritesTheKeyWithAnEmptyValue) {
    ProfileAccessor profile(FILE_NAME);
    profile.section = "DefStr";
    profile.SetKey("0").SetString("");
    EXPECT_EQ(Entry("0"), "");
    EXPECT_NE(ReadFileBytes(FILE_NAME).find("0="), std::string::npos);
}

// Each row: the file's bytes, then what LoadSettings must make of them.
struct LoadCase {
    const char* what;
    const char* file;  // nullptr: no file at all
    PhraseList phrases;
    int vk;
    int modifiers;
};

TEST_F(SettingsTest, LoadReadsWhatTheFileHolds) {
    const LoadCase cases[] = {
        {"no file", nullptr, {}, 0, 0},
        {"other section only", "[Other]\r\nlen=2\r\n0=a\r\n1=b\r\nVK=65\r\n", {}, 0, 0},
        {"two phrases and a hotkey",
         "[DefStr]\r\nlen=2\r\nVK=123\r\nshift=6\r\n0=one\r\n1=two\r\n",
         {"one", "two"},
         123,
         6},
        {"missing middle key loads as empty",
         "[DefStr]\r\nlen=3\r\n0=a\r\n2=c\r\n",
         {"a", "", "c"},
         0,
         0},
        {"negative len reads nothing", "[DefStr]\r\nlen=-1\r\n0=a\r\n1=b\r\n", {}, 0, 0},
        {"missing len reads nothing", "[DefStr]\r\n0=a\r\n1=b\r\nVK=65\r\n", {}, 65, 0},
        {"VK=0 with modifiers is no hotkey", "[DefStr]\r\nlen=0\r\nVK=0\r\nshift=6\r\n", {}, 0, 6},
        {"modifier bits pass unmasked", "[DefStr]\r\nVK=123\r\nshift=15\r\n", {}, 123, 15},
        {"keys in any order",
         "[DefStr]\r\n1=second\r\nshift=2\r\n0=first\r\nlen=2\r\nVK=9\r\n",
         {"first", "second"},
         9,
         2},
    };
    for (const LoadCase& c : cases) {
        SCOPED_TRACE(c.what);
        ScopedWorkDir caseDir;
        if (c.file) WriteFileBytes(FILE_NAME, c.file);
        ResetState();
        LoadSettings();
        EXPECT_EQ(app.phrases, c.phrases);
        EXPECT_EQ(app.hotkeyVk, c.vk);
        EXPECT_EQ(app.hotkeyModifiers, c.modifiers);
    }
}

TEST_F(SettingsTest, HugeLenStopsAtTheCommandRange) {
    WriteFileBytes(FILE_NAME, "[DefStr]\r\nlen=2000000000\r\n0=a\r\n65035=last\r\n65036=over\r\n");
    LoadSettings();
    ASSERT_EQ(app.phrases.size(), static_cast<size_t>(MAX_PHRASES));
    EXPECT_EQ(IDM_PHRASE_BASE + MAX_PHRASES - 1, 65535);
    EXPECT_EQ(app.phrases.front(), "a");
    EXPECT_EQ(app.phrases.back(), "last");
}

TEST_F(SettingsTest, ThousandsOfKeysAllLoad) {
    std::string file = "[DefStr]\r\nlen=3000\r\n";
    for (int i = 0; i < 3000; ++i)
        file += std::to_string(i) + "=phrase " + std::to_string(i) + "\r\n";
    WriteFileBytes(FILE_NAME, file);
    LoadSettings();
    ASSERT_EQ(app.phrases.size(), 3000u);
    EXPECT_EQ(app.phrases[0], "phrase 0");
    EXPECT_EQ(app.phrases[2999], "phrase 2999");
}

TEST_F(SettingsTest, SaveWritesLenHotkeyAndEntries) {
    Save({"one", "", "three"}, 123, 6);
    EXPECT_EQ(Entry("len"), "3");
    EXPECT_EQ(Entry("VK"), "123");
    EXPECT_EQ(Entry("shift"), "6");
    EXPECT_EQ(Entry("0"), "one");
    EXPECT_EQ(Entry("1"), "");  // an empty phrase keeps its key
    EXPECT_EQ(Entry("2"), "three");
    EXPECT_EQ(Entry("3"), "<missing>");
}

TEST_F(SettingsTest, SaveAsksForEachEntryInOrderAfterTheHeader) {
    const PhraseList list = {"a", "b", "c", "d"};
    app.hotkeyVk = 70;
    app.hotkeyModifiers = 1;
    std::vector<INT32> asked;
    SaveSettings(4, [&](INT32 i) -> const std::string& {
        // Checked against the file itself: the header is already there, the
        // earlier entries too, and this one not yet.
        EXPECT_EQ(Entry("len"), "4");
        EXPECT_EQ(Entry("VK"), "70");
        EXPECT_EQ(Entry("shift"), "1");
        for (INT32 j = 0; j < i; ++j) EXPECT_EQ(Entry(std::to_string(j).c_str()), list[j]);
        EXPECT_EQ(Entry(std::to_string(i).c_str()), "<missing>");
        asked.push_back(i);
        return list[i];
    });
    EXPECT_EQ(asked, (std::vector<INT32>{0, 1, 2, 3}));
    EXPECT_EQ(Entry("3"), "d");
}

TEST_F(SettingsTest, ShorterSaveKeepsOldKeysButLoadsTheShortList) {
    Save({"1st", "2nd", "3rd", "4th"}, 0, 0);
    Save({"new"}, 0, 0);
    EXPECT_EQ(Entry("3"), "4th");
    LoadSettings();
    EXPECT_EQ(app.phrases, (PhraseList{"new"}));
}

TEST_F(SettingsTest, NumbersAndPhrasesRoundTrip) {
    const PhraseList phrases = {
        "plain",
        "inner  spaces and = signs; [brackets] # ; comment-like",
        "&Accelerator\tand tab",
        "C:\\path\\ending\\",
        std::string(ProfileAccessor::MAX_VALUE, 'x'),  // the longest the dialog can save
        "",
    };
    for (int vk : {0, 1, 123, 255}) {
        for (int modifiers : {0, 1, 2, 4, 7}) {
            Save(phrases, vk, modifiers);
            ResetState();
            LoadSettings();
            EXPECT_EQ(app.phrases, phrases);
            EXPECT_EQ(app.hotkeyVk, vk);
            EXPECT_EQ(app.hotkeyModifiers, modifiers);
        }
    }
}

TEST_F(SettingsTest, LongestPhraseComesBackWhole) {
    std::string longest;
    for (int i = 0; i < ProfileAccessor::MAX_VALUE; ++i) longest += static_cast<char>('a' + i % 26);
    Save({longest, "after"}, 0, 0);
    LoadSettings();
    ASSERT_EQ(app.phrases.size(), 2u);
    EXPECT_EQ(app.phrases[0].size(), longest.size());
    EXPECT_EQ(app.phrases[0], longest);
    EXPECT_EQ(app.phrases[1], "after");
}

TEST_F(SettingsTest, LineBreaksInAPhraseInjectNothing) {
    const std::string hostile = "line\r\n1=injected\r\nVK=65\n[Evil]\rlen=99\n2=x";
    Save({hostile, "honest"}, 123, 6);

    char sections[256] = {};
    GetPrivateProfileSectionNamesA(sections, sizeof sections, FILE_NAME);
    EXPECT_STREQ(sections, "DefStr");
    EXPECT_EQ(sections[strlen(sections) + 1], '\0');  // the only section
    EXPECT_EQ(Entry("1"), "honest");
    EXPECT_EQ(Entry("2"), "<missing>");
    EXPECT_EQ(Entry("VK"), "123");

    LoadSettings();
    ASSERT_EQ(app.phrases.size(), 2u);
    EXPECT_EQ(app.phrases[0], "line  1=injected  VK=65 [Evil] len=99 2=x");
    EXPECT_EQ(app.phrases[1], "honest");
    EXPECT_EQ(app.hotkeyVk, 123);
}

TEST_F(SettingsTest, EachCurrentDirectoryHasItsOwnFile) {
    Save({"first folder"}, 65, 2);
    {
        ScopedWorkDir other;
        ResetState();
        LoadSettings();
        EXPECT_TRUE(app.phrases.empty());
        EXPECT_EQ(app.hotkeyVk, 0);
        Save({"second folder"}, 66, 4);
    }
    ResetState();
    LoadSettings();
    EXPECT_EQ(app.phrases, (PhraseList{"first folder"}));
    EXPECT_EQ(app.hotkeyVk, 65);
}

// Run with LC_ALL=ja_JP.UTF-8, which gives Wine the Japanese code page.
TEST_F(SettingsTest, Cp932JapaneseRoundTripsByteForByte) {
    ASSERT_EQ(GetACP(), 932u);
    const PhraseList phrases =
        {
            "\x82\xa8\x90\xa2\x98\x62\x82\xc9\x82\xc8\x82\xc1\x82\xc4\x82\xa8\x82\xe8\x82\xdc\x82"
            "\xb7",                      // おせわになっております
            "\x95\x5c\x83\x5c\x94\x5c",  // 表ソ能: trail bytes that are backslashes
            "\x93\x8c\x8b\x9e\x93\x73 \x8d\x60\x8b\xe6 1-2-3",  // 東京都 港区 1-2-3
        };
    std::string kana;
    for (int i = 0; i < ProfileAccessor::MAX_VALUE / 2; ++i) kana += "\x83\x41";  // ア
    PhraseList all = phrases;
    all.push_back(kana + "A");  // 1023 bytes of double-byte text and one more
    Save(all, 123, 6);
    LoadSettings();
    EXPECT_EQ(app.phrases, all);
}

}  // namespace
