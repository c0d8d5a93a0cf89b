#include <windows.h>

#include <string>

#include "app/app.h"
#include "app/app_state.h"
#include "phrases/paste.h"
#include "phrases/phrase_menu.h"
#include "resources/resource_ids.h"
#include "settings/settings.h"

namespace {

// The window class, which also marks a running copy of the program.
const char CLASS_NAME[] = "vornick";

// The first NOTIFYICONDATAA layout, with a 64-byte tip: every shell knows it.
const DWORD NOTIFY_RECORD_SIZE = NOTIFYICONDATAA_V1_SIZE;
static_assert(sizeof(void*) != 4 || NOTIFY_RECORD_SIZE == 88, "the 32-bit first layout");
const UINT TRAY_ICON_ID = 1;

const char COMMON_CONTROLS_DLL[] = "comctl32.dll";

// The system directory's copy of a DLL, by full path.
std::string SystemDllPath(const char* name) {
    char directory[MAX_PATH];
    UINT length = GetSystemDirectoryA(directory, sizeof directory);
    if (length == 0 || length >= sizeof directory) return std::string();
    return std::string(directory, length) + "\\" + name;
}

}  // namespace

// comctl32.dll is not one of the DLLs that Windows always takes from its own
// directory (the KnownDLLs): imported by name, the copy in the program's
// folder would be loaded first, and with it the code of whoever put it there
// (a program run from Downloads). So it is loaded by its full path, and with
// the altered search, which looks for the DLLs it imports in its own
// directory instead of the program's folder: that covers the systems where
// the search cannot be narrowed for the whole process.
bool LoadCommonControls() {
    std::string path = SystemDllPath(COMMON_CONTROLS_DLL);
    if (path.empty()) return false;
    HMODULE library = LoadLibraryExA(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (!library) return false;
    typedef void(WINAPI * InitFunction)();
    InitFunction init =
        reinterpret_cast<InitFunction>(GetProcAddress(library, "InitCommonControls"));
    if (!init) return false;
    init();
    return true;
}

void ReportCommonControlsMissing() {
    // Fixed Japanese text as UTF-16, which every system shows as written.
    MessageBoxW(nullptr, L"システムの comctl32.dll を読み込めないため、vornick を起動できません。",
                L"vornick", MB_OK | MB_ICONERROR);
}

void InitApplication(HINSTANCE instance) {
    DetectPlatformFamily();

    WNDCLASSEXA windowClass = {};
    static_assert(sizeof(void*) != 4 || sizeof windowClass == 48, "the 32-bit WNDCLASSEXA layout");
    windowClass.cbSize = sizeof windowClass;
    windowClass.style = 0;
    windowClass.lpfnWndProc = MainWndProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(IDI_MAIN));
    windowClass.hCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512));  // IDC_ARROW
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpszMenuName = nullptr;
    windowClass.lpszClassName = CLASS_NAME;
    windowClass.hIconSm = static_cast<HICON>(
        LoadImageA(instance, MAKEINTRESOURCEA(IDI_SMALL), IMAGE_ICON, 16, 16, 0));
    app.smallIcon = windowClass.hIconSm;

    LoadMenus();
    LoadSettings();
    RebuildPhraseMenu();
    RegisterClassExA(&windowClass);
}

bool CreateMainWindow(HINSTANCE instance) {
    app.instance = instance;
    if (FindWindowA(CLASS_NAME, nullptr)) return false;
    app.mainWindow = CreateWindowExA(0, CLASS_NAME, CLASS_NAME, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                                     0, CW_USEDEFAULT, 0, nullptr, nullptr, instance, nullptr);
    return app.mainWindow != nullptr;
}

void AddTrayIcon(HICON icon) {
    NOTIFYICONDATAA& tray = app.trayIcon;
    tray.cbSize = NOTIFY_RECORD_SIZE;
    tray.hWnd = app.mainWindow;
    tray.uID = TRAY_ICON_ID;
    tray.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    tray.uCallbackMessage = WM_TRAYNOTIFY;
    tray.hIcon = icon;
    lstrcpynA(tray.szTip, CLASS_NAME, 64);
    Shell_NotifyIconA(NIM_ADD, &tray);
}

void RemoveTrayIcon() {
    NOTIFYICONDATAA& tray = app.trayIcon;
    if (!tray.hWnd) return;
    tray.uFlags = NIF_ICON;
    Shell_NotifyIconA(NIM_DELETE, &tray);
    tray.hWnd = nullptr;
}
