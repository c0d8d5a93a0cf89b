// The profile accessor and the settings file, on the platform's own profile
// functions, each test in a fresh current directory.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <algorithm>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "app/app_state.h"
#include "resources/resource_ids.h"
#include "settings/file_replace.h"
#include "settings/profile_accessor.h"
#include "settings/settings.h"
#include "tests/test_files.h"

namespace {

using namespace std::string_view_literals;

const char FILE_NAME[] = "./vornick.ini";

class SettingsTest : public ::testing::Test {
public:
    void SetUp() override { ResetState(); }
    void TearDown() override { ResetState(); }
    static void ResetState() {
        app.phrases.clear();
        app.hotkeyVk = 0;
        app.hotkeyModifiers = 0;
    }
    // Saves the given list and hotkey the way the settings dialog does.
    static DWORD Save(const PhraseList& list, int vk, int modifiers,
                      std::string* failedPath = nullptr) {
        app.hotkeyVk = vk;
        app.hotkeyModifiers = modifiers;
        return SaveSettings(
            static_cast<INT32>(list.size()), [&](INT32 i) -> const std::string& { return list[i]; },
            failedPath);
    }
    // The section's entries as the platform lists them.
    static std::vector<std::string> SectionEntries() {
        std::string listed;
        ProfileAccessor profile(FILE_NAME);
        profile.section = "DefStr";
        profile.GetSection(&listed);
        std::vector<std::string> entries;
        for (size_t start = 0; start < listed.size();) {
            entries.push_back(listed.c_str() + start);
            start += entries.back().size() + 1;
        }
        return entries;
    }
    static std::string Entry(const char* key) {
        char text[4096];
        GetPrivateProfileStringA("DefStr", key, "<missing>", text, sizeof text, FILE_NAME);
        return text;
    }
    // A file's bytes from `text` (UTF-8): as it is where `mark` is empty,
    // otherwise after that byte-order mark in its encoding (UTF-8, or UTF-16
    // with its bytes in the mark's order).
    static std::string Encoded(const std::string& text, const std::string& mark) {
        if (mark.empty()) return text;
        if (mark[0] == '\xEF') return mark + text;
        int length =
            MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
        std::wstring wide(length, L'\0');
        if (length > 0) {
            MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &wide[0],
                                length);
        }
        std::string bytes = mark;
        for (wchar_t c : wide) {
            char low = static_cast<char>(c & 0xFF), high = static_cast<char>(c >> 8);
            bytes += mark[0] == '\xFF' ? std::string{low, high} : std::string{high, low};
        }
        return bytes;
    }
    // The files in the current folder, by name.
    static std::vector<std::string> FolderFiles() {
        std::vector<std::string> names;
        WIN32_FIND_DATAA found;
        HANDLE search = FindFirstFileA("*", &found);
        if (search == INVALID_HANDLE_VALUE) return names;
        do {
            std::string name = found.cFileName;
            if (name != "." && name != "..") names.push_back(name);
        } while (FindNextFileA(search, &found));
        FindClose(search);
        std::sort(names.begin(), names.end());
        return names;
    }
    // The list and hotkey as the platform's own per-key read gives them back.
    static void ExpectPerKeyReadGives(const PhraseList& phrases, int vk, int modifiers) {
        EXPECT_EQ(GetPrivateProfileIntA("DefStr", "len", -1, FILE_NAME), phrases.size());
        EXPECT_EQ(GetPrivateProfileIntA("DefStr", "VK", -1, FILE_NAME), static_cast<UINT>(vk));
        EXPECT_EQ(GetPrivateProfileIntA("DefStr", "shift", -1, FILE_NAME),
                  static_cast<UINT>(modifiers));
        for (size_t i = 0; i < phrases.size(); ++i) {
            EXPECT_EQ(Entry(std::to_string(i).c_str()), phrases[i]) << "phrase " << i;
        }
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

// One platform read per entry, as the program read before it read whole
// sections: a cross-check that files it did not write itself still load as
// they did.
struct PerKeyRead {
    PhraseList phrases;
    int vk, modifiers;
};
PerKeyRead ReadEntryByEntry() {
    PerKeyRead read;
    INT32 count = static_cast<INT32>(GetPrivateProfileIntA("DefStr", "len", 0, FILE_NAME));
    for (INT32 i = 0; i < count && i < MAX_PHRASES; ++i) {
        char text[ProfileAccessor::MAX_VALUE + 1];
        GetPrivateProfileStringA("DefStr", std::to_string(i).c_str(), "", text, sizeof text,
                                 FILE_NAME);
        read.phrases.push_back(text);
    }
    read.vk = static_cast<INT32>(GetPrivateProfileIntA("DefStr", "VK", 0, FILE_NAME));
    read.modifiers = static_cast<INT32>(GetPrivateProfileIntA("DefStr", "shift", 0, FILE_NAME));
    return read;
}

TEST_F(SettingsTest, OddFilesLoadAsTheProfileRulesReadThem) {
    // Each row: a file the program did not write, and what a reader who
    // knows the profile rules sees in it.
    const struct {
        const char* what;
        std::string file;
        PhraseList phrases;
        int vk, modifiers;
    } cases[] = {
        // One pair of matching quotes, single or double, is dropped; white
        // space outside them is trimmed, inside them kept.
        {"quotes: a pair is dropped, one alone is kept, single quotes too",
         "[DefStr]\r\nlen=12\r\n0=\"  x  \"\r\n1=  y  \r\n2='q'\r\n3=\"\"q\"\"\r\n4=\"open\r\n"
         "5=close\"\r\n6=\"\r\n7=\"\"\r\n8='\"\r\n9=\"'mixed'\"\r\n10='  single  '\r\n"
         "11=\"a\"b\"\r\n",
         {"  x  ", "y", "q", "\"q\"", "\"open", "close\"", "\"", "", "'\"", "'mixed'", "  single  ",
          "a\"b"},
         0,
         0},
        {"white space around keys, '=' and values",
         "[DefStr]\r\n  len  =  3  \r\n0 = a\r\n 1\t=\tb \t\r\n2=  \r\n VK = 65 \r\n",
         {"a", "b", ""},
         65,
         0},
        {"keys in other cases; the first wins",
         "[DefStr]\r\nLEN=2\r\nLen=5\r\nvk=66\r\nVK=67\r\nSHIFT=3\r\n0=a\r\n1=b\r\n",
         {"a", "b"},
         66,
         3},
        {"a key twice: the first wins",
         "[DefStr]\r\nlen=2\r\n0=first\r\n0=second\r\n1=one\r\nlen=5\r\n1=uno\r\n",
         {"first", "one"},
         0,
         0},
        {"empty values",
         "[DefStr]\r\nlen=3\r\n0=\r\n1=\"\"\r\n2=''\r\nshift=\r\nVK=7\r\n",
         {"", "", ""},
         7,
         0},
        {"an empty len", "[DefStr]\r\nlen=\r\n0=a\r\n", {}, 0, 0},
        // A bare key is the key with no value: the default.
        {"lines without '=' hide later entries of their key",
         "[DefStr]\r\nlen=3\r\n0\r\n0=shadowed\r\n1=b\r\nno equals here\r\n2=c\r\nVK\r\nVK=70\r\n",
         {"", "b", "c"},
         0,
         0},
        {"comments",
         "[DefStr]\r\n; a comment\r\nlen=3\r\n;0=commented\r\n0=a\r\n# hash=1\r\n"
         "1=b ; not a comment\r\n2=;starts\r\n",
         {"a", "b ; not a comment", ";starts"},
         0,
         0},
        {"a second [DefStr] is never read",
         "[DefStr]\r\nlen=3\r\n0=a\r\n[Other]\r\n1=other\r\n[defstr]\r\n1=second\r\n2=c\r\n"
         "VK=70\r\n",
         {"a", "", ""},
         0,
         0},
        {"other sections around",
         "[Other]\r\nlen=5\r\n0=o\r\n[DefStr]\r\nlen=1\r\n0=mine\r\n[Third]\r\nVK=1\r\n",
         {"mine"},
         0,
         0},
        {"a byte-order mark",
         "\xEF\xBB\xBF[DefStr]\r\nlen=2\r\n0=bom\r\n1=\t tab \t\r\nVK=9\r\n",
         {"bom", "tab"},
         9,
         0},
        {"numbers in quotes and with signs",
         "[DefStr]\r\nlen=\"3\"\r\nVK='+65'\r\nshift= -2 \r\n0=a\r\n1=b\r\n2=c\r\n",
         {"a", "b", "c"},
         65,
         -2},
        // The platform reads a number as far as it goes, and takes 0x as
        // the start of a hexadecimal one.
        {"numbers followed by text, or none",
         "[DefStr]\r\nlen=2abc\r\nVK=0x41\r\nshift=abc\r\n",
         {"", ""},
         65,
         0},
        // Beyond 32 bits the platform keeps the low 32 bits:
        // 4294967298 = 2^32 + 2, and 99999999999 mod 2^32 = 1215752191.
        {"numbers beyond 32 bits",
         "[DefStr]\r\nlen=4294967298\r\nVK=99999999999\r\nshift=-0\r\n0=a\r\n1=b\r\n",
         {"a", "b"},
         1215752191,
         0},
        {"values longer than a phrase may be",
         "[DefStr]\r\nlen=3\r\n0=" + std::string(1500, 'x') + "\r\n1=" + std::string(1023, 'y') +
             "\r\n2=\"" + std::string(1022, 'z') + "\"\r\n",
         {std::string(1023, 'x'), std::string(1023, 'y'), std::string(1022, 'z')},
         0,
         0},
        {"line feeds alone, no final line break", "[DefStr]\nlen=2\n0=a\n1=b", {"a", "b"}, 0, 0},
        {"a header with spaces", "\r\n  [ DefStr ]  \r\nlen=1\r\n0=a\r\n", {"a"}, 0, 0},
        {"keys that only look like indexes",
         "[DefStr]\r\nlen=3\r\n00=zero zero\r\n+1=plus\r\n 2 =two\r\n1 =one\r\n",
         {"", "one", "two"},
         0,
         0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ScopedWorkDir caseDir;
        WriteFileBytes(FILE_NAME, c.file);
        ResetState();
        LoadSettings();
        EXPECT_EQ(app.phrases, c.phrases);
        EXPECT_EQ(app.hotkeyVk, c.vk);
        EXPECT_EQ(app.hotkeyModifiers, c.modifiers);
        // The platform's own per-key read agrees.
        const PerKeyRead perKey = ReadEntryByEntry();
        EXPECT_EQ(perKey.phrases, c.phrases);
        EXPECT_EQ(perKey.vk, c.vk);
        EXPECT_EQ(perKey.modifiers, c.modifiers);
    }
}

TEST_F(SettingsTest, ReadCutAtTheOlderSystemsLimitFallsBackToPerKeyReads) {
    // 2,000 phrases (about 80 KB), and the numbers last, so that a read cut
    // at 32,767 bytes lacks them and ends inside a phrase.
    std::string file = "[DefStr]\r\n";
    PhraseList phrases;
    for (int i = 0; i < 2000; ++i) {
        phrases.push_back("phrase " + std::to_string(i) + " with some more text after it");
        file += std::to_string(i) + "=" + phrases.back() + "\r\n";
    }
    file += "len=2000\r\nVK=123\r\nshift=6\r\n";
    WriteFileBytes(FILE_NAME, file);

    // The whole list, as the platform gives it where it does not cut it.
    std::string whole(1 << 20, '\0');
    whole.resize(GetPrivateProfileSectionA("DefStr", &whole[0], static_cast<DWORD>(whole.size()),
                                           FILE_NAME));
    ASSERT_GT(whole.size(), 70000u);
    // What those systems hand out: the first 32,765 bytes, then two zeros.
    const std::string cut = whole.substr(0, 32765);
    ASSERT_NE(cut.back(), '\0') << "the cut should fall inside an entry";

    LoadSettingsFromSection(cut, false);
    EXPECT_EQ(app.phrases, phrases);
    EXPECT_EQ(app.hotkeyVk, 123);
    EXPECT_EQ(app.hotkeyModifiers, 6);
}

TEST(SectionReadTest, OnSystemsThatCapSectionsAReadOfALargeFileCountsAsCut) {
    const struct {
        const char* what;
        bool capped;
        UINT64 fileSize;
        DWORD length;
        bool cut;
    } cases[] = {
        {"the NT family never cuts", false, 100000000, 99000000, false},
        {"no file", true, 0, 0, false},
        {"a file one byte under the cap", true, SECTION_LIMIT_9X - 1, 32000, false},
        {"a file of the cap's size, whatever was listed", true, SECTION_LIMIT_9X, 10, true},
        {"a larger file whose section listed little", true, 80000, 100, true},
        {"a file of 4 GB and a little more", true, 0x100000010ull, 10, true},
        {"a list that filled the capped buffer", true, 1000, SECTION_LIMIT_9X - 2, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(SectionReadMayBeCut(c.capped, c.fileSize, c.length), c.cut);
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

TEST_F(SettingsTest, SaveAsksForEachEntryOnceInOrder) {
    const PhraseList list = {"a", "b", "c", "d"};
    app.hotkeyVk = 70;
    app.hotkeyModifiers = 1;
    std::vector<INT32> asked;
    EXPECT_EQ(SaveSettings(4,
                           [&](INT32 i) -> const std::string& {
                               asked.push_back(i);
                               return list[i];
                           }),
              static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(asked, (std::vector<INT32>{0, 1, 2, 3}));
    EXPECT_EQ(SectionEntries(),
              (std::vector<std::string>{"len=4", "VK=70", "shift=1", "0=a", "1=b", "2=c", "3=d"}));
}

// One file saved: its bytes before (nullptr: no file) and after. With a
// byte-order mark the two are UTF-8 text and the file holds them in the
// mark's encoding; without one they are the file's bytes.
struct SaveCase {
    const char* what;
    const char* mark;
    std::string_view before;  // NO_FILE: none
    std::string_view after;
};
const std::string_view NO_FILE;  // the one view without data

// Saves `phrases` with the hotkey Ctrl+A into each file: the file must come
// out byte for byte as the row says, give the list and the hotkey back
// through the platform's own per-key read and through LoadSettings, and
// leave no other file behind.
void ExpectSavesAsWritten(const std::vector<SaveCase>& cases, const PhraseList& phrases) {
    for (const SaveCase& c : cases) {
        SCOPED_TRACE(c.what);
        ScopedWorkDir caseDir;
        if (c.before.data()) {
            WriteFileBytes(FILE_NAME, SettingsTest::Encoded(std::string(c.before), c.mark));
        }
        ASSERT_EQ(SettingsTest::Save(phrases, 'A', MOD_CONTROL), static_cast<DWORD>(ERROR_SUCCESS));
        EXPECT_EQ(ReadFileBytes(FILE_NAME), SettingsTest::Encoded(std::string(c.after), c.mark));
        SettingsTest::ExpectPerKeyReadGives(phrases, 'A', MOD_CONTROL);
        SettingsTest::ResetState();
        LoadSettings();
        EXPECT_EQ(app.phrases, phrases);
        EXPECT_EQ(app.hotkeyVk, 'A');
        EXPECT_EQ(app.hotkeyModifiers, MOD_CONTROL);
        EXPECT_EQ(SettingsTest::FolderFiles(), (std::vector<std::string>{"vornick.ini"}));
    }
}

// The program's lines of a file saved with the list {"new", " second ",
// "café"} and Ctrl+A: é is E9 in code page 1252, C3 A9 in UTF-8.
#define LEN "len=3"
#define HOTKEY "VK=65\r\nshift=2"
#define P0 "0=new"
#define P1 "1=\" second \""
#define P2 "2=caf\xE9"
#define P2_UTF8 "2=caf\xC3\xA9"
#define OURS LEN "\r\n" HOTKEY "\r\n" P0 "\r\n" P1 "\r\n" P2 "\r\n"
#define OURS_UTF8 LEN "\r\n" HOTKEY "\r\n" P0 "\r\n" P1 "\r\n" P2_UTF8 "\r\n"

TEST_F(SettingsTest, SaveChangesOnlyTheProgramsLines) {
    const char* const UTF8 = "\xEF\xBB\xBF";
    const char* const UTF16LE = "\xFF\xFE";
    const char* const UTF16BE = "\xFE\xFF";
    // Greek and Japanese are not in code page 1252: a read and write in
    // ANSI text would change them.
    const char* const UNICODE_BEFORE =
        "[DefStr]\r\nnote=αβ café 日本\r\nlen=1\r\n0=old\r\n[Ελληνικά]\r\nκλειδί=τιμή\r\n";
    const char* const UNICODE_AFTER =
        "[DefStr]\r\nnote=αβ café 日本\r\n" LEN "\r\n" P0 "\r\n" HOTKEY "\r\n" P1 "\r\n" P2_UTF8
        "\r\n[Ελληνικά]\r\nκλειδί=τιμή\r\n";
    ExpectSavesAsWritten(
        {
            {"no file", "", NO_FILE, "[DefStr]\r\n" OURS},
            {"an empty file", "", "", "[DefStr]\r\n" OURS},
            {"other sections only: [DefStr] goes at the end", "", "[Other]\r\nk=v\r\n",
             "[Other]\r\nk=v\r\n[DefStr]\r\n" OURS},
            {"no final line break and no [DefStr]", "", "[Other]\r\nk=v",
             "[Other]\r\nk=v\r\n[DefStr]\r\n" OURS},
            // Ours replaced where they stand, the missing ones after the
            // section's last entry; comments and blank lines stay.
            {"comments in and around [DefStr], blank lines", "",
             "; vornick\r\n\r\n[DefStr]\r\n; how many\r\nlen=1\r\n\r\n  ; indented\r\n0=old\r\n"
             ";1=commented out\r\n\r\n; of [Other]\r\n[Other]\r\nk=v\r\n",
             "; vornick\r\n\r\n[DefStr]\r\n; how many\r\n" LEN "\r\n\r\n  ; indented\r\n" P0
             "\r\n" HOTKEY "\r\n" P1 "\r\n" P2
             "\r\n;1=commented out\r\n\r\n; of [Other]\r\n[Other]\r\nk=v\r\n"},
            {"other sections before and after, with keys of the same names", "",
             "[Before]\r\nlen=7\r\n0=b\r\n[DefStr]\r\nlen=1\r\nVK=1\r\nshift=1\r\n0=old\r\n"
             "[After]\r\nVK=9\r\n",
             "[Before]\r\nlen=7\r\n0=b\r\n[DefStr]\r\n" OURS "[After]\r\nVK=9\r\n"},
            {"[DefStr] twice: the second, never read, stays", "",
             "[DefStr]\r\nlen=1\r\n0=old\r\n[defstr]\r\nlen=7\r\nVK=3\r\n1=late\r\n",
             "[DefStr]\r\n" LEN "\r\n" P0 "\r\n" HOTKEY "\r\n" P1 "\r\n" P2
             "\r\n[defstr]\r\nlen=7\r\nVK=3\r\n1=late\r\n"},
            {"keys in other case, white space around names and '='", "",
             "[DefStr]\r\nLEN = 1\r\n  Vk=3\r\nSHIFT\t=\t1\r\n 0 = old \r\nnote=mine\r\n",
             "[DefStr]\r\n" LEN "\r\n" HOTKEY "\r\n" P0 "\r\nnote=mine\r\n" P1 "\r\n" P2 "\r\n"},
            {"a header in other case and with spaces", "", "  [ defSTR ]  \r\nlen=1\r\n0=old\r\n",
             "  [ defSTR ]  \r\n" LEN "\r\n" P0 "\r\n" HOTKEY "\r\n" P1 "\r\n" P2 "\r\n"},
            // A key with no '=' is what the reader finds: it is replaced,
            // and the later line of its key, never read, goes.
            {"keys with no '='", "",
             "[DefStr]\r\nlen\r\nlen=1\r\njust words\r\n0=old\r\nVK\r\nVK=70\r\n",
             "[DefStr]\r\n" LEN "\r\njust words\r\n" P0 "\r\nVK=65\r\nshift=2\r\n" P1 "\r\n" P2
             "\r\n"},
            {"a key twice: the first is replaced, the second goes", "",
             "[DefStr]\r\nlen=2\r\n0=first\r\n0=second\r\n1=one\r\nlen=5\r\nnote=last\r\n",
             "[DefStr]\r\n" LEN "\r\n" P0 "\r\n" P1 "\r\nnote=last\r\n" HOTKEY "\r\n" P2 "\r\n"},
            {"numbered keys from len up, and keys that only look like indexes, stay", "",
             "[DefStr]\r\nlen=5\r\n0=a\r\n1=b\r\n2=c\r\n3=d\r\n4=e\r\n00=zero zero\r\n+1=plus\r\n",
             "[DefStr]\r\n" LEN "\r\n" P0 "\r\n" P1 "\r\n" P2
             "\r\n3=d\r\n4=e\r\n00=zero zero\r\n+1=plus\r\n" HOTKEY "\r\n"},
            {"line feeds alone", "", "[DefStr]\nlen=1\n0=old\n[Other]\nk=v\n",
             "[DefStr]\nlen=3\n0=new\nVK=65\nshift=2\n1=\" second \"\n2=caf\xE9\n[Other]\nk=v\n"},
            {"carriage returns alone", "", "[DefStr]\rlen=1\r0=old\r",
             "[DefStr]\rlen=3\r0=new\rVK=65\rshift=2\r1=\" second \"\r2=caf\xE9\r"},
            {"no final line break after one of ours", "", "[DefStr]\r\nlen=1\r\n0=old",
             "[DefStr]\r\n" LEN "\r\n" P0 "\r\n" HOTKEY "\r\n" P1 "\r\n" P2},
            {"no final line break after another entry", "", "[DefStr]\r\n0=old\r\nnote=last",
             "[DefStr]\r\n" P0 "\r\nnote=last\r\n" LEN "\r\n" HOTKEY "\r\n" P1 "\r\n" P2},
            // The reader compares names as zero-terminated texts.
            {"a zero byte ends a name", "", "[DefStr]\r\nlen\0 old=1\r\n0=old\r\n"sv,
             "[DefStr]\r\n" LEN "\r\n" P0 "\r\n" HOTKEY "\r\n" P1 "\r\n" P2 "\r\n"},
            {"brackets and '=' that make no header or key", "",
             "[DefStr]\r\n0=[not a header]\r\n[no end\r\nnote=a=b\r\nlen=1\r\n",
             "[DefStr]\r\n" P0 "\r\n[no end\r\nnote=a=b\r\n" LEN "\r\n" HOTKEY "\r\n" P1 "\r\n" P2
             "\r\n"},
            // Other entries keep the characters that the code page lacks;
            // the phrases are converted into the file's encoding.
            {"UTF-8", UTF8, UNICODE_BEFORE, UNICODE_AFTER},
            {"UTF-16, little-endian", UTF16LE, UNICODE_BEFORE, UNICODE_AFTER},
            {"UTF-16, big-endian", UTF16BE, UNICODE_BEFORE, UNICODE_AFTER},
            {"UTF-16 without [DefStr]", UTF16LE, "[Other]\nk=αβ\n",
             "[Other]\nk=αβ\n[DefStr]\nlen=3\nVK=65\nshift=2\n0=new\n1=\" second \"\n2=café\n"},
            {"a byte-order mark alone", UTF8, "", "[DefStr]\r\n" OURS_UTF8},
        },
        {"new", " second ", "caf\xE9"});
}

// The file after a failed save: as it was, and alone in its folder.
void ExpectUnchanged(const std::string& before) {
    EXPECT_EQ(ReadFileBytes(FILE_NAME), before);
    EXPECT_EQ(SettingsTest::FolderFiles(), (std::vector<std::string>{"vornick.ini"}));
}

// Another program holding the file open, sharing reading and writing but not
// deletion, as a virus scanner or an indexer may for a moment.
HANDLE HoldOpen() {
    return CreateFileA(FILE_NAME, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

TEST_F(SettingsTest, FailedSaveLeavesTheFileAsItWasAndSaysWhat) {
    const std::string before = "[DefStr]\r\nlen=1\r\n; kept\r\n0=old\r\n";
    HANDLE held = INVALID_HANDLE_VALUE;
    const struct {
        const char* what;
        std::function<void()> make, undo;
    } faults[] = {
        {"read-only file", [] { SetFileAttributesA(FILE_NAME, FILE_ATTRIBUTE_READONLY); },
         [] { SetFileAttributesA(FILE_NAME, FILE_ATTRIBUTE_NORMAL); }},
        // Held for longer than the swap is tried again.
        {"file held open without delete sharing",
         [&] {
             held = HoldOpen();
             ASSERT_NE(held, INVALID_HANDLE_VALUE);
         },
         [&] { CloseHandle(held); }},
    };
    for (const auto& fault : faults) {
        SCOPED_TRACE(fault.what);
        ScopedWorkDir caseDir;
        WriteFileBytes(FILE_NAME, before);
        fault.make();
        std::string failedPath;
        const DWORD error = Save({"new", "second"}, 'A', MOD_CONTROL, &failedPath);
        // Windows says sharing violation where Wine says access denied.
        EXPECT_TRUE(error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION) << error;
        EXPECT_EQ(failedPath, caseDir.path() + "\\vornick.ini");
        fault.undo();
        ExpectUnchanged(before);
        // Once the fault is gone, the same save goes through.
        ASSERT_EQ(Save({"new", "second"}, 'A', MOD_CONTROL), static_cast<DWORD>(ERROR_SUCCESS));
        ExpectPerKeyReadGives({"new", "second"}, 'A', MOD_CONTROL);
        EXPECT_NE(ReadFileBytes(FILE_NAME).find("; kept\r\n"), std::string::npos);
    }
}

TEST_F(SettingsTest, FolderThatTakesNoNewFileIsNamed) {
    // /sys takes no new files, whoever asks.
    ASSERT_TRUE(SetCurrentDirectoryA("Z:\\sys"));
    std::string failedPath;
    EXPECT_EQ(Save({"new"}, 'A', 0, &failedPath), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(failedPath, "Z:\\sys\\");
    EXPECT_EQ(GetFileAttributesA("vornick.ini.new"), INVALID_FILE_ATTRIBUTES);
    SetCurrentDirectoryA(dir_.path().c_str());
}

DWORD WINAPI CloseAfterAMoment(void* handle) {
    Sleep(300);
    CloseHandle(handle);
    return 0;
}

TEST_F(SettingsTest, SaveWaitsForAFileHeldOpenForAMoment) {
    WriteFileBytes(FILE_NAME, "[DefStr]\r\nlen=1\r\n0=old\r\n");
    HANDLE held = HoldOpen();
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    HANDLE closer = CreateThread(nullptr, 0, CloseAfterAMoment, held, 0, nullptr);
    ASSERT_NE(closer, nullptr);
    EXPECT_EQ(Save({"new"}, 'A', 0), static_cast<DWORD>(ERROR_SUCCESS));
    WaitForSingleObject(closer, INFINITE);
    CloseHandle(closer);
    ExpectPerKeyReadGives({"new"}, 'A', 0);
    EXPECT_EQ(FolderFiles(), (std::vector<std::string>{"vornick.ini"}));
}

TEST_F(SettingsTest, SaveKeepsTheFileHidden) {
    WriteFileBytes(FILE_NAME, "[DefStr]\r\nlen=1\r\n0=old\r\n");
    ASSERT_TRUE(SetFileAttributesA(FILE_NAME, FILE_ATTRIBUTE_HIDDEN));
    ASSERT_EQ(Save({"new"}, 0, 0), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(Entry("0"), "new");
    DWORD attributes = GetFileAttributesA(FILE_NAME);
    EXPECT_NE(attributes, INVALID_FILE_ATTRIBUTES);
    EXPECT_TRUE(attributes & FILE_ATTRIBUTE_HIDDEN) << attributes;
}

bool ReportsNTFamily() {
    OSVERSIONINFOA version = {};
    version.dwOSVersionInfoSize = sizeof version;
    return GetVersionExA(&version) && version.dwPlatformId == VER_PLATFORM_WIN32_NT;
}

TEST_F(SettingsTest, SaveReplacesTheFileAsTheSystemsFamilyCan) {
    // The run that Wine tells it is Windows 98 says so (tests/CMakeLists.txt).
    if (const char* expected = getenv("VORNICK_EXPECTED_FAMILY")) {
        ASSERT_STREQ(expected, ReportsNTFamily() ? "nt" : "consumer");
    }
    // A folder where the old file's copy would go: only the consumer
    // family, which moves the old file aside before the new one moves in,
    // is stopped by it, and then leaves the file as it was.
    const std::string before = "[DefStr]\r\nlen=1\r\n0=old\r\n";
    WriteFileBytes(FILE_NAME, before);
    ASSERT_TRUE(CreateDirectoryA("vornick.ini.old", nullptr));
    const DWORD error = Save({"new"}, 'A', 0);
    if (ReportsNTFamily()) {
        EXPECT_EQ(error, static_cast<DWORD>(ERROR_SUCCESS));
        EXPECT_EQ(Entry("0"), "new");
    } else {
        EXPECT_NE(error, static_cast<DWORD>(ERROR_SUCCESS));
        EXPECT_EQ(ReadFileBytes(FILE_NAME), before);
    }
    EXPECT_EQ(GetFileAttributesA("vornick.ini.new"), INVALID_FILE_ATTRIBUTES);
    RemoveDirectoryA("vornick.ini.old");
}

TEST_F(SettingsTest, StartFinishesWhatASaveCutOffLeft) {
    const std::string oldFile = "[DefStr]\r\nlen=1\r\n0=old\r\n";
    const std::string newFile = "[DefStr]\r\nlen=1\r\n0=new\r\n";
    const std::string part = "[DefStr]\r\nlen=1\r\n0=ne";
    const struct {
        const char* what;
        const char* file;  // nullptr: none
        const char* oldCopy;
        const char* newCopy;
        const char* loaded;  // the one phrase that LoadSettings must find
    } cases[] = {
        {"a new file cut off while written is deleted unread", oldFile.c_str(), nullptr,
         part.c_str(), "old"},
        {"the file missing beside its old copy comes back from it", nullptr, oldFile.c_str(),
         newFile.c_str(), "old"},
        {"only the old copy", nullptr, oldFile.c_str(), nullptr, "old"},
        {"an old copy beside the file is stale and goes", newFile.c_str(), oldFile.c_str(), nullptr,
         "new"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ScopedWorkDir caseDir;
        if (c.file) WriteFileBytes(FILE_NAME, c.file);
        if (c.oldCopy) WriteFileBytes("vornick.ini.old", c.oldCopy);
        if (c.newCopy) WriteFileBytes("vornick.ini.new", c.newCopy);
        ResetState();
        LoadSettings();
        EXPECT_EQ(app.phrases, (PhraseList{c.loaded}));
        EXPECT_EQ(ReadFileBytes(FILE_NAME), std::string(c.loaded) == "old" ? oldFile : newFile);
        EXPECT_EQ(FolderFiles(), (std::vector<std::string>{"vornick.ini"}));
    }
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

TEST_F(SettingsTest, PhrasesWithSpacesOrQuotesAtTheirEndsComeBackExactly) {
    const PhraseList phrases = {
        "Regards, ",       // a space at the end
        "  indented",      // spaces at the start
        "\tboth\t",        // tabs at both ends
        "   ",             // only spaces
        " ",               // one space
        "\"quoted\"",      // a pair of quotes, which the read would drop
        "'single'",        // single quotes are a pair too
        "\"open",          // a quote at one end only
        "close\"",
        "\"",              // a quote alone
        "\"\"",            // two quotes, nothing between
        "\" spaced \"",    // quotes with spaces inside
        " \"a\" ",         // spaces outside quotes
        "'\"",             // two different quotes
        "mid \"quoted\" text",
        "",
        std::string(ProfileAccessor::MAX_VALUE - 1, 'x') + " ",  // the longest, ending in a space
    };
    Save(phrases, 0, 0);
    LoadSettings();
    EXPECT_EQ(app.phrases, phrases);
    // A file written now reads the same entry by entry, as older versions read.
    // (Not the longest: that read loses a byte of a quoted value of more
    // than MAX_VALUE bytes, where it lost the space before.)
    const PhraseList perKey = ReadEntryByEntry().phrases;
    ASSERT_EQ(perKey.size(), phrases.size());
    EXPECT_EQ(PhraseList(perKey.begin(), perKey.end() - 1),
              PhraseList(phrases.begin(), phrases.end() - 1));
    // Phrases that need no quotes are written as they are.
    EXPECT_EQ(SectionEntries()[3 + 14], "14=mid \"quoted\" text");
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

// Run with LC_ALL=ja_JP.UTF-8, which gives Wine the Japanese code page: the
// file's lines as the reader sees them there, where a double-byte
// character's second byte may be any byte, even '[', ']' or a line feed.
TEST_F(SettingsTest, Cp932SaveChangesOnlyTheProgramsLines) {
    ASSERT_EQ(GetACP(), 932u);
    // あい; 表ソ, whose second bytes are backslashes; a full-width space
    // and あ, quoted because the read trims that space.
#define J_OURS                                                                    \
    "len=3\r\nVK=65\r\nshift=2\r\n0=\x82\xa0\x82\xa2\r\n1=\x95\x5c\x83\x5c\r\n2=" \
    "\"\x81\x40\x82\xa0"                                                          \
    "\"\r\n"
    ExpectSavesAsWritten(
        {
            {"new file", "", NO_FILE, "[DefStr]\r\n" J_OURS},
            // ゾ is 83 5D: its second byte is ']', but the line holds no ']'
            // character and is an entry of [DefStr].
            {"a second byte that is ']' makes no header", "",
             "[DefStr]\r\n[\x83\x5D\r\nlen=1\r\nVK=1\r\nshift=1\r\n0=old\r\n1=a\r\n2=b\r\n",
             "[DefStr]\r\n[\x83\x5D\r\n" J_OURS},
            // A lone first byte takes the line feed after it into its
            // character: "len=9" is part of the note, and len is missing.
            {"a lone first byte joins the next line to its own", "",
             "[DefStr]\nnote=x\x82\nlen=9\n",
             "[DefStr]\nnote=x\x82\nlen=9\nlen=3\nVK=65\nshift=2\n0=\x82\xa0\x82\xa2\n"
             "1=\x95\x5c\x83\x5c\n2=\"\x81\x40\x82\xa0\"\n"},
            // é and the Korean are not in code page 932.
            {"UTF-16 with characters that the code page lacks", "\xFF\xFE",
             "[DefStr]\r\nnote=café 한국어\r\nlen=1\r\n",
             "[DefStr]\r\nnote=café 한국어\r\nlen=3\r\nVK=65\r\nshift=2\r\n0=あい\r\n1=表ソ\r\n"
             "2=\"\xE3\x80\x80あ\"\r\n"},
            {"UTF-8 with characters that the code page lacks", "\xEF\xBB\xBF",
             "[DefStr]\r\nnote=café 한국어\r\nlen=1\r\n",
             "[DefStr]\r\nnote=café 한국어\r\nlen=3\r\nVK=65\r\nshift=2\r\n0=あい\r\n1=表ソ\r\n"
             "2=\"\xE3\x80\x80あ\"\r\n"},
        },
        {"\x82\xa0\x82\xa2", "\x95\x5c\x83\x5c", "\x81\x40\x82\xa0"});
#undef J_OURS
}

TEST_F(SettingsTest, Cp932JapaneseRoundTripsByteForByte) {
    ASSERT_EQ(GetACP(), 932u);
    const PhraseList phrases =
        {
            "\x82\xa8\x90\xa2\x98\x62\x82\xc9\x82\xc8\x82\xc1\x82\xc4\x82\xa8\x82\xe8\x82\xdc\x82"
            "\xb7",                      // おせわになっております
            "\x95\x5c\x83\x5c\x94\x5c",  // 表ソ能: trail bytes that are backslashes
            "\x93\x8c\x8b\x9e\x93\x73 \x8d\x60\x8b\xe6 1-2-3",  // 東京都 港区 1-2-3
            "\x81\x40\x82\xa0",          // a full-width space, then あ
            "\x82\xa0\x81\x40",          // あ, then a full-width space
            "\x81\x40",                  // only a full-width space
            "\"\x82\xa0\"",              // あ in quotes
            " \x95\x5c ",                // 表 between spaces
        };
    std::string kana;
    for (int i = 0; i < ProfileAccessor::MAX_VALUE / 2; ++i) kana += "\x83\x41";  // ア
    PhraseList all = phrases;
    all.push_back(kana + "A");  // 1023 bytes of double-byte text and one more
    Save(all, 123, 6);
    LoadSettings();
    EXPECT_EQ(app.phrases, all);
    EXPECT_EQ(ReadEntryByEntry().phrases, all);
}

}  // namespace
