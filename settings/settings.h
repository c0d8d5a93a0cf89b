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
// one read of the section. What a save cut off left is put right first: a
// file missing beside its old copy comes back from it, and a new file that
// was never swapped in is deleted.
void LoadSettings();

// What LoadSettings does with its read of the section: `entries` as
// ProfileAccessor::GetSection gives them, `complete` its result. What an
// incomplete read may have missed is read from the file entry by entry.
void LoadSettingsFromSection(const std::string& entries, bool complete);

// Writes len, VK and shift, then entry i for i = 0 .. entryCount-1, into
// [DefStr] in one replacement of the whole file: a new file written beside
// it, checked and swapped in, so that a failure, a full volume or a kill
// leaves the old file or the new one, never a part. The program's entries
// are replaced where they stand and the missing ones added; every other line
// of the file stays as it was (see ProfileAccessor::TextWithEntries).
// entryText(i) is asked for each text once, in ascending order, before
// anything is written; the returned text must stay valid until the next
// call. A read-only file is not written. Returns ERROR_SUCCESS, or the
// system's error code with the file as it was; `failedPath`, when given, then
// receives the full path of what could not be written: the file, or its
// folder when no new file could be made there.
DWORD SaveSettings(INT32 entryCount, const std::function<const std::string&(INT32)>& entryText,
                   std::string* failedPath = nullptr);

// The settings file's full path, for messages.
std::string SettingsFilePath();
