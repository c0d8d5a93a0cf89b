// The settings file "./vornick.ini", section [DefStr]: len, VK, shift and the
// phrases under the keys 0 .. len-1.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

// At most this many phrases are read, so that the last phrase's menu command
// (IDM_PHRASE_BASE + index) stays within the 16-bit command range.
const INT32 MAX_PHRASES = 65536 - 500;

// Appends the file's phrases to app.phrases and sets the hotkey fields.
void LoadSettings();

// Writes len, VK and shift, then entry i for i = 0 .. entryCount-1, asking
// entryText(i) for each text right before it is written, in ascending order.
// The returned text must stay valid until its entry has been written.
void SaveSettings(INT32 entryCount, const std::function<const std::string&(INT32)>& entryText);
