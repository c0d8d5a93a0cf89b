// Entry point of vornick: start-up, the message loop and shutdown.
#include <windows.h>

#include "app/app.h"
#include "app/app_state.h"

namespace {

typedef BOOL(WINAPI* SetDefaultDllDirectoriesFunction)(DWORD);
typedef BOOL(WINAPI* SetDllDirectoryFunction)(LPCSTR);

// Takes the program's folder and the current directory out of the search for
// every DLL loaded by bare name from here on, by the program, its runtime or
// the system DLLs it uses (the common controls load uxtheme.dll that way): a
// DLL of such a name left beside the program, say in a downloads folder,
// would otherwise run inside it. Both functions are newer than the oldest
// systems the program runs on, so they are looked up; where one is missing
// or fails, the search stays as it was.
void NarrowDllSearch() {
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    if (!kernel) return;
    // Windows 8, Windows Vista and 7 with the update that added it: from
    // now on a bare name is looked up in the system directory only.
    SetDefaultDllDirectoriesFunction setDefaultDirectories =
        reinterpret_cast<SetDefaultDllDirectoriesFunction>(
            reinterpret_cast<void*>(GetProcAddress(kernel, "SetDefaultDllDirectories")));
    if (setDefaultDirectories) setDefaultDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    // XP SP1 and later: an empty directory takes the current directory out.
    SetDllDirectoryFunction setDirectory = reinterpret_cast<SetDllDirectoryFunction>(
        reinterpret_cast<void*>(GetProcAddress(kernel, "SetDllDirectoryA")));
    if (setDirectory) setDirectory("");
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    NarrowDllSearch();
    if (!LoadCommonControls()) {
        ReportCommonControlsMissing();
        return 1;
    }
    InitApplication(instance);
    if (!CreateMainWindow(instance)) return 0;
    if (app.hotkeyVk != 0)
        RegisterHotKey(app.mainWindow, HOTKEY_ID, app.hotkeyModifiers, app.hotkeyVk);
    AddTrayIcon(app.smallIcon);

    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0)) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }

    RemoveTrayIcon();
    DestroyMenu(app.menuResource);
    return static_cast<int>(message.wParam);
}
