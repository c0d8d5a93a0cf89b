#include "settings/profile_accessor.h"

#include <algorithm>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "settings/file_replace.h"

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

// The file's lines, as the platform's reader takes them apart -------------
//
// The reader (checked against Wine 8.0's) decodes the whole file first, so
// a character of a double-byte code page is two bytes whatever its second
// byte is, even a line break. It ends a line at each CR and LF, trims
// tabs, vertical tabs, form feeds, Ctrl+Z and spaces around a line and
// around the name before the first '=', takes a line whose first character
// is '[' and that holds a ']' as a section header (its name runs to the
// last ']', trimmed), skips blank lines, and takes every other line as an
// entry: the name before the first '=', or the whole line where there is
// none. Names compare ignoring case. Only ASCII characters have a part in
// this, so the walk below looks at each character only to tell whether it
// is ASCII, and which.

enum class Encoding { ANSI, UTF8, UTF16LE, UTF16BE };

// The code of a character that is not ASCII.
const unsigned NOT_ASCII = 0x100;

bool IsLineBlank(unsigned c) {
    return c == '\t' || c == '\v' || c == '\f' || c == 0x1A || c == ' ';
}

bool IsLineBreak(unsigned c) { return c == '\r' || c == '\n'; }

// The bytes of a profile file, read character by character.
class ProfileText {
public:
    explicit ProfileText(std::string_view bytes) : bytes_(bytes) {
        const auto startsWith = [&](std::string_view mark) {
            return bytes.substr(0, mark.size()) == mark;
        };
        if (startsWith("\xEF\xBB\xBF")) {
            encoding_ = Encoding::UTF8;
            start_ = 3;
        } else if (startsWith("\xFF\xFE")) {
            encoding_ = Encoding::UTF16LE;
            start_ = 2;
        } else if (startsWith("\xFE\xFF")) {
            encoding_ = Encoding::UTF16BE;
            start_ = 2;
        } else {
            for (int b = 0; b < 256; ++b) {
                leadByte_[b] = IsDBCSLeadByte(static_cast<BYTE>(b)) != 0;
                doubleByte_ = doubleByte_ || leadByte_[b];
            }
        }
    }
    std::string_view bytes() const { return bytes_; }
    Encoding encoding() const { return encoding_; }
    // Where the text begins: after the byte-order mark.
    size_t start() const { return start_; }

    // Whether ANSI text ends in the first byte of a double-byte character.
    bool EndsInLoneLeadByte(std::string_view ansi) const {
        if (ansi.empty() || !leadByte_[static_cast<unsigned char>(ansi.back())]) return false;
        size_t at = 0;
        while (at + 1 < ansi.size()) at += leadByte_[static_cast<unsigned char>(ansi[at])] ? 2 : 1;
        return at == ansi.size() - 1;
    }

    // Where the next line break (CR or LF) at or after `at` begins, or the
    // end of the text. A long file is mostly phrases, so this is the walk
    // that counts: byte by byte where every byte is a character.
    size_t FindLineBreak(size_t at) const {
        const size_t size = bytes_.size();
        const char* bytes = bytes_.data();
        if (encoding_ == Encoding::UTF8 || (encoding_ == Encoding::ANSI && !doubleByte_)) {
            while (at < size && bytes[at] != '\r' && bytes[at] != '\n') ++at;
            return at;
        }
        if (encoding_ == Encoding::ANSI) {
            while (at < size) {
                const unsigned char b = static_cast<unsigned char>(bytes[at]);
                if (leadByte_[b] && at + 1 < size) {
                    at += 2;
                } else if (b == '\r' || b == '\n') {
                    return at;
                } else {
                    ++at;
                }
            }
            return size;
        }
        unsigned code;
        while (at < size) {
            size_t width = Next(at, &code);
            if (IsLineBreak(code)) return at;
            at += width;
        }
        return size;
    }

    // The width in bytes of the character at `at`; `code` receives its code,
    // or NOT_ASCII.
    size_t Next(size_t at, unsigned* code) const {
        const unsigned char b = static_cast<unsigned char>(bytes_[at]);
        switch (encoding_) {
        case Encoding::ANSI:
            if (leadByte_[b] && at + 1 < bytes_.size()) {
                *code = NOT_ASCII;
                return 2;
            }
            break;
        case Encoding::UTF8:
            break;
        case Encoding::UTF16LE:
        case Encoding::UTF16BE: {
            if (at + 1 >= bytes_.size()) {  // an odd byte at the end
                *code = NOT_ASCII;
                return 1;
            }
            const unsigned char other = static_cast<unsigned char>(bytes_[at + 1]);
            unsigned unit = encoding_ == Encoding::UTF16LE ? b | other << 8 : b << 8 | other;
            *code = unit < 0x80 ? unit : NOT_ASCII;
            return 2;
        }
        }
        *code = b < 0x80 ? b : NOT_ASCII;
        return 1;
    }

private:
    std::string_view bytes_;
    Encoding encoding_ = Encoding::ANSI;
    size_t start_ = 0;
    bool leadByte_[256] = {};
    bool doubleByte_ = false;  // the ANSI code page has double-byte characters
};

// One line: its text from `begin` to `textEnd`, then its line break (CR LF,
// LF or CR) up to `end`; a last line may have none.
struct Line {
    size_t begin, textEnd, end;
};

std::vector<Line> SplitLines(const ProfileText& text) {
    std::vector<Line> lines;
    const size_t size = text.bytes().size();
    for (size_t begin = text.start(); begin < size;) {
        const size_t at = text.FindLineBreak(begin);
        if (at == size) {
            lines.push_back({begin, size, size});
            break;
        }
        unsigned code, after;
        size_t end = at + text.Next(at, &code);
        if (code == '\r' && end < size) {
            size_t afterWidth = text.Next(end, &after);
            if (after == '\n') end += afterWidth;
        }
        lines.push_back({begin, at, end});
        begin = end;
    }
    return lines;
}

// What the reader makes of a line, with the header's or the entry's name
// lower-cased (ASCII letters); `plainName` is false when the name holds a
// character that is not ASCII, which none of the program's names do.
struct LineMeaning {
    enum Kind { BLANK, HEADER, ENTRY } kind;
    std::string name;
    bool plainName;
};

// The name is compared as a zero-terminated text: it ends at a zero byte.
std::string LowerName(const std::vector<unsigned>& codes, size_t begin, size_t end, bool* plain) {
    while (begin < end && IsLineBlank(codes[begin])) ++begin;
    while (end > begin && IsLineBlank(codes[end - 1])) --end;
    std::string name;
    *plain = true;
    for (size_t i = begin; i < end && codes[i] != 0; ++i) {
        unsigned c = codes[i];
        if (c == NOT_ASCII) *plain = false;
        name += c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : static_cast<char>(c);
    }
    return name;
}

// `codes` is room for the line's characters, kept from line to line.
LineMeaning MeaningOf(const ProfileText& text, const Line& line, std::vector<unsigned>* codes) {
    // The codes from the first character that is not blank: up to the first
    // '=' for an entry, the whole line for what may be a header.
    codes->clear();
    bool header = false;
    unsigned code;
    for (size_t at = line.begin; at < line.textEnd;) {
        at += text.Next(at, &code);
        if (codes->empty() && !header && IsLineBlank(code)) continue;
        if (codes->empty() && !header) header = code == '[';
        if (code == '=' && !header) break;
        codes->push_back(code);
    }
    if (codes->empty() && !header) {
        // A blank line, or an entry whose name is empty ("=value").
        bool blank = true;
        for (size_t at = line.begin; at < line.textEnd && blank;) {
            at += text.Next(at, &code);
            blank = IsLineBlank(code);
        }
        return {blank ? LineMeaning::BLANK : LineMeaning::ENTRY, std::string(), true};
    }
    LineMeaning meaning;
    if (header) {
        size_t close = codes->size();
        while (close > 1 && (*codes)[close - 1] != ']') --close;
        if (close > 1) {
            meaning.kind = LineMeaning::HEADER;
            meaning.name = LowerName(*codes, 1, close - 1, &meaning.plainName);
            return meaning;
        }
        // No ']': an entry after all, named up to its first '='.
        size_t equals = 0;
        while (equals < codes->size() && (*codes)[equals] != '=') ++equals;
        codes->resize(equals);
    }
    meaning.kind = LineMeaning::ENTRY;
    meaning.name = LowerName(*codes, 0, codes->size(), &meaning.plainName);
    return meaning;
}

std::string LowerAscii(std::string_view name) {
    std::string lower(name);
    for (char& c : lower) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return lower;
}

bool IsAscii(std::string_view text) {
    for (char c : text) {
        if (static_cast<unsigned char>(c) >= 0x80) return false;
    }
    return true;
}

// UTF-16 text, kept in a vector: a std::wstring would link the library's
// whole wide string into the program.
typedef std::vector<wchar_t> WideText;

WideText WideFromAnsi(std::string_view ansi) {
    int length =
        MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), nullptr, 0);
    if (length <= 0) return WideText();
    WideText wide(length);
    MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), &wide[0], length);
    return wide;
}

std::string AnsiFromWide(const WideText& wide, UINT codePage) {
    if (wide.empty()) return std::string();
    int length = WideCharToMultiByte(codePage, 0, &wide[0], static_cast<int>(wide.size()), nullptr,
                                     0, nullptr, nullptr);
    if (length <= 0) return std::string();
    std::string bytes(length, '\0');
    WideCharToMultiByte(codePage, 0, &wide[0], static_cast<int>(wide.size()), &bytes[0], length,
                        nullptr, nullptr);
    return bytes;
}

// The entry that a lower-cased name sets. Keys that are decimal numbers, the
// bulk of a long list, are found by their value, the others by name.
class EntryFinder {
public:
    static constexpr size_t NONE = ~size_t(0);

    explicit EntryFinder(const std::vector<ProfileEntry>& entries) {
        const size_t numberLimit = 4 * entries.size() + 16;
        for (size_t i = 0; i < entries.size(); ++i) {
            size_t number = NumberOf(entries[i].key);
            if (number < numberLimit) {
                if (number >= byNumber_.size()) byNumber_.resize(number + 1, NONE);
                if (byNumber_[number] == NONE) byNumber_[number] = i;
            } else {
                // Kept sorted by name; the first entry of a name wins.
                std::string name = LowerAscii(entries[i].key);
                auto place = FirstNotBefore(name);
                if (place == byName_.end() || place->name != name) byName_.insert(place, {name, i});
            }
        }
    }
    size_t Find(const std::string& lowerName) const {
        size_t number = NumberOf(lowerName);
        if (number < byNumber_.size()) return byNumber_[number];
        auto found = FirstNotBefore(lowerName);
        return found != byName_.end() && found->name == lowerName ? found->entry : NONE;
    }

private:
    struct Named {
        std::string name;
        size_t entry;
    };
    std::vector<Named>::const_iterator FirstNotBefore(const std::string& name) const {
        return std::lower_bound(
            byName_.begin(), byName_.end(), name,
            [](const Named& named, const std::string& wanted) { return named.name < wanted; });
    }
    // The value of a decimal number without leading zeros or sign, or NONE.
    static size_t NumberOf(std::string_view name) {
        if (name.empty() || name.size() > 9 || (name[0] == '0' && name.size() > 1)) return NONE;
        size_t number = 0;
        for (char c : name) {
            if (c < '0' || c > '9') return NONE;
            number = number * 10 + static_cast<size_t>(c - '0');
        }
        return number;
    }
    std::vector<size_t> byNumber_;
    std::vector<Named> byName_;
};

// Appends ANSI text (or ASCII) to `out` in the file's encoding.
void AppendEncoded(std::string* out, std::string_view text, const ProfileText& file) {
    const Encoding encoding = file.encoding();
    if (encoding == Encoding::ANSI) {
        // A lead byte at the very end would take the line break after it
        // into its character and join the next line to this one. The
        // platform's own writer, which goes through UTF-16, turns it into
        // the code page's default character; so does this.
        if (file.EndsInLoneLeadByte(text)) {
            out->append(AnsiFromWide(WideFromAnsi(text), CP_ACP));
        } else {
            out->append(text);
        }
        return;
    }
    if (encoding == Encoding::UTF8) {
        out->append(IsAscii(text) ? std::string(text) : AnsiFromWide(WideFromAnsi(text), CP_UTF8));
        return;
    }
    const WideText wide = IsAscii(text) ? WideText(text.begin(), text.end()) : WideFromAnsi(text);
    for (wchar_t c : wide) {
        const char low = static_cast<char>(c & 0xFF), high = static_cast<char>((c >> 8) & 0xFF);
        if (encoding == Encoding::UTF16LE) {
            out->append(1, low).append(1, high);
        } else {
            out->append(1, high).append(1, low);
        }
    }
}

void AppendEntry(std::string* out, const ProfileEntry& entry, const ProfileText& file) {
    AppendEncoded(out, entry.key, file);
    AppendEncoded(out, "=", file);
    AppendEncoded(out, entry.value, file);
}

// The file's own line break, for new lines: the first one it has, or CR LF.
std::string LineBreakOf(const ProfileText& text, const std::vector<Line>& lines) {
    for (const Line& line : lines) {
        if (line.end > line.textEnd) {
            return std::string(text.bytes().substr(line.textEnd, line.end - line.textEnd));
        }
    }
    std::string crlf;
    AppendEncoded(&crlf, "\r\n", text);
    return crlf;
}

// Appends the entries not yet written, in their order, each on a line of its
// own; after a line without a break, each goes after a break instead, so
// that a file that ended without one still does.
void AppendMissing(std::string* out, bool* atLineStart, const std::vector<ProfileEntry>& entries,
                   const std::vector<bool>& written, const ProfileText& file,
                   const std::string& lineBreak) {
    for (size_t i = 0; i < entries.size(); ++i) {
        if (written[i]) continue;
        if (!*atLineStart) out->append(lineBreak);
        AppendEntry(out, entries[i], file);
        if (*atLineStart) out->append(lineBreak);
    }
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

DWORD ProfileAccessor::SetEntries(const std::vector<ProfileEntry>& entries,
                                  std::string* failedPath) const {
    std::string file;
    DWORD error = ReadWholeFile(fileName, &file);
    if (error != ERROR_SUCCESS) {
        if (failedPath) *failedPath = FullPath(fileName);
        return error;
    }
    error = ReplaceWholeFile(fileName, TextWithEntries(file, section, entries), failedPath);
    // The platform keeps files it has read and may not notice that this one
    // was replaced: a null section, key and value drop it from that cache
    // (the call returns FALSE by design).
    if (error == ERROR_SUCCESS) {
        WritePrivateProfileStringA(nullptr, nullptr, nullptr, fileName.c_str());
    }
    return error;
}

std::string ProfileAccessor::TextWithEntries(std::string_view file, std::string_view section,
                                             const std::vector<ProfileEntry>& entries) {
    const ProfileText text(file);
    const std::vector<Line> lines = SplitLines(text);
    const std::string sectionName = LowerAscii(section);
    const EntryFinder finder(entries);

    // Which line each entry replaces, which lines go, and after which line
    // the missing entries go: the section's last entry (comments aside), or
    // its header.
    const size_t NONE = EntryFinder::NONE;
    std::vector<size_t> entryOfLine(lines.size(), NONE);
    std::vector<unsigned> codes;
    std::vector<bool> dropped(lines.size(), false), written(entries.size(), false);
    size_t insertAfter = NONE;
    bool inSection = false, sectionSeen = false;
    for (size_t i = 0; i < lines.size(); ++i) {
        const LineMeaning meaning = MeaningOf(text, lines[i], &codes);
        if (meaning.kind == LineMeaning::HEADER) {
            inSection = !sectionSeen && meaning.plainName && meaning.name == sectionName;
            if (inSection) {
                sectionSeen = true;
                insertAfter = i;
            }
            continue;
        }
        if (!inSection || meaning.kind != LineMeaning::ENTRY) continue;
        if (meaning.name.empty() || meaning.name[0] != ';') insertAfter = i;
        if (!meaning.plainName) continue;
        const size_t entry = finder.Find(meaning.name);
        if (entry == EntryFinder::NONE) continue;
        if (written[entry]) {
            dropped[i] = true;
        } else {
            written[entry] = true;
            entryOfLine[i] = entry;
        }
    }

    const std::string lineBreak = LineBreakOf(text, lines);
    std::string out;
    out.reserve(file.size() + file.size() / 8 + 64 * entries.size() + 64);
    out.append(file.substr(0, text.start()));
    bool atLineStart = true;
    for (size_t i = 0; i < lines.size(); ++i) {
        const Line& line = lines[i];
        if (entryOfLine[i] != NONE) {
            AppendEntry(&out, entries[entryOfLine[i]], text);
            out.append(file.substr(line.textEnd, line.end - line.textEnd));
            atLineStart = line.end > line.textEnd;
        } else if (!dropped[i]) {
            out.append(file.substr(line.begin, line.end - line.begin));
            atLineStart = line.end > line.textEnd;
        }
        if (i == insertAfter) AppendMissing(&out, &atLineStart, entries, written, text, lineBreak);
    }
    if (!sectionSeen) {
        if (!atLineStart) out.append(lineBreak);
        atLineStart = true;
        AppendEncoded(&out, "[", text);
        AppendEncoded(&out, section, text);
        AppendEncoded(&out, "]", text);
        out.append(lineBreak);
        AppendMissing(&out, &atLineStart, entries, written, text, lineBreak);
    }
    return out;
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
