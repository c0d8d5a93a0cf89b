#include "tests/test_files.h"

#include <windows.h>

#include <fstream>
#include <sstream>

ScopedWorkDir::ScopedWorkDir() {
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    static unsigned counter = 0;
    for (;;) {
        char name[MAX_PATH];
        wsprintfA(name, "%svornick-test-%lu-%u", temp, GetCurrentProcessId(), ++counter);
        if (CreateDirectoryA(name, nullptr)) {
            path_ = name;
            break;
        }
    }
    char current[MAX_PATH];
    GetCurrentDirectoryA(sizeof current, current);
    previous_ = current;
    SetCurrentDirectoryA(path_.c_str());
}

ScopedWorkDir::~ScopedWorkDir() {
    SetCurrentDirectoryA(previous_.c_str());
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((path_ + "\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::string file = path_ + "\\" + found.cFileName;
            SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileA(file.c_str());
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    RemoveDirectoryA(path_.c_str());
}

std::string WindowsPath(const std::string& path) {
    if (path.empty() || path[0] != '/') return path;
    std::string windows = "Z:" + path;
    for (char& c : windows) {
        if (c == '/') c = '\\';
    }
    return windows;
}

std::string ReadFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

void WriteFileBytes(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}
