// Resource and command identifiers, shared by the resource script and the code.
#pragma once

// Dialogs
#define IDD_SETTINGS 103

// Icons
#define IDI_MAIN 107
#define IDI_SMALL 108

// Menus
#define IDR_MENU 109

// Commands
#define IDM_SETTINGS 104
#define IDM_EXIT 105
#define IDM_TRAYMENU 111
#define IDM_PHRASE_BASE 500

// Controls of the settings dialog
#define IDC_PHRASE_EDIT 1000
#define IDC_ADD 1001
#define IDC_PHRASE_LIST 1002
#define IDC_DELETE 1005
#define IDC_UP 1006
#define IDC_HOTKEY 1007
#define IDC_DOWN 1008
