// Texts as hex digits, the form in which the desktop test programs report
// them: lines stay lines whatever the text holds.
#pragma once

#include <windows.h>

#include <stdio.h>

#include <string>

inline std::string HexBytes(const std::string& bytes) {
    std::string hex;
    char pair[3];
    for (unsigned char c : bytes) {
        snprintf(pair, sizeof pair, "%02x", c);
        hex += pair;
    }
    return hex;
}

// The UTF-8 bytes of a UTF-16 text, as hex digits.
inline std::string Utf8Hex(const std::wstring& text) {
    int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string utf8(size, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, &utf8[0], size, nullptr, nullptr);
    utf8.resize(size - 1);
    return HexBytes(utf8);
}
