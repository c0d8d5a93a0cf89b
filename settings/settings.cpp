#include "settings/settings.h"

#include <string_view>
#include <vector>

#include "app/app_state.h"
#include "settings/profile_accessor.h"

namespace {

const char SETTINGS_FILE[] = "./vornick.ini";
const char SETTINGS_SECTION[] = "DefStr";

// One entry of a section read: "key=value", or a bare key, which every read
// takes as absent from the file. Both views point into the text of the read.
struct Entry {
    std::string_view key;
    std::string_view value;
    bool hasValue;
};

std::string_view Trimmed(std::string_view text) {
    size_t begin = 0, end = text.size();
    while (begin < end && (text[begin] == ' ' || text[begin] == '\t')) ++begin;
    while (end > begin && (text[end - 1] == ' ' || text[end - 1] == '\t')) --end;
    return text.substr(begin, end - begin);
}

std::vector<Entry> SplitEntries(std::string_view listed) {
    std::vector<Entry> entries;
    while (!listed.empty()) {
        std::string_view text = listed.substr(0, listed.find('\0'));
        listed.remove_prefix(text.size() < listed.size() ? text.size() + 1 : text.size());
        if (text.empty()) continue;
        size_t equals = text.find('=');
        Entry entry;
        entry.hasValue = equals != std::string_view::npos;
        entry.key = Trimmed(text.substr(0, equals));
        if (entry.hasValue) entry.value = Trimmed(text.substr(equals + 1));
        entries.push_back(entry);
    }
    return entries;
}

// The first entry with this key: the one that a per-key read finds.
const Entry* Find(const std::vector<Entry>& entries, const char* name) {
    for (const Entry& entry : entries) {
        if (SameProfileName(entry.key, name)) return &entry;
    }
    return nullptr;
}

// The phrase index that `key` names (decimal, as SetKeyIndex writes it),
// or -1 when it names none below `count`.
INT32 PhraseIndex(std::string_view key, INT32 count) {
    if (key.empty() || key.size() > 10 || (key[0] == '0' && key.size() > 1)) return -1;
    INT64 index = 0;
    for (char c : key) {
        if (c < '0' || c > '9') return -1;
        index = index * 10 + (c - '0');
    }
    return index < count ? static_cast<INT32>(index) : -1;
}

// The number of `name`: from the list where it is plain there, otherwise
// (an odd value, or absent from an incomplete list) from the file.
INT32 NumberOf(const std::vector<Entry>& entries, bool complete, ProfileAccessor& profile,
               const char* name) {
    const Entry* entry = Find(entries, name);
    if (!entry && complete) return 0;
    if (entry && !entry->hasValue) return 0;
    INT32 number = 0;
    if (entry && ProfileAccessor::IntAsRead(entry->value, 0, &number)) return number;
    return profile.SetKey(name).GetInt(0);
}

bool IsOurs(std::string_view key, INT32 entryCount) {
    return SameProfileName(key, "len") || SameProfileName(key, "VK") || SameProfileName(key, "shift") ||
           PhraseIndex(key, entryCount) >= 0;
}

void AddEntry(std::string* entries, const std::string& key, const std::string& value) {
    entries->append(key).append(1, '=').append(value).append(1, '\0');
}

std::string Decimal(INT32 number) { return std::to_string(static_cast<long>(number)); }

DWORD FailureCode() {
    DWORD error = GetLastError();
    return error != ERROR_SUCCESS ? error : ERROR_WRITE_FAULT;
}

// The system refuses to write a read-only file; a process allowed to ignore
// the flag (an administrator's, under some systems) must not overwrite a
// file that the user has protected either.
bool IsReadOnly() {
    DWORD attributes = GetFileAttributesA(SETTINGS_FILE);
    return attributes != 0xFFFFFFFF && (attributes & FILE_ATTRIBUTE_READONLY);
}

// Whether a write of the whole section would lose what is not ours: the
// platform drops entries without '=' from what it is given, empties a second
// section of the same name, and deletes the section's comment lines, which
// its read never listed. In a Unicode file, the read in ANSI text has
// already changed the characters of other entries that the code page lacks.
bool SectionWriteWouldLose(const ProfileAccessor& profile, const std::vector<Entry>& entries,
                           INT32 entryCount) {
    for (const Entry& entry : entries) {
        if (!entry.hasValue && !IsOurs(entry.key, entryCount)) return true;
    }
    return profile.FileHasByteOrderMark() || profile.SectionIsDoubled() ||
           profile.FileMayHoldComments();
}

// The save where the section could not be read whole, or where a write of
// it would lose entries: entry by entry, so that everything else stays.
DWORD SaveEntryByEntry(ProfileAccessor& profile, INT32 entryCount,
                       const std::function<const std::string&(INT32)>& entryText) {
    bool written = profile.SetKey("len").SetInt(entryCount) &&
                   profile.SetKey("VK").SetInt(app.hotkeyVk) &&
                   profile.SetKey("shift").SetInt(app.hotkeyModifiers);
    for (INT32 i = 0; written && i < entryCount; ++i) {
        written = profile.SetKeyIndex(i).SetValue(ProfileAccessor::ValueFor(entryText(i)));
    }
    return written ? ERROR_SUCCESS : FailureCode();
}

}  // namespace

void LoadSettings() {
    ProfileAccessor profile(SETTINGS_FILE);
    profile.section = SETTINGS_SECTION;
    std::string entries;
    bool complete = profile.GetSection(&entries);
    LoadSettingsFromSection(entries, complete);
}

void LoadSettingsFromSection(const std::string& listed, bool complete) {
    ProfileAccessor profile(SETTINGS_FILE);
    profile.section = SETTINGS_SECTION;
    std::vector<Entry> entries = SplitEntries(listed);
    // The last entry of a list cut short may itself be cut.
    if (!complete && !entries.empty()) entries.pop_back();

    INT32 count = NumberOf(entries, complete, profile, "len");
    if (count > MAX_PHRASES) count = MAX_PHRASES;
    std::vector<const Entry*> phraseEntries(count > 0 ? count : 0, nullptr);
    for (const Entry& entry : entries) {
        INT32 index = PhraseIndex(entry.key, count);
        if (index >= 0 && !phraseEntries[index]) phraseEntries[index] = &entry;
    }
    for (INT32 i = 0; i < count; ++i) {
        const Entry* entry = phraseEntries[i];
        if (entry) {
            app.phrases.push_back(entry->hasValue ? ProfileAccessor::ValueAsRead(entry->value)
                                                  : std::string());
        } else {
            // Absent from a complete list: absent from the file.
            app.phrases.push_back(complete ? std::string() : profile.SetKeyIndex(i).GetString(""));
        }
    }
    app.hotkeyVk = NumberOf(entries, complete, profile, "VK");
    app.hotkeyModifiers = NumberOf(entries, complete, profile, "shift");
}

DWORD SaveSettings(INT32 entryCount, const std::function<const std::string&(INT32)>& entryText) {
    ProfileAccessor profile(SETTINGS_FILE);
    profile.section = SETTINGS_SECTION;
    if (IsReadOnly()) return ERROR_ACCESS_DENIED;

    std::string listed;
    if (!profile.GetSection(&listed)) return SaveEntryByEntry(profile, entryCount, entryText);
    const std::vector<Entry> found = SplitEntries(listed);
    if (SectionWriteWouldLose(profile, found, entryCount)) {
        return SaveEntryByEntry(profile, entryCount, entryText);
    }

    // Ours first, in the order of a new file, then the others in theirs.
    std::string entries;
    AddEntry(&entries, "len", Decimal(entryCount));
    AddEntry(&entries, "VK", Decimal(app.hotkeyVk));
    AddEntry(&entries, "shift", Decimal(app.hotkeyModifiers));
    for (INT32 i = 0; i < entryCount; ++i) {
        AddEntry(&entries, Decimal(i), ProfileAccessor::ValueFor(entryText(i)));
    }
    for (const Entry& entry : found) {
        if (IsOurs(entry.key, entryCount)) continue;
        entries.append(entry.key).append(1, '=').append(entry.value).append(1, '\0');
    }
    return profile.SetSection(entries) ? ERROR_SUCCESS : FailureCode();
}

std::string SettingsFilePath() {
    char path[MAX_PATH];
    DWORD length = GetFullPathNameA(SETTINGS_FILE, sizeof path, path, nullptr);
    if (length == 0 || length >= sizeof path) return SETTINGS_FILE;
    return std::string(path, length);
}
