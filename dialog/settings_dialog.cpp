#include "dialog/settings_dialog.h"

#include <commctrl.h>

#include <string>
#include <vector>

#include "app/app_state.h"
#include "phrases/phrase_menu.h"
#include "resources/resource_ids.h"
#include "settings/profile_accessor.h"
#include "settings/settings.h"

namespace {

LRESULT SendToList(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) {
    return SendMessageA(app.dialogList, message, wParam, lParam);
}

int SelectedIndex() { return static_cast<int>(SendToList(LB_GETCURSEL)); }

int ItemCount() { return static_cast<int>(SendToList(LB_GETCOUNT)); }

// List item `index`, measured first. The list box keeps UTF-16 on NT and
// under Wine, so an item whose bytes do not round-trip through the code page
// (a lone lead byte, bytes that are not Shift-JIS) can come back longer than
// it went in: no fixed buffer would be safe.
std::string ReadItem(int index) {
    LRESULT length = SendToList(LB_GETTEXTLEN, index);
    if (length <= 0) return std::string();
    std::string text(static_cast<size_t>(length) + 1, '\0');
    LRESULT copied = SendToList(LB_GETTEXT, index, reinterpret_cast<LPARAM>(&text[0]));
    text.resize(copied > 0 && copied <= length ? static_cast<size_t>(copied) : 0);
    return text;
}

// The edit box's text, measured first for the same reason.
std::string ReadEdit() {
    int length = GetWindowTextLengthA(app.dialogEdit);
    if (length <= 0) return std::string();
    std::string text(static_cast<size_t>(length) + 1, '\0');
    int copied = GetWindowTextA(app.dialogEdit, &text[0], length + 1);
    text.resize(copied > 0 && copied <= length ? static_cast<size_t>(copied) : 0);
    return text;
}

void InsertItem(int index, const std::string& text) {
    SendToList(LB_INSERTSTRING, index,
               reinterpret_cast<LPARAM>(text.empty() ? EMPTY_TEXT : text.c_str()));
}

void SelectItem(int index) { SendToList(LB_SETCURSEL, index); }

// The message box's text, built as UTF-16.
typedef std::vector<wchar_t> WideText;

void Append(WideText* text, const wchar_t* wide) {
    while (*wide) text->push_back(*wide++);
}

void AppendAnsi(WideText* text, const std::string& ansi) {
    int length =
        MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), nullptr, 0);
    if (length <= 0) return;
    size_t start = text->size();
    text->resize(start + length);
    MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), &(*text)[start],
                        length);
}

void InitDialog(HWND dialog) {
    SendMessageA(dialog, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(app.smallIcon));
    // The hotkey stays off while it is being chosen, so that pressing it in
    // the hotkey control does not open the phrase menu.
    if (app.hotkeyVk != 0) UnregisterHotKey(app.mainWindow, HOTKEY_ID);

    app.dialogEdit = GetDlgItem(dialog, IDC_PHRASE_EDIT);
    app.dialogList = GetDlgItem(dialog, IDC_PHRASE_LIST);
    // Counted in characters on NT and under Wine: Add checks the bytes.
    SendMessageA(app.dialogEdit, EM_LIMITTEXT, ProfileAccessor::MAX_VALUE, 0);

    for (const std::string& phrase : app.phrases) {
        SendToList(LB_ADDSTRING, 0,
                   reinterpret_cast<LPARAM>(phrase.empty() ? EMPTY_TEXT : phrase.c_str()));
    }
    WORD hotkey = MAKEWORD(LOBYTE(app.hotkeyVk), ModifiersToHotkeyFlags(app.hotkeyModifiers));
    SendMessageA(GetDlgItem(dialog, IDC_HOTKEY), HKM_SETHOTKEY, hotkey, 0);

    SetFocus(app.dialogEdit);
    SetActiveWindow(dialog);
}

// The notices are UTF-16 so that they read right whatever the ANSI code page.
static_assert(ProfileAccessor::MAX_VALUE == 1023, "the notice states the limit");
const wchar_t TOO_LONG_NOTICE[] =
    L"定型文は 1023 バイト（全角文字なら 511 文字）までです。短くしてから追加してください。";
static_assert(MAX_PHRASES == 65036, "the notice states the limit");
const wchar_t TOO_MANY_NOTICE[] = L"定型文は 65036 個まで登録できます。";

void Notify(HWND dialog, const wchar_t* notice) {
    MessageBoxW(dialog, notice, L"vornick", MB_OK | MB_ICONEXCLAMATION);
}

// A phrase longer than the file gives back, or one past the last menu
// command, is refused with a notice and stays in the edit box to be changed.
void AddPhrase(HWND dialog) {
    std::string text = ReadEdit();
    if (text.empty()) return;
    if (text.size() > static_cast<size_t>(ProfileAccessor::MAX_VALUE)) {
        Notify(dialog, TOO_LONG_NOTICE);
        return;
    }
    if (ItemCount() >= MAX_PHRASES) {
        Notify(dialog, TOO_MANY_NOTICE);
        return;
    }
    SetWindowTextA(app.dialogEdit, EMPTY_TEXT);
    int position = SelectedIndex();
    if (position == LB_ERR) position = ItemCount();
    InsertItem(position, text);
    SelectItem(position);
}

void CopySelectionToEdit() {
    int selected = SelectedIndex();
    if (selected == LB_ERR) return;
    std::string text = ReadItem(selected);
    SetWindowTextA(app.dialogEdit, text.empty() ? EMPTY_TEXT : text.c_str());
    SendMessageA(app.dialogEdit, EM_SETSEL, 0, -1);
}

void DeleteSelected() {
    int selected = SelectedIndex();
    if (selected == LB_ERR) return;
    SendToList(LB_DELETESTRING, selected);
    // After the last item, select the new last one (or nothing when empty).
    if (SendToList(LB_SETCURSEL, selected) == LB_ERR) SelectItem(selected - 1);
}

void MoveSelected(int step) {
    int selected = SelectedIndex();
    int destination = selected + step;
    if (selected == LB_ERR || destination < 0 || destination >= ItemCount()) return;
    std::string text = ReadItem(selected);
    SendToList(LB_DELETESTRING, selected);
    InsertItem(destination, text);
    SelectItem(destination);
}

// The system's text for `error`, and its number.
void AppendErrorText(WideText* text, DWORD error) {
    char reason[512];
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                  nullptr, error, 0, reason, sizeof reason, nullptr);
    while (length > 0 && (reason[length - 1] == '\r' || reason[length - 1] == '\n')) --length;
    AppendAnsi(text, std::string(reason, length));
    Append(text, L"（エラー ");
    AppendAnsi(text, std::to_string(error));
    Append(text, L"）");
}

// Tells the user that OK could not write the file, and why; the dialog
// stays open with the list as edited. `failedPath` is what could not be
// written: the file, or its folder when no new file could be made there.
void ReportSaveFailure(HWND dialog, DWORD error, const std::string& failedPath) {
    WideText text;
    Append(&text, L"設定ファイルに保存できませんでした。\n\n");
    const std::string file = SettingsFilePath();
    AppendAnsi(&text, file);
    Append(&text, L"\n");
    if (!failedPath.empty() && failedPath != file) {
        Append(&text, L"新しいファイルを作れないフォルダー: ");
        AppendAnsi(&text, failedPath);
        Append(&text, L"\n");
    }
    AppendErrorText(&text, error);
    Append(&text,
           L"\n\n編集した一覧はそのまま残っています。OK でもう一度保存するか、"
           L"中止で変更を取り消してください。");
    text.push_back(L'\0');
    MessageBoxW(dialog, &text[0], L"vornick", MB_OK | MB_ICONERROR);
}

// Saves the list and the hotkey control, and only when the file took them
// makes them the program's phrases, menu and hotkey. Returns whether it did.
bool ApplySettings(HWND dialog) {
    PhraseList edited;
    int count = ItemCount();
    for (int i = 0; i < count; ++i) edited.push_back(ReadItem(i));
    WORD hotkey =
        static_cast<WORD>(SendMessageA(GetDlgItem(dialog, IDC_HOTKEY), HKM_GETHOTKEY, 0, 0));
    const INT32 oldVk = app.hotkeyVk, oldModifiers = app.hotkeyModifiers;
    app.hotkeyVk = LOBYTE(hotkey);
    app.hotkeyModifiers = HotkeyFlagsToModifiers(HIBYTE(hotkey));
    std::string failedPath;
    DWORD error = SaveSettings(
        static_cast<INT32>(edited.size()), [&](INT32 i) -> const std::string& { return edited[i]; },
        &failedPath);
    if (error != ERROR_SUCCESS) {
        // Cancel must find the hotkey as it was before the dialog.
        app.hotkeyVk = oldVk;
        app.hotkeyModifiers = oldModifiers;
        ReportSaveFailure(dialog, error, failedPath);
        return false;
    }
    app.phrases.swap(edited);
    RebuildPhraseMenu();
    return true;
}

void CloseDialog(HWND dialog, int result) {
    if (app.hotkeyVk != 0) {
        RegisterHotKey(app.mainWindow, HOTKEY_ID, app.hotkeyModifiers, app.hotkeyVk);
    }
    EndDialog(dialog, result);
}

INT_PTR OnCommand(HWND dialog, WORD id, WORD code) {
    switch (id) {
    case IDC_ADD:
        AddPhrase(dialog);
        return TRUE;
    case IDC_PHRASE_LIST:
        if (code == LBN_SELCHANGE) CopySelectionToEdit();
        return TRUE;
    case IDC_DELETE:
        DeleteSelected();
        return TRUE;
    case IDC_UP:
        MoveSelected(-1);
        return TRUE;
    case IDC_DOWN:
        MoveSelected(+1);
        return TRUE;
    case IDOK:
        // Enter in the edit box adds the phrase; the dialog stays open.
        if (GetFocus() == app.dialogEdit) {
            PostMessageA(dialog, WM_COMMAND, IDC_ADD, 0);
            return FALSE;
        }
        if (ApplySettings(dialog)) CloseDialog(dialog, IDOK);
        return TRUE;
    case IDCANCEL:
        CloseDialog(dialog, IDCANCEL);
        return TRUE;
    }
    return FALSE;
}

}  // namespace

void OpenSettingsDialog() {
    if (app.dialogOpen) return;
    app.dialogOpen = true;
    DialogBoxParamA(app.instance, MAKEINTRESOURCEA(IDD_SETTINGS), nullptr, SettingsDlgProc, 0);
    app.dialogOpen = false;
}

INT_PTR CALLBACK SettingsDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG:
        InitDialog(dialog);
        return FALSE;
    case WM_COMMAND:
        return OnCommand(dialog, LOWORD(wParam), HIWORD(wParam));
    }
    return FALSE;
}

BYTE ModifiersToHotkeyFlags(int modifiers) {
    BYTE flags = 0;
    if (modifiers & MOD_ALT) flags |= HOTKEYF_ALT;
    if (modifiers & MOD_CONTROL) flags |= HOTKEYF_CONTROL;
    if (modifiers & MOD_SHIFT) flags |= HOTKEYF_SHIFT;
    return flags;
}

int HotkeyFlagsToModifiers(BYTE flags) {
    int modifiers = 0;
    if (flags & HOTKEYF_SHIFT) modifiers |= MOD_SHIFT;
    if (flags & HOTKEYF_CONTROL) modifiers |= MOD_CONTROL;
    if (flags & HOTKEYF_ALT) modifiers |= MOD_ALT;
    return modifiers;
}
