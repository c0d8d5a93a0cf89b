// The package's sample settings file, read by the program's own LoadSettings
// in the code page of the program's users (932): it must give the phrases
// of its source and the hotkey Ctrl+Shift+F12, which the guide names.
//
//   package_tests UNPACKED_VORNICK_INI SAMPLE_PHRASES_TXT
//
// The first file is the one unpacked from the zip; the second holds the
// sample's phrases in UTF-8, one a line.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "app/app_state.h"
#include "settings/settings.h"
#include "tests/test_files.h"

namespace {

std::string g_samplePath;
std::string g_phrasesPath;

// A UTF-8 text in the system's ANSI code page.
std::string Ansi(const std::string& utf8) {
    int wideLength = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(),
                                         static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring wide(wideLength, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), &wide[0],
                        wideLength);
    BOOL lacked = FALSE;
    int length = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), wideLength,
                                     nullptr, 0, nullptr, &lacked);
    std::string ansi(length, '\0');
    WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), wideLength, &ansi[0], length,
                        nullptr, &lacked);
    EXPECT_FALSE(lacked) << "code page " << GetACP() << " lacks a character of " << utf8;
    return ansi;
}

// The lines of a UTF-8 text file, in the ANSI code page.
PhraseList AnsiLines(const std::string& path) {
    const std::string text = ReadFileBytes(path);
    PhraseList lines;
    for (size_t start = 0; start < text.size();) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(Ansi(line));
        start = end + 1;
    }
    return lines;
}

TEST(SampleSettings, LoadAsTheSamplesPhrasesAndCtrlShiftF12) {
    ASSERT_EQ(GetACP(), 932u) << "run under LC_ALL=ja_JP.UTF-8";
    const std::string sample = ReadFileBytes(g_samplePath);
    ASSERT_FALSE(sample.empty()) << g_samplePath;
    const PhraseList expected = AnsiLines(g_phrasesPath);
    ASSERT_FALSE(expected.empty()) << g_phrasesPath;

    ScopedWorkDir folder;
    WriteFileBytes("vornick.ini", sample);
    LoadSettings();

    EXPECT_EQ(app.phrases, expected);
    EXPECT_EQ(app.hotkeyVk, VK_F12);
    EXPECT_EQ(app.hotkeyModifiers, MOD_CONTROL | MOD_SHIFT);
}

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (argc < 3) {
        fprintf(stderr, "usage: package_tests UNPACKED_VORNICK_INI SAMPLE_PHRASES_TXT\n");
        return 2;
    }
    g_samplePath = WindowsPath(argv[1]);
    g_phrasesPath = WindowsPath(argv[2]);
    return RUN_ALL_TESTS();
}
