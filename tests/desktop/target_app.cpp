// A small Unicode application that the desktop tests paste into. It has an
// edit box, a button and a list box, and every 50 ms it writes its state to a
// report file that the tests read:
//   hwnd, edit, button, list: its window handles (hex)
//   focus: edit, button, list, other or none (the focus in its own thread)
//   foreground, foreground_class: the system's foreground window (hex) and
//     its window class, whichever program owns it
//   sel: the edit box's selection start and end
//   setsel: how many EM_SETSEL messages the edit box received from outside
//   pastes: how many WM_PASTE messages the edit box received
//   text: the edit box's text as UTF-8, hex-encoded
//   hung: 1 in the report written just before a hang begins, 0 otherwise
//   slow: how long it takes to answer a message sent from another thread (ms)
//
// The tests make it hang or answer slowly through a request file beside the
// report (REPORT_PATH.request, read and deleted at the next report):
//   hang MS   stop handling messages for MS milliseconds, as an application
//             stuck in a long computation does
//   slow MS   from now on, answer each message sent from another thread only
//             MS milliseconds later, as a busy but living application does
//
//   target_app.exe REPORT_PATH [TITLE] [TEXT] [SEL_START SEL_END] [FOCUS]
#include <windows.h>
#include <shellapi.h>

#include <stdio.h>

#include <string>

#include "hex_text.h"

namespace {

const UINT_PTR REPORT_TIMER = 1;
const int EDIT_ID = 10, BUTTON_ID = 11, LIST_ID = 12;

HWND g_window, g_edit, g_button, g_list;
HWND g_lastFocus;  // the child that had the focus when the window was deactivated
WNDPROC g_editProc;
std::wstring g_reportPath;
int g_setSelCount = 0, g_pasteCount = 0;
bool g_hung = false;
DWORD g_slowMs = 0;

const char* FocusName() {
    HWND focus = GetFocus();
    if (!focus) return "none";
    if (focus == g_edit) return "edit";
    if (focus == g_button) return "button";
    if (focus == g_list) return "list";
    return "other";
}

std::string ForegroundClass(HWND foreground) {
    char name[256] = "";
    if (foreground) GetClassNameA(foreground, name, sizeof name);
    return name;
}

void WriteReport() {
    int length = GetWindowTextLengthW(g_edit);
    std::wstring text(length + 1, L'\0');
    GetWindowTextW(g_edit, &text[0], length + 1);
    text.resize(length);
    DWORD start = 0, end = 0;
    CallWindowProcW(g_editProc, g_edit, EM_GETSEL, reinterpret_cast<WPARAM>(&start),
                    reinterpret_cast<LPARAM>(&end));
    HWND foreground = GetForegroundWindow();
    char head[768];
    snprintf(head, sizeof head,
             "hwnd=%lx\nedit=%lx\nbutton=%lx\nlist=%lx\nfocus=%s\nforeground=%lx\n"
             "foreground_class=%s\nsel=%lu %lu\nsetsel=%d\npastes=%d\nhung=%d\nslow=%lu\ntext=",
             (unsigned long)(ULONG_PTR)g_window, (unsigned long)(ULONG_PTR)g_edit,
             (unsigned long)(ULONG_PTR)g_button, (unsigned long)(ULONG_PTR)g_list, FocusName(),
             (unsigned long)(ULONG_PTR)foreground, ForegroundClass(foreground).c_str(),
             (unsigned long)start, (unsigned long)end, g_setSelCount, g_pasteCount, g_hung ? 1 : 0,
             (unsigned long)g_slowMs);
    std::string report = head + Utf8Hex(text) + "\nend\n";

    // Written beside the report and renamed over it, so a reader never sees
    // half a report.
    std::wstring temp = g_reportPath + L".tmp";
    HANDLE file = CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD written;
    WriteFile(file, report.data(), static_cast<DWORD>(report.size()), &written, nullptr);
    CloseHandle(file);
    MoveFileExW(temp.c_str(), g_reportPath.c_str(), MOVEFILE_REPLACE_EXISTING);
}

// The request waiting beside the report ("hang 8000"), or an empty text.
std::string TakeRequest() {
    std::wstring path = g_reportPath + L".request";
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return "";
    char text[64] = "";
    DWORD read = 0;
    ReadFile(file, text, sizeof text - 1, &read, nullptr);
    CloseHandle(file);
    DeleteFileW(path.c_str());
    return std::string(text, read);
}

void HandleRequest() {
    std::string request = TakeRequest();
    unsigned long ms = 0;
    if (sscanf(request.c_str(), "hang %lu", &ms) == 1) {
        // The report says so first: the test knows the hang has begun.
        g_hung = true;
        WriteReport();
        Sleep(ms);
        g_hung = false;
    } else if (sscanf(request.c_str(), "slow %lu", &ms) == 1) {
        g_slowMs = ms;
    }
}

// A slow application keeps a message sent from another program waiting.
void AnswerSlowly() {
    if (g_slowMs && InSendMessage()) Sleep(g_slowMs);
}

LRESULT CALLBACK EditProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    AnswerSlowly();
    if (message == EM_SETSEL) ++g_setSelCount;
    if (message == WM_PASTE) ++g_pasteCount;
    return CallWindowProcW(g_editProc, window, message, wParam, lParam);
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    AnswerSlowly();
    switch (message) {
    case WM_TIMER:
        HandleRequest();
        WriteReport();
        return 0;
    case WM_ACTIVATE:
        // Like most applications, give the focus back to the child that had
        // it when the window is activated again.
        if (LOWORD(wParam) == WA_INACTIVE) {
            HWND focus = GetFocus();
            if (focus && IsChild(window, focus)) g_lastFocus = focus;
        } else if (g_lastFocus) {
            SetFocus(g_lastFocus);
        }
        return 0;
    case WM_SETFOCUS:
        if (g_lastFocus) SetFocus(g_lastFocus);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

std::wstring Argument(int argc, wchar_t** argv, int index, const wchar_t* fallback) {
    return index < argc ? argv[index] : fallback;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (argc < 2) return 2;
    g_reportPath = argv[1];
    std::wstring title = Argument(argc, argv, 2, L"vornick test target");
    std::wstring text = Argument(argc, argv, 3, L"");
    int selStart = _wtoi(Argument(argc, argv, 4, L"0").c_str());
    int selEnd = _wtoi(Argument(argc, argv, 5, L"0").c_str());
    std::wstring focus = Argument(argc, argv, 6, L"edit");

    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = L"VornickTestTarget";
    RegisterClassW(&windowClass);

    g_window = CreateWindowExW(0, windowClass.lpszClassName, title.c_str(), WS_OVERLAPPEDWINDOW,
                               200, 150, 420, 220, nullptr, nullptr, instance, nullptr);
    g_edit = CreateWindowExW(WS_EX_CLIENTEDGE, L"EDIT", text.c_str(),
                             WS_CHILD | WS_VISIBLE | WS_TABSTOP | ES_AUTOHSCROLL, 10, 10, 380, 24,
                             g_window, reinterpret_cast<HMENU>(EDIT_ID), instance, nullptr);
    g_button =
        CreateWindowExW(0, L"BUTTON", L"Button", WS_CHILD | WS_VISIBLE | WS_TABSTOP, 10, 44, 100,
                        26, g_window, reinterpret_cast<HMENU>(BUTTON_ID), instance, nullptr);
    g_list = CreateWindowExW(WS_EX_CLIENTEDGE, L"LISTBOX", L"", WS_CHILD | WS_VISIBLE | WS_TABSTOP,
                             120, 44, 270, 120, g_window, reinterpret_cast<HMENU>(LIST_ID),
                             instance, nullptr);
    SendMessageW(g_list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(L"item"));
    g_editProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(g_edit, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(EditProc)));

    ShowWindow(g_window, SW_SHOWNORMAL);
    CallWindowProcW(g_editProc, g_edit, EM_SETSEL, selStart, selEnd);
    g_lastFocus = focus == L"button" ? g_button : focus == L"list" ? g_list : g_edit;
    SetFocus(g_lastFocus);
    WriteReport();
    SetTimer(g_window, REPORT_TIMER, 50, nullptr);

    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return 0;
}
