// Looks at a running program from another process, for the benchmark. One
// command per run, one line of output:
//   bench_probe.exe gui CLASS     GDI and USER object counts of the process
//                                 owning the window of CLASS: GetGuiResources,
//                                 and where Wine leaves that unimplemented,
//                                 the used entries of the process's GDI handle
//                                 table and the windows the process owns
//   bench_probe.exe keys          whether Control, left and right Control and
//                                 V are down, as the system's key state says
//   bench_probe.exe close CLASS   posts WM_CLOSE to the window of CLASS and
//                                 waits for its process to end
#include <windows.h>
#include <winternl.h>

#include <stdio.h>
#include <string.h>

namespace {

HANDLE OpenOwner(const char* windowClass, DWORD access, DWORD* pid) {
    HWND window = FindWindowA(windowClass, nullptr);
    *pid = 0;
    if (!window) return nullptr;
    GetWindowThreadProcessId(window, pid);
    return OpenProcess(access, FALSE, *pid);
}

// An entry of the GDI handle table as Wine lays it out (the same in 32- and
// 64-bit processes). Wine gives each process a table of its own, so every
// entry with a type is one of the process's objects (stock objects included).
struct GdiHandleEntry {
    ULONGLONG object;
    USHORT processId;
    USHORT count;
    USHORT unique;
    UCHAR type;
    UCHAR flags;
    ULONGLONG userPointer;
};
const int GDI_TABLE_ENTRIES = 0x10000;
// PEB.GdiSharedHandleTable in the 32-bit process environment block.
const int PEB_GDI_TABLE_OFFSET = 0x94;

typedef LONG(WINAPI* QueryInformationProcess)(HANDLE, PROCESSINFOCLASS, PVOID, ULONG, PULONG);

// Used entries of the process's GDI handle table, or -1 when it cannot be read.
long CountGdiTableEntries(HANDLE process) {
    auto query = reinterpret_cast<QueryInformationProcess>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQueryInformationProcess")));
    PROCESS_BASIC_INFORMATION basic = {};
    ULONG size = 0;
    if (!query || query(process, ProcessBasicInformation, &basic, sizeof basic, &size) != 0)
        return -1;
    DWORD table = 0;
    SIZE_T read = 0;
    if (!ReadProcessMemory(
            process,
            static_cast<char*>(static_cast<void*>(basic.PebBaseAddress)) + PEB_GDI_TABLE_OFFSET,
            &table, sizeof table, &read) ||
        !table)
        return -1;
    static GdiHandleEntry entries[GDI_TABLE_ENTRIES];
    if (!ReadProcessMemory(process, reinterpret_cast<void*>(static_cast<ULONG_PTR>(table)), entries,
                           sizeof entries, &read))
        return -1;
    long used = 0;
    for (const GdiHandleEntry& entry : entries) used += entry.type != 0;
    return used;
}

struct WindowCount {
    DWORD pid;
    long windows;
};

BOOL CALLBACK CountChild(HWND window, LPARAM state) {
    WindowCount* count = reinterpret_cast<WindowCount*>(state);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid == count->pid) ++count->windows;
    return TRUE;
}

BOOL CALLBACK CountTopLevel(HWND window, LPARAM state) {
    CountChild(window, state);
    EnumChildWindows(window, CountChild, state);
    return TRUE;
}

// Windows (top-level, hidden ones included, and their children) of the process.
long CountWindows(DWORD pid) {
    WindowCount count = {pid, 0};
    EnumWindows(CountTopLevel, reinterpret_cast<LPARAM>(&count));
    return count.windows;
}

int PrintGuiResources(const char* windowClass) {
    DWORD pid;
    HANDLE process = OpenOwner(windowClass, PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, &pid);
    if (!process) {
        printf("error=no-window\n");
        return 1;
    }
    SetLastError(0);
    DWORD gdi = GetGuiResources(process, GR_GDIOBJECTS);
    DWORD gdiError = GetLastError();
    SetLastError(0);
    DWORD user = GetGuiResources(process, GR_USEROBJECTS);
    DWORD userError = GetLastError();
    long gdiTable = CountGdiTableEntries(process);
    CloseHandle(process);
    printf("pid=%lu gdi=%lu gdi_error=%lu user=%lu user_error=%lu gdi_table=%ld windows=%ld\n", pid,
           gdi, gdiError, user, userError, gdiTable, CountWindows(pid));
    return 0;
}

int PrintKeys() {
    auto down = [](int vk) { return (GetAsyncKeyState(vk) & 0x8000) ? 1 : 0; };
    printf("control=%d lcontrol=%d rcontrol=%d v=%d\n", down(VK_CONTROL), down(VK_LCONTROL),
           down(VK_RCONTROL), down('V'));
    return 0;
}

int Close(const char* windowClass) {
    DWORD pid;
    HANDLE process = OpenOwner(windowClass, SYNCHRONIZE, &pid);
    HWND window = FindWindowA(windowClass, nullptr);
    if (!window) {
        printf("error=no-window\n");
        return 1;
    }
    PostMessageA(window, WM_CLOSE, 0, 0);
    DWORD waited = process ? WaitForSingleObject(process, 10000) : WAIT_FAILED;
    if (process) CloseHandle(process);
    printf("closed=%d\n", waited == WAIT_OBJECT_0 ? 1 : 0);
    return waited == WAIT_OBJECT_0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 3 && strcmp(argv[1], "gui") == 0) return PrintGuiResources(argv[2]);
    if (argc >= 2 && strcmp(argv[1], "keys") == 0) return PrintKeys();
    if (argc >= 3 && strcmp(argv[1], "close") == 0) return Close(argv[2]);
    fprintf(stderr, "usage: bench_probe gui CLASS | keys | close CLASS\n");
    return 2;
}
