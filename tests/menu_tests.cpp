// The phrase menu: the label rule, the menu loaded from this program's own
// resources, and the rebuild of the phrase submenu, read back through the
// platform's menu functions.
#include <windows.h>

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "app/app.h"
#include "app/app_state.h"
#include "phrases/phrase_menu.h"
#include "resources/resource_ids.h"
#include "tests/test_files.h"

namespace {

// One menu item as the platform reports it; the text both as bytes of the
// ANSI code page and as UTF-16.
struct MenuItem {
    UINT type = 0;
    UINT state = 0;
    UINT id = 0;
    HMENU subMenu = nullptr;
    HBITMAP checked = nullptr;
    HBITMAP unchecked = nullptr;
    HBITMAP bitmap = nullptr;
    ULONG_PTR data = 0;
    std::string text;
    std::wstring wideText;
};

bool operator==(const MenuItem& a, const MenuItem& b) {
    return a.type == b.type && a.state == b.state && a.id == b.id && a.subMenu == b.subMenu &&
           a.checked == b.checked && a.unchecked == b.unchecked && a.bitmap == b.bitmap &&
           a.data == b.data && a.text == b.text && a.wideText == b.wideText;
}

std::string Hex(const std::string& bytes) {
    std::string out;
    char cell[4];
    for (unsigned char byte : bytes) {
        wsprintfA(cell, "%02X ", byte);
        out += cell;
    }
    return out;
}

void PrintTo(const MenuItem& item, std::ostream* out) {
    *out << "{type " << item.type << ", state " << item.state << ", id " << item.id << ", submenu "
         << item.subMenu << ", bitmaps " << item.checked << "/" << item.unchecked << "/"
         << item.bitmap << ", data " << item.data << ", text [" << Hex(item.text) << "], UTF-16 [";
    for (wchar_t c : item.wideText) *out << std::hex << static_cast<unsigned>(c) << std::dec << " ";
    *out << "]}";
}

std::vector<MenuItem> ReadMenu(HMENU menu) {
    std::vector<MenuItem> items;
    int count = GetMenuItemCount(menu);
    for (int i = 0; i < count; ++i) {
        MENUITEMINFOA info = {};
        info.cbSize = sizeof info;
        info.fMask = MIIM_FTYPE | MIIM_STATE | MIIM_ID | MIIM_SUBMENU | MIIM_CHECKMARKS |
                     MIIM_DATA | MIIM_BITMAP;
        GetMenuItemInfoA(menu, i, TRUE, &info);
        MenuItem item;
        item.type = info.fType;
        item.state = info.fState;
        item.id = info.wID;
        item.subMenu = info.hSubMenu;
        item.checked = info.hbmpChecked;
        item.unchecked = info.hbmpUnchecked;
        item.bitmap = info.hbmpItem;
        item.data = info.dwItemData;
        char text[256];
        item.text.assign(text, GetMenuStringA(menu, i, text, sizeof text, MF_BYPOSITION));
        wchar_t wideText[256];
        item.wideText.assign(wideText,
                             GetMenuStringW(menu, i, wideText, ARRAYSIZE(wideText), MF_BYPOSITION));
        items.push_back(item);
    }
    return items;
}

// What one phrase item must be: a plain string item with the given label.
MenuItem PhraseItem(int index, const std::string& label, const std::wstring& wideLabel) {
    MenuItem item;
    item.type = MFT_STRING;
    item.id = IDM_PHRASE_BASE + index;
    item.text = label;
    item.wideText = wideLabel;
    return item;
}

// ASCII labels read back the same in every code page.
std::wstring Widen(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

std::string Repeat(const std::string& part, int times) {
    std::string out;
    for (int i = 0; i < times; ++i) out += part;
    return out;
}

const std::string A39(39, 'a');

struct LabelCase {
    std::string what;
    std::string phrase;
    std::string label;
};

void ExpectLabels(const std::vector<LabelCase>& cases) {
    for (const LabelCase& c : cases) {
        EXPECT_EQ(Hex(MakeMenuLabel(c.phrase)), Hex(c.label)) << c.what;
    }
}

TEST(MenuLabelTest, CutsAtFortyBytesAndShowsAmpersandsAndTabsAsText) {
    ExpectLabels({
        {"empty phrase", "", ""},
        {"39 bytes are shown whole", A39, A39},
        {"40 bytes are the first length cut", A39 + "b", A39 + "b..."},
        {"41 bytes keep 40", A39 + "bc", A39 + "b..."},
        {"a long phrase keeps 40", Repeat("0123456789", 10), Repeat("0123456789", 4) + "..."},
        {"& would underline the next letter", "Q&A", "Q&&A"},
        {"&& would show one &", "&&", "&&&&"},
        {"a tab would start a second column", "a\tb\t", "a b "},
        // The cut counts the phrase's bytes, before '&' is doubled.
        {"& and tab inside a cut phrase", std::string(37, '-') + "&\t" + "xyz",
         std::string(37, '-') + "&& x..."},
        {"& as byte 40 is kept whole", A39 + "&z", A39 + "&&..."},
    });
}

TEST(MenuLabelTest, HighBytesAreWholeCharactersInASingleByteCodePage) {
    if (IsDBCSLeadByte(0x81)) GTEST_SKIP() << "the ANSI code page is double-byte";
    ExpectLabels({
        {"byte 40 = 0x80", A39 + "\x80z", A39 + "\x80..."},
        {"byte 40 = 0x81", A39 + "\x81z", A39 + "\x81..."},
        {"byte 40 = 0xFF", A39 + "\xff", A39 + "\xff..."},
        {"a high byte before the cut", "\xff" + std::string(40, 'q'),
         "\xff" + std::string(39, 'q') + "..."},
    });
}

// Shift-JIS: hiragana and kanji are two bytes, lead 0x81-0x9F or 0xE0-0xFC,
// trail 0x40-0xFC; half-width katakana are single bytes 0xA1-0xDF.
TEST(MenuLabelTest, Cp932CutsOnlyBetweenWholeCharacters) {
    ASSERT_EQ(GetACP(), 932u);
    const std::string A = "\x82\xa0";                          // あ
    const std::string TEIKEIBUN = "\x92\xe8\x8c\x5e\x95\xb6";  // 定型文
    const std::string KANA_A = "\xb1";                         // ｱ, half-width
    const std::string HYOU = "\x95\x5c";                       // 表, trail byte '\'
    std::vector<LabelCase> cases = {
        {"20 hiragana are 40 whole bytes", Repeat(A, 20), Repeat(A, 20) + "..."},
        {"more hiragana keep 20", Repeat(A, 30), Repeat(A, 20) + "..."},
        {"39 hiragana bytes fit, the 20th straddles", "a" + Repeat(A, 20),
         "a" + Repeat(A, 19) + "..."},
        {"ASCII before hiragana", "abc" + Repeat(A, 20), "abc" + Repeat(A, 18) + "..."},
        {"kanji: 6 and a half", Repeat(TEIKEIBUN, 7), Repeat(TEIKEIBUN, 6) + "\x92\xe8\x8c\x5e..."},
        {"kanji straddling the cut", "x" + Repeat(TEIKEIBUN, 7),
         "x" + Repeat(TEIKEIBUN, 6) + "\x92\xe8..."},
        {"40 half-width katakana are 40 characters", Repeat(KANA_A, 41),
         Repeat(KANA_A, 40) + "..."},
        {"half-width katakana, then hiragana across the cut", Repeat(KANA_A, 39) + A,
         Repeat(KANA_A, 39) + "..."},
        {"a character ending in '\\' at byte 40", std::string(38, 'a') + HYOU + "z",
         std::string(38, 'a') + HYOU + "..."},
        {"a lone lead byte as byte 40 is half a character", A39 + "\x82", A39 + "..."},
        {"a lone lead byte in a short phrase is left as it is", "ab\x82", "ab\x82"},
        {"& after a double-byte character", Repeat(A, 3) + "&" + HYOU, Repeat(A, 3) + "&&" + HYOU},
    };
    // Every trail byte value as byte 40, ending a character that fits.
    for (int trail = 0x40; trail <= 0xFC; ++trail) {
        std::string character = "\x88" + std::string(1, static_cast<char>(trail));
        cases.push_back(
            {"trail byte " + Hex(std::string(1, static_cast<char>(trail))) + "at byte 40",
             std::string(38, 'a') + character + "zz", std::string(38, 'a') + character + "..."});
    }
    // Every lead byte value as byte 40: its character straddles the cut.
    for (int lead = 0x81; lead <= 0xFC; ++lead) {
        if (lead >= 0xA0 && lead <= 0xDF) continue;  // half-width katakana
        std::string character = std::string(1, static_cast<char>(lead)) + "\x40";
        cases.push_back({"lead byte " + Hex(std::string(1, static_cast<char>(lead))) + "at byte 40",
                         A39 + character, A39 + "..."});
    }
    ExpectLabels(cases);
}

// A menu of 65,036 items takes minutes to build under Wine, so the bound is
// checked on the count that the rebuild uses.
TEST(PhraseMenuBoundTest, NoPhraseGetsACommandPastTheCommandRange) {
    const struct {
        size_t phrases, items;
    } rows[] = {{0, 0}, {1, 1}, {65035, 65035}, {65036, 65036}, {65037, 65036}, {200000, 65036}};
    for (const auto& row : rows) {
        size_t items = PhraseMenuItemCount(row.phrases);
        EXPECT_EQ(items, row.items) << row.phrases;
        if (items > 0) {
            EXPECT_LE(IDM_PHRASE_BASE + items - 1, 0xFFFFu) << row.phrases;
        }
    }
}

// Each test starts from the menu freshly loaded from the resources and an
// empty phrase list.
class PhraseMenuTest : public ::testing::Test {
protected:
    void SetUp() override {
        Reset();
        LoadMenus();
        ASSERT_NE(app.menuResource, nullptr);
    }
    void TearDown() override {
        if (app.menuResource) DestroyMenu(app.menuResource);
        Reset();
    }
    static void Reset() {
        app.phrases.clear();
        app.menuResource = nullptr;
        app.trayMenu = nullptr;
        app.phraseMenu = nullptr;
    }
    static void Rebuild(const PhraseList& list) {
        app.phrases = list;
        RebuildPhraseMenu();
    }
    // The phrase submenu that one rebuild of a freshly loaded menu gives.
    static std::vector<MenuItem> OneRebuild(const PhraseList& list) {
        AppState saved = app;
        LoadMenus();
        Rebuild(list);
        std::vector<MenuItem> items = ReadMenu(app.phraseMenu);
        DestroyMenu(app.menuResource);
        app = saved;
        return items;
    }
};

TEST_F(PhraseMenuTest, TemplateHasTheTrayMenuWithItsTextsAndCommands) {
    std::vector<MenuItem> top = ReadMenu(app.menuResource);
    ASSERT_EQ(top.size(), 1u);
    EXPECT_EQ(top[0].wideText, L"F");
    EXPECT_EQ(top[0].subMenu, app.trayMenu);
    ASSERT_NE(app.trayMenu, nullptr);

    std::vector<MenuItem> tray = ReadMenu(app.trayMenu);
    ASSERT_EQ(tray.size(), 3u);
    EXPECT_EQ(tray[0].wideText, L"\u6587\u5b57");  // 文字
    EXPECT_EQ(tray[0].subMenu, app.phraseMenu);
    ASSERT_NE(app.phraseMenu, nullptr);
    EXPECT_EQ(tray[1].wideText, L"\u8a2d\u5b9a(&C) ...");  // 設定(&C) ...
    EXPECT_EQ(tray[1].id, static_cast<UINT>(IDM_SETTINGS));
    EXPECT_EQ(tray[1].subMenu, nullptr);
    EXPECT_EQ(tray[2].wideText, L"\u7d42\u4e86(&X)");  // 終了(&X)
    EXPECT_EQ(tray[2].id, static_cast<UINT>(IDM_EXIT));
    EXPECT_EQ(tray[2].subMenu, nullptr);
    for (const MenuItem& item : tray) EXPECT_EQ(item.type, static_cast<UINT>(MFT_STRING));

    EXPECT_EQ(GetMenuDefaultItem(app.trayMenu, FALSE, 0), static_cast<UINT>(IDM_SETTINGS));
    EXPECT_TRUE(tray[1].state & MFS_DEFAULT);
    EXPECT_FALSE(tray[2].state & MFS_DEFAULT);

    // The placeholder until the first rebuild.
    std::vector<MenuItem> phrases = ReadMenu(app.phraseMenu);
    ASSERT_EQ(phrases.size(), 1u);
    EXPECT_TRUE(phrases[0].type & MFT_SEPARATOR);
    EXPECT_EQ(phrases[0].id, 0u);
}

TEST_F(PhraseMenuTest, FirstRebuildRemovesThePlaceholderEvenWithNoPhrases) {
    std::vector<MenuItem> trayBefore = ReadMenu(app.trayMenu);
    Rebuild({});
    EXPECT_EQ(GetMenuItemCount(app.phraseMenu), 0);
    // The tray menu around the submenu stays as it was loaded.
    EXPECT_EQ(ReadMenu(app.trayMenu), trayBefore);
}

TEST_F(PhraseMenuTest, EachPhraseBecomesAStringItemNumberedFrom500) {
    const PhraseList list = {
        "first",
        "",  // keeps its item and its number
        "Tom & Jerry\tCtrl+T",
        A39 + "bc",
        "&&x",
    };
    const std::vector<MenuItem> expected = {
        PhraseItem(0, "first", L"first"),
        PhraseItem(1, "", L""),
        PhraseItem(2, "Tom && Jerry Ctrl+T", L"Tom && Jerry Ctrl+T"),
        PhraseItem(3, A39 + "b...", Widen(A39 + "b...")),
        PhraseItem(4, "&&&&x", L"&&&&x"),
    };
    std::vector<MenuItem> trayBefore = ReadMenu(app.trayMenu);
    Rebuild(list);
    EXPECT_EQ(ReadMenu(app.phraseMenu), expected);
    EXPECT_EQ(ReadMenu(app.trayMenu), trayBefore);

    // Commands are found by number, as a picked item reports them.
    for (size_t i = 0; i < list.size(); ++i) {
        MENUITEMINFOA info = {};
        info.cbSize = sizeof info;
        info.fMask = MIIM_ID;
        EXPECT_TRUE(GetMenuItemInfoA(app.phraseMenu, IDM_PHRASE_BASE + i, FALSE, &info)) << i;
        EXPECT_EQ(info.wID, IDM_PHRASE_BASE + i);
    }
}

TEST_F(PhraseMenuTest, RebuildAfterAnyEarlierListEqualsOneRebuild) {
    PhraseList many;
    for (int i = 0; i < 60; ++i) many.push_back("phrase " + std::to_string(i));
    const PhraseList few = {"x", "", "y"};
    struct Case {
        const char* what;
        std::vector<PhraseList> earlier;
        PhraseList last;
    } cases[] = {
        {"the same list twice", {few}, few},
        {"three times", {many, many}, many},
        {"shrunk", {many}, few},
        {"grown", {few}, many},
        {"emptied", {many}, {}},
        {"refilled after empty", {few, {}}, few},
        {"same length, other texts", {{"a", "b", "c"}}, few},
    };
    for (const Case& c : cases) {
        TearDown();
        SetUp();
        for (const PhraseList& list : c.earlier) Rebuild(list);
        Rebuild(c.last);
        std::vector<MenuItem> items = ReadMenu(app.phraseMenu);
        EXPECT_EQ(items, OneRebuild(c.last)) << c.what;
        ASSERT_EQ(items.size(), c.last.size()) << c.what;
        for (size_t i = 0; i < items.size(); ++i) {
            EXPECT_EQ(items[i].id, IDM_PHRASE_BASE + i) << c.what;
            EXPECT_EQ(items[i].text, c.last[i]) << c.what;
        }
    }
}

// Runs under code page 932 only: the bytes of a phrase are Shift-JIS and the
// menu must show them as the Japanese text they encode.
TEST_F(PhraseMenuTest, Cp932ShiftJisPhrasesReadBackAsJapanese) {
    ASSERT_EQ(GetACP(), 932u);
    const std::string TEIKEIBUN = "\x92\xe8\x8c\x5e\x95\xb6";  // 定型文
    const std::string HIRAGANA_A = "\x82\xa0";                 // あ
    const std::string LONG_VOWEL = "\x81\x5b";                 // ー
    const PhraseList list = {
        TEIKEIBUN,
        "a" + Repeat(HIRAGANA_A, 20),    // byte 39 is a lead byte
        "aa" + Repeat(LONG_VOWEL, 20),   // byte 39 is a trail byte below 0x80
        "\x83\x65\x83\x58\x83\x67&\t1",  // テスト&<tab>1
        Repeat(HIRAGANA_A, 25),          // byte 39 is a trail byte above 0x80
    };
    Rebuild(list);
    const std::vector<MenuItem> expected = {
        PhraseItem(0, TEIKEIBUN, L"\u5b9a\u578b\u6587"),
        PhraseItem(1, "a" + Repeat(HIRAGANA_A, 19) + "...",
                   L"a" + std::wstring(19, L'\u3042') + L"..."),
        PhraseItem(2, "aa" + Repeat(LONG_VOWEL, 19) + "...",
                   L"aa" + std::wstring(19, L'\u30fc') + L"..."),
        PhraseItem(3, "\x83\x65\x83\x58\x83\x67&& 1", L"\u30c6\u30b9\u30c8&& 1"),
        PhraseItem(4, Repeat(HIRAGANA_A, 20) + "...", std::wstring(20, L'\u3042') + L"..."),
    };
    EXPECT_EQ(ReadMenu(app.phraseMenu), expected);

    // The resource's texts reach ANSI callers as Shift-JIS.
    std::vector<MenuItem> tray = ReadMenu(app.trayMenu);
    ASSERT_EQ(tray.size(), 3u);
    EXPECT_EQ(Hex(tray[0].text), Hex("\x95\xb6\x8e\x9a"));          // 文字
    EXPECT_EQ(Hex(tray[1].text), Hex("\x90\xdd\x92\xe8(&C) ..."));  // 設定(&C) ...
}

// Start-up loads the menu, then the settings file, then builds the submenu
// from the loaded phrases.
TEST(StartUpTest, BuildsThePhraseMenuFromTheSettingsFile) {
    ScopedWorkDir dir;
    WriteFileBytes("vornick.ini",
                   "[DefStr]\r\nlen=3\r\nVK=0\r\nshift=0\r\n0=one\r\n1=\r\n2=three\r\n");
    app = AppState();
    InitApplication(GetModuleHandleA(nullptr));
    ASSERT_NE(app.menuResource, nullptr);
    EXPECT_EQ(app.phrases, (PhraseList{"one", "", "three"}));
    EXPECT_EQ(ReadMenu(app.phraseMenu),
              (std::vector<MenuItem>{PhraseItem(0, "one", L"one"), PhraseItem(1, "", L""),
                                     PhraseItem(2, "three", L"three")}));
    EXPECT_EQ(GetMenuDefaultItem(app.trayMenu, FALSE, 0), static_cast<UINT>(IDM_SETTINGS));
    DestroyMenu(app.menuResource);
    app = AppState();
}

}  // namespace
