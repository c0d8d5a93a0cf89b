// Start-up, the hidden main window, the tray icon and the popup menus.
#pragma once

#include <windows.h>

// Loads comctl32.dll from the system directory and initialises the common
// controls (the settings dialog's hotkey control); false when it cannot.
bool LoadCommonControls();

// Tells the user that the common controls could not be loaded.
void ReportCommonControlsMissing();

// Detects the platform, prepares the window class, loads the menus and the
// settings and builds the phrase submenu.
void InitApplication(HINSTANCE instance);

// Creates the hidden main window; false when another copy already runs or
// the window could not be created.
bool CreateMainWindow(HINSTANCE instance);

void AddTrayIcon(HICON icon);
void RemoveTrayIcon();

LRESULT CALLBACK MainWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Shows a popup menu at the mouse cursor, after capturing the target.
void ShowPopupMenu(HMENU menu);
