// Runs the program's capture and paste routines on command, so that the
// desktop tests can drive them against real applications and read back what
// they recorded. Commands come on stdin, one per line; every command gets one
// line of reply on stdout:
//   state          the capture fields of `app`, the foreground window, the
//                  main window and the taskbar window
//   capture        CaptureTarget(), then state and how long the call took
//                  (ms=, in milliseconds)
//   paste [HEX]    PastePhrase() with the hex-encoded bytes, then state and
//                  ms= as for capture
//   front [HWND]   gives the foreground to a window, by default to the main
//                  window as the phrase menu does before it opens
//   window         shows a second top-level window of the probe's own thread,
//                  titled like the main window with " window" added
//   tray           adds a notification-area icon on the main window
//   clip           the clipboard's owner and its CF_TEXT bytes (hex)
//   hold, release  opens the clipboard and keeps it open, closes it again
//   edit HWND      an edit control's ANSI text (hex) and selection, read with
//                  WM_GETTEXT and EM_GETSEL
//   hook, keys     installs a low-level keyboard hook; the key events it has
//                  seen since the last `keys`, as vk:scan:flags
//
//   paste_probe.exe [TITLE]   the main window's title (default "paste probe")
//
// The first line, "ready timeout=MS STATE", gives TARGET_ANSWER_TIMEOUT.
//
// The main thread only runs the message loop, so that the probe's windows
// and hook answer while a test waits; a second thread reads stdin and hands
// each line over as a thread message.
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "app/app_state.h"
#include "phrases/paste.h"
#include "tests/desktop/hex_text.h"

namespace {

const UINT WM_PROBE_COMMAND = WM_APP + 1;
const UINT WM_PROBE_TRAY = WM_APP + 2;

DWORD g_mainThread;
HHOOK g_hook;
std::string g_keys;

void Reply(const std::string& line) {
    fputs((line + "\n").c_str(), stdout);
    fflush(stdout);
}

std::string FromHex(const std::string& hex) {
    std::string bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) {
        bytes += static_cast<char>(strtoul(hex.substr(i, 2).c_str(), nullptr, 16));
    }
    return bytes;
}

unsigned long Handle(HWND window) { return static_cast<unsigned long>(ULONG_PTR(window)); }

std::string State() {
    HWND foreground = GetForegroundWindow();
    char foregroundClass[128] = "";
    if (foreground) GetClassNameA(foreground, foregroundClass, sizeof foregroundClass);
    char line[384];
    snprintf(line, sizeof line,
             "fg=%lx fgclass=%s target=%lx focus=%lx start=%ld end=%ld nt=%d main=%lx tray=%lx",
             Handle(foreground), foregroundClass, Handle(app.targetWindow), Handle(app.targetFocus),
             static_cast<long>(app.selStart), static_cast<long>(app.selEnd), app.isNT ? 1 : 0,
             Handle(app.mainWindow), Handle(FindWindowA("Shell_TrayWnd", nullptr)));
    return line;
}

// The time since `start`, a GetTickCount value, as a reply field.
std::string Took(DWORD start) {
    char field[24];
    snprintf(field, sizeof field, " ms=%lu", static_cast<unsigned long>(GetTickCount() - start));
    return field;
}

std::string ClipboardText() {
    // The target may be reading the clipboard at this moment.
    for (int attempt = 0; attempt < 100; ++attempt) {
        if (OpenClipboard(nullptr)) break;
        if (attempt == 99) return "owner=? text=busy";
        Sleep(20);
    }
    std::string text = "none";
    HANDLE data = GetClipboardData(CF_TEXT);
    if (data) {
        const char* bytes = static_cast<const char*>(GlobalLock(data));
        if (bytes) {
            text = HexBytes(std::string(bytes, strnlen(bytes, GlobalSize(data))));
            GlobalUnlock(data);
        }
    }
    HWND owner = GetClipboardOwner();
    CloseClipboard();
    char head[64];
    snprintf(head, sizeof head, "owner=%lx text=", Handle(owner));
    return head + text;
}

std::string EditState(HWND edit) {
    char text[4096] = "";
    SendMessageA(edit, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text));
    DWORD start = 0, end = 0;
    SendMessageA(edit, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
    char selection[48];
    snprintf(selection, sizeof selection, " start=%lu end=%lu", static_cast<unsigned long>(start),
             static_cast<unsigned long>(end));
    return "text=" + HexBytes(text) + selection;
}

LRESULT CALLBACK KeyboardHook(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HC_ACTION) {
        const KBDLLHOOKSTRUCT& key = *reinterpret_cast<const KBDLLHOOKSTRUCT*>(lParam);
        char event[48];
        snprintf(event, sizeof event, "%s%lx:%lx:%lx", g_keys.empty() ? "" : ",",
                 static_cast<unsigned long>(key.vkCode), static_cast<unsigned long>(key.scanCode),
                 static_cast<unsigned long>(key.flags));
        g_keys += event;
    }
    return CallNextHookEx(g_hook, code, wParam, lParam);
}

void AddTrayIcon() {
    NOTIFYICONDATAA tray = {};
    tray.cbSize = sizeof tray;
    tray.hWnd = app.mainWindow;
    tray.uID = 1;
    tray.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    tray.uCallbackMessage = WM_PROBE_TRAY;
    tray.hIcon = LoadIconA(nullptr, MAKEINTRESOURCEA(32512));  // IDI_APPLICATION
    lstrcpynA(tray.szTip, "paste probe", sizeof tray.szTip);
    Shell_NotifyIconA(NIM_ADD, &tray);
}

void RunCommand(const std::string& line) {
    std::string command = line.substr(0, line.find(' '));
    std::string argument = line.size() > command.size() ? line.substr(command.size() + 1) : "";
    if (command == "state") {
        Reply(State());
    } else if (command == "capture") {
        DWORD start = GetTickCount();
        CaptureTarget();
        Reply(State() + Took(start));
    } else if (command == "paste") {
        DWORD start = GetTickCount();
        PastePhrase(FromHex(argument));
        Reply(State() + Took(start));
    } else if (command == "front") {
        HWND window = reinterpret_cast<HWND>(strtoul(argument.c_str(), nullptr, 16));
        SetForegroundWindow(window ? window : app.mainWindow);
        Reply(State());
    } else if (command == "window") {
        char title[256];
        GetWindowTextA(app.mainWindow, title, sizeof title - 8);
        lstrcatA(title, " window");
        HWND window =
            CreateWindowExA(0, "VornickPasteProbe", title, WS_OVERLAPPEDWINDOW, 620, 420, 300, 200,
                            nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
        ShowWindow(window, SW_SHOWNORMAL);
        char reply[32];
        snprintf(reply, sizeof reply, "window=%lx", Handle(window));
        Reply(reply);
    } else if (command == "tray") {
        AddTrayIcon();
        Reply("ok");
    } else if (command == "clip") {
        Reply(ClipboardText());
    } else if (command == "hold") {
        Reply(OpenClipboard(app.mainWindow) ? "ok" : "failed");
    } else if (command == "release") {
        Reply(CloseClipboard() ? "ok" : "failed");
    } else if (command == "edit") {
        Reply(EditState(reinterpret_cast<HWND>(strtoul(argument.c_str(), nullptr, 16))));
    } else if (command == "hook") {
        g_hook = SetWindowsHookExA(WH_KEYBOARD_LL, KeyboardHook, GetModuleHandleA(nullptr), 0);
        Reply(g_hook ? "ok" : "failed");
    } else if (command == "keys") {
        Reply("keys=" + g_keys);
        g_keys.clear();
    } else {
        Reply("unknown command: " + line);
    }
}

DWORD WINAPI ReadCommands(LPVOID) {
    char buffer[8192];
    while (fgets(buffer, sizeof buffer, stdin)) {
        std::string line = buffer;
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
        PostThreadMessageA(g_mainThread, WM_PROBE_COMMAND, 0,
                           reinterpret_cast<LPARAM>(new std::string(line)));
    }
    // The test closed stdin: end the probe.
    PostThreadMessageA(g_mainThread, WM_QUIT, 0, 0);
    return 0;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    const char* title = __argc > 1 ? __argv[1] : "paste probe";

    // Start-up as the program does it: the platform family first, then a
    // main window, which owns the clipboard and is excluded from captures.
    DetectPlatformFamily();
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = DefWindowProcA;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512));  // IDC_ARROW
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpszClassName = "VornickPasteProbe";
    RegisterClassA(&windowClass);
    app.mainWindow = CreateWindowExA(0, windowClass.lpszClassName, title, WS_OVERLAPPEDWINDOW, 620,
                                     420, 300, 200, nullptr, nullptr, instance, nullptr);

    // The thread's message queue must exist before the reader posts to it.
    MSG message;
    PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE);
    g_mainThread = GetCurrentThreadId();
    CloseHandle(CreateThread(nullptr, 0, ReadCommands, nullptr, 0, nullptr));
    char timeout[32];
    snprintf(timeout, sizeof timeout, "ready timeout=%u ", TARGET_ANSWER_TIMEOUT);
    Reply(timeout + State());

    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        if (!message.hwnd && message.message == WM_PROBE_COMMAND) {
            std::string* line = reinterpret_cast<std::string*>(message.lParam);
            RunCommand(*line);
            delete line;
            continue;
        }
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    if (g_hook) UnhookWindowsHookEx(g_hook);
    DestroyWindow(app.mainWindow);
    return 0;
}
