// The phrase submenu: the menu template, the labels and the rebuild.
#pragma once

#include <stddef.h>

#include <string>

// Loads menu IDR_MENU and sets app.menuResource, app.trayMenu (its popup "F")
// and app.phraseMenu (the first popup of the tray menu).
void LoadMenus();

// The menu text of a phrase: a phrase of fewer than 40 bytes whole, a longer
// one cut to its first 40 bytes, or 39 when a double-byte character of the
// ANSI code page straddles the cut, followed by "...". Every '&' is doubled
// and a tab shown as a space, so the menu shows the phrase's own text.
std::string MakeMenuLabel(const std::string& phrase);

// How many of that many phrases get a menu item: at most MAX_PHRASES, so
// that no command lies past the 16-bit command range.
size_t PhraseMenuItemCount(size_t phraseCount);

// Replaces the items of app.phraseMenu by one item per phrase, with command
// IDM_PHRASE_BASE + index.
void RebuildPhraseMenu();
