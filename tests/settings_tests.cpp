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
    static std::string SectionNames() {
        char names[1024];
        DWORD length = GetPrivateProfileSectionNamesA(names, sizeof names, FILE_NAME);
        return std::string(names, length);
    }
    static std::string Entry(const char* key) {
        char text[4096];
        GetPrivateProfileStringA("DefStr", key, "<missing>", text, sizeof text, FILE_NAME);
        return text;
    }
    // Saves `phrases` into files that the platform keeps in Unicode, each
    // with an entry that is not ours whose characters the ANSI code page
    // lacks: the entry must stay as it was, byte for byte.
    static void ExpectSaveKeepsUnicodeOfOtherEntries(const PhraseList& phrases) {
        // The Greek letters are not in code page 1252, the e-acute not in 932.
        const std::wstring foreign = L"\x03B1\x03B2 caf\x00E9";
        BOOL lacked = FALSE;
        WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, foreign.c_str(), -1, nullptr, 0, nullptr,
                            &lacked);
        ASSERT_TRUE(lacked) << "code page " << GetACP() << " has every character";
        for (const char* mark : {"\xEF\xBB\xBF", "\xFF\xFE", "\xFE\xFF"}) {
            SCOPED_TRACE(testing::PrintToString(std::string(mark)));
            ScopedWorkDir caseDir;
            const std::string line = Encoded(L"note=" + foreign + L"\r\n", mark);
            WriteFileBytes(FILE_NAME,
                           mark + Encoded(L"[DefStr]\r\nlen=1\r\n0=old\r\n", mark) + line);
            Save(phrases, 65, 2);
            const std::string saved = ReadFileBytes(FILE_NAME);
            EXPECT_EQ(saved.rfind(mark, 0), 0u);
            EXPECT_NE(saved.find(line), std::string::npos);
            wchar_t note[64] = L"";
            GetPrivateProfileStringW(L"DefStr", L"note", L"", note, 64, L"./vornick.ini");
            EXPECT_EQ(note, foreign);
            ResetState();
            LoadSettings();
            EXPECT_EQ(app.phrases, phrases);
            EXPECT_EQ(app.hotkeyVk, 65);
        }
    }
    // `text` in the encoding whose byte-order mark is `mark`: UTF-8, or
    // UTF-16 with its bytes in the mark's order.
    static std::string Encoded(const std::wstring& text, const char* mark) {
        if (mark[0] == '\xEF') {
            char utf8[256];
            int length =
                WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), utf8,
                                    sizeof utf8, nullptr, nullptr);
            return std::string(utf8, length);
        }
        std::string bytes;
        for (wchar_t c : text) {
            char low = static_cast<char>(c & 0xFF), high = static_cast<char>(c >> 8);
            bytes += mark[0] == '\xFF' ? std::string{low, high} : std::string{high, low};
        }
        return bytes;
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

// What the program read before it read whole sections: one platform read per
// entry. Files that it did not write itself must load exactly as they did.
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

TEST_F(SettingsTest, SectionReadLoadsOddFilesAsPerKeyReadsDo) {
    const struct {
        const char* what;
        std::string file;
    } cases[] = {
        {"quotes: a pair is dropped, one alone is kept, single quotes too",
         "[DefStr]\r\nlen=12\r\n0=\"  x  \"\r\n1=  y  \r\n2='q'\r\n3=\"\"q\"\"\r\n4=\"open\r\n"
         "5=close\"\r\n6=\"\r\n7=\"\"\r\n8='\"\r\n9=\"'mixed'\"\r\n10='  single  '\r\n"
         "11=\"a\"b\"\r\n"},
        {"white space around keys, '=' and values",
         "[DefStr]\r\n  len  =  3  \r\n0 = a\r\n 1\t=\tb \t\r\n2=  \r\n VK = 65 \r\n"},
        {"keys in other cases; the first wins",
         "[DefStr]\r\nLEN=2\r\nLen=5\r\nvk=66\r\nVK=67\r\nSHIFT=3\r\n0=a\r\n1=b\r\n"},
        {"a key twice: the first wins",
         "[DefStr]\r\nlen=2\r\n0=first\r\n0=second\r\n1=one\r\nlen=5\r\n1=uno\r\n"},
        {"empty values", "[DefStr]\r\nlen=3\r\n0=\r\n1=\"\"\r\n2=''\r\nshift=\r\nVK=7\r\n"},
        {"an empty len", "[DefStr]\r\nlen=\r\n0=a\r\n"},
        {"lines without '=' hide later entries of their key",
         "[DefStr]\r\nlen=3\r\n0\r\n0=shadowed\r\n1=b\r\nno equals here\r\n2=c\r\nVK\r\nVK=70\r\n"},
        {"comments",
         "[DefStr]\r\n; a comment\r\nlen=3\r\n;0=commented\r\n0=a\r\n# hash=1\r\n"
         "1=b ; not a comment\r\n2=;starts\r\n"},
        {"a second [DefStr] is never read",
         "[DefStr]\r\nlen=3\r\n0=a\r\n[Other]\r\n1=other\r\n[defstr]\r\n1=second\r\n2=c\r\n"
         "VK=70\r\n"},
        {"other sections around",
         "[Other]\r\nlen=5\r\n0=o\r\n[DefStr]\r\nlen=1\r\n0=mine\r\n[Third]\r\nVK=1\r\n"},
        {"a byte-order mark", "\xEF\xBB\xBF[DefStr]\r\nlen=2\r\n0=bom\r\n1=\t tab \t\r\nVK=9\r\n"},
        {"numbers in quotes and with signs",
         "[DefStr]\r\nlen=\"3\"\r\nVK='+65'\r\nshift= -2 \r\n0=a\r\n1=b\r\n2=c\r\n"},
        {"numbers followed by text, or none", "[DefStr]\r\nlen=2abc\r\nVK=0x41\r\nshift=abc\r\n"},
        {"numbers beyond 32 bits",
         "[DefStr]\r\nlen=4294967298\r\nVK=99999999999\r\nshift=-0\r\n0=a\r\n1=b\r\n"},
        {"values longer than a phrase may be",
         "[DefStr]\r\nlen=3\r\n0=" + std::string(1500, 'x') + "\r\n1=" + std::string(1023, 'y') +
             "\r\n2=\"" + std::string(1022, 'z') + "\"\r\n"},
        {"line feeds alone, no final line break", "[DefStr]\nlen=2\n0=a\n1=b"},
        {"a header with spaces", "\r\n  [ DefStr ]  \r\nlen=1\r\n0=a\r\n"},
        {"keys that only look like indexes",
         "[DefStr]\r\nlen=3\r\n00=zero zero\r\n+1=plus\r\n 2 =two\r\n1 =one\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ScopedWorkDir caseDir;
        WriteFileBytes(FILE_NAME, c.file);
        const PerKeyRead expected = ReadEntryByEntry();
        ResetState();
        LoadSettings();
        EXPECT_EQ(app.phrases, expected.phrases);
        EXPECT_EQ(app.hotkeyVk, expected.vk);
        EXPECT_EQ(app.hotkeyModifiers, expected.modifiers);
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

    ProfileAccessor profile(FILE_NAME);
    profile.section = "DefStr";
    std::string whole;
    ASSERT_TRUE(profile.GetSection(&whole));
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

TEST_F(SettingsTest, SaveKeepsOtherSectionsAndOtherKeysInTheirOrder) {
    WriteFileBytes(FILE_NAME,
                   "[Before]\r\nlen=7\r\n"
                   "[DefStr]\r\nnote=mine\r\nLEN=9\r\n0=old\r\nlen=8\r\nquoted=\"  q  \"\r\n"
                   "Shift=1\r\n5=stale\r\n01=not ours\r\nvk=3\r\n"
                   "[After]\r\n0=x\r\n");
    Save({"new"}, 65, 2);
    EXPECT_EQ(SectionEntries(), (std::vector<std::string>{"len=1", "VK=65", "shift=2", "0=new",
                                                          "note=mine", "quoted=\"  q  \"",
                                                          "5=stale", "01=not ours"}));
    EXPECT_EQ(Entry("quoted"), "  q  ");
    EXPECT_EQ(SectionNames(), std::string("Before\0DefStr\0After\0", 20));
    char value[16];
    GetPrivateProfileStringA("Before", "len", "", value, sizeof value, FILE_NAME);
    EXPECT_STREQ(value, "7");
    GetPrivateProfileStringA("After", "0", "", value, sizeof value, FILE_NAME);
    EXPECT_STREQ(value, "x");
}

TEST_F(SettingsTest, SaveKeepsWhatASectionWriteWouldLose) {
    // None of these is ever read, but all are the user's: a write of the
    // whole section would lose them. The platform writes a comment back
    // without the blanks before it, and with CR LF.
    const struct {
        const char* what;
        const char* file;
        const char* kept;
    } cases[] = {
        {"a second [DefStr]", "[DefStr]\r\nlen=1\r\n0=a\r\n[defstr]\r\nlen=7\r\nlate=kept\r\n",
         "[defstr]\r\nlen=7\r\nlate=kept\r\n"},
        {"a line without '='", "[DefStr]\r\nlen=1\r\njust words\r\n0=a\r\n", "just words\r\n"},
        {"a comment", "[DefStr]\r\nlen=1\r\n; a comment\r\n0=a\r\n", "\n; a comment\r\n"},
        {"a comment after every blank the platform skips",
         "[DefStr]\r\nlen=1\r\n \t\v\f\x1A; indented\r\n0=a\r\n", "\n; indented\r\n"},
        {"a comment last, with no line break", "[DefStr]\r\nlen=1\r\n0=a\r\n;0=last", "\n;0=last"},
        {"a comment after a lone CR", "[DefStr]\rlen=1\r; after CR\r0=a\r", "\n; after CR\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ScopedWorkDir caseDir;
        WriteFileBytes(FILE_NAME, c.file);
        Save({"new", "second"}, 65, 2);
        EXPECT_NE(ReadFileBytes(FILE_NAME).find(c.kept), std::string::npos)
            << ReadFileBytes(FILE_NAME);
        ResetState();
        LoadSettings();
        EXPECT_EQ(app.phrases, (PhraseList{"new", "second"}));
        EXPECT_EQ(app.hotkeyVk, 65);
    }
}

TEST_F(SettingsTest, SemicolonsThatStartNoLineLeaveTheSaveOneSectionWrite) {
    // The section write puts ours first; writes entry by entry would leave
    // "note" at the top. Only a ';' first on its line makes a comment.
    WriteFileBytes(FILE_NAME,
                   "[DefStr]\r\nnote=a ; b\r\nlen=1\r\n0=;old\r\nk;ey=1\r\n# hash=1\r\n");
    Save({"new"}, 65, 2);
    EXPECT_EQ(SectionEntries(), (std::vector<std::string>{"len=1", "VK=65", "shift=2", "0=new",
                                                          "note=a ; b", "k;ey=1", "# hash=1"}));
}

TEST_F(SettingsTest, SaveKeepsCharactersOfUnicodeFilesThatTheCodePageLacks) {
    ExpectSaveKeepsUnicodeOfOtherEntries({"new", " second ", ""});
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

TEST_F(SettingsTest, Cp932UnicodeFilesKeepOtherEntriesAndTakeJapanesePhrases) {
    ASSERT_EQ(GetACP(), 932u);
    ExpectSaveKeepsUnicodeOfOtherEntries({
        "\x82\xa0\x82\xa2",  // あい
        "\x95\x5c\x83\x5c",  // 表ソ: trail bytes that are backslashes
        "\x81\x40\x82\xa0",  // a full-width space, then あ
    });
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
