// A file replaced whole, so that a failure, a full volume or a kill at any
// moment leaves either the old file or the new one, never a mix or a part:
// the new text goes to "NAME.new" in the same folder, is flushed, closed and
// read back, and only then takes the old file's place. Where the system
// cannot replace a file in one step (Windows 95, 98 and Me), the old file is
// first moved aside to "NAME.old" and deleted once the new one is in place.
#pragma once

#include <windows.h>

#include <string>

// The name of the new file while it is written, and of the old file while
// the new one moves in on systems that cannot replace a file in one step.
std::string NewFileName(const std::string& path);
std::string OldFileName(const std::string& path);

// Reads the whole file into `bytes`: a missing file reads as empty. Returns
// ERROR_SUCCESS or the system's error code. A file that another program
// holds open without sharing it is tried again for about a second.
DWORD ReadWholeFile(const std::string& path, std::string* bytes);

// Puts `text` in place of the file `path` (creating it where it is missing),
// keeping its hidden and system attributes. A read-only file is refused
// before anything is written. Returns ERROR_SUCCESS, or the system's error
// code with the file as it was and no new file left behind; `failedPath`,
// when given, then receives the full path of what could not be written: the
// file, or its folder when no new file could be made there.
DWORD ReplaceWholeFile(const std::string& path, const std::string& text,
                       std::string* failedPath = nullptr);

// Finishes what a replacement cut off (by a kill or a power cut) left: a
// file missing while its old copy is there is put back from it, a stale old
// copy beside the file is deleted, and a new file is deleted unread.
void RecoverReplacedFile(const std::string& path);

// The full path of `path`, or `path` itself where the system cannot say.
std::string FullPath(const std::string& path);
