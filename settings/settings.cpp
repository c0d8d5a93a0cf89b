#include "settings/settings.h"

#include <string_view>
#include <vector>

#include "app/app_state.h"
#include "settings/file_replace.h"
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

std::string Decimal(INT32 number) { return std::to_string(static_cast<long>(number)); }

}  // namespace

void LoadSettings() {
    // A save cut off by a kill or a power cut may have left the file under
    // its old copy's name, and a new file that was never checked.
    RecoverReplacedFile(SETTINGS_FILE);
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

DWORD SaveSettings(INT32 entryCount, const std::function<const std::string&(INT32)>& entryText,
                   std::string* failedPath) {
    // In the order of a new file; every text is asked for before anything
    // is written.
    std::vector<ProfileEntry> entries;
    entries.reserve(3 + (entryCount > 0 ? entryCount : 0));
    entries.push_back({"len", Decimal(entryCount)});
    entries.push_back({"VK", Decimal(app.hotkeyVk)});
    entries.push_back({"shift", Decimal(app.hotkeyModifiers)});
    for (INT32 i = 0; i < entryCount; ++i) {
        entries.push_back({Decimal(i), ProfileAccessor::ValueFor(entryText(i))});
    }
    ProfileAccessor profile(SETTINGS_FILE);
    profile.section = SETTINGS_SECTION;
    return profile.SetEntries(entries, failedPath);
}

std::string SettingsFilePath() { return FullPath(SETTINGS_FILE); }
