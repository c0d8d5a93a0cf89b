// Entry point of vornick: start-up, the message loop and shutdown.
#include <windows.h>

#include "app/app.h"
#include "app/app_state.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
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
