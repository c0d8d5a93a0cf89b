#include "settings/profile_accessor.h"

#include <stdio.h>

#include "app/app_state.h"

namespace {

const char* TextOrEmpty(const std::string& text) {
    return text.empty() ? EMPTY_TEXT : text.c_str();
}

}  // namespace

ProfileAccessor::ProfileAccessor(const std::string& fileName)
    : fileName(fileName), section("SETTING"), key("key"), value() {}

ProfileAccessor& ProfileAccessor::SetKey(const char* name) {
    key = name;
    return *this;
}

ProfileAccessor& ProfileAccessor::SetKeyIndex(INT32 index) {
    char text[16];
    snprintf(text, sizeof text, "%d", static_cast<int>(index));
    key = text;
    return *this;
}

INT32 ProfileAccessor::GetInt(INT32 defaultValue) const {
    return static_cast<INT32>(GetPrivateProfileIntA(TextOrEmpty(section), TextOrEmpty(key),
                                                    defaultValue, TextOrEmpty(fileName)));
}

const char* ProfileAccessor::GetString(const std::string& defaultValue) {
    char buffer[MAX_VALUE + 1];
    GetPrivateProfileStringA(TextOrEmpty(section), TextOrEmpty(key), TextOrEmpty(defaultValue),
                             buffer, sizeof buffer, TextOrEmpty(fileName));
    value = buffer;
    return TextOrEmpty(value);
}

std::set<std::string> ProfileAccessor::GetKeyNames() const {
    // With no key the platform lists the key names, each ending in a zero
    // byte; a result of size - 2 means the buffer was too small.
    std::string names(4096, '\0');
    for (;;) {
        DWORD length =
            GetPrivateProfileStringA(TextOrEmpty(section), nullptr, EMPTY_TEXT, &names[0],
                                     static_cast<DWORD>(names.size()), TextOrEmpty(fileName));
        if (length + 2 < names.size()) {
            names.resize(length);
            break;
        }
        names.assign(names.size() * 2, '\0');
    }
    std::set<std::string> keys;
    for (size_t start = 0; start < names.size();) {
        size_t end = names.find('\0', start);
        if (end == std::string::npos) end = names.size();
        keys.insert(names.substr(start, end - start));
        start = end + 1;
    }
    return keys;
}

void ProfileAccessor::SetInt(INT32 number) const {
    char text[80];
    snprintf(text, sizeof text, "%d", static_cast<int>(number));
    WritePrivateProfileStringA(TextOrEmpty(section), TextOrEmpty(key), text, TextOrEmpty(fileName));
}

ProfileAccessor& ProfileAccessor::SetString(const std::string& text) {
    std::string oneLine = text;
    for (char& c : oneLine) {
        if (c == '\r' || c == '\n') c = ' ';
    }
    WritePrivateProfileStringA(TextOrEmpty(section), TextOrEmpty(key), TextOrEmpty(oneLine),
                               TextOrEmpty(fileName));
    return *this;
}
