// The one process-wide state record and the identifiers shared by every
// subsystem. All handlers run in the single GUI thread, so nothing is locked.
#pragma once

#include <windows.h>
#include <shellapi.h>

#include <string>
#include <vector>

// The phrases in menu order: bytes in the ANSI code page, no terminator,
// possibly empty. Phrase i is menu command IDM_PHRASE_BASE + i.
typedef std::vector<std::string> PhraseList;

// Passed to the platform wherever a text would otherwise be empty or null.
extern const char EMPTY_TEXT[];

// Identifier of the one system-wide hotkey, registered on the main window.
const int HOTKEY_ID = 100;

// Callback message of the notification-area icon.
const UINT WM_TRAYNOTIFY = 0x48E;

struct AppState {
    PhraseList phrases;
    INT32 hotkeyVk;         // virtual-key code of the menu hotkey; 0 = none
    INT32 hotkeyModifiers;  // RegisterHotKey bits, passed on unmasked
    INT32 selEnd;           // target control's selection, as EM_GETSEL gave it
    INT32 selStart;
    bool isNT;
    HWND targetWindow;  // foreground window at the last successful capture
    HWND mainWindow;
    HWND targetFocus;  // focused control at that capture; cleared by a paste
    HICON smallIcon;
    HMENU phraseMenu;
    HMENU trayMenu;
    HMENU menuResource;
    HINSTANCE instance;
    bool dialogOpen;
    HWND dialogEdit;
    HWND dialogList;
    NOTIFYICONDATAA trayIcon;
};

// Zero-filled at start: static storage, and every field is plain data or an
// empty vector.
extern AppState app;
