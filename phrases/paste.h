// Remembering the application the user works in, and pasting a phrase there.
#pragma once

#include <windows.h>

#include <string>

// How long the capture and the paste wait for another program to answer a
// message, in milliseconds. Under Wine on a loaded two-core machine, living
// applications answered within 2 ms at the median and 215 ms at the worst,
// and Wine's notepad, busy pasting 256 KB, within 220 ms (1 MB kept it busy
// up to 0.8 s). A hung application holds a capture or a paste up this long
// at most, and not at all once the system counts it as hung (after 5 s).
const UINT TARGET_ANSWER_TIMEOUT = 500;

// Sets app.isNT from the platform's version record.
void DetectPlatformFamily();

// Records the foreground window, its focused control and that control's
// selection, unless the foreground is nothing, the main window or the taskbar.
// A target that does not answer within TARGET_ANSWER_TIMEOUT is recorded with
// the selection 0 and 0.
void CaptureTarget();

// Puts the phrase on the clipboard as CF_TEXT, and as CF_UNICODETEXT with the
// CF_LOCALE of its code page; gives the foreground, focus and selection back
// to the captured target and types Ctrl+V there. A target that does not
// answer within TARGET_ANSWER_TIMEOUT gets nothing back and nothing typed:
// the phrase is only on the clipboard, and the saved focus stays. A
// clipboard whose owner does not answer in that time ends the paste before
// anything else, as a clipboard that cannot be opened does.
void PastePhrase(const std::string& phrase);
