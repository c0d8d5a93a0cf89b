// The built vornick.exe as a file: its headers, imports and resources.
// The path of the executable is the first argument.
#include <windows.h>

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "resources/resource_ids.h"
#include "tests/test_files.h"

namespace {

std::string g_exePath;

// Headers of the image, read from the file's bytes.
class ExeImage {
public:
    explicit ExeImage(const std::string& path) : bytes_(ReadFileBytes(path)) {}
    bool valid() const {
        return bytes_.size() > sizeof(IMAGE_DOS_HEADER) && dos().e_magic == IMAGE_DOS_SIGNATURE &&
               dos().e_lfanew > 0 &&
               static_cast<size_t>(dos().e_lfanew) + sizeof(IMAGE_NT_HEADERS32) <= bytes_.size() &&
               nt().Signature == IMAGE_NT_SIGNATURE;
    }
    const IMAGE_DOS_HEADER& dos() const { return At<IMAGE_DOS_HEADER>(0); }
    const IMAGE_NT_HEADERS32& nt() const { return At<IMAGE_NT_HEADERS32>(dos().e_lfanew); }

    // Lower-case DLL name -> the names of the functions imported from it
    // ("#n" for an import by ordinal).
    std::map<std::string, std::set<std::string>> Imports() const {
        std::map<std::string, std::set<std::string>> imports;
        const IMAGE_DATA_DIRECTORY& dir =
            nt().OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
        if (dir.VirtualAddress == 0) return imports;
        for (DWORD offset = FileOffset(dir.VirtualAddress);;
             offset += sizeof(IMAGE_IMPORT_DESCRIPTOR)) {
            const IMAGE_IMPORT_DESCRIPTOR& entry = At<IMAGE_IMPORT_DESCRIPTOR>(offset);
            if (entry.Name == 0) break;
            std::string dll = Text(entry.Name);
            CharLowerA(&dll[0]);
            std::set<std::string>& functions = imports[dll];
            // The lookup table of a 32-bit image: one 32-bit entry per import.
            DWORD table = entry.OriginalFirstThunk ? entry.OriginalFirstThunk : entry.FirstThunk;
            for (DWORD thunk = FileOffset(table); At<DWORD>(thunk) != 0; thunk += sizeof(DWORD)) {
                DWORD value = At<DWORD>(thunk);
                if (value & IMAGE_ORDINAL_FLAG32) {
                    functions.insert("#" + std::to_string(IMAGE_ORDINAL32(value)));
                } else {
                    // IMAGE_IMPORT_BY_NAME: a 16-bit hint, then the name.
                    functions.insert(Text(value + sizeof(WORD)));
                }
            }
        }
        return imports;
    }

private:
    template <typename T>
    const T& At(DWORD offset) const {
        return *reinterpret_cast<const T*>(bytes_.data() + offset);
    }
    std::string Text(DWORD rva) const { return bytes_.c_str() + FileOffset(rva); }
    DWORD FileOffset(DWORD rva) const {
        const IMAGE_NT_HEADERS32& headers = nt();
        const IMAGE_SECTION_HEADER* section = IMAGE_FIRST_SECTION(&headers);
        for (int i = 0; i < headers.FileHeader.NumberOfSections; ++i, ++section) {
            if (rva >= section->VirtualAddress &&
                rva < section->VirtualAddress + section->Misc.VirtualSize)
                return rva - section->VirtualAddress + section->PointerToRawData;
        }
        return 0;
    }
    std::string bytes_;
};

// At most 256 KB. The static C++ runtime takes most of the file, so a jump
// here is usually a part of the library that something newly pulled in.
const size_t MAX_EXE_BYTES = 256 * 1024;

TEST(ExeTest, IsAtMost256KB) {
    const std::string bytes = ReadFileBytes(g_exePath);
    ASSERT_FALSE(bytes.empty()) << g_exePath;
    EXPECT_LE(bytes.size(), MAX_EXE_BYTES);
}

TEST(ExeTest, IsA32BitGuiProgramForWindows4) {
    ExeImage image(g_exePath);
    ASSERT_TRUE(image.valid()) << g_exePath;
    EXPECT_EQ(image.nt().FileHeader.Machine, IMAGE_FILE_MACHINE_I386);
    EXPECT_EQ(image.nt().OptionalHeader.Magic, IMAGE_NT_OPTIONAL_HDR32_MAGIC);
    EXPECT_EQ(image.nt().OptionalHeader.Subsystem, IMAGE_SUBSYSTEM_WINDOWS_GUI);
    EXPECT_EQ(image.nt().OptionalHeader.MajorSubsystemVersion, 4);
    EXPECT_EQ(image.nt().OptionalHeader.MinorSubsystemVersion, 0);
}

// The DLLs that Windows takes from its own directory (KnownDLLs) whatever is
// in the program's folder. kernel32, user32, gdi32, shell32 and advapi32 are
// on that list in every NT; msvcrt.dll, which the C runtime needs, is on it
// in current Windows but was not on NT 4.0's documented default list.
// comctl32.dll is on none of them: the program loads it by its full path.
const std::set<std::string> SYSTEM_DLLS = {"kernel32.dll", "user32.dll",   "gdi32.dll",
                                           "shell32.dll",  "advapi32.dll", "msvcrt.dll"};

TEST(ExeTest, ImportsOnlyDllsTheSystemTakesFromItsOwnDirectory) {
    ExeImage image(g_exePath);
    ASSERT_TRUE(image.valid()) << g_exePath;
    std::map<std::string, std::set<std::string>> imports = image.Imports();
    EXPECT_FALSE(imports.empty());
    for (const auto& dll : imports) EXPECT_TRUE(SYSTEM_DLLS.count(dll.first)) << dll.first;
    EXPECT_EQ(imports.count("comctl32.dll"), 0u);
}

// Versions as 0xMMmm, each family on its own scale.
const WORD NT_3_1 = 0x030A, NT_4_0 = 0x0400;
const WORD WIN_95 = 0x0400;

// Where each row's versions come from. Microsoft's current pages give
// "Windows 2000" or "Windows XP" as the minimum of nearly every function:
// that is where those pages begin, not when the function appeared, so the
// rows follow the documentation of the time (the Win32 Programmer's
// Reference, the MSDN Library of 1998 and 2000).
const char FROM_WIN32[] = "the Win32 API of Windows NT 3.1 and Windows 95";
const char FROM_UI95[] = "new with the Windows 95 user interface, in NT from 4.0";
const char FROM_SHELL[] =
    "the Windows 95 shell, in NT from 4.0 (Win32 reference: \"now supported\")";
const char FROM_WIDE95[] = "one of the few Unicode functions that Windows 95 implements";
const char FROM_STUB[] =
    "exported by Windows 95 as a stub that fails; called only by the compiler's "
    "runtime, where a failure is harmless (an uncontended lock never waits on its "
    "semaphore, the code page is found another way, no random device is used)";
const char FROM_LOADLIBRARYEX[] =
    "Win32 Programmer's Reference (Windows NT, Windows 95: yes) and MSDN Library of 1998 (NT "
    "3.1, Windows 95), both with the LOAD_WITH_ALTERED_SEARCH_PATH flag the program passes";
const char FROM_CRT[] =
    "msvcrt.dll ships with NT 4.0 and Windows 95 OSR2; retail Windows 95 has it from "
    "applications that install it";

struct Import {
    const char* dll;
    const char* function;
    WORD nt;     // first NT version that exports it
    WORD win9x;  // first Windows 95/98/Me version that exports it
    const char* source;
};

// Every function the program imports. A new import is a decision: its row
// says where its minimum versions were read.
const Import IMPORTS[] = {
    {"kernel32.dll", "CloseHandle", NT_3_1, WIN_95, FROM_WIN32},
    {"kernel32.dll", "CreateFileA", NT_3_1, WIN_95, FROM_WIN32},
    {"kernel32.dll", "CreateSemaphoreW", NT_3_1, WIN_95, FROM_STUB},
    {"kernel32.dll", "DeleteCriticalSection", NT_3_1, WIN_95, FROM_WIN32},
    {"kernel32.dll", "DeleteFileA", NT_3_1, WIN_95, FROM_WIN32},
    {"kernel32.dll", "EnterCriticalSection", NT_3_1, WIN_95, FROM_WIN32},
    {"kernel32.dll", "FindClose", NT_3_1, WIN_95, FROM_WIN32},
    {"kernel32.dll", "FindFirstFileA", NT_3_1, WIN_95, FROM_WIN32},
    {"kernel32.dll", "FlushFileBuffers", NT_3_1, WIN_95, FROM_WIN32},
    {"kernel32.dll", "FormatMessageA", NT_3_1, WIN_95, FROM_WIN32},
    {"kernel32.dll", "FreeLibrary", NT_3_1, WIN_95, FROM_WIN32},
    {"kernel32.dll", "GetCurrentThreadId", NT_3_1, WIN_95, FROM_WIN32},
    {"kernel32.dll", "GetFileAttributesA", NT_3_1, WIN_95, FROM_WIN32},
    {"kernel32.dll", "GetFileSize", NT_3_1, WIN_95, FROM_WIN32},
    {"kernel32.dll", "GetFullPathNameA", NT_3_1, WIN_95, FROM_WIN32},
    {"kernel32.dll", "GetLastError", NT_3_1, WIN_95, FROM_WIN32},
    {"kernel32.dll", "GetModuleHandleA", NT_3_1, WIN_95, FROM_WIN32},
    {"kernel32.dll", "GetModuleHandleW", NT_3_1, WIN_95, FROM_STUB},
    {"kernel32.dll", "GetPrivateProfileIntA", NT_3_1, WIN_95, FROM_WIN32},
    {"kernel32.dll", "GetPrivateProfileSectionA", NT_3_1, WIN_95, FROM_WIN32},
    {"kernel32.dll", "GetPrivateProfileStringA", NT_3_1, WIN_95, FROM_WIN32},
    {"kernel32.dll", "GetProcAddress", NT_3_1, WIN_95, FROM_WIN32},
    {"kernel32.dll", "GetStartupInfoA", NT_3_1, WIN_95, FROM_WIN32},
    {"kernel32.dll", "GetSystemDefaultLCID", NT_3_1, WIN_95, FROM_WIN32},
    {"kernel32.dll", "GetSystemDirectoryA", NT_3_1, WIN_95, FROM_WIN32},
    {"kernel32.dll", "GetVersionExA", NT_3_1, WIN_95, FROM_WIN32},
    {"kernel32.dll", "GlobalAlloc", NT_3_1, WIN_95, FROM_WIN32},
    {"kernel32.dll", "GlobalFree", NT_3_1, WIN_95, FROM_WIN32},
    {"kernel32.dll", "GlobalLock", NT_3_1, WIN_95, FROM_WIN32},
    {"kernel32.dll", "GlobalUnlock", NT_3_1, WIN_95, FROM_WIN32},
    {"kernel32.dll", "InitializeCriticalSection", NT_3_1, WIN_95, FROM_WIN32},
    {"kernel32.dll", "IsDBCSLeadByte", NT_3_1, WIN_95, FROM_WIN32},
    {"kernel32.dll", "LeaveCriticalSection", NT_3_1, WIN_95, FROM_WIN32},
    {"kernel32.dll", "LoadLibraryA", NT_3_1, WIN_95, FROM_WIN32},
    {"kernel32.dll", "LoadLibraryExA", NT_3_1, WIN_95, FROM_LOADLIBRARYEX},
    {"kernel32.dll", "LoadLibraryW", NT_3_1, WIN_95, FROM_STUB},
    {"kernel32.dll", "MoveFileA", NT_3_1, WIN_95, FROM_WIN32},
    {"kernel32.dll", "MultiByteToWideChar", NT_3_1, WIN_95, FROM_WIDE95},
    {"kernel32.dll", "ReadFile", NT_3_1, WIN_95, FROM_WIN32},
    {"kernel32.dll", "ReleaseSemaphore", NT_3_1, WIN_95, FROM_WIN32},
    {"kernel32.dll", "SetLastError", NT_3_1, WIN_95, FROM_WIN32},
    {"kernel32.dll", "SetUnhandledExceptionFilter", NT_3_1, WIN_95, FROM_WIN32},
    {"kernel32.dll", "Sleep", NT_3_1, WIN_95, FROM_WIN32},
    {"kernel32.dll", "TlsAlloc", NT_3_1, WIN_95, FROM_WIN32},
    {"kernel32.dll", "TlsFree", NT_3_1, WIN_95, FROM_WIN32},
    {"kernel32.dll", "TlsGetValue", NT_3_1, WIN_95, FROM_WIN32},
    {"kernel32.dll", "TlsSetValue", NT_3_1, WIN_95, FROM_WIN32},
    {"kernel32.dll", "VirtualProtect", NT_3_1, WIN_95, FROM_WIN32},
    {"kernel32.dll", "VirtualQuery", NT_3_1, WIN_95, FROM_WIN32},
    {"kernel32.dll", "WaitForSingleObject", NT_3_1, WIN_95, FROM_WIN32},
    {"kernel32.dll", "WideCharToMultiByte", NT_3_1, WIN_95, FROM_WIDE95},
    {"kernel32.dll", "WriteFile", NT_3_1, WIN_95, FROM_WIN32},
    {"kernel32.dll", "WritePrivateProfileStringA", NT_3_1, WIN_95, FROM_WIN32},
    {"kernel32.dll", "lstrcpyA", NT_3_1, WIN_95, FROM_WIN32},
    {"kernel32.dll", "lstrcpynA", NT_3_1, WIN_95, FROM_WIN32},
    {"msvcrt.dll", "__getmainargs", NT_4_0, WIN_95, FROM_CRT},
    {"msvcrt.dll", "__initenv", NT_4_0, WIN_95, FROM_CRT},
    {"msvcrt.dll", "__p__acmdln", NT_4_0, WIN_95, FROM_CRT},
    {"msvcrt.dll", "__p__commode", NT_4_0, WIN_95, FROM_CRT},
    {"msvcrt.dll", "__p__fmode", NT_4_0, WIN_95, FROM_CRT},
    {"msvcrt.dll", "__set_app_type", NT_4_0, WIN_95, FROM_CRT},
    {"msvcrt.dll", "__setusermatherr", NT_4_0, WIN_95, FROM_CRT},
    {"msvcrt.dll", "_amsg_exit", NT_4_0, WIN_95, FROM_CRT},
    {"msvcrt.dll", "_cexit", NT_4_0, WIN_95, FROM_CRT},
    {"msvcrt.dll", "_close", NT_4_0, WIN_95, FROM_CRT},
    {"msvcrt.dll", "_errno", NT_4_0, WIN_95, FROM_CRT},
    {"msvcrt.dll", "_initterm", NT_4_0, WIN_95, FROM_CRT},
    {"msvcrt.dll", "_iob", NT_4_0, WIN_95, FROM_CRT},
    {"msvcrt.dll", "_onexit", NT_4_0, WIN_95, FROM_CRT},
    {"msvcrt.dll", "_read", NT_4_0, WIN_95, FROM_CRT},
    {"msvcrt.dll", "abort", NT_4_0, WIN_95, FROM_CRT},
    {"msvcrt.dll", "calloc", NT_4_0, WIN_95, FROM_CRT},
    {"msvcrt.dll", "exit", NT_4_0, WIN_95, FROM_CRT},
    {"msvcrt.dll", "fprintf", NT_4_0, WIN_95, FROM_CRT},
    {"msvcrt.dll", "free", NT_4_0, WIN_95, FROM_CRT},
    {"msvcrt.dll", "fwrite", NT_4_0, WIN_95, FROM_CRT},
    {"msvcrt.dll", "malloc", NT_4_0, WIN_95, FROM_CRT},
    {"msvcrt.dll", "memchr", NT_4_0, WIN_95, FROM_CRT},
    {"msvcrt.dll", "memcmp", NT_4_0, WIN_95, FROM_CRT},
    {"msvcrt.dll", "memcpy", NT_4_0, WIN_95, FROM_CRT},
    {"msvcrt.dll", "memmove", NT_4_0, WIN_95, FROM_CRT},
    {"msvcrt.dll", "memset", NT_4_0, WIN_95, FROM_CRT},
    {"msvcrt.dll", "realloc", NT_4_0, WIN_95, FROM_CRT},
    {"msvcrt.dll", "signal", NT_4_0, WIN_95, FROM_CRT},
    {"msvcrt.dll", "strcmp", NT_4_0, WIN_95, FROM_CRT},
    {"msvcrt.dll", "strlen", NT_4_0, WIN_95, FROM_CRT},
    {"msvcrt.dll", "strncmp", NT_4_0, WIN_95, FROM_CRT},
    {"msvcrt.dll", "vfprintf", NT_4_0, WIN_95, FROM_CRT},
    {"shell32.dll", "Shell_NotifyIconA", NT_4_0, WIN_95, FROM_SHELL},
    {"user32.dll", "AttachThreadInput", NT_3_1, WIN_95, FROM_WIN32},
    {"user32.dll", "CloseClipboard", NT_3_1, WIN_95, FROM_WIN32},
    {"user32.dll", "CreateWindowExA", NT_3_1, WIN_95, FROM_WIN32},
    {"user32.dll", "DefWindowProcA", NT_3_1, WIN_95, FROM_WIN32},
    {"user32.dll", "DeleteMenu", NT_3_1, WIN_95, FROM_WIN32},
    {"user32.dll", "DestroyMenu", NT_3_1, WIN_95, FROM_WIN32},
    {"user32.dll", "DestroyWindow", NT_3_1, WIN_95, FROM_WIN32},
    {"user32.dll", "DialogBoxParamA", NT_3_1, WIN_95, FROM_WIN32},
    {"user32.dll", "DispatchMessageA", NT_3_1, WIN_95, FROM_WIN32},
    {"user32.dll", "EmptyClipboard", NT_3_1, WIN_95, FROM_WIN32},
    {"user32.dll", "EndDialog", NT_3_1, WIN_95, FROM_WIN32},
    {"user32.dll", "FindWindowA", NT_3_1, WIN_95, FROM_WIN32},
    {"user32.dll", "GetClipboardOwner", NT_3_1, WIN_95, FROM_WIN32},
    {"user32.dll", "GetCursorPos", NT_3_1, WIN_95, FROM_WIN32},
    {"user32.dll", "GetDlgItem", NT_3_1, WIN_95, FROM_WIN32},
    {"user32.dll", "GetFocus", NT_3_1, WIN_95, FROM_WIN32},
    {"user32.dll", "GetForegroundWindow", NT_3_1, WIN_95, FROM_WIN32},
    {"user32.dll", "GetMenuItemCount", NT_3_1, WIN_95, FROM_WIN32},
    {"user32.dll", "GetMessageA", NT_3_1, WIN_95, FROM_WIN32},
    {"user32.dll", "GetSubMenu", NT_3_1, WIN_95, FROM_WIN32},
    {"user32.dll", "GetWindowTextA", NT_3_1, WIN_95, FROM_WIN32},
    {"user32.dll", "GetWindowTextLengthA", NT_3_1, WIN_95, FROM_WIN32},
    {"user32.dll", "GetWindowThreadProcessId", NT_3_1, WIN_95, FROM_WIN32},
    {"user32.dll", "InsertMenuItemA", NT_4_0, WIN_95, FROM_UI95},
    {"user32.dll", "IsWindow", NT_3_1, WIN_95, FROM_WIN32},
    {"user32.dll", "LoadCursorA", NT_3_1, WIN_95, FROM_WIN32},
    {"user32.dll", "LoadIconA", NT_3_1, WIN_95, FROM_WIN32},
    {"user32.dll", "LoadImageA", NT_4_0, WIN_95, FROM_UI95},
    {"user32.dll", "LoadMenuA", NT_3_1, WIN_95, FROM_WIN32},
    {"user32.dll", "MessageBoxW", NT_3_1, WIN_95, FROM_WIDE95},
    {"user32.dll", "OpenClipboard", NT_3_1, WIN_95, FROM_WIN32},
    {"user32.dll", "PostMessageA", NT_3_1, WIN_95, FROM_WIN32},
    {"user32.dll", "PostQuitMessage", NT_3_1, WIN_95, FROM_WIN32},
    {"user32.dll", "RegisterClassExA", NT_4_0, WIN_95, FROM_UI95},
    {"user32.dll", "RegisterHotKey", NT_3_1, WIN_95, FROM_WIN32},
    {"user32.dll", "RegisterWindowMessageA", NT_3_1, WIN_95, FROM_WIN32},
    {"user32.dll", "SendMessageA", NT_3_1, WIN_95, FROM_WIN32},
    {"user32.dll", "SendMessageTimeoutA", NT_3_1, WIN_95, FROM_WIN32},
    {"user32.dll", "SetActiveWindow", NT_3_1, WIN_95, FROM_WIN32},
    {"user32.dll", "SetClipboardData", NT_3_1, WIN_95, FROM_WIN32},
    {"user32.dll", "SetFocus", NT_3_1, WIN_95, FROM_WIN32},
    {"user32.dll", "SetForegroundWindow", NT_3_1, WIN_95, FROM_WIN32},
    {"user32.dll", "SetMenuDefaultItem", NT_4_0, WIN_95, FROM_UI95},
    {"user32.dll", "SetWindowTextA", NT_3_1, WIN_95, FROM_WIN32},
    {"user32.dll", "TrackPopupMenu", NT_3_1, WIN_95, FROM_WIN32},
    {"user32.dll", "TranslateMessage", NT_3_1, WIN_95, FROM_WIN32},
    {"user32.dll", "UnregisterHotKey", NT_3_1, WIN_95, FROM_WIN32},
    {"user32.dll", "keybd_event", NT_3_1, WIN_95, FROM_WIN32},
};

TEST(ExeTest, ImportsExactlyTheListedFunctions) {
    std::map<std::string, std::set<std::string>> listed;
    for (const Import& import : IMPORTS) listed[import.dll].insert(import.function);
    ExeImage image(g_exePath);
    ASSERT_TRUE(image.valid()) << g_exePath;
    std::map<std::string, std::set<std::string>> imported = image.Imports();
    for (const auto& dll : imported) {
        for (const std::string& function : dll.second) {
            EXPECT_TRUE(listed[dll.first].count(function))
                << dll.first << " " << function
                << " is imported but not listed: check its minimum versions and add a row";
        }
    }
    for (const auto& dll : listed) {
        for (const std::string& function : dll.second) {
            EXPECT_TRUE(imported[dll.first].count(function))
                << dll.first << " " << function << " is listed but no longer imported";
        }
    }
}

TEST(ExeTest, EveryImportExistsOnWindows95AndNT4) {
    for (const Import& import : IMPORTS) {
        EXPECT_LE(import.nt, NT_4_0)
            << import.dll << " " << import.function << ": " << import.source;
        EXPECT_LE(import.win9x, WIN_95)
            << import.dll << " " << import.function << ": " << import.source;
    }
}

// Resources, read through the platform's own resource functions.
class ExeResources : public ::testing::Test {
protected:
    void SetUp() override {
        module_ = LoadLibraryExA(g_exePath.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_NE(module_, nullptr) << g_exePath;
    }
    void TearDown() override {
        if (module_) FreeLibrary(module_);
    }
    // Resource type -> every (name, language) of that type.
    std::map<WORD, std::vector<std::pair<WORD, WORD>>> Inventory() {
        inventory_.clear();
        EnumResourceTypesA(module_, CollectType, reinterpret_cast<LONG_PTR>(this));
        return inventory_;
    }
    const BYTE* Resource(LPCSTR type, WORD id, DWORD* size) {
        HRSRC found = FindResourceExA(module_, type, MAKEINTRESOURCEA(id), MAKELANGID(0x11, 0x01));
        if (!found) return nullptr;
        *size = SizeofResource(module_, found);
        return static_cast<const BYTE*>(LockResource(LoadResource(module_, found)));
    }
    HMODULE module_ = nullptr;

private:
    static BOOL CALLBACK CollectType(HMODULE module, LPSTR type, LONG_PTR self) {
        EnumResourceNamesA(module, type, CollectName, self);
        return TRUE;
    }
    static BOOL CALLBACK CollectName(HMODULE module, LPCSTR type, LPSTR name, LONG_PTR self) {
        EnumResourceLanguagesA(module, type, name, CollectLanguage, self);
        return TRUE;
    }
    static BOOL CALLBACK CollectLanguage(HMODULE, LPCSTR type, LPCSTR name, WORD language,
                                         LONG_PTR self) {
        // Named (non-numeric) types or names are recorded as 0, which no
        // expected resource has.
        WORD typeId = IS_INTRESOURCE(type) ? LOWORD(reinterpret_cast<ULONG_PTR>(type)) : 0;
        WORD nameId = IS_INTRESOURCE(name) ? LOWORD(reinterpret_cast<ULONG_PTR>(name)) : 0;
        reinterpret_cast<ExeResources*>(self)->inventory_[typeId].push_back({nameId, language});
        return TRUE;
    }
    std::map<WORD, std::vector<std::pair<WORD, WORD>>> inventory_;
};

TEST_F(ExeResources, HoldsExactlyTheProgramsResourcesInJapanese) {
    const std::set<WORD> expectedTypes = {LOWORD(RT_ICON), LOWORD(RT_GROUP_ICON), LOWORD(RT_MENU),
                                          LOWORD(RT_DIALOG)};
    std::map<WORD, std::vector<std::pair<WORD, WORD>>> inventory = Inventory();
    std::set<WORD> types;
    for (const auto& entry : inventory) {
        types.insert(entry.first);
        for (const auto& resource : entry.second) {
            EXPECT_EQ(resource.second, 1041)
                << "type " << entry.first << " name " << resource.first;
        }
    }
    // No version resource, string table or manifest.
    EXPECT_EQ(types, expectedTypes);
    EXPECT_EQ(inventory[LOWORD(RT_GROUP_ICON)],
              (std::vector<std::pair<WORD, WORD>>{{IDI_MAIN, 1041}, {IDI_SMALL, 1041}}));
    EXPECT_EQ(inventory[LOWORD(RT_MENU)], (std::vector<std::pair<WORD, WORD>>{{IDR_MENU, 1041}}));
    EXPECT_EQ(inventory[LOWORD(RT_DIALOG)],
              (std::vector<std::pair<WORD, WORD>>{{IDD_SETTINGS, 1041}}));
}

#pragma pack(push, 2)
struct IconGroupHeader {
    WORD reserved, type, count;
};
struct IconGroupEntry {
    BYTE width, height, colours, reserved;
    WORD planes, bitCount;
    DWORD bytes;
    WORD id;
};
#pragma pack(pop)

TEST_F(ExeResources, IconGroupsHaveTheirSizesIn16Colours) {
    const std::map<WORD, std::vector<int>> expectedSizes = {{IDI_MAIN, {32, 16}},
                                                            {IDI_SMALL, {16}}};
    for (const auto& group : expectedSizes) {
        SCOPED_TRACE(group.first);
        DWORD size = 0;
        const BYTE* data = Resource(RT_GROUP_ICON, group.first, &size);
        ASSERT_NE(data, nullptr);
        const IconGroupHeader* header = reinterpret_cast<const IconGroupHeader*>(data);
        ASSERT_EQ(header->count, group.second.size());
        ASSERT_EQ(size, sizeof(IconGroupHeader) + header->count * sizeof(IconGroupEntry));
        const IconGroupEntry* entries = reinterpret_cast<const IconGroupEntry*>(header + 1);
        for (int i = 0; i < header->count; ++i) {
            EXPECT_EQ(entries[i].width, group.second[i]);
            EXPECT_EQ(entries[i].height, group.second[i]);
            EXPECT_EQ(entries[i].colours, 16);
            EXPECT_EQ(entries[i].bitCount, 4);
            // The image itself says the same.
            DWORD imageSize = 0;
            const BYTE* image = Resource(RT_ICON, entries[i].id, &imageSize);
            ASSERT_NE(image, nullptr);
            const BITMAPINFOHEADER* bitmap = reinterpret_cast<const BITMAPINFOHEADER*>(image);
            EXPECT_EQ(bitmap->biWidth, group.second[i]);
            EXPECT_EQ(bitmap->biHeight, 2 * group.second[i]);
            EXPECT_EQ(bitmap->biBitCount, 4);
        }
        // And the platform can make an icon of it.
        EXPECT_NE(LoadImageA(module_, MAKEINTRESOURCEA(group.first), IMAGE_ICON, 16, 16, 0),
                  nullptr);
    }
}

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (argc < 2) {
        fprintf(stderr, "usage: exe_tests PATH_OF_VORNICK_EXE\n");
        return 2;
    }
    g_exePath = WindowsPath(argv[1]);
    return RUN_ALL_TESTS();
}
