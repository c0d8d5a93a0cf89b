// One entry of a profile (INI) file, named by file, section and key, read and
// written through the platform's profile functions. Callers set the section
// once and then move the key from entry to entry with chained calls:
//   accessor.SetKey("len").GetInt(0);
//   accessor.SetKeyIndex(i).SetString(text);
// A whole section can also be read at once, which costs one pass over the
// file instead of one per entry, and many entries written at once, in one
// replacement of the whole file.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>
#include <vector>

// Section and key names compare as the platform compares them: ignoring the
// case of ASCII letters.
bool SameProfileName(std::string_view a, std::string_view b);

// How many leading bytes of `text` fit in `limit` bytes without cutting a
// double-byte character of the ANSI code page.
size_t WholeCharacterBytes(std::string_view text, size_t limit);

// Windows 95, 98 and Me hand out at most this many bytes of a section.
const DWORD SECTION_LIMIT_9X = 32767;

// Whether a section read that listed `length` bytes from a file of
// `fileSize` bytes may lack part of the section. Only systems that cap
// sections cut them; what they return from a file of the cap's size or
// more is not documented, so a read of such a file counts as cut, as does a
// read that filled the capped buffer.
bool SectionReadMayBeCut(bool systemCapsSections, UINT64 fileSize, DWORD length);

// One entry to write: its key, and its value as the file holds it (ANSI
// text, see ProfileAccessor::ValueFor).
struct ProfileEntry {
    std::string key;
    std::string value;
};

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

    // Reads the whole section into `entries`, as the platform lists it: each
    // entry ("key=value", or a bare key) ends in a zero byte. Returns false
    // when the list may be incomplete: Windows 95, 98 and Me hand out at most
    // SECTION_LIMIT_9X bytes of a section, however large the buffer (see
    // SectionReadMayBeCut).
    bool GetSection(std::string* entries) const;
    // Sets every entry of `entries` in the section at once, in one
    // replacement of the whole file (see TextWithEntries and
    // ReplaceWholeFile), and tells the platform's profile cache that the
    // file changed. Returns ERROR_SUCCESS, or the system's error code with
    // the file as it was; `failedPath` as ReplaceWholeFile gives it.
    DWORD SetEntries(const std::vector<ProfileEntry>& entries,
                     std::string* failedPath = nullptr) const;
    // The text of the profile file `file` (its bytes; empty for no file)
    // with `entries` set in the first section named `section`, keys and
    // section names compared as the platform's reader compares them. Each
    // entry replaces the first line of its key where it stands, and later
    // lines of that key, which no read reaches, go; the entries missing from
    // the section are added in their order after its last entry (the
    // section is added at the end of the file where it is missing). Every
    // other line stays byte for byte: other sections and keys, comments,
    // blank lines, line ends. The file keeps its encoding: ANSI, or UTF-8 or
    // UTF-16 of either byte order after a byte-order mark, into which the
    // values (ANSI text) are converted.
    static std::string TextWithEntries(std::string_view file, std::string_view section,
                                       const std::vector<ProfileEntry>& entries);

    // One entry written through the platform's own writer, which rewrites
    // the file in place: the program saves through SetEntries.
    bool SetInt(INT32 number) const;
    // Writes `text` so that GetString gives it back exactly (see ValueFor).
    ProfileAccessor& SetString(const std::string& text);
    // Writes a value as it is; false when the file could not be written.
    bool SetValue(const std::string& value) const;

    // `text` as a value that the platform's per-key read gives back exactly.
    // Line breaks become spaces: a value is one line, and a break inside it
    // would start a new entry. The read trims white space around a value and
    // drops one pair of quotes around it, so a text that begins or ends with
    // either is wrapped in one more pair of double quotes.
    static std::string ValueFor(const std::string& text);
    // A value as a section read lists it (white space trimmed, quotes kept),
    // made what the per-key read gives: one pair of matching quotes around it
    // dropped, cut to MAX_VALUE bytes.
    static std::string ValueAsRead(std::string_view listed);
    // A value as a section read lists it, made the number that GetInt gives,
    // where that is plain: an empty value gives the default, a decimal number
    // of up to nine digits, with or without a sign, its value. Returns false
    // for anything else, which is left to the platform's own read.
    static bool IntAsRead(std::string_view listed, INT32 defaultValue, INT32* number);

    std::string fileName;
    std::string section;
    std::string key;
    std::string value;
};
