// Another program on the desktop, making the faults that the robustness tests
// put vornick through. One command per run; it prints one line when its work
// is in place (flushed, so a test can wait for it) and the holding commands
// then stay until they are ended:
//   fault_helper.exe clipboard          opens the clipboard and keeps it open
//   fault_helper.exe hotkey MODS VK     registers that hotkey on a window of
//                                       its own; prints "hotkey" each time it
//                                       arrives
//   fault_helper.exe forget-icon CLASS  removes icon 1 of the window of CLASS
//                                       from the notification area, as a
//                                       restarted shell has forgotten it
//   fault_helper.exe taskbar-created    broadcasts the registered message
//                                       "TaskbarCreated", as a new shell does
#include <windows.h>
#include <shellapi.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {

void Report(const char* format, int value) {
    printf(format, value);
    printf("\n");
    fflush(stdout);
}

int HoldClipboard() {
    Report("held=%d", OpenClipboard(nullptr) ? 1 : 0);
    for (;;) Sleep(60000);
}

LRESULT CALLBACK HotkeyWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_HOTKEY) {
        printf("hotkey\n");
        fflush(stdout);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

int HoldHotkey(int modifiers, int vk) {
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = HotkeyWindowProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "vornick fault helper";
    RegisterClassA(&windowClass);
    HWND window = CreateWindowExA(0, windowClass.lpszClassName, "", WS_OVERLAPPED, 0, 0, 0, 0,
                                  nullptr, nullptr, windowClass.hInstance, nullptr);
    Report("registered=%d", RegisterHotKey(window, 1, modifiers, vk) ? 1 : 0);
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0)) DispatchMessageA(&message);
    return 0;
}

int ForgetIcon(const char* windowClass) {
    NOTIFYICONDATAA icon = {};
    icon.cbSize = NOTIFYICONDATAA_V1_SIZE;  // the first layout, as vornick uses it
    icon.hWnd = FindWindowA(windowClass, nullptr);
    icon.uID = 1;
    Report("deleted=%d", icon.hWnd && Shell_NotifyIconA(NIM_DELETE, &icon) ? 1 : 0);
    return 0;
}

int AnnounceTaskbar() {
    UINT message = RegisterWindowMessageA("TaskbarCreated");
    Report("broadcast=%d", SendNotifyMessageA(HWND_BROADCAST, message, 0, 0) ? 1 : 0);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 2 && strcmp(argv[1], "clipboard") == 0) return HoldClipboard();
    if (argc >= 4 && strcmp(argv[1], "hotkey") == 0)
        return HoldHotkey(atoi(argv[2]), atoi(argv[3]));
    if (argc >= 3 && strcmp(argv[1], "forget-icon") == 0) return ForgetIcon(argv[2]);
    if (argc >= 2 && strcmp(argv[1], "taskbar-created") == 0) return AnnounceTaskbar();
    fprintf(stderr,
            "usage: fault_helper clipboard | hotkey MODS VK | forget-icon CLASS | "
            "taskbar-created\n");
    return 2;
}
