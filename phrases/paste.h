// Remembering the application the user works in, and pasting a phrase there.
#pragma once

#include <string>

// Sets app.isNT from the platform's version record.
void DetectPlatformFamily();

// Records the foreground window, its focused control and that control's
// selection, unless the foreground is nothing, the main window or the taskbar.
void CaptureTarget();

// Puts the phrase on the clipboard as CF_TEXT, and as CF_UNICODETEXT with the
// CF_LOCALE of its code page; gives the foreground, focus and selection back
// to the captured target and types Ctrl+V there.
void PastePhrase(const std::string& phrase);
