// The benchmark's baseline: the least a program can do to offer the same
// phrase menu. It reads the phrases of ./vornick.ini once, registers the same
// hotkey on a hidden window and, on the hotkey, shows a popup menu with the
// same items at the cursor. A picked item is put on the clipboard and Ctrl+V
// is typed into the window that was in front before the menu. No tray icon,
// no dialog, no focus or selection restore of its own.
//
//   bench_baseline.exe    (window class "vornick bench baseline")
#include <windows.h>

#include <stdio.h>
#include <string.h>

namespace {

const char CLASS_NAME[] = "vornick bench baseline";
const char SETTINGS[] = "./vornick.ini";
const int HOTKEY = 100;
const UINT FIRST_ITEM = 500;
const int MAX_ITEMS = 1000;

HWND g_window;
HMENU g_menu;
HWND g_previous;
char g_texts[MAX_ITEMS][256];
int g_count;

void LoadPhrases() {
    g_menu = CreatePopupMenu();
    g_count = GetPrivateProfileIntA("DefStr", "len", 0, SETTINGS);
    if (g_count > MAX_ITEMS) g_count = MAX_ITEMS;
    if (g_count < 0) g_count = 0;
    for (int i = 0; i < g_count; ++i) {
        char key[16];
        snprintf(key, sizeof key, "%d", i);
        GetPrivateProfileStringA("DefStr", key, "", g_texts[i], sizeof g_texts[i], SETTINGS);
        AppendMenuA(g_menu, MF_STRING, FIRST_ITEM + i, g_texts[i]);
    }
}

void Paste(const char* text) {
    size_t size = strlen(text) + 1;
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, size);
    if (!block) return;
    memcpy(GlobalLock(block), text, size);
    GlobalUnlock(block);
    if (!OpenClipboard(g_window)) {
        GlobalFree(block);
        return;
    }
    EmptyClipboard();
    SetClipboardData(CF_TEXT, block);
    CloseClipboard();
    if (!g_previous) return;
    SetForegroundWindow(g_previous);
    // The activation reaches the other application as a message: let it be
    // handled (its focus set again) before the keys arrive.
    DWORD_PTR result;
    SendMessageTimeoutA(g_previous, WM_NULL, 0, 0, SMTO_BLOCK, 1000, &result);
    keybd_event(VK_CONTROL, 0, 0, 0);
    keybd_event('V', 0, 0, 0);
    keybd_event('V', 0, KEYEVENTF_KEYUP, 0);
    keybd_event(VK_CONTROL, 0, KEYEVENTF_KEYUP, 0);
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_HOTKEY: {
        HWND front = GetForegroundWindow();
        if (front && front != window) g_previous = front;
        POINT cursor;
        GetCursorPos(&cursor);
        SetForegroundWindow(window);
        TrackPopupMenu(g_menu, TPM_RIGHTBUTTON, cursor.x, cursor.y, 0, window, nullptr);
        return 0;
    }
    case WM_COMMAND: {
        UINT id = LOWORD(wParam);
        if (id >= FIRST_ITEM && id < FIRST_ITEM + static_cast<UINT>(g_count))
            Paste(g_texts[id - FIRST_ITEM]);
        return 0;
    }
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    LoadPhrases();
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = CLASS_NAME;
    RegisterClassA(&windowClass);
    g_window = CreateWindowExA(0, CLASS_NAME, CLASS_NAME, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, 0,
                               CW_USEDEFAULT, 0, nullptr, nullptr, instance, nullptr);
    int vk = GetPrivateProfileIntA("DefStr", "VK", 0, SETTINGS);
    int modifiers = GetPrivateProfileIntA("DefStr", "shift", 0, SETTINGS);
    if (vk) RegisterHotKey(g_window, HOTKEY, modifiers, vk);

    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0)) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    DestroyMenu(g_menu);
    return 0;
}
