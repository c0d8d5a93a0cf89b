// The application the benchmark pastes into: one edit box. Whenever its text
// changes, the window title becomes "vornick bench target LENGTH TAIL" (the
// text's length in characters and its last 16 characters), so that a watcher
// on the X server sees the moment a paste has landed as a change of the
// window's name, without polling.
//
//   bench_target.exe
#include <windows.h>

#include <stdio.h>

#include <string>

namespace {

const int EDIT_ID = 10;
const wchar_t TITLE[] = L"vornick bench target";

HWND g_window, g_edit;

void ShowTextInTitle() {
    int length = GetWindowTextLengthW(g_edit);
    std::wstring text(length + 1, L'\0');
    GetWindowTextW(g_edit, &text[0], length + 1);
    text.resize(length);
    std::wstring tail = text.size() > 16 ? text.substr(text.size() - 16) : text;
    wchar_t head[64];
    swprintf(head, 64, L"%ls %d ", TITLE, length);
    SetWindowTextW(g_window, (head + tail).c_str());
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_COMMAND:
        if (LOWORD(wParam) == EDIT_ID && HIWORD(wParam) == EN_CHANGE) ShowTextInTitle();
        return 0;
    case WM_ACTIVATE:
        if (LOWORD(wParam) != WA_INACTIVE) SetFocus(g_edit);
        return 0;
    case WM_SETFOCUS:
        SetFocus(g_edit);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = L"VornickBenchTarget";
    RegisterClassW(&windowClass);

    g_window = CreateWindowExW(0, windowClass.lpszClassName, TITLE, WS_OVERLAPPEDWINDOW, 100, 100,
                               420, 120, nullptr, nullptr, instance, nullptr);
    g_edit = CreateWindowExW(WS_EX_CLIENTEDGE, L"EDIT", L"",
                             WS_CHILD | WS_VISIBLE | WS_TABSTOP | ES_AUTOHSCROLL, 10, 10, 380, 24,
                             g_window, reinterpret_cast<HMENU>(EDIT_ID), instance, nullptr);
    // The soak pastes thousands of characters: lift the edit box's default
    // limit so that no paste is refused.
    SendMessageW(g_edit, EM_LIMITTEXT, 0x7FFFFFFE, 0);
    ShowWindow(g_window, SW_SHOWNORMAL);
    SetFocus(g_edit);

    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return 0;
}
