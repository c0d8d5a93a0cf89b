// A DLL named comctl32.dll, as someone might leave one in a downloads folder
// beside vornick.exe: when any program loads it, it writes the file
// planted-dll-ran.txt beside itself. It exports InitCommonControls, so that a
// program importing comctl32 by name would start with it in place.
#include <windows.h>

#include <string>

extern "C" __declspec(dllexport) void WINAPI InitCommonControls() {}

BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID) {
    if (reason != DLL_PROCESS_ATTACH) return TRUE;
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(module, path, sizeof path);
    std::string marker(path, length);
    marker = marker.substr(0, marker.find_last_of('\\') + 1) + "planted-dll-ran.txt";
    HANDLE file = CreateFileA(marker.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        DWORD written;
        WriteFile(file, path, length, &written, nullptr);
        CloseHandle(file);
    }
    return TRUE;
}
