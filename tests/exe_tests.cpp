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
               nt().Signature == IMAGE_NT_SIGNATURE;
    }
    const IMAGE_DOS_HEADER& dos() const { return At<IMAGE_DOS_HEADER>(0); }
    const IMAGE_NT_HEADERS32& nt() const { return At<IMAGE_NT_HEADERS32>(dos().e_lfanew); }

    std::set<std::string> ImportedDlls() const {
        std::set<std::string> names;
        const IMAGE_DATA_DIRECTORY& dir =
            nt().OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
        if (dir.VirtualAddress == 0) return names;
        for (DWORD offset = FileOffset(dir.VirtualAddress);;
             offset += sizeof(IMAGE_IMPORT_DESCRIPTOR)) {
            const IMAGE_IMPORT_DESCRIPTOR& entry = At<IMAGE_IMPORT_DESCRIPTOR>(offset);
            if (entry.Name == 0) break;
            std::string name = bytes_.c_str() + FileOffset(entry.Name);
            CharLowerA(&name[0]);
            names.insert(name);
        }
        return names;
    }

private:
    template <typename T>
    const T& At(DWORD offset) const {
        return *reinterpret_cast<const T*>(bytes_.data() + offset);
    }
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

TEST(ExeTest, IsA32BitGuiProgramForWindows4) {
    ExeImage image(g_exePath);
    ASSERT_TRUE(image.valid()) << g_exePath;
    EXPECT_EQ(image.nt().FileHeader.Machine, IMAGE_FILE_MACHINE_I386);
    EXPECT_EQ(image.nt().OptionalHeader.Magic, IMAGE_NT_OPTIONAL_HDR32_MAGIC);
    EXPECT_EQ(image.nt().OptionalHeader.Subsystem, IMAGE_SUBSYSTEM_WINDOWS_GUI);
    EXPECT_EQ(image.nt().OptionalHeader.MajorSubsystemVersion, 4);
    EXPECT_EQ(image.nt().OptionalHeader.MinorSubsystemVersion, 0);
}

TEST(ExeTest, ImportsOnlySystemDlls) {
    const std::set<std::string> system = {"kernel32.dll", "user32.dll",   "gdi32.dll",
                                          "shell32.dll",  "comctl32.dll", "msvcrt.dll",
                                          "advapi32.dll"};
    std::set<std::string> imported = ExeImage(g_exePath).ImportedDlls();
    EXPECT_FALSE(imported.empty());
    for (const std::string& dll : imported) EXPECT_TRUE(system.count(dll)) << dll;
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
