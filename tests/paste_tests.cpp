// What a paste leaves on the clipboard, read back through the platform's
// clipboard functions. No target is captured, so nothing is typed.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "app/app_state.h"
#include "phrases/paste.h"

namespace {

struct Clipboard {
    bool hasText = false, hasUnicode = false, hasLocale = false;
    std::string text;
    std::wstring unicode;
    LCID locale = 0;
};

// The clipboard's three text formats, as a program that reads it sees them.
Clipboard ReadClipboard() {
    Clipboard clip;
    if (!OpenClipboard(nullptr)) {
        ADD_FAILURE() << "the clipboard cannot be opened";
        return clip;
    }
    if (const char* bytes = static_cast<const char*>(GlobalLock(GetClipboardData(CF_TEXT)))) {
        clip.hasText = true;
        clip.text = bytes;
        GlobalUnlock(GetClipboardData(CF_TEXT));
    }
    HANDLE unicode = GetClipboardData(CF_UNICODETEXT);
    if (const wchar_t* chars = static_cast<const wchar_t*>(GlobalLock(unicode))) {
        clip.hasUnicode = true;
        clip.unicode = chars;
        GlobalUnlock(unicode);
    }
    HANDLE locale = GetClipboardData(CF_LOCALE);
    if (const LCID* id = static_cast<const LCID*>(GlobalLock(locale))) {
        clip.hasLocale = true;
        clip.locale = *id;
        GlobalUnlock(locale);
    }
    CloseClipboard();
    return clip;
}

UINT AnsiCodePageOf(LCID locale) {
    char number[8] = "";
    GetLocaleInfoA(locale, LOCALE_IDEFAULTANSICODEPAGE, number, sizeof number);
    return static_cast<UINT>(atoi(number));
}

std::string Hex(const std::wstring& chars) {
    std::string out;
    char cell[8];
    for (wchar_t c : chars) {
        wsprintfA(cell, "%04X ", static_cast<unsigned>(c));
        out += cell;
    }
    return out;
}

class PasteTest : public ::testing::Test {
protected:
    void SetUp() override {
        app = AppState();
        app.mainWindow = CreateWindowExA(0, "STATIC", "main", 0, 0, 0, 0, 0, nullptr, nullptr,
                                         GetModuleHandleA(nullptr), nullptr);
        ASSERT_NE(app.mainWindow, nullptr);
    }
    void TearDown() override {
        DestroyWindow(app.mainWindow);
        app = AppState();
    }
    // Pastes the phrase and checks that the clipboard holds it in both text
    // formats, tagged with a locale of the code page it was converted with.
    void ExpectBothFormats(const std::string& phrase, const std::wstring& unicode) {
        PastePhrase(phrase);
        Clipboard clip = ReadClipboard();
        EXPECT_TRUE(clip.hasText);
        EXPECT_EQ(clip.text, phrase);
        EXPECT_TRUE(clip.hasUnicode);
        EXPECT_EQ(Hex(clip.unicode), Hex(unicode));
        EXPECT_TRUE(clip.hasLocale);
        EXPECT_EQ(AnsiCodePageOf(clip.locale), GetACP()) << std::hex << clip.locale;
    }
};

TEST_F(PasteTest, AsciiAndEmptyPhrasesAreTextAndUnicode) {
    struct Row {
        std::string phrase;
        std::wstring unicode;
    } rows[] = {
        {"hello, world", L"hello, world"},
        {"", L""},
        {"a&b\tc ~", L"a&b\tc ~"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.phrase);
        ExpectBothFormats(row.phrase, row.unicode);
    }
}

TEST_F(PasteTest, Cp932ShiftJisPhrasesAreUnicodeToo) {
    ASSERT_EQ(GetACP(), 932u);
    ExpectBothFormats("\x92\xe8\x8c\x5e\x95\xb6", L"\u5b9a\u578b\u6587");  // 定型文
    ExpectBothFormats("\x95\x5c x \xb1", L"\u8868 x \uff71");              // 表 x ｱ
}

typedef LONG(NTAPI* SetDefaultLocaleFunction)(BOOLEAN userProfile, LCID locale);

// Unicode programs read CF_UNICODETEXT. Made by the system from CF_TEXT alone,
// it follows the user's language of the moment, not the code page the phrase
// is in: a Japanese phrase read back as English text is mojibake.
TEST_F(PasteTest, Cp932UnicodeTextStaysJapaneseUnderAnEnglishUserLocale) {
    ASSERT_EQ(GetACP(), 932u);
    SetDefaultLocaleFunction setDefaultLocale =
        reinterpret_cast<SetDefaultLocaleFunction>(reinterpret_cast<void*>(
            GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtSetDefaultLocale")));
    ASSERT_NE(setDefaultLocale, nullptr);
    LCID japanese = GetUserDefaultLCID();
    ASSERT_EQ(setDefaultLocale(TRUE, MAKELCID(0x0409, SORT_DEFAULT)), 0);
    PastePhrase("\x82\xa0\x82\xa2");  // あい
    Clipboard clip = ReadClipboard();
    setDefaultLocale(TRUE, japanese);
    EXPECT_EQ(clip.text, "\x82\xa0\x82\xa2");
    EXPECT_EQ(Hex(clip.unicode), Hex(L"\u3042\u3044"));
    EXPECT_EQ(AnsiCodePageOf(clip.locale), 932u) << std::hex << clip.locale;
}

}  // namespace
