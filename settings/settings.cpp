#include "settings/settings.h"

#include "app/app_state.h"
#include "settings/profile_accessor.h"

namespace {

const char SETTINGS_FILE[] = "./vornick.ini";
const char SETTINGS_SECTION[] = "DefStr";

}  // namespace

void LoadSettings() {
    ProfileAccessor profile(SETTINGS_FILE);
    profile.section = SETTINGS_SECTION;

    INT32 count = profile.SetKey("len").GetInt(0);
    if (count > MAX_PHRASES) count = MAX_PHRASES;
    // Each lookup costs a check of the file, so absent keys, which load as
    // empty phrases anyway, are not looked up: a huge len stays cheap.
    const std::set<std::string> present = profile.GetKeyNames();
    for (INT32 i = 0; i < count; ++i) {
        profile.SetKeyIndex(i);
        app.phrases.push_back(present.count(profile.key) ? profile.GetString("") : "");
    }
    app.hotkeyVk = profile.SetKey("VK").GetInt(0);
    app.hotkeyModifiers = profile.SetKey("shift").GetInt(0);
}

void SaveSettings(INT32 entryCount, const std::function<const std::string&(INT32)>& entryText) {
    ProfileAccessor profile(SETTINGS_FILE);
    profile.section = SETTINGS_SECTION;

    profile.SetKey("len").SetInt(entryCount);
    profile.SetKey("VK").SetInt(app.hotkeyVk);
    profile.SetKey("shift").SetInt(app.hotkeyModifiers);
    for (INT32 i = 0; i < entryCount; ++i) {
        profile.SetKeyIndex(i).SetString(entryText(i));
    }
}
