// A DLL as someone might leave one in a downloads folder beside vornick.exe,
// built under each name that the planted-DLL test tries: when any program
// loads it, it writes the file planted-dll-ran.txt beside itself, holding
// its own path. It has none of the functions of the DLL it stands for, so a
// program that goes on to use it may fail; the marker is written first.
#include <windows.h>

#include <string>

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
