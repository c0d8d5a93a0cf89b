#include "phrases/phrase_menu.h"

#include <windows.h>

#include <stddef.h>

#include "app/app_state.h"
#include "resources/resource_ids.h"

namespace {

const size_t LABEL_BYTES = 40;

// The first layout of MENUITEMINFOA, without the item bitmap, which
// Windows 95 and NT 4.0 know.
const UINT MENU_ITEM_RECORD_SIZE = offsetof(MENUITEMINFOA, hbmpItem);
static_assert(sizeof(void*) != 4 || MENU_ITEM_RECORD_SIZE == 44, "the 32-bit first layout");

}  // namespace

void LoadMenus() {
    app.menuResource = LoadMenuA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDR_MENU));
    app.trayMenu = GetSubMenu(app.menuResource, 0);
    app.phraseMenu = GetSubMenu(app.trayMenu, 0);
    SetMenuDefaultItem(app.trayMenu, IDM_SETTINGS, FALSE);
}

std::string MakeMenuLabel(const std::string& phrase) {
    if (phrase.size() < LABEL_BYTES) return phrase;
    std::string label = phrase.substr(0, LABEL_BYTES);
    // A byte above 0x80 may be the lead byte of a character whose second
    // byte was cut off: drop it rather than show half a character.
    if (static_cast<unsigned char>(label[LABEL_BYTES - 1]) > 0x80) {
        label[LABEL_BYTES - 1] = '.';
        label += "..";
    } else {
        label += "...";
    }
    return label;
}

void RebuildPhraseMenu() {
    int oldCount = GetMenuItemCount(app.phraseMenu);
    for (int i = 0; i < oldCount; ++i) DeleteMenu(app.phraseMenu, 0, MF_BYPOSITION);

    for (size_t i = 0; i < app.phrases.size(); ++i) {
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
