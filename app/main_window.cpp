#include <windows.h>

#include <string>

#include "app/app.h"
#include "app/app_state.h"
#include "dialog/settings_dialog.h"
#include "phrases/paste.h"
#include "resources/resource_ids.h"

namespace {

// Sent to every top-level window when the taskbar has been created again.
const UINT taskbarCreated = RegisterWindowMessageA("TaskbarCreated");

LRESULT OnCommand(HWND window, WPARAM wParam, LPARAM lParam) {
    UINT id = LOWORD(wParam);
    switch (id) {
    case IDM_SETTINGS:
        OpenSettingsDialog();
        return 0;
    case IDM_EXIT:
        DestroyWindow(window);
        return 0;
    case IDM_TRAYMENU:
        ShowPopupMenu(app.trayMenu);
        return 0;
    }
    if (id >= IDM_PHRASE_BASE && id - IDM_PHRASE_BASE < app.phrases.size()) {
        // A copy: the phrase must outlive anything the paste might trigger.
        std::string phrase = app.phrases[id - IDM_PHRASE_BASE];
        PastePhrase(phrase);
        return 0;
    }
    return DefWindowProcA(window, WM_COMMAND, wParam, lParam);
}

// A menu closed without a pick: give the foreground back to the target,
// as long as nothing else has taken it meanwhile.
void OnMenuSelect(HWND window, WPARAM wParam, LPARAM lParam) {
    if (HIWORD(wParam) == 0xFFFF && lParam == 0 && app.targetWindow &&
        GetForegroundWindow() == window) {
        SetForegroundWindow(app.targetWindow);
    }
}

void OnTrayNotify(HWND window, LPARAM lParam) {
    switch (lParam) {
    case WM_MOUSEMOVE:
        // The user's application is still in the foreground here; the
        // button press that follows hands it to this window.
        CaptureTarget();
        break;
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
        SetForegroundWindow(window);
        break;
    case WM_LBUTTONDBLCLK:
        PostMessageA(window, WM_COMMAND, IDM_SETTINGS, 0);
        break;
    case WM_RBUTTONUP:
        PostMessageA(window, WM_COMMAND, IDM_TRAYMENU, 0);
        break;
    }
}

}  // namespace

LRESULT CALLBACK MainWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    case WM_COMMAND:
        return OnCommand(window, wParam, lParam);
    case WM_MENUSELECT:
        OnMenuSelect(window, wParam, lParam);
        return 0;
    case WM_HOTKEY:
        if (wParam == HOTKEY_ID) ShowPopupMenu(app.phraseMenu);
        return 0;
    case WM_TRAYNOTIFY:
        OnTrayNotify(window, lParam);
        return 0;
    }
    // A restarted shell has forgotten the icon: add it again, or a program
    // without a hotkey could be neither configured nor ended.
    if (message == taskbarCreated && taskbarCreated != 0) {
        AddTrayIcon(app.smallIcon);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

void ShowPopupMenu(HMENU menu) {
    CaptureTarget();
    POINT cursor;
    GetCursorPos(&cursor);
    // A popup menu closes properly when the user clicks elsewhere only if
    // its owner window is in the foreground.
    SetForegroundWindow(app.mainWindow);
    TrackPopupMenu(menu, TPM_RIGHTBUTTON, cursor.x, cursor.y, 0, app.mainWindow, nullptr);
}
