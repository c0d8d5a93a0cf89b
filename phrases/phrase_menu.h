// The phrase submenu: the menu template, the labels and the rebuild.
#pragma once

#include <string>

// Loads menu IDR_MENU and sets app.menuResource, app.trayMenu (its popup "F")
// and app.phraseMenu (the first popup of the tray menu).
void LoadMenus();

// A phrase of fewer than 40 bytes as it is; a longer one cut to 40 bytes
// followed by "...", or to 39 bytes when byte 39 may start a double-byte
// character.
std::string MakeMenuLabel(const std::string& phrase);

// Replaces the items of app.phraseMenu by one item per phrase, with command
// IDM_PHRASE_BASE + index.
void RebuildPhraseMenu();
