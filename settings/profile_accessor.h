// One entry of a profile (INI) file, named by file, section and key, read and
// written through the platform's profile functions. Callers set the section
// once and then move the key from entry to entry with chained calls:
//   accessor.SetKey("len").GetInt(0);
//   accessor.SetKeyIndex(i).SetString(text);
#pragma once

#include <windows.h>

#include <set>
#include <string>

class ProfileAccessor {
public:
    // The longest entry value read back whole, in bytes: the settings dialog's
    // edit box holds at most this many.
    static const int MAX_VALUE = 1023;

    explicit ProfileAccessor(const std::string& fileName);

    ProfileAccessor& SetKey(const char* name);
    ProfileAccessor& SetKeyIndex(INT32 index);

    INT32 GetInt(INT32 defaultValue) const;
    // The returned text stays valid until the next GetString on this accessor.
    const char* GetString(const std::string& defaultValue);

    // The names of the keys present in the section, as the platform lists
    // them: one read, so a caller can skip the lookups of absent keys.
    std::set<std::string> GetKeyNames() const;

    void SetInt(INT32 number) const;
    // Line breaks are written as spaces: a profile value is one line, and a
    // break inside it would start a new entry of the file.
    ProfileAccessor& SetString(const std::string& text);

    std::string fileName;
    std::string section;
    std::string key;
    std::string value;
};
