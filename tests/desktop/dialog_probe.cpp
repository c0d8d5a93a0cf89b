// Looks at the settings dialog of another process for the desktop tests. It
// reads one command per line from its standard input and answers each with
// one line, so a test keeps a single process for all its questions. Window
// handles are hex; texts are answered as hex-encoded UTF-8 ("-" when empty).
//
//   dialogs                      vornick's visible dialogs: handles
//   item DIALOG ID               GetDlgItem: handle (0 when none)
//   list LIST                    selected index, then every item's text
//   edit EDIT                    selection start and end, then the text
//   send WINDOW MSG WPARAM LPARAM  SendMessage without pointers: the result
//   center WINDOW                screen point in the middle of the window
//   itempoint LIST INDEX         screen point in the middle of a list item
//   focus WINDOW                 the focus in the window's thread: handle
//   foreground                   the foreground window: handle and class
//                                name ("0 -" when there is none)
//   hotkeyfree MODS VK           1 when no program holds that system-wide
//                                hotkey (registering it here works, and it
//                                is released at once), else 0
//
// Messages sent to the other process go through SendMessageTimeoutW, which
// marshals the texts of WM_GETTEXT and LB_GETTEXT across processes.
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>

#include <sstream>
#include <string>
#include <vector>

#include "hex_text.h"

namespace {

const UINT SEND_TIMEOUT_MS = 5000;

HWND ParseWindow(const std::string& word) {
    return reinterpret_cast<HWND>(static_cast<ULONG_PTR>(strtoul(word.c_str(), nullptr, 16)));
}

std::string Hex(HWND window) {
    char text[16];
    snprintf(text, sizeof text, "%lx",
             static_cast<unsigned long>(reinterpret_cast<ULONG_PTR>(window)));
    return text;
}

// Sends a message to another process's window. False when the window is gone
// or did not answer in time; `failure` then says which.
const char* failure = "";
bool Send(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
    DWORD_PTR value = 0;
    if (!SendMessageTimeoutW(window, message, wParam, lParam, SMTO_NORMAL, SEND_TIMEOUT_MS,
                             &value)) {
        failure = IsWindow(window) ? "timeout" : "no window";
        return false;
    }
    *result = static_cast<LRESULT>(value);
    return true;
}

// The program's hidden main window has the class "vornick"; its dialogs are
// the visible dialog-class windows of the same process. Matching by process
// rather than caption works in every code page.
BOOL CALLBACK CollectProgram(HWND window, LPARAM found) {
    char className[16];
    if (GetClassNameA(window, className, sizeof className) && lstrcmpA(className, "vornick") == 0) {
        DWORD process = 0;
        GetWindowThreadProcessId(window, &process);
        reinterpret_cast<std::vector<DWORD>*>(found)->push_back(process);
    }
    return TRUE;
}

struct DialogSearch {
    std::vector<DWORD> programs;
    std::vector<HWND> dialogs;
};

BOOL CALLBACK CollectDialog(HWND window, LPARAM found) {
    DialogSearch& search = *reinterpret_cast<DialogSearch*>(found);
    char className[16];
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (IsWindowVisible(window) && GetClassNameA(window, className, sizeof className) &&
        lstrcmpA(className, "#32770") == 0) {
        for (DWORD program : search.programs) {
            if (program == process) search.dialogs.push_back(window);
        }
    }
    return TRUE;
}

std::string Dialogs() {
    DialogSearch search;
    EnumWindows(CollectProgram, reinterpret_cast<LPARAM>(&search.programs));
    EnumWindows(CollectDialog, reinterpret_cast<LPARAM>(&search));
    std::string answer;
    for (HWND window : search.dialogs) answer += (answer.empty() ? "" : " ") + Hex(window);
    return answer;
}

// One reading of the list; "changed" when an item went away while it was
// read (the dialog edits the list while the tests poll it).
std::string ReadList(HWND list) {
    LRESULT count = 0, selected = 0;
    if (!Send(list, LB_GETCOUNT, 0, 0, &count) || !Send(list, LB_GETCURSEL, 0, 0, &selected))
        return failure;
    std::string answer = std::to_string(static_cast<int>(selected));
    for (int i = 0; i < count; ++i) {
        LRESULT length = 0;
        if (!Send(list, LB_GETTEXTLEN, i, 0, &length)) return failure;
        if (length < 0) return "changed";
        std::wstring text(length + 1, L'\0');
        if (!Send(list, LB_GETTEXT, i, reinterpret_cast<LPARAM>(&text[0]), &length)) return failure;
        if (length < 0) return "changed";
        text.resize(length);
        answer += " " + (text.empty() ? std::string("-") : Utf8Hex(text));
    }
    LRESULT countAfter = 0;
    if (!Send(list, LB_GETCOUNT, 0, 0, &countAfter)) return failure;
    return countAfter == count ? answer : "changed";
}

std::string List(HWND list) {
    for (int attempt = 0; attempt < 10; ++attempt) {
        std::string answer = ReadList(list);
        if (answer != "changed") return answer;
    }
    return "error";
}

std::string Edit(HWND edit) {
    LRESULT selection = 0, length = 0;
    // EM_GETSEL with no pointers answers start and end in one value.
    if (!Send(edit, EM_GETSEL, 0, 0, &selection) || !Send(edit, WM_GETTEXTLENGTH, 0, 0, &length))
        return failure;
    std::wstring text(length + 1, L'\0');
    if (!Send(edit, WM_GETTEXT, length + 1, reinterpret_cast<LPARAM>(&text[0]), &length))
        return failure;
    text.resize(length);
    return std::to_string(LOWORD(selection)) + " " + std::to_string(HIWORD(selection)) + " " +
           (text.empty() ? std::string("-") : Utf8Hex(text));
}

std::string Point(LONG x, LONG y) { return std::to_string(x) + " " + std::to_string(y); }

std::string Center(HWND window) {
    RECT rect;
    if (!GetWindowRect(window, &rect)) return "error";
    return Point((rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2);
}

std::string ItemPoint(HWND list, int index) {
    LRESULT height = 0, top = 0;
    if (!Send(list, LB_GETITEMHEIGHT, 0, 0, &height) || !Send(list, LB_GETTOPINDEX, 0, 0, &top))
        return failure;
    RECT client;
    GetClientRect(list, &client);
    POINT point = {client.right / 2, static_cast<LONG>((index - top) * height + height / 2)};
    ClientToScreen(list, &point);
    return Point(point.x, point.y);
}

std::string Focus(HWND window) {
    GUITHREADINFO info = {};
    info.cbSize = sizeof info;
    if (!GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info)) return "error";
    return Hex(info.hwndFocus);
}

std::string Foreground() {
    HWND window = GetForegroundWindow();
    char className[64] = "-";
    if (window && !GetClassNameA(window, className, sizeof className)) lstrcpyA(className, "-");
    return Hex(window) + " " + className;
}

std::string HotkeyFree(UINT modifiers, UINT vk) {
    const int PROBE_HOTKEY_ID = 1;
    if (!RegisterHotKey(nullptr, PROBE_HOTKEY_ID, modifiers, vk)) return "0";
    UnregisterHotKey(nullptr, PROBE_HOTKEY_ID);
    return "1";
}

std::string Answer(const std::string& line) {
    std::istringstream words(line);
    std::string command, a, b, c, d;
    words >> command >> a >> b >> c >> d;
    if (command == "dialogs") return Dialogs();
    if (command == "item") return Hex(GetDlgItem(ParseWindow(a), atoi(b.c_str())));
    if (command == "list") return List(ParseWindow(a));
    if (command == "edit") return Edit(ParseWindow(a));
    if (command == "send") {
        LRESULT result = 0;
        if (!Send(ParseWindow(a), strtoul(b.c_str(), nullptr, 0), strtoul(c.c_str(), nullptr, 0),
                  strtol(d.c_str(), nullptr, 0), &result))
            return failure;
        return std::to_string(static_cast<long>(result));
    }
    if (command == "center") return Center(ParseWindow(a));
    if (command == "itempoint") return ItemPoint(ParseWindow(a), atoi(b.c_str()));
    if (command == "focus") return Focus(ParseWindow(a));
    if (command == "foreground") return Foreground();
    if (command == "hotkeyfree")
        return HotkeyFree(strtoul(a.c_str(), nullptr, 0), strtoul(b.c_str(), nullptr, 0));
    return "unknown command";
}

}  // namespace

int main() {
    char line[1024];
    while (fgets(line, sizeof line, stdin)) {
        printf("%s\n", Answer(line).c_str());
        fflush(stdout);
    }
    return 0;
}
