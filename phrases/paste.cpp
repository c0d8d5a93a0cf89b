#include "phrases/paste.h"

#include <windows.h>

#include "app/app_state.h"

namespace {

// The basic OSVERSIONINFOA record, not the extended one.
const DWORD OSVERSIONINFO_SIZE = sizeof(OSVERSIONINFOA);
static_assert(OSVERSIONINFO_SIZE == 148, "the basic record");

DWORD TargetThread() { return GetWindowThreadProcessId(app.targetWindow, nullptr); }

// Sends a message to another program's window and waits for the answer at
// most TARGET_ANSWER_TIMEOUT ms (not at all when the system already counts
// that program as hung); false when no answer came. A plain SendMessageA
// would wait for a hung application as long as it hangs, and this program
// with it.
bool SendWithTimeout(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    DWORD_PTR result;
    return SendMessageTimeoutA(window, message, wParam, lParam, SMTO_ABORTIFHUNG,
                               TARGET_ANSWER_TIMEOUT, &result) != 0;
}

// A movable block holding the phrase and its terminator, or null.
HGLOBAL CopyToGlobalBlock(const std::string& phrase) {
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, phrase.size() + 1);
    if (!block) return nullptr;
    char* bytes = static_cast<char*>(GlobalLock(block));
    if (!bytes) {
        GlobalFree(block);
        return nullptr;
    }
    lstrcpyA(bytes, phrase.empty() ? EMPTY_TEXT : phrase.c_str());
    GlobalUnlock(block);
    return block;
}

// The phrase as UTF-16, converted with the ANSI code page it is stored in,
// in a movable block; null when it cannot be made.
HGLOBAL CopyToUnicodeBlock(const std::string& phrase) {
    int length = phrase.empty() ? 0
                                : MultiByteToWideChar(CP_ACP, 0, phrase.data(),
                                                      static_cast<int>(phrase.size()), nullptr, 0);
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, (length + 1) * sizeof(WCHAR));
    if (!block) return nullptr;
    WCHAR* chars = static_cast<WCHAR*>(GlobalLock(block));
    if (!chars) {
        GlobalFree(block);
        return nullptr;
    }
    if (length > 0) {
        MultiByteToWideChar(CP_ACP, 0, phrase.data(), static_cast<int>(phrase.size()), chars,
                            length);
    }
    GlobalUnlock(block);
    return block;
}

// The system locale, whose ANSI code page is the one CP_ACP stands for.
HGLOBAL CopyLocaleBlock() {
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, sizeof(LCID));
    if (!block) return nullptr;
    LCID* locale = static_cast<LCID*>(GlobalLock(block));
    if (!locale) {
        GlobalFree(block);
        return nullptr;
    }
    *locale = GetSystemDefaultLCID();
    GlobalUnlock(block);
    return block;
}

// A clipboard that refused a block did not take ownership of it.
void SetClipboardBlock(UINT format, HGLOBAL block) {
    if (block && !SetClipboardData(format, block)) GlobalFree(block);
}

// Hands the text block to the clipboard, with the phrase in UTF-16 and its
// locale beside it: from CF_TEXT alone the system would make the Unicode text
// with the code page of the input language active at that moment, which after
// a switch to another language garbles a Japanese phrase. False when the
// clipboard cannot be opened or its owner does not answer.
bool PublishClipboardText(HGLOBAL block, const std::string& phrase) {
    if (!OpenClipboard(app.mainWindow)) {
        GlobalFree(block);
        return false;
    }
    // Emptying the clipboard sends its owner WM_DESTROYCLIPBOARD and waits
    // for the answer. An owner that does not answer (say, the application the
    // user copied from, hung since) ends the paste, as a clipboard held open
    // by another program does.
    HWND owner = GetClipboardOwner();
    if (owner && !SendWithTimeout(owner, WM_NULL, 0, 0)) {
        CloseClipboard();
        GlobalFree(block);
        return false;
    }
    EmptyClipboard();
    SetClipboardBlock(CF_TEXT, block);
    SetClipboardBlock(CF_UNICODETEXT, CopyToUnicodeBlock(phrase));
    SetClipboardBlock(CF_LOCALE, CopyLocaleBlock());
    CloseClipboard();
    return true;
}

// The focus is thread-local state of the target's thread: attaching its
// input to ours lets SetFocus act on it. SetFocus sends the target
// WM_KILLFOCUS and WM_SETFOCUS and waits for them without bound; the caller
// has just seen the target answer. The selection is set only once the input
// is detached again, for the reason CaptureTarget gives.
void RestoreFocusAndSelection() {
    DWORD target = TargetThread();
    DWORD me = GetCurrentThreadId();
    AttachThreadInput(target, me, TRUE);
    SetFocus(app.targetFocus);
    AttachThreadInput(target, me, FALSE);
    if (app.selStart != 0 || app.selEnd != 0) {
        SendWithTimeout(app.targetFocus, EM_SETSEL, app.selStart, app.selEnd);
    }
    app.targetFocus = nullptr;
}

void TypeControlV() {
    BYTE control = app.isNT ? VK_RCONTROL : VK_CONTROL;
    keybd_event(control, 0, 0, 0);
    keybd_event('V', 0, 0, 0);
    keybd_event('V', 0, KEYEVENTF_KEYUP, 0);
    keybd_event(control, 0, KEYEVENTF_KEYUP, 0);
}

}  // namespace

void DetectPlatformFamily() {
    OSVERSIONINFOA version = {};
    version.dwOSVersionInfoSize = OSVERSIONINFO_SIZE;
    GetVersionExA(&version);
    app.isNT = version.dwPlatformId == VER_PLATFORM_WIN32_NT;
}

void CaptureTarget() {
    HWND foreground = GetForegroundWindow();
    if (!foreground || foreground == app.mainWindow ||
        foreground == FindWindowA("Shell_TrayWnd", nullptr)) {
        return;  // the previous capture stays in force
    }
    app.targetWindow = foreground;

    // Another thread's focus is visible only while its input is attached.
    DWORD target = GetWindowThreadProcessId(foreground, nullptr);
    DWORD me = GetCurrentThreadId();
    AttachThreadInput(target, me, TRUE);
    app.targetFocus = GetFocus();
    AttachThreadInput(target, me, FALSE);

    // Asked after detaching: while this thread waits for the answer it
    // handles the icon's notifications, and a click's SetForegroundWindow
    // made with the input still attached would wait on the target's windows
    // without bound. A target that does not answer in time leaves the
    // selection 0 and 0, as a control that does not know EM_GETSEL does.
    app.selEnd = 0;
    app.selStart = 0;
    if (app.targetFocus) {
        SendWithTimeout(app.targetFocus, EM_GETSEL, reinterpret_cast<WPARAM>(&app.selStart),
                        reinterpret_cast<LPARAM>(&app.selEnd));
    }
}

void PastePhrase(const std::string& phrase) {
    HGLOBAL block = CopyToGlobalBlock(phrase);
    if (!block || !PublishClipboardText(block, phrase)) return;

    // Without a target, or with one that has been closed since, the phrase
    // stays on the clipboard: Ctrl+V must not reach some unrelated window.
    if (!app.targetWindow || !IsWindow(app.targetWindow)) return;

    // Nor while the target does not answer: the focus could not be given
    // back without waiting for it, and keys typed into a window that cannot
    // take them may end up in another one. The saved focus stays for a
    // later paste.
    if (!SendWithTimeout(app.targetWindow, WM_NULL, 0, 0)) return;

    SetForegroundWindow(app.targetWindow);
    if (app.targetFocus) {
        RestoreFocusAndSelection();
        // Wine's attachment leaves no foreground window, and the keys would
        // go nowhere; on Windows the target is still in front and this is
        // not called.
        if (GetForegroundWindow() != app.targetWindow) SetForegroundWindow(app.targetWindow);
    }
    TypeControlV();
}
