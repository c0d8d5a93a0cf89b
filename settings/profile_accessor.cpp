#include "settings/profile_accessor.h"

#include <algorithm>
#include <string>
#include <vector>

#include "app/app_state.h"

namespace {

const char* TextOrEmpty(const std::string& text) {
    return text.empty() ? EMPTY_TEXT : text.c_str();
}

// The characters that the per-key read trims from a value's ends: it works
// in UTF-16, so a full-width space counts as well as the ASCII ones.
bool IsTrimmedSpace(wchar_t c) {
    return (c >= 0x09 && c <= 0x0D) || c == 0x1A || c == 0x20 || c == 0x85 || c == 0xA0 ||
           c == 0x1680 || (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 ||
           c == 0x202F || c == 0x205F || c == 0x3000 || c == 0xFEFF;
}

// Windows 95, 98 and Me: not the NT family.
bool SystemCapsSections() {
    OSVERSIONINFOA version = {};
    version.dwOSVersionInfoSize = sizeof version;
    return GetVersionExA(&version) && version.dwPlatformId != VER_PLATFORM_WIN32_NT;
}

bool LastErrorSaysMissing() {
    DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

// The file's size in bytes: 0 when it is missing, the largest size when it
// cannot be found out.
UINT64 FileSize(const std::string& fileName) {
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(TextOrEmpty(fileName), &found);
    if (search == INVALID_HANDLE_VALUE) return LastErrorSaysMissing() ? 0 : ~UINT64(0);
    FindClose(search);
    return (UINT64(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
}

// The file opened for reading, sharing it with anyone who has it open.
HANDLE OpenForReading(const std::string& fileName) {
    return CreateFileA(TextOrEmpty(fileName), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                       nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// The bytes that the profile functions skip before a line's first character.
bool IsLineBlank(char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\x1A'; }

// Whether `bytes` hold a line whose first byte after blanks is ';'. Both CR
// and LF end a line. `atLineStart` carries the scan from one chunk to the
// next. No double-byte character of an ANSI code page has ';', CR or LF as
// its second byte, so the scan needs no code page.
bool HoldsCommentLine(std::string_view bytes, bool* atLineStart) {
    for (char c : bytes) {
        if (c == '\r' || c == '\n') {
            *atLineStart = true;
        } else if (*atLineStart && c == ';') {
            return true;
        } else if (!IsLineBlank(c)) {
            *atLineStart = false;
        }
    }
    return false;
}

bool IsQuote(char c) { return c == '"' || c == '\''; }

bool IsQuotedPair(std::string_view text) {
    return text.size() >= 2 && IsQuote(text[0]) && text.back() == text[0];
}

// Whether the first or the last character of `text` would be trimmed.
bool HasTrimmedEnd(const std::string& text) {
    unsigned char first = text.front(), last = text.back();
    if (first < 0x80 && last < 0x80) return IsTrimmedSpace(first) || IsTrimmedSpace(last);
    int length = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()),
                                     nullptr, 0);
    if (length <= 0) return true;  // unknown: quoting is always safe
    std::vector<wchar_t> wide(length);
    MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &wide[0], length);
    return IsTrimmedSpace(wide.front()) || IsTrimmedSpace(wide.back());
}

// `text` cut to at most `size` bytes, never inside a double-byte character.
std::string CutAt(std::string_view text, size_t size) {
    if (text.size() <= size) return std::string(text);
    return std::string(text.substr(0, WholeCharacterBytes(text, size)));
}

}  // namespace

bool SectionReadMayBeCut(bool systemCapsSections, UINT64 fileSize, DWORD length) {
    if (!systemCapsSections) return false;
    return fileSize >= SECTION_LIMIT_9X || length >= SECTION_LIMIT_9X - 2;
}

bool SameProfileName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i] >= 'A' && a[i] <= 'Z' ? static_cast<char>(a[i] - 'A' + 'a') : a[i];
        char y = b[i] >= 'A' && b[i] <= 'Z' ? static_cast<char>(b[i] - 'A' + 'a') : b[i];
        if (x != y) return false;
    }
    return true;
}

// The walk from the start is the only way to tell a lead byte from a trail
// byte, whose values overlap.
size_t WholeCharacterBytes(std::string_view text, size_t limit) {
    size_t end = 0;
    while (end < text.size()) {
        size_t width = IsDBCSLeadByte(static_cast<BYTE>(text[end])) ? 2 : 1;
        if (end + width > limit) break;
        end += width;
    }
    // A lone lead byte at the very end counts as one byte.
    return end < text.size() ? end : text.size();
}

ProfileAccessor::ProfileAccessor(const std::string& fileName)
    : fileName(fileName), section("SETTING"), key("key"), value() {}

ProfileAccessor& ProfileAccessor::SetKey(const char* name) {
    key = name;
    return *this;
}

ProfileAccessor& ProfileAccessor::SetKeyIndex(INT32 index) {
    key = std::to_string(index);
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

bool ProfileAccessor::GetSection(std::string* entries) const {
    // A result of size - 2 means that the buffer was too small. Where the
    // system caps the list, one read is as large as it allows. Elsewhere the
    // first read is sized to hold the whole file, because each read costs a
    // pass over it, and the buffer grows until the list fits.
    const bool capped = SystemCapsSections();
    const UINT64 fileSize = FileSize(fileName);
    const UINT64 FIRST_READ_LIMIT = 16 * 1024 * 1024;
    const size_t firstRead =
        capped ? SECTION_LIMIT_9X : static_cast<size_t>(std::min(fileSize, FIRST_READ_LIMIT)) + 64;
    std::string buffer(firstRead, '\0');
    for (;;) {
        DWORD length = GetPrivateProfileSectionA(TextOrEmpty(section), &buffer[0],
                                                 static_cast<DWORD>(buffer.size()),
                                                 TextOrEmpty(fileName));
        if (capped || length + 2 < buffer.size()) {
            buffer.resize(std::min<size_t>(length, buffer.size()));
            entries->swap(buffer);
            return !SectionReadMayBeCut(capped, fileSize, length);
        }
        buffer.assign(buffer.size() * 2, '\0');
    }
}

bool ProfileAccessor::SetSection(const std::string& entries) const {
    // The list ends in one more zero byte: the string's own terminator.
    return WritePrivateProfileSectionA(TextOrEmpty(section), entries.c_str(),
                                       TextOrEmpty(fileName)) != FALSE;
}

bool ProfileAccessor::SectionIsDoubled() const {
    // The names each end in a zero byte; a result of size - 2 means that the
    // buffer was too small.
    std::string names(4096, '\0');
    DWORD length;
    for (;;) {
        length = GetPrivateProfileSectionNamesA(&names[0], static_cast<DWORD>(names.size()),
                                                TextOrEmpty(fileName));
        if (length + 2 < names.size()) break;
        names.assign(names.size() * 2, '\0');
    }
    int found = 0;
    for (size_t start = 0; start < length;) {
        size_t end = names.find('\0', start);
        if (end == std::string::npos || end > length) end = length;
        std::string_view name = std::string_view(names).substr(start, end - start);
        if (SameProfileName(name, section) && ++found > 1) return true;
        start = end + 1;
    }
    return false;
}

bool ProfileAccessor::FileMayHoldComments() const {
    HANDLE file = OpenForReading(fileName);
    if (file == INVALID_HANDLE_VALUE) return !LastErrorSaysMissing();
    bool found = false, atLineStart = true;
    char chunk[16384];
    for (;;) {
        DWORD count = 0;
        if (!ReadFile(file, chunk, sizeof chunk, &count, nullptr)) {
            found = true;  // the rest is unknown
            break;
        }
        if (count == 0) break;
        if (HoldsCommentLine(std::string_view(chunk, count), &atLineStart)) {
            found = true;
            break;
        }
    }
    CloseHandle(file);
    return found;
}

bool ProfileAccessor::FileHasByteOrderMark() const {
    HANDLE file = OpenForReading(fileName);
    if (file == INVALID_HANDLE_VALUE) return !LastErrorSaysMissing();
    unsigned char start[3] = {};
    DWORD count = 0;
    bool read = ReadFile(file, start, sizeof start, &count, nullptr) != FALSE;
    CloseHandle(file);
    if (!read) return true;
    bool utf8 = count == 3 && start[0] == 0xEF && start[1] == 0xBB && start[2] == 0xBF;
    bool utf16 = count >= 2 && ((start[0] == 0xFF && start[1] == 0xFE) ||
                                (start[0] == 0xFE && start[1] == 0xFF));
    return utf8 || utf16;
}

bool ProfileAccessor::SetInt(INT32 number) const {
    return SetValue(std::to_string(number));
}

ProfileAccessor& ProfileAccessor::SetString(const std::string& text) {
    SetValue(ValueFor(text));
    return *this;
}

bool ProfileAccessor::SetValue(const std::string& value) const {
    return WritePrivateProfileStringA(TextOrEmpty(section), TextOrEmpty(key), TextOrEmpty(value),
                                      TextOrEmpty(fileName)) != FALSE;
}

std::string ProfileAccessor::ValueFor(const std::string& text) {
    std::string oneLine = text;
    for (char& c : oneLine) {
        if (c == '\r' || c == '\n') c = ' ';
    }
    if (oneLine.empty() || !(HasTrimmedEnd(oneLine) || IsQuotedPair(oneLine))) return oneLine;
    return '"' + oneLine + '"';
}

std::string ProfileAccessor::ValueAsRead(std::string_view listed) {
    if (IsQuotedPair(listed)) return CutAt(listed.substr(1, listed.size() - 2), MAX_VALUE);
    return CutAt(listed, MAX_VALUE);
}

bool ProfileAccessor::IntAsRead(std::string_view listed, INT32 defaultValue, INT32* number) {
    const std::string text = ValueAsRead(listed);
    if (text.empty()) {
        *number = defaultValue;
        return true;
    }
    size_t i = text[0] == '+' || text[0] == '-' ? 1 : 0;
    size_t digits = text.size() - i;
    if (digits == 0 || digits > 9) return false;
    INT32 magnitude = 0;
    for (; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        magnitude = magnitude * 10 + (text[i] - '0');
    }
    *number = text[0] == '-' ? -magnitude : magnitude;
    return true;
}
