#include "settings/file_replace.h"

#include <algorithm>

namespace {

const DWORD NO_ATTRIBUTES = 0xFFFFFFFF;  // INVALID_FILE_ATTRIBUTES

// Writes and reads go in pieces of this size: some network redirectors of
// older systems refuse a single transfer of many megabytes.
const DWORD PIECE = 1 << 20;

bool Exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != NO_ATTRIBUTES; }

bool LastErrorSaysMissing() {
    DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

DWORD LastErrorOr(DWORD fallback) {
    DWORD error = GetLastError();
    return error != ERROR_SUCCESS ? error : fallback;
}

// Another program that has the file open for a moment (a virus scanner, an
// indexer, a backup) makes a move or an open fail with a sharing violation,
// or, where it did not share deletion, access denied. Such a refusal is
// tried again with growing waits, about a second in all.
template <typename Attempt>
bool RetryWhileInUse(Attempt attempt) {
    const DWORD PATIENCE_MS = 1000;
    DWORD waited = 0, wait = 10;
    for (;;) {
        if (attempt()) return true;
        DWORD error = GetLastError();
        bool inUse = error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED;
        if (!inUse || waited >= PATIENCE_MS) {
            SetLastError(error);
            return false;
        }
        wait = std::min(wait, PATIENCE_MS - waited);
        Sleep(wait);
        waited += wait;
        wait *= 2;
    }
}

HANDLE OpenToRead(const std::string& path) {
    // No FILE_SHARE_DELETE: Windows 95, 98 and Me refuse it.
    return CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// Reads from the file's current position to its end.
DWORD ReadAll(HANDLE file, std::string* bytes) {
    DWORD high = 0;
    DWORD size = GetFileSize(file, &high);
    bytes->resize(size != INVALID_FILE_SIZE && high == 0 ? size + 1 : PIECE);
    size_t used = 0;
    for (;;) {
        if (used == bytes->size()) bytes->resize(used + PIECE);
        DWORD count = static_cast<DWORD>(std::min<size_t>(PIECE, bytes->size() - used));
        if (!ReadFile(file, &(*bytes)[used], count, &count, nullptr)) {
            bytes->clear();
            return LastErrorOr(ERROR_READ_FAULT);
        }
        if (count == 0) break;
        used += count;
    }
    bytes->resize(used);
    return ERROR_SUCCESS;
}

// Every WriteFile must take its whole count: one that takes less without
// an error has met the end of the volume's space.
DWORD WriteAll(HANDLE file, const std::string& text) {
    for (size_t done = 0; done < text.size();) {
        DWORD count = static_cast<DWORD>(std::min<size_t>(PIECE, text.size() - done));
        DWORD written = 0;
        if (!WriteFile(file, text.data() + done, count, &written, nullptr)) {
            return LastErrorOr(ERROR_WRITE_FAULT);
        }
        if (written != count) return ERROR_DISK_FULL;
        done += count;
    }
    return ERROR_SUCCESS;
}

// The hidden and system attributes of the file being replaced, for the new
// file; a file system sets the archive attribute of a new file itself.
DWORD AttributesToKeep(const std::string& path) {
    DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == NO_ATTRIBUTES) return FILE_ATTRIBUTE_NORMAL;
    attributes &= FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    return attributes != 0 ? attributes : FILE_ATTRIBUTE_NORMAL;
}

// Writes the new file, flushes it to the disk and closes it, each step
// checked. `created` tells whether a file was made that must be removed.
DWORD WriteNewFile(const std::string& newName, const std::string& text, DWORD attributes,
                   bool* created) {
    // A new file left by a save that was cut off is of no use.
    DeleteFileA(newName.c_str());
    HANDLE file =
        CreateFileA(newName.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, attributes, nullptr);
    *created = file != INVALID_HANDLE_VALUE;
    if (!*created) return LastErrorOr(ERROR_CANNOT_MAKE);
    DWORD error = WriteAll(file, text);
    if (error == ERROR_SUCCESS && !FlushFileBuffers(file)) error = LastErrorOr(ERROR_WRITE_FAULT);
    if (!CloseHandle(file) && error == ERROR_SUCCESS) error = LastErrorOr(ERROR_WRITE_FAULT);
    return error;
}

// Whether the file holds exactly `text`, as read back through the system.
DWORD CheckFileHolds(const std::string& path, const std::string& text) {
    HANDLE file = OpenToRead(path);
    if (file == INVALID_HANDLE_VALUE) return LastErrorOr(ERROR_READ_FAULT);
    std::string bytes;
    DWORD error = ReadAll(file, &bytes);
    CloseHandle(file);
    if (error != ERROR_SUCCESS) return error;
    return bytes == text ? ERROR_SUCCESS : ERROR_WRITE_FAULT;
}

// The NT family replaces a file in one step. Windows 95, 98 and Me do not
// implement MoveFileExA (it is looked up, so that the program still loads
// there); they report themselves as another platform.
typedef BOOL(WINAPI* MoveFileExFunction)(LPCSTR, LPCSTR, DWORD);

MoveFileExFunction OneStepReplace() {
    OSVERSIONINFOA version = {};
    version.dwOSVersionInfoSize = sizeof version;
    if (!GetVersionExA(&version) || version.dwPlatformId != VER_PLATFORM_WIN32_NT) return nullptr;
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    return kernel ? reinterpret_cast<MoveFileExFunction>(
                        reinterpret_cast<void*>(GetProcAddress(kernel, "MoveFileExA")))
                  : nullptr;
}

// Without a one-step replacement: the old file moves aside, the new one
// moves in, and the old one is deleted; if the new one cannot move in, the
// old one moves back. A cut between the two moves leaves the old file under
// its other name, where RecoverReplacedFile finds it.
DWORD ReplaceThroughOldCopy(const std::string& path, const std::string& newName) {
    const std::string oldName = OldFileName(path);
    const bool hadFile = Exists(path);
    if (hadFile) {
        // An old copy beside the file is stale: the file is newer.
        DeleteFileA(oldName.c_str());
        if (!RetryWhileInUse([&] { return MoveFileA(path.c_str(), oldName.c_str()) != FALSE; })) {
            return LastErrorOr(ERROR_WRITE_FAULT);
        }
    }
    if (!MoveFileA(newName.c_str(), path.c_str())) {
        DWORD error = LastErrorOr(ERROR_WRITE_FAULT);
        if (hadFile) MoveFileA(oldName.c_str(), path.c_str());
        return error;
    }
    if (hadFile) DeleteFileA(oldName.c_str());
    return ERROR_SUCCESS;
}

DWORD MoveIntoPlace(const std::string& path, const std::string& newName) {
    MoveFileExFunction moveFileEx = OneStepReplace();
    if (!moveFileEx) return ReplaceThroughOldCopy(path, newName);
    bool moved = RetryWhileInUse([&] {
        return moveFileEx(newName.c_str(), path.c_str(),
                          MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
    });
    return moved ? ERROR_SUCCESS : LastErrorOr(ERROR_WRITE_FAULT);
}

// The full path of the folder that holds `path`.
std::string FolderOf(const std::string& path) {
    char full[MAX_PATH];
    char* name = nullptr;
    DWORD length = GetFullPathNameA(path.c_str(), sizeof full, full, &name);
    if (length == 0 || length >= sizeof full || !name || name == full) return path;
    return std::string(full, name - full);
}

// The system refuses to overwrite a read-only file; a process allowed to
// ignore the flag (an administrator's, under some systems) must not replace
// a file that the user has protected either.
bool IsReadOnly(const std::string& path) {
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != NO_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY);
}

}  // namespace

std::string NewFileName(const std::string& path) { return path + ".new"; }

std::string OldFileName(const std::string& path) { return path + ".old"; }

std::string FullPath(const std::string& path) {
    char full[MAX_PATH];
    DWORD length = GetFullPathNameA(path.c_str(), sizeof full, full, nullptr);
    if (length == 0 || length >= sizeof full) return path;
    return std::string(full, length);
}

DWORD ReadWholeFile(const std::string& path, std::string* bytes) {
    bytes->clear();
    HANDLE file = INVALID_HANDLE_VALUE;
    bool opened = RetryWhileInUse([&] {
        file = OpenToRead(path);
        return file != INVALID_HANDLE_VALUE || LastErrorSaysMissing();
    });
    if (!opened) return LastErrorOr(ERROR_READ_FAULT);
    if (file == INVALID_HANDLE_VALUE) return ERROR_SUCCESS;  // missing: empty
    DWORD error = ReadAll(file, bytes);
    CloseHandle(file);
    return error;
}

DWORD ReplaceWholeFile(const std::string& path, const std::string& text, std::string* failedPath) {
    if (failedPath) *failedPath = FullPath(path);
    if (IsReadOnly(path)) return ERROR_ACCESS_DENIED;

    const std::string newName = NewFileName(path);
    bool created = false;
    DWORD error = WriteNewFile(newName, text, AttributesToKeep(path), &created);
    if (!created) {
        // Never a rewrite in place instead: that is what loses files.
        if (failedPath) *failedPath = FolderOf(path);
        return error;
    }
    if (error == ERROR_SUCCESS) error = CheckFileHolds(newName, text);
    if (error == ERROR_SUCCESS) error = MoveIntoPlace(path, newName);
    if (error != ERROR_SUCCESS) DeleteFileA(newName.c_str());
    return error;
}

void RecoverReplacedFile(const std::string& path) {
    const std::string oldName = OldFileName(path);
    if (Exists(oldName)) {
        if (Exists(path)) {
            DeleteFileA(oldName.c_str());
        } else {
            MoveFileA(oldName.c_str(), path.c_str());
        }
    }
    DeleteFileA(NewFileName(path).c_str());
}
