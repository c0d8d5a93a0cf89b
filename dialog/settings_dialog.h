// The settings dialog: edits the phrase list and the hotkey.
#pragma once

#include <windows.h>

// Runs the dialog modally, unless one is already open.
void OpenSettingsDialog();

INT_PTR CALLBACK SettingsDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// RegisterHotKey modifier bits to the hotkey control's flags, and back. Bits
// that the other side has no equivalent for are dropped.
BYTE ModifiersToHotkeyFlags(int modifiers);
int HotkeyFlagsToModifiers(BYTE flags);
