#include "phrases/phrase_menu.h"

#include <windows.h>

#include <stddef.h>

#include "app/app_state.h"
#include "resources/resource_ids.h"
#include "settings/profile_accessor.h"
#include "settings/settings.h"

namespace {

const size_t LABEL_BYTES = 40;

// The first layout of MENUITEMINFOA, without the item bitmap, which
// Windows 95 and NT 4.0 know.
const UINT MENU_ITEM_RECORD_SIZE = offsetof(MENUITEMINFOA, hbmpItem);
static_assert(sizeof(void*) != 4 || MENU_ITEM_RECORD_SIZE == 44, "the 32-bit first layout");

// The menu takes '&' as the mnemonic mark and a tab as the start of a second
// column: "&&" shows one '&', and a tab is shown as a space.
std::string MenuText(const std::string& text) {
    std::string shown;
    shown.reserve(text.size() + 8);
    for (char c : text) {
        if (c == '&') {
            shown += "&&";
        } else {
            shown += c == '\t' ? ' ' : c;
        }
    }
    return shown;
}

// Commands are 16 bits: phrase MAX_PHRASES - 1 has the last one.
static_assert(IDM_PHRASE_BASE + MAX_PHRASES - 1 == 0xFFFF, "the command range");

}  // namespace

void LoadMenus() {
    app.menuResource = LoadMenuA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDR_MENU));
    app.trayMenu = GetSubMenu(app.menuResource, 0);
    app.phraseMenu = GetSubMenu(app.trayMenu, 0);
    SetMenuDefaultItem(app.trayMenu, IDM_SETTINGS, FALSE);
}

std::string MakeMenuLabel(const std::string& phrase) {
    if (phrase.size() < LABEL_BYTES) return MenuText(phrase);
    return MenuText(phrase.substr(0, WholeCharacterBytes(phrase, LABEL_BYTES))) + "...";
}

size_t PhraseMenuItemCount(size_t phraseCount) {
    return phraseCount < static_cast<size_t>(MAX_PHRASES) ? phraseCount
                                                          : static_cast<size_t>(MAX_PHRASES);
}

void RebuildPhraseMenu() {
    int oldCount = GetMenuItemCount(app.phraseMenu);
    for (int i = 0; i < oldCount; ++i) DeleteMenu(app.phraseMenu, 0, MF_BYPOSITION);

    // A command past the range would wrap onto another command's number.
    size_t count = PhraseMenuItemCount(app.phrases.size());
    for (size_t i = 0; i < count; ++i) {
        std::string label = MakeMenuLabel(app.phrases[i]);
        MENUITEMINFOA item = {};
        item.cbSize = MENU_ITEM_RECORD_SIZE;
        item.fMask = MIIM_ID | MIIM_TYPE;
        item.fType = MFT_STRING;
        item.wID = IDM_PHRASE_BASE + static_cast<UINT>(i);
        item.dwTypeData = const_cast<char*>(label.empty() ? EMPTY_TEXT : label.c_str());
        item.cch = static_cast<UINT>(label.size());
        InsertMenuItemA(app.phraseMenu, static_cast<UINT>(i), TRUE, &item);
    }
}
