// A program that imports comctl32.dll by name, as vornick once did: started
// beside the planted DLL with Windows' search order, it loads that DLL. The
// planted-DLL test runs it first to show that the plant works at all.
#include <windows.h>
#include <commctrl.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    InitCommonControls();
    return 0;
}
