// The settings file "./vornick.ini", section [DefStr]: len, VK, shift and the
// phrases under the keys 0 .. len-1.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

// At most this many phrases are read, so that the last phrase's menu command
// (IDM_PHRASE_BASE + index) stays within the 16-bit command range.
const INT32 MAX_PHRASES = 65536 - 500;

// Appends the file's phrases to app.phrases and sets the hotkey fields, from
// one read of the section.
void LoadSettings();

// What LoadSettings does with its read of the section: `entries` as
// ProfileAccessor::GetSection gives them, `complete` its result. What an
// incomplete read may have missed is read from the file entry by entry.
void LoadSettingsFromSection(const std::string& entries, bool complete);

// Writes len, VK and shift, then entry i for i = 0 .. entryCount-1, in one
// write of the section that keeps every other entry of it (entry by entry
// where that write would lose some, or the section could not be read
// whole). entryText(i) is asked for each text once, in ascending order
// (the asking stops at a failed write); the returned text must stay valid
// until the next call. A read-only file is not written. Returns
// ERROR_SUCCESS, or the system's error code when the file could not be
// written: the section write then leaves it as it was.
DWORD SaveSettings(INT32 entryCount, const std::function<const std::string&(INT32)>& entryText);

// The settings file's full path, for messages.
std::string SettingsFilePath();
