// The settings dialog: its template as compiled into vornick.exe (whose path
// is the first argument), the hotkey flag conversions, and the dialog itself
// run in this process on the program's code, so that what the list's editing
// buttons do to the list, its selection and the edit box, and what OK and
// Cancel do to AppState, the phrase menu, the settings file and the
// registered hotkey, can be read back directly.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <stdio.h>
#include <string.h>

#include <cwctype>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/app.h"
#include "app/app_state.h"
#include "dialog/settings_dialog.h"
#include "phrases/phrase_menu.h"
#include "resources/resource_ids.h"
#include "settings/settings.h"
#include "tests/test_files.h"

namespace {

std::string g_exePath;

// ---------------------------------------------------------------------------
// The hotkey conversions

TEST(HotkeyConversionTest, ModifiersAndControlFlagsMapBothWays) {
    struct Row {
        int modifiers;  // RegisterHotKey bits
        BYTE flags;     // hotkey control flags
        const char* catches;
    };
    // Rows that hold in both directions.
    const Row both[] = {
        {0, 0, "nothing stays nothing"},
        {MOD_ALT, HOTKEYF_ALT, "Alt is 1 on one side and 4 on the other"},
        {MOD_CONTROL, HOTKEYF_CONTROL, "Control is 2 on both sides"},
        {MOD_SHIFT, HOTKEYF_SHIFT, "Shift is 4 on one side and 1 on the other"},
        {MOD_ALT | MOD_SHIFT, HOTKEYF_ALT | HOTKEYF_SHIFT, "the swapped pair together"},
        {MOD_CONTROL | MOD_SHIFT, HOTKEYF_CONTROL | HOTKEYF_SHIFT, "Ctrl+Shift"},
        {MOD_ALT | MOD_CONTROL | MOD_SHIFT, HOTKEYF_ALT | HOTKEYF_CONTROL | HOTKEYF_SHIFT, "all"},
    };
    for (const Row& row : both) {
        SCOPED_TRACE(row.catches);
        EXPECT_EQ(ModifiersToHotkeyFlags(row.modifiers), row.flags);
        EXPECT_EQ(HotkeyFlagsToModifiers(row.flags), row.modifiers);
    }
    // Bits without a counterpart are dropped.
    const Row toFlags[] = {
        {MOD_WIN, 0, "MOD_WIN alone"},
        {MOD_WIN | MOD_CONTROL | MOD_SHIFT, HOTKEYF_CONTROL | HOTKEYF_SHIFT, "MOD_WIN with others"},
        {0x7FFFFFF0 | MOD_ALT, HOTKEYF_ALT, "every higher bit"},
        {-1, HOTKEYF_ALT | HOTKEYF_CONTROL | HOTKEYF_SHIFT, "a negative value from the file"},
    };
    for (const Row& row : toFlags) {
        SCOPED_TRACE(row.catches);
        EXPECT_EQ(ModifiersToHotkeyFlags(row.modifiers), row.flags);
    }
    const Row toModifiers[] = {
        {0, HOTKEYF_EXT, "HOTKEYF_EXT alone"},
        {MOD_CONTROL, HOTKEYF_CONTROL | HOTKEYF_EXT, "HOTKEYF_EXT with Control"},
        {MOD_ALT | MOD_CONTROL | MOD_SHIFT, 0xFF, "every bit of the byte"},
    };
    for (const Row& row : toModifiers) {
        SCOPED_TRACE(row.catches);
        EXPECT_EQ(HotkeyFlagsToModifiers(row.flags), row.modifiers);
    }
}

// ---------------------------------------------------------------------------
// The template IDD_SETTINGS as compiled into vornick.exe

// A name-or-ordinal field of a dialog template.
struct NameOrOrdinal {
    WORD ordinal = 0;  // when the field holds an ordinal
    std::wstring name;
};

struct ControlTemplate {
    DWORD helpId, exStyle, style;
    short x, y, cx, cy;
    DWORD id;
    NameOrOrdinal className, text;
    WORD extraBytes;
};

struct DialogTemplate {
    WORD version, signature;
    DWORD helpId, exStyle, style;
    WORD count;
    short x, y, cx, cy;
    NameOrOrdinal menu, className;
    std::wstring caption;
    WORD pointSize, weight;
    BYTE italic, charset;
    std::wstring font;
    std::vector<ControlTemplate> controls;
};

// Reads a DLGTEMPLATEEX and its DLGITEMTEMPLATEEX records, field by field.
class TemplateReader {
public:
    TemplateReader(const BYTE* data, DWORD size) : data_(data), size_(size) {}

    bool Read(DialogTemplate* dialog) {
        dialog->version = Word();
        dialog->signature = Word();
        dialog->helpId = Dword();
        dialog->exStyle = Dword();
        dialog->style = Dword();
        dialog->count = Word();
        dialog->x = Word();
        dialog->y = Word();
        dialog->cx = Word();
        dialog->cy = Word();
        dialog->menu = Field();
        dialog->className = Field();
        dialog->caption = String();
        dialog->pointSize = Word();
        dialog->weight = Word();
        dialog->italic = Byte();
        dialog->charset = Byte();
        dialog->font = String();
        for (int i = 0; i < dialog->count && !overrun_; ++i) {
            Align(4);
            ControlTemplate control;
            control.helpId = Dword();
            control.exStyle = Dword();
            control.style = Dword();
            control.x = Word();
            control.y = Word();
            control.cx = Word();
            control.cy = Word();
            control.id = Dword();
            control.className = Field();
            control.text = Field();
            control.extraBytes = Word();
            offset_ += control.extraBytes;
            dialog->controls.push_back(control);
        }
        return !overrun_ && offset_ <= size_;
    }

private:
    BYTE Byte() { return Take(1) ? data_[offset_ - 1] : 0; }
    WORD Word() { return Take(2) ? *reinterpret_cast<const WORD*>(data_ + offset_ - 2) : 0; }
    DWORD Dword() { return Take(4) ? *reinterpret_cast<const DWORD*>(data_ + offset_ - 4) : 0; }
    std::wstring String() {
        std::wstring text;
        for (WORD c = Word(); c != 0 && !overrun_; c = Word()) text += static_cast<wchar_t>(c);
        return text;
    }
    NameOrOrdinal Field() {
        NameOrOrdinal field;
        if (offset_ + 2 <= size_ && *reinterpret_cast<const WORD*>(data_ + offset_) == 0xFFFF) {
            Word();
            field.ordinal = Word();
        } else {
            field.name = String();
        }
        return field;
    }
    void Align(DWORD to) { offset_ = (offset_ + to - 1) / to * to; }
    bool Take(DWORD bytes) {
        if (offset_ + bytes > size_) {
            overrun_ = true;
            return false;
        }
        offset_ += bytes;
        return true;
    }
    const BYTE* data_;
    DWORD size_;
    DWORD offset_ = 0;
    bool overrun_ = false;
};

std::wstring Lower(std::wstring text) {
    for (wchar_t& c : text) c = static_cast<wchar_t>(towlower(c));
    return text;
}

// What a control must be. A class is a predefined ordinal or its name, in
// any case (windres stores the names of the predefined classes as strings).
struct ExpectedControl {
    int id;
    WORD classOrdinal;  // 0: the class has no predefined ordinal
    const wchar_t* className;
    const wchar_t* text;  // nullptr: the text is the ordinal IDI_MAIN
    DWORD style;          // besides WS_CHILD | WS_VISIBLE
    DWORD exStyle;
    short x, y, cx, cy;
};

const WORD BUTTON = 0x80, EDIT = 0x81, STATIC = 0x82, LISTBOX = 0x83;

const ExpectedControl EXPECTED_CONTROLS[] = {
    {-1, BUTTON, L"button", L"バージョン情報", BS_GROUPBOX, WS_EX_STATICEDGE | WS_EX_DLGMODALFRAME,
     8, 6, 177, 45},
    {-1, STATIC, L"static", nullptr, SS_ICON, 0, 24, 21, 20, 21},
    {-1, STATIC, L"static", L"Vornick Version 1.00", SS_LEFT | SS_NOPREFIX | WS_GROUP, 0, 54, 22,
     119, 8},
    // The second line's text is the program's own; only its frame is fixed.
    {-1, STATIC, L"static", L"", SS_LEFT | WS_GROUP, 0, 54, 32, 119, 8},
    {IDOK, BUTTON, L"button", L"&OK", BS_DEFPUSHBUTTON | WS_GROUP | WS_TABSTOP, 0, 193, 6, 45, 16},
    {IDCANCEL, BUTTON, L"button", L"中止(&C)", BS_PUSHBUTTON | WS_GROUP | WS_TABSTOP, 0, 194, 25,
     44, 16},
    {IDC_PHRASE_EDIT, EDIT, L"edit", L"", ES_AUTOHSCROLL | ES_NOHIDESEL | WS_BORDER | WS_TABSTOP, 0,
     8, 59, 177, 14},
    {IDC_ADD, BUTTON, L"button", L"追加(&A)", BS_PUSHBUTTON | WS_TABSTOP, 0, 188, 59, 50, 14},
    {IDC_PHRASE_LIST, LISTBOX, L"listbox", L"",
     LBS_NOTIFY | LBS_NOINTEGRALHEIGHT | LBS_DISABLENOSCROLL | WS_VSCROLL | WS_BORDER | WS_TABSTOP,
     0, 8, 78, 177, 89},
    {-1, STATIC, L"static", L"選択した項目を", SS_LEFT | WS_GROUP, 0, 188, 86, 46, 8},
    {IDC_DELETE, BUTTON, L"button", L"削除(&D)", BS_PUSHBUTTON | WS_TABSTOP, 0, 188, 99, 50, 14},
    {-1, STATIC, L"static", L"移動", SS_LEFT | WS_GROUP, 0, 189, 122, 17, 8},
    {IDC_UP, BUTTON, L"button", L"上へ(&U)", BS_PUSHBUTTON | WS_TABSTOP, 0, 188, 133, 50, 14},
    {IDC_DOWN, BUTTON, L"button", L"下へ(&D)", BS_PUSHBUTTON | WS_TABSTOP, 0, 188, 149, 50, 14},
    {-1, STATIC, L"static", L"メニュー表示用ショートカットキー(&K)：", SS_RIGHT | WS_GROUP, 0, 9,
     177, 145, 8},
    {IDC_HOTKEY, 0, L"msctls_hotkey32", L"HotKey1", WS_BORDER | WS_TABSTOP, 0, 158, 174, 80, 14},
};

class SettingsTemplateTest : public ::testing::Test {
protected:
    void SetUp() override {
        module_ = LoadLibraryExA(g_exePath.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_NE(module_, nullptr) << g_exePath;
        HRSRC found = FindResourceExA(module_, RT_DIALOG, MAKEINTRESOURCEA(IDD_SETTINGS),
                                      MAKELANGID(0x11, 0x01));
        ASSERT_NE(found, nullptr) << "no dialog 103 in language 1041";
        const BYTE* data = static_cast<const BYTE*>(LockResource(LoadResource(module_, found)));
        ASSERT_NE(data, nullptr);
        ASSERT_TRUE(TemplateReader(data, SizeofResource(module_, found)).Read(&dialog_))
            << "the template is shorter than its fields";
    }
    void TearDown() override {
        if (module_) FreeLibrary(module_);
    }
    HMODULE module_ = nullptr;
    DialogTemplate dialog_ = {};
};

TEST_F(SettingsTemplateTest, DialogIsTheExtendedTemplateWithItsFrameCaptionAndFont) {
    EXPECT_EQ(dialog_.version, 1);
    EXPECT_EQ(dialog_.signature, 0xFFFF);
    EXPECT_EQ(dialog_.helpId, 0u);
    EXPECT_EQ(dialog_.style, 0x00CA08C4u);
    EXPECT_EQ(dialog_.style,
              static_cast<DWORD>(WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | DS_CENTER |
                                 DS_MODALFRAME | DS_SETFONT | DS_3DLOOK));
    EXPECT_EQ(dialog_.exStyle, static_cast<DWORD>(WS_EX_CLIENTEDGE));
    EXPECT_EQ(dialog_.x, 22);
    EXPECT_EQ(dialog_.y, 17);
    EXPECT_EQ(dialog_.cx, 243);
    EXPECT_EQ(dialog_.cy, 196);
    EXPECT_EQ(dialog_.menu.ordinal, 0);
    EXPECT_EQ(dialog_.menu.name, L"") << "no menu";
    EXPECT_EQ(dialog_.className.ordinal, 0);
    EXPECT_EQ(dialog_.className.name, L"") << "the predefined dialog class";
    EXPECT_EQ(dialog_.caption, L"設定 ＆Version情報");
    EXPECT_EQ(dialog_.pointSize, 9);
    EXPECT_EQ(dialog_.weight, 0) << "default weight";
    EXPECT_EQ(dialog_.italic, 0);
    EXPECT_EQ(dialog_.charset, 1);
    EXPECT_EQ(dialog_.font, L"ＭＳ Ｐゴシック");
    EXPECT_EQ(dialog_.count, sizeof EXPECTED_CONTROLS / sizeof EXPECTED_CONTROLS[0]);
}

TEST_F(SettingsTemplateTest, ControlsComeInTabOrderWithTheirIdsClassesTextsStylesAndFrames) {
    const size_t expectedCount = sizeof EXPECTED_CONTROLS / sizeof EXPECTED_CONTROLS[0];
    ASSERT_EQ(dialog_.controls.size(), expectedCount);
    for (size_t i = 0; i < expectedCount; ++i) {
        const ExpectedControl& expected = EXPECTED_CONTROLS[i];
        const ControlTemplate& control = dialog_.controls[i];
        SCOPED_TRACE("control " + std::to_string(i) + ", id " + std::to_string(expected.id));
        EXPECT_EQ(control.id, static_cast<DWORD>(expected.id));
        if (control.className.name.empty()) {
            EXPECT_NE(expected.classOrdinal, 0) << "an ordinal where a name belongs";
            EXPECT_EQ(control.className.ordinal, expected.classOrdinal);
        } else {
            EXPECT_EQ(Lower(control.className.name), Lower(expected.className));
        }
        if (expected.text) {
            EXPECT_EQ(control.text.ordinal, 0);
            // The version box's second line may say anything.
            if (i != 3) {
                EXPECT_EQ(control.text.name, expected.text);
            }
        } else {
            EXPECT_EQ(control.text.ordinal, IDI_MAIN);
            EXPECT_EQ(control.text.name, L"");
        }
        EXPECT_EQ(control.style, expected.style | WS_CHILD | WS_VISIBLE)
            << std::hex << "0x" << control.style << " instead of 0x"
            << (expected.style | WS_CHILD | WS_VISIBLE);
        EXPECT_EQ(control.exStyle, expected.exStyle);
        EXPECT_EQ(control.helpId, 0u);
        EXPECT_EQ(control.x, expected.x);
        EXPECT_EQ(control.y, expected.y);
        EXPECT_EQ(control.cx, expected.cx);
        EXPECT_EQ(control.cy, expected.cy);
        EXPECT_EQ(control.extraBytes, 0);
    }
}

// ---------------------------------------------------------------------------
// The dialog, run by OpenSettingsDialog in this process

// One action on the open dialog. Steps run one per timer tick inside the
// dialog's modal loop, so that what one step posts is handled before the next.
typedef std::function<void(HWND dialog)> Step;

// A message box that the dialog showed, as the script found it.
struct MessageSeen {
    HWND owner = nullptr;
    std::wstring caption, text;
};

struct DialogScript {
    const std::vector<Step>* steps = nullptr;
    size_t next = 0;
    HWND first = nullptr;  // the dialog that the script drives
    bool nestedOpen = false;
    int nestedDialogs = 0;             // dialogs seen inside a nested OpenSettingsDialog
    std::vector<MessageSeen> notices;  // the message boxes closed, in order
};
DialogScript g_script;

BOOL CALLBACK CollectDialog(HWND window, LPARAM found) {
    char className[16];
    if (IsWindowVisible(window) && GetClassNameA(window, className, sizeof className) &&
        lstrcmpA(className, "#32770") == 0)
        reinterpret_cast<std::vector<HWND>*>(found)->push_back(window);
    return TRUE;
}

// The visible dialogs of this thread.
std::vector<HWND> Dialogs() {
    std::vector<HWND> found;
    EnumThreadWindows(GetCurrentThreadId(), CollectDialog, reinterpret_cast<LPARAM>(&found));
    return found;
}

// A message box over the dialog is read and closed, as its user would, before
// any further step runs.
bool CloseNotice(const std::vector<HWND>& dialogs) {
    for (HWND box : dialogs) {
        if (box == g_script.first) continue;
        MessageSeen notice;
        notice.owner = GetWindow(box, GW_OWNER);
        wchar_t text[1024] = L"";
        GetWindowTextW(box, text, ARRAYSIZE(text));
        notice.caption = text;
        GetDlgItemTextW(box, 0xFFFF, text, ARRAYSIZE(text));  // the text's static
        notice.text = text;
        g_script.notices.push_back(notice);
        PostMessageA(box, WM_COMMAND, IDOK, 0);
        return true;
    }
    return false;
}

void CALLBACK OnScriptTimer(HWND, UINT, UINT_PTR, DWORD) {
    std::vector<HWND> dialogs = Dialogs();
    if (dialogs.empty()) return;
    if (g_script.nestedOpen) {
        // A second OpenSettingsDialog has opened a dialog and is running it:
        // count it and end it, so that the first call can go on.
        for (HWND dialog : dialogs) {
            if (dialog != g_script.first) {
                ++g_script.nestedDialogs;
                EndDialog(dialog, 0);
            }
        }
        return;
    }
    if (!g_script.first) g_script.first = dialogs.front();
    if (CloseNotice(dialogs)) return;
    if (g_script.next < g_script.steps->size()) {
        (*g_script.steps)[g_script.next++](g_script.first);
    } else {
        // Every step has run and the dialog is still open: a step failed
        // before it could close the dialog.
        ADD_FAILURE() << "the dialog was still open after the last step";
        EndDialog(g_script.first, 0);
    }
}

LRESULT Send(HWND window, UINT message, WPARAM wParam = 0, LPARAM lParam = 0) {
    return SendMessageA(window, message, wParam, lParam);
}

std::vector<std::string> ListItems(HWND dialog) {
    HWND list = GetDlgItem(dialog, IDC_PHRASE_LIST);
    std::vector<std::string> items;
    int count = static_cast<int>(Send(list, LB_GETCOUNT));
    for (int i = 0; i < count; ++i) {
        std::string text(Send(list, LB_GETTEXTLEN, i) + 1, '\0');
        text.resize(Send(list, LB_GETTEXT, i, reinterpret_cast<LPARAM>(&text[0])));
        items.push_back(text);
    }
    return items;
}

std::string EditText() {
    std::string text(GetWindowTextLengthA(app.dialogEdit) + 1, '\0');
    text.resize(GetWindowTextA(app.dialogEdit, &text[0], static_cast<int>(text.size())));
    return text;
}

// Selects an item as a click does: the list box notifies its dialog.
void ClickItem(HWND dialog, int index) {
    Send(app.dialogList, LB_SETCURSEL, index);
    Send(dialog, WM_COMMAND, MAKEWPARAM(IDC_PHRASE_LIST, LBN_SELCHANGE),
         reinterpret_cast<LPARAM>(app.dialogList));
}

std::vector<std::pair<UINT, std::string>> PhraseMenuItems() {
    std::vector<std::pair<UINT, std::string>> items;
    int count = GetMenuItemCount(app.phraseMenu);
    for (int i = 0; i < count; ++i) {
        char text[256] = "";
        GetMenuStringA(app.phraseMenu, i, text, sizeof text, MF_BYPOSITION);
        items.push_back({GetMenuItemID(app.phraseMenu, i), text});
    }
    return items;
}

std::vector<std::pair<UINT, std::string>> MenuFor(const PhraseList& phrases) {
    std::vector<std::pair<UINT, std::string>> items;
    for (size_t i = 0; i < phrases.size(); ++i)
        items.push_back({IDM_PHRASE_BASE + static_cast<UINT>(i), phrases[i]});
    return items;
}

// The entries of the settings file's section, as the platform reads them.
std::vector<std::string> SectionEntries() {
    std::vector<std::string> entries;
    static char buffer[32768];
    DWORD length = GetPrivateProfileSectionA("DefStr", buffer, sizeof buffer, "./vornick.ini");
    for (DWORD start = 0; start < length;) {
        entries.push_back(buffer + start);
        start += static_cast<DWORD>(entries.back().size()) + 1;
    }
    return entries;
}

std::string SectionNames() {
    char buffer[1024];
    DWORD length = GetPrivateProfileSectionNamesA(buffer, sizeof buffer, "./vornick.ini");
    return std::string(buffer, length);
}

class SettingsDialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetState();
        app.instance = GetModuleHandleA(nullptr);
        app.smallIcon = static_cast<HICON>(
            LoadImageA(app.instance, MAKEINTRESOURCEA(IDI_SMALL), IMAGE_ICON, 16, 16, 0));
        app.mainWindow = CreateWindowExA(0, "STATIC", "main", 0, 0, 0, 0, 0, nullptr, nullptr,
                                         app.instance, nullptr);
        other_ = CreateWindowExA(0, "STATIC", "other", 0, 0, 0, 0, 0, nullptr, nullptr,
                                 app.instance, nullptr);
        ASSERT_NE(app.mainWindow, nullptr);
        LoadMenus();
        ASSERT_NE(app.phraseMenu, nullptr);
    }
    void TearDown() override {
        UnregisterHotKey(app.mainWindow, HOTKEY_ID);
        DestroyWindow(app.mainWindow);
        DestroyWindow(other_);
        DestroyMenu(app.menuResource);
        ResetState();
    }
    static void ResetState() {
        app.phrases.clear();
        app.hotkeyVk = app.hotkeyModifiers = 0;
        app.mainWindow = nullptr;
        app.smallIcon = nullptr;
        app.phraseMenu = app.trayMenu = app.menuResource = nullptr;
        app.dialogOpen = false;
        app.dialogEdit = app.dialogList = nullptr;
    }

    // Writes the settings file and starts as the program does: load, build
    // the phrase menu, register the hotkey.
    void Start(const std::string& ini) {
        WriteFileBytes("vornick.ini", ini);
        LoadSettings();
        RebuildPhraseMenu();
        if (app.hotkeyVk != 0)
            RegisterHotKey(app.mainWindow, HOTKEY_ID, app.hotkeyModifiers, app.hotkeyVk);
    }

    // Opens the dialog through OpenSettingsDialog and runs the steps on it.
    void RunDialog(const std::vector<Step>& steps) {
        g_script = DialogScript();
        g_script.steps = &steps;
        UINT_PTR timer = SetTimer(nullptr, 0, 20, OnScriptTimer);
        OpenSettingsDialog();
        KillTimer(nullptr, timer);
        EXPECT_NE(g_script.first, nullptr) << "no dialog appeared";
        EXPECT_EQ(g_script.next, steps.size()) << "the dialog closed before every step ran";
        EXPECT_FALSE(app.dialogOpen);
    }

    // Whether some window holds this combination: registering it elsewhere
    // then fails. A free combination is released again at once.
    bool Taken(int modifiers, int vk) {
        if (!RegisterHotKey(other_, 1, modifiers, vk)) return true;
        UnregisterHotKey(other_, 1);
        return false;
    }
    // Whether the main window has HOTKEY_ID registered (it is released).
    bool MainWindowHadHotkey() { return UnregisterHotKey(app.mainWindow, HOTKEY_ID) != FALSE; }

    static void Command(HWND dialog, int id) { Send(dialog, WM_COMMAND, id, 0); }
    static void SetEdit(const char* text) { SetWindowTextA(app.dialogEdit, text); }
    static void Select(int index) { Send(app.dialogList, LB_SETCURSEL, index); }
    static void SetHotkey(HWND dialog, WORD value) {
        Send(GetDlgItem(dialog, IDC_HOTKEY), HKM_SETHOTKEY, value);
    }
    static WORD Hotkey(HWND dialog) {
        return static_cast<WORD>(Send(GetDlgItem(dialog, IDC_HOTKEY), HKM_GETHOTKEY));
    }
    // OK from anywhere but the edit box, as a click on the button is.
    static void ConfirmWithFocusOnTheList(HWND dialog) {
        SetFocus(app.dialogList);
        Command(dialog, IDOK);
    }

    HWND other_ = nullptr;
    ScopedWorkDir dir_;
};

const char FOUR_PHRASES[] =
    "[DefStr]\r\nlen=4\r\nVK=123\r\nshift=6\r\n0=alpha\r\n1=\r\n2=gamma\r\n3=delta\r\n";

TEST_F(SettingsDialogTest, OpensOnTheLoadedStateWithTheHotkeyReleased) {
    Start(FOUR_PHRASES);
    RunDialog({[&](HWND dialog) {
        EXPECT_TRUE(app.dialogOpen);
        EXPECT_EQ(app.dialogEdit, GetDlgItem(dialog, IDC_PHRASE_EDIT));
        EXPECT_EQ(app.dialogList, GetDlgItem(dialog, IDC_PHRASE_LIST));
        EXPECT_EQ(ListItems(dialog), (std::vector<std::string>{"alpha", "", "gamma", "delta"}));
        EXPECT_EQ(Send(app.dialogList, LB_GETCURSEL), LB_ERR);
        EXPECT_EQ(Hotkey(dialog), MAKEWORD(VK_F12, HOTKEYF_CONTROL | HOTKEYF_SHIFT));
        EXPECT_EQ(Send(app.dialogEdit, EM_GETLIMITTEXT), 1023);
        EXPECT_EQ(reinterpret_cast<HICON>(Send(dialog, WM_GETICON, ICON_SMALL)), app.smallIcon);
        EXPECT_EQ(GetFocus(), app.dialogEdit);
        // Pressing the hotkey in the hotkey control must not open the menu.
        EXPECT_FALSE(Taken(MOD_CONTROL | MOD_SHIFT, VK_F12)) << "the hotkey is still registered";
        Command(dialog, IDCANCEL);
    }});
    // The handles stay behind when the dialog has closed.
    EXPECT_NE(app.dialogList, nullptr);
    EXPECT_FALSE(IsWindow(app.dialogList));
}

// What a row of the editing table does to the open dialog: a button pressed,
// or the list telling its dialog of a click on an item or of the focus.
struct Press {
    int id;
    WORD code;
    const char* name;
};
const Press ADD = {IDC_ADD, BN_CLICKED, "Add"}, DEL = {IDC_DELETE, BN_CLICKED, "Delete"},
            UP = {IDC_UP, BN_CLICKED, "Up"}, DOWN = {IDC_DOWN, BN_CLICKED, "Down"},
            CLICK = {IDC_PHRASE_LIST, LBN_SELCHANGE, "a click on the list"},
            FOCUS = {IDC_PHRASE_LIST, LBN_SETFOCUS, "the focus into the list"};

// Makes the press: a button is clicked by message, as the mouse clicks it; a
// list notification follows a selection already made, as the list sends it.
void Make(HWND dialog, const Press& press) {
    HWND control = GetDlgItem(dialog, press.id);
    if (press.id == IDC_PHRASE_LIST) {
        Send(dialog, WM_COMMAND, MAKEWPARAM(press.id, press.code),
             reinterpret_cast<LPARAM>(control));
    } else {
        Send(control, BM_CLICK);
    }
}

// A list written as its items between bars: "alpha||gamma" holds an empty
// item, and "" is the empty list.
std::vector<std::string> Items(const std::string& bars) {
    std::vector<std::string> items;
    if (bars.empty()) return items;
    size_t start = 0;
    for (size_t bar; (bar = bars.find('|', start)) != std::string::npos; start = bar + 1)
        items.push_back(bars.substr(start, bar - start));
    items.push_back(bars.substr(start));
    return items;
}

// The editing rules of the list, one row each: the list, its selection and
// the edit box before, one press, and all three afterwards. Every row starts
// with the caret at the start of the edit box; "keep" in the edit box shows
// that a press left it alone. A selection made by message (as Add, Delete,
// Up and Down make theirs) sends no notification, so the edit box changes
// only where the dialog changes it.
TEST_F(SettingsDialogTest, ListEditingRules) {
    const int NONE = LB_ERR;
    const char ABC[] = "alpha|beta|gamma";
    struct Row {
        const char* list;
        int selected;
        const char* edit;
        Press press;
        const char* listAfter;
        int selectedAfter;
        const char* editAfter;
        bool wholeSelected;  // the edit box's whole text selected afterwards
        const char* catches;
    };
    const Row rows[] = {
        // Add
        {ABC, NONE, "new", ADD, "alpha|beta|gamma|new", 3, "", false,
         "nothing selected: appended at the end, selected, the edit box emptied"},
        {ABC, 1, "new", ADD, "alpha|new|beta|gamma", 1, "", false,
         "inserted before the selected item, at its index, and the new item selected"},
        {ABC, 0, "new", ADD, "new|alpha|beta|gamma", 0, "", false, "before the first item"},
        {ABC, 2, "new", ADD, "alpha|beta|new|gamma", 2, "", false,
         "the last item selected: before it, not after it"},
        {"", NONE, "new", ADD, "new", 0, "", false, "into an empty list"},
        {ABC, 1, "beta", ADD, "alpha|beta|beta|gamma", 1, "", false,
         "the selected item's own text, as a click leaves it: a duplicate before it, and "
         "the box not refilled from the new selection"},
        {ABC, NONE, " ", ADD, "alpha|beta|gamma| ", 3, "", false,
         "white space is text: only an empty box is refused"},
        {ABC, NONE, "", ADD, ABC, NONE, "", false, "an empty box adds nothing"},
        {ABC, 1, "", ADD, ABC, 1, "", false, "an empty box leaves the selection too"},
        // Delete
        {ABC, NONE, "keep", DEL, ABC, NONE, "keep", false, "nothing selected: nothing deleted"},
        {ABC, 1, "keep", DEL, "alpha|gamma", 1, "keep", false,
         "the next item takes the deleted one's place and its selection"},
        {ABC, 0, "keep", DEL, "beta|gamma", 0, "keep", false, "the first item"},
        {ABC, 2, "keep", DEL, "alpha|beta", 1, "keep", false,
         "the last of several: the new last item selected"},
        {"alpha", 0, "keep", DEL, "", NONE, "keep", false,
         "the only item: an empty list with no selection"},
        {"", NONE, "keep", DEL, "", NONE, "keep", false, "an empty list"},
        // Up
        {ABC, NONE, "keep", UP, ABC, NONE, "keep", false, "nothing selected: nothing moves"},
        {ABC, 0, "keep", UP, ABC, 0, "keep", false, "the first item stays, still selected"},
        {ABC, 1, "keep", UP, "beta|alpha|gamma", 0, "keep", false,
         "swapped with the item above; the selection follows"},
        {ABC, 2, "keep", UP, "alpha|gamma|beta", 1, "keep", false, "the last item"},
        {"alpha||gamma", 1, "keep", UP, "|alpha|gamma", 0, "keep", false,
         "an empty item moves and stays empty"},
        {"alpha", 0, "keep", UP, "alpha", 0, "keep", false, "the only item"},
        // Down
        {ABC, NONE, "keep", DOWN, ABC, NONE, "keep", false, "nothing selected: nothing moves"},
        {ABC, 2, "keep", DOWN, ABC, 2, "keep", false, "the last item stays, still selected"},
        {ABC, 1, "keep", DOWN, "alpha|gamma|beta", 2, "keep", false,
         "swapped with the item below; the selection follows"},
        {ABC, 0, "keep", DOWN, "beta|alpha|gamma", 1, "keep", false, "the first item"},
        {"alpha", 0, "keep", DOWN, "alpha", 0, "keep", false, "the only item"},
        // A click on the list
        {ABC, 2, "keep", CLICK, ABC, 2, "gamma", true,
         "the clicked item is copied into the edit box with all of its text selected"},
        {"alpha||gamma", 1, "keep", CLICK, "alpha||gamma", 1, "", false,
         "an empty item empties the edit box"},
        {ABC, NONE, "keep", CLICK, ABC, NONE, "keep", false,
         "a change that leaves nothing selected copies nothing"},
        {ABC, 1, "keep", FOCUS, ABC, 1, "keep", false,
         "only a selection change copies: tabbing into the list keeps the typed text"},
    };
    Start(FOUR_PHRASES);
    const PhraseList loaded = app.phrases;
    RunDialog({[&](HWND dialog) {
        for (const Row& row : rows) {
            SCOPED_TRACE(std::string(row.press.name) + ": " + row.catches);
            Send(app.dialogList, LB_RESETCONTENT);
            for (const std::string& item : Items(row.list))
                Send(app.dialogList, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item.c_str()));
            Select(row.selected);
            SetEdit(row.edit);
            Send(app.dialogEdit, EM_SETSEL, 0, 0);
            ASSERT_EQ(ListItems(dialog), Items(row.list));
            ASSERT_EQ(Send(app.dialogList, LB_GETCURSEL), row.selected);

            Make(dialog, row.press);

            EXPECT_EQ(ListItems(dialog), Items(row.listAfter));
            EXPECT_EQ(Send(app.dialogList, LB_GETCURSEL), row.selectedAfter);
            EXPECT_EQ(EditText(), row.editAfter);
            DWORD start = 0, end = 0;
            Send(app.dialogEdit, EM_GETSEL, reinterpret_cast<WPARAM>(&start),
                 reinterpret_cast<LPARAM>(&end));
            const DWORD selectedEnd = row.wholeSelected ? lstrlenA(row.editAfter) : 0;
            EXPECT_EQ(start, 0u);
            EXPECT_EQ(end, selectedEnd);
            EXPECT_EQ(app.phrases, loaded) << "the phrases changed before OK";
        }
        Command(dialog, IDCANCEL);
    }});
}

TEST_F(SettingsDialogTest, OkReplacesPhrasesSavesRebuildsTheMenuAndRegistersTheNewHotkey) {
    Start(FOUR_PHRASES);
    std::vector<std::string> listAtOk;
    RunDialog({[&](HWND dialog) {
        Select(3);
        Command(dialog, IDC_DELETE);  // alpha, "", gamma
        Select(0);
        Command(dialog, IDC_DELETE);  // "", gamma
        SetEdit("new one");
        Command(dialog, IDC_ADD);  // before the selected item 0
        SetHotkey(dialog, MAKEWORD(VK_F11, HOTKEYF_ALT | HOTKEYF_EXT));
        // Typed but never added: only the list is saved.
        SetEdit("not added");
        listAtOk = ListItems(dialog);
        ConfirmWithFocusOnTheList(dialog);
    }});
    const PhraseList expected = {"new one", "", "gamma"};
    EXPECT_EQ(listAtOk, expected);
    EXPECT_EQ(app.phrases, expected);
    EXPECT_EQ(app.hotkeyVk, VK_F11);
    EXPECT_EQ(app.hotkeyModifiers, MOD_ALT);
    EXPECT_EQ(PhraseMenuItems(), MenuFor(expected));
    // The entry beyond the new length stays as it was.
    EXPECT_EQ(SectionEntries(), (std::vector<std::string>{"len=3", "VK=122", "shift=1", "0=new one",
                                                          "1=", "2=gamma", "3=delta"}));
    EXPECT_EQ(SectionNames(), std::string("DefStr\0", 7));
    EXPECT_TRUE(Taken(MOD_ALT, VK_F11));
    EXPECT_FALSE(Taken(MOD_CONTROL | MOD_SHIFT, VK_F12));
}

TEST_F(SettingsDialogTest, OkWithTheFocusInTheEditBoxAddsAndStaysOpen) {
    Start(FOUR_PHRASES);
    std::string before = ReadFileBytes("vornick.ini");
    RunDialog({[&](HWND dialog) {
                   SetFocus(app.dialogEdit);
                   SetEdit("typed");
                   Command(dialog, IDOK);
                   EXPECT_TRUE(IsWindowVisible(dialog));
                   // The Add is posted: nothing has changed yet.
                   EXPECT_EQ(ListItems(dialog).size(), 4u);
               },
               [&](HWND dialog) {
                   EXPECT_EQ(ListItems(dialog),
                             (std::vector<std::string>{"alpha", "", "gamma", "delta", "typed"}));
                   EXPECT_EQ(ReadFileBytes("vornick.ini"), before);
                   EXPECT_EQ(app.phrases.size(), 4u);
                   Command(dialog, IDCANCEL);
               }});
}

TEST_F(SettingsDialogTest, CancelLeavesPhrasesMenuAndFileAndRegistersTheOldHotkeyAgain) {
    Start(FOUR_PHRASES);
    const std::string before = ReadFileBytes("vornick.ini");
    const PhraseList phrases = app.phrases;
    const auto menu = PhraseMenuItems();
    RunDialog({[&](HWND dialog) {
        Select(0);
        Command(dialog, IDC_DELETE);
        SetEdit("added");
        Command(dialog, IDC_ADD);
        Command(dialog, IDC_DOWN);
        SetHotkey(dialog, MAKEWORD('Q', HOTKEYF_CONTROL));
        Command(dialog, IDCANCEL);
    }});
    EXPECT_EQ(app.phrases, phrases);
    EXPECT_EQ(PhraseMenuItems(), menu);
    EXPECT_EQ(ReadFileBytes("vornick.ini"), before);
    EXPECT_EQ(app.hotkeyVk, VK_F12);
    EXPECT_EQ(app.hotkeyModifiers, MOD_CONTROL | MOD_SHIFT);
    EXPECT_TRUE(Taken(MOD_CONTROL | MOD_SHIFT, VK_F12));
    EXPECT_FALSE(Taken(MOD_CONTROL, 'Q'));
}

TEST_F(SettingsDialogTest, HotkeyTravelsThroughTheControlIntoStateFileAndRegistration) {
    struct Row {
        int loadedVk, loadedModifiers;
        WORD shown;  // what the control holds when the dialog opens
        bool set;    // whether the row sets the control to `value`
        WORD value;
        int savedVk, savedModifiers;  // 0 VK: nothing may be registered
        const char* catches;
    };
    const Row rows[] = {
        {VK_F12, MOD_WIN | MOD_CONTROL | MOD_SHIFT,
         MAKEWORD(VK_F12, HOTKEYF_CONTROL | HOTKEYF_SHIFT), false, 0, VK_F12,
         MOD_CONTROL | MOD_SHIFT, "MOD_WIN from the file is dropped"},
        {'A', MOD_ALT, MAKEWORD('A', HOTKEYF_ALT), false, 0, 'A', MOD_ALT,
         "Alt is a different bit in the control and comes back"},
        {0x17B, MOD_CONTROL, MAKEWORD(0x7B, HOTKEYF_CONTROL), false, 0, 0x7B, MOD_CONTROL,
         "only the low byte of the key code reaches the control"},
        {VK_F12, MOD_CONTROL | MOD_SHIFT, MAKEWORD(VK_F12, HOTKEYF_CONTROL | HOTKEYF_SHIFT), true,
         0, 0, 0, "a cleared control saves no hotkey"},
        {VK_F12, MOD_CONTROL | MOD_SHIFT, MAKEWORD(VK_F12, HOTKEYF_CONTROL | HOTKEYF_SHIFT), true,
         MAKEWORD(0, HOTKEYF_CONTROL), 0, MOD_CONTROL,
         "modifiers without a key are saved, but nothing is registered"},
        {0, 0, 0, true, MAKEWORD(VK_F12, 0), VK_F12, 0, "a key without modifiers"},
        {0, 0, 0, true, MAKEWORD(VK_INSERT, HOTKEYF_CONTROL | HOTKEYF_EXT), VK_INSERT, MOD_CONTROL,
         "HOTKEYF_EXT is dropped"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.catches);
        app.phrases.clear();
        Start("[DefStr]\r\nlen=1\r\nVK=" + std::to_string(row.loadedVk) +
              "\r\nshift=" + std::to_string(row.loadedModifiers) + "\r\n0=one\r\n");
        RunDialog({[&](HWND dialog) {
            EXPECT_EQ(Hotkey(dialog), row.shown);
            if (row.set) SetHotkey(dialog, row.value);
            ConfirmWithFocusOnTheList(dialog);
        }});
        EXPECT_EQ(app.hotkeyVk, row.savedVk);
        EXPECT_EQ(app.hotkeyModifiers, row.savedModifiers);
        EXPECT_EQ(GetPrivateProfileIntA("DefStr", "VK", -1, "./vornick.ini"), row.savedVk);
        EXPECT_EQ(GetPrivateProfileIntA("DefStr", "shift", -1, "./vornick.ini"),
                  row.savedModifiers);
        if (row.savedVk != 0) {
            EXPECT_TRUE(Taken(row.savedModifiers, row.savedVk));
        } else {
            EXPECT_FALSE(MainWindowHadHotkey()) << "a hotkey is registered";
        }
        UnregisterHotKey(app.mainWindow, HOTKEY_ID);
    }
}

std::wstring SystemReason(DWORD error) {
    wchar_t text[512] = L"";
    char ansi[512] = "";
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                  nullptr, error, 0, ansi, sizeof ansi, nullptr);
    while (length > 0 && (ansi[length - 1] == '\r' || ansi[length - 1] == '\n')) ansi[--length] = 0;
    MultiByteToWideChar(CP_ACP, 0, ansi, -1, text, 512);
    return text;
}

std::wstring Wide(const std::string& text) {
    wchar_t wide[1024] = L"";
    MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, wide, 1024);
    return wide;
}

// Another process that holds a file open without sharing, as an editor or a
// backup program may: this program run as `--hold-file PATH`. It says "held"
// on its output once the file is open, and lets it go when its input closes.
int HoldFile(const char* path) {
    HANDLE file =
        CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 1;
    DWORD count;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), "held", 4, &count, nullptr);
    char byte;
    while (ReadFile(GetStdHandle(STD_INPUT_HANDLE), &byte, 1, &count, nullptr) && count > 0) {
    }
    CloseHandle(file);
    return 0;
}

class FileHolder {
public:
    // Starts the holder on `path` and waits until it holds the file.
    explicit FileHolder(const std::string& path) {
        SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
        HANDLE childInput, childOutput;
        if (!CreatePipe(&childInput, &input_, &inherit, 0) ||
            !CreatePipe(&output_, &childOutput, &inherit, 0))
            return;
        SetHandleInformation(input_, HANDLE_FLAG_INHERIT, 0);
        SetHandleInformation(output_, HANDLE_FLAG_INHERIT, 0);
        char self[MAX_PATH];
        GetModuleFileNameA(nullptr, self, sizeof self);
        std::string command = "\"" + std::string(self) + "\" --hold-file \"" + path + "\"";
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = childInput;
        startup.hStdOutput = childOutput;
        startup.hStdError = childOutput;
        PROCESS_INFORMATION process = {};
        if (CreateProcessA(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                           &startup, &process)) {
            process_ = process.hProcess;
            CloseHandle(process.hThread);
        }
        CloseHandle(childInput);
        CloseHandle(childOutput);
        char said[4] = {};
        DWORD count = 0;
        held_ = process_ && ReadFile(output_, said, sizeof said, &count, nullptr) && count == 4 &&
                memcmp(said, "held", 4) == 0;
    }
    // Lets the file go and waits for the holder to end.
    ~FileHolder() { Release(); }
    void Release() {
        if (input_) CloseHandle(input_);
        input_ = nullptr;
        if (process_) {
            WaitForSingleObject(process_, 10000);
            CloseHandle(process_);
        }
        process_ = nullptr;
        if (output_) CloseHandle(output_);
        output_ = nullptr;
    }
    bool held() const { return held_; }

private:
    HANDLE input_ = nullptr, output_ = nullptr, process_ = nullptr;
    bool held_ = false;
};

TEST_F(SettingsDialogTest, FailedSaveKeepsTheDialogOpenSaysWhyAndLosesNothing) {
    // Each fault, made and undone in the folder of the settings file.
    struct Fault {
        const char* what;
        std::function<void(const std::string& folder)> make, undo;
        std::string fileShown;  // the file that the message must name
        std::string folderShown;  // and the folder, where it took no new file
        DWORD error;
        bool retry;  // OK again once the fault is gone; otherwise Cancel
    };
    const std::string folder = dir_.path();
    std::unique_ptr<FileHolder> holder;
    const Fault faults[] = {
        {"read-only file",
         [](const std::string& f) {
             SetFileAttributesA((f + "\\vornick.ini").c_str(), FILE_ATTRIBUTE_READONLY);
         },
         [](const std::string& f) {
             SetFileAttributesA((f + "\\vornick.ini").c_str(), FILE_ATTRIBUTE_NORMAL);
         },
         folder + "\\vornick.ini", "", ERROR_ACCESS_DENIED, true},
        {"file held open by another process without sharing",
         [&](const std::string& f) {
             holder.reset(new FileHolder(f + "\\vornick.ini"));
             EXPECT_TRUE(holder->held());
         },
         [&](const std::string&) { holder.reset(); }, folder + "\\vornick.ini", "",
         ERROR_SHARING_VIOLATION, false},
        // /sys takes no new files, whoever asks.
        {"folder that cannot be written",
         [](const std::string&) { EXPECT_TRUE(SetCurrentDirectoryA("Z:\\sys")); },
         [](const std::string& f) { SetCurrentDirectoryA(f.c_str()); }, "Z:\\sys\\vornick.ini",
         "Z:\\sys\\\n", ERROR_ACCESS_DENIED, true},
    };
    for (const Fault& fault : faults) {
        SCOPED_TRACE(fault.what);
        app.phrases.clear();
        Start(FOUR_PHRASES);
        const std::string before = ReadFileBytes("vornick.ini");
        const PhraseList phrases = app.phrases;
        const auto menu = PhraseMenuItems();
        const std::vector<std::string> edited = {"alpha", "", "gamma", "delta", "added"};
        RunDialog({[&](HWND dialog) {
                       SetEdit("added");
                       Command(dialog, IDC_ADD);
                       SetHotkey(dialog, MAKEWORD('Q', HOTKEYF_CONTROL));
                       fault.make(folder);
                       ConfirmWithFocusOnTheList(dialog);  // the box is closed inside
                       ASSERT_EQ(g_script.notices.size(), 1u) << "no message box";
                       EXPECT_TRUE(IsWindowVisible(dialog)) << "the dialog closed";
                       EXPECT_EQ(ListItems(dialog), edited);
                       EXPECT_EQ(Hotkey(dialog), MAKEWORD('Q', HOTKEYF_CONTROL));
                       EXPECT_EQ(app.phrases, phrases);
                       EXPECT_EQ(app.hotkeyVk, VK_F12);
                       EXPECT_EQ(app.hotkeyModifiers, MOD_CONTROL | MOD_SHIFT);
                       EXPECT_EQ(PhraseMenuItems(), menu);
                   },
                   [&](HWND dialog) {
                       fault.undo(folder);
                       EXPECT_EQ(ReadFileBytes(folder + "\\vornick.ini"), before);
                       if (fault.retry) {
                           ConfirmWithFocusOnTheList(dialog);
                       } else {
                           Command(dialog, IDCANCEL);
                       }
                   }});
        ASSERT_EQ(g_script.notices.size(), 1u);
        const MessageSeen& message = g_script.notices[0];
        EXPECT_EQ(message.owner, g_script.first) << "the box is not owned by the dialog";
        EXPECT_EQ(message.caption, L"vornick");
        EXPECT_NE(message.text.find(L"保存できませんでした"), std::wstring::npos);
        EXPECT_NE(message.text.find(Wide(fault.fileShown)), std::wstring::npos)
            << "the file is not named";
        if (!fault.folderShown.empty()) {
            EXPECT_NE(message.text.find(Wide(fault.folderShown)), std::wstring::npos)
                << "the folder is not named";
        }
        EXPECT_NE(message.text.find(SystemReason(fault.error)), std::wstring::npos)
            << "the system's reason is missing";
        EXPECT_FALSE(SystemReason(fault.error).empty());

        if (fault.retry) {
            PhraseList expected(edited.begin(), edited.end());
            EXPECT_EQ(app.phrases, expected);
            EXPECT_EQ(app.hotkeyVk, 'Q');
            EXPECT_EQ(PhraseMenuItems(), MenuFor(expected));
            EXPECT_EQ(SectionEntries()[0], "len=5");
            EXPECT_TRUE(Taken(MOD_CONTROL, 'Q'));
        } else {
            EXPECT_EQ(app.phrases, phrases);
            EXPECT_EQ(PhraseMenuItems(), menu);
            EXPECT_EQ(ReadFileBytes("vornick.ini"), before);
            EXPECT_TRUE(Taken(MOD_CONTROL | MOD_SHIFT, VK_F12));
        }
        UnregisterHotKey(app.mainWindow, HOTKEY_ID);
    }
}

TEST_F(SettingsDialogTest, SecondOpenWhileOpenDoesNothing) {
    Start(FOUR_PHRASES);
    RunDialog({[&](HWND dialog) {
        g_script.nestedOpen = true;
        OpenSettingsDialog();
        g_script.nestedOpen = false;
        EXPECT_EQ(g_script.nestedDialogs, 0) << "a second dialog was opened";
        EXPECT_EQ(Dialogs().size(), 1u);
        EXPECT_TRUE(app.dialogOpen) << "the second call cleared the flag of the first";
        Command(dialog, IDCANCEL);
    }});
}

TEST_F(SettingsDialogTest, FlagIsClearedWhenTheDialogCannotAppear) {
    // A module without the template: DialogBoxParamA fails at once.
    app.instance = GetModuleHandleA("kernel32.dll");
    OpenSettingsDialog();
    EXPECT_FALSE(app.dialogOpen);
    // And the next call opens the dialog.
    app.instance = GetModuleHandleA(nullptr);
    RunDialog({[&](HWND dialog) { Command(dialog, IDCANCEL); }});
}

TEST_F(SettingsDialogTest, Cp932JapanesePhrasesPassThroughTheListUnchanged) {
    ASSERT_EQ(GetACP(), 932u);
    // "あいう" and a phrase ending in a double-byte character whose second
    // byte is '\' (0x5C): "表".
    const std::string a = "\x82\xA0\x82\xA2\x82\xA4", b = "x\x95\x5C";
    Start("[DefStr]\r\nlen=2\r\nVK=0\r\nshift=0\r\n0=" + a + "\r\n1=" + b + "\r\n");
    ASSERT_EQ(app.phrases, (PhraseList{a, b}));
    RunDialog({[&](HWND dialog) {
        EXPECT_EQ(ListItems(dialog), (std::vector<std::string>{a, b}));
        SetEdit(b.c_str());
        Command(dialog, IDC_ADD);
        Select(0);
        Command(dialog, IDC_DOWN);
        ConfirmWithFocusOnTheList(dialog);
    }});
    EXPECT_EQ(app.phrases, (PhraseList{b, a, b}));
    EXPECT_EQ(SectionEntries(),
              (std::vector<std::string>{"len=3", "VK=0", "shift=0", "0=" + b, "1=" + a, "2=" + b}));
}

std::string Repeat(const std::string& part, int times) {
    std::string out;
    for (int i = 0; i < times; ++i) out += part;
    return out;
}

// The list box keeps UTF-16 here, so an item that does not round-trip
// through code page 932 comes back longer than it went in. Every item is
// selected into the edit box, moved down and up again, and saved by OK.
TEST_F(SettingsDialogTest, Cp932ItemsLongerOnTheWayBackAreSelectedMovedAndSavedWhole) {
    ASSERT_EQ(GetACP(), 932u);
    const std::string HIRAGANA_A = "\x82\xa0";
    // A value longer than the 1023 bytes that are read, and UTF-8 text
    // ("日本語" and a last lead byte) that is not Shift-JIS.
    Start("[DefStr]\r\nlen=2\r\nVK=0\r\nshift=0\r\n0=" + Repeat(HIRAGANA_A, 600) +
          "\r\n1=\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e\r\n");
    ASSERT_EQ(app.phrases.size(), 2u);
    // The same troubles as bytes that reach the list unchanged: a 1023-byte
    // cut ending in a lead byte, and a lead byte before an ASCII byte.
    app.phrases.push_back(Repeat(HIRAGANA_A, 511) + "\x82");
    app.phrases.push_back("\x81 \x81" + std::string(100, 'z'));
    // An item far longer than any phrase, however it got into the list.
    const std::string huge = Repeat(HIRAGANA_A, 2500) + "\x82";
    std::vector<std::string> listAtOk;
    RunDialog({[&](HWND dialog) {
        Send(app.dialogList, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(huge.c_str()));
        const std::vector<std::string> items = ListItems(dialog);
        ASSERT_EQ(items.size(), 5u);
        EXPECT_EQ(items[2].size(), 1024u) << "the lone lead byte came back as two bytes";
        EXPECT_EQ(items[4].size(), huge.size() + 1);
        for (int i = 0; i < 5; ++i) {
            ClickItem(dialog, i);
            EXPECT_EQ(EditText().size(), items[i].size()) << i;
            Command(dialog, i < 4 ? IDC_DOWN : IDC_UP);
            Command(dialog, i < 4 ? IDC_UP : IDC_DOWN);
        }
        EXPECT_EQ(ListItems(dialog), items) << "moving changed an item";
        listAtOk = ListItems(dialog);
        ConfirmWithFocusOnTheList(dialog);
    }});
    EXPECT_EQ(app.phrases, listAtOk);
    std::vector<std::string> expected = {"len=5", "VK=0", "shift=0"};
    for (size_t i = 0; i < listAtOk.size(); ++i)
        expected.push_back(std::to_string(i) + "=" + listAtOk[i]);
    EXPECT_EQ(SectionEntries(), expected);
}

// Phrase i has command IDM_PHRASE_BASE + i, a 16-bit number: the list may
// grow to MAX_PHRASES and no further.
TEST_F(SettingsDialogTest, AddRefusesAPhrasePastTheLastMenuCommandWithANotice) {
    Start("[DefStr]\r\nlen=0\r\nVK=0\r\nshift=0\r\n");
    // Loading that many from a file takes long; the list is the same.
    app.phrases.assign(MAX_PHRASES - 1, "p");
    RunDialog({[&](HWND dialog) {
        ASSERT_EQ(Send(app.dialogList, LB_GETCOUNT), MAX_PHRASES - 1);
        SetEdit("the last one");
        Command(dialog, IDC_ADD);
        EXPECT_TRUE(g_script.notices.empty());
        ASSERT_EQ(Send(app.dialogList, LB_GETCOUNT), MAX_PHRASES);
        Select(-1);
        SetEdit("one too many");
        Command(dialog, IDC_ADD);
        EXPECT_EQ(Send(app.dialogList, LB_GETCOUNT), MAX_PHRASES);
        ASSERT_EQ(g_script.notices.size(), 1u) << "no notice";
        EXPECT_NE(g_script.notices[0].text.find(L"65036"), std::wstring::npos);
        EXPECT_EQ(g_script.notices[0].owner, dialog);
        EXPECT_EQ(EditText(), "one too many");
        Command(dialog, IDCANCEL);
    }});
}

// Typed text, as the edit box takes it from the keyboard: within its limit.
void Type(const std::string& text) {
    SetWindowTextA(app.dialogEdit, EMPTY_TEXT);
    Send(app.dialogEdit, EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(text.c_str()));
}

// The edit box's limit counts characters here, so twice as many bytes of
// Japanese text can be typed as a phrase may hold.
TEST_F(SettingsDialogTest, Cp932AddRefusesAPhraseOverTheByteLimitAndKeepsItInTheEditBox) {
    ASSERT_EQ(GetACP(), 932u);
    const std::string HIRAGANA_A = "\x82\xa0";
    struct Row {
        const char* what;
        std::string typed;
        bool added;
    };
    const Row rows[] = {
        {"1023 bytes: 511 hiragana and one ASCII letter", Repeat(HIRAGANA_A, 511) + "a", true},
        {"1024 bytes in 512 characters", Repeat(HIRAGANA_A, 512), false},
        {"1000 hiragana, 2000 bytes", Repeat(HIRAGANA_A, 1000), false},
        {"1023 ASCII letters", std::string(1023, 'q'), true},
    };
    Start("[DefStr]\r\nlen=1\r\nVK=0\r\nshift=0\r\n0=first\r\n");
    RunDialog({[&](HWND dialog) {
        std::vector<std::string> items = ListItems(dialog);
        for (const Row& row : rows) {
            SCOPED_TRACE(row.what);
            g_script.notices.clear();
            Type(row.typed);
            ASSERT_EQ(EditText(), row.typed) << "the edit box did not take the typed text";
            Select(-1);  // appends at the end
            Command(dialog, IDC_ADD);
            if (row.added) {
                items.push_back(row.typed);
                EXPECT_TRUE(g_script.notices.empty());
                EXPECT_EQ(EditText(), "");
            } else {
                ASSERT_EQ(g_script.notices.size(), 1u) << "no notice";
                EXPECT_NE(g_script.notices[0].text.find(L"1023 バイト"), std::wstring::npos);
                EXPECT_EQ(g_script.notices[0].owner, dialog);
                EXPECT_EQ(EditText(), row.typed) << "the refused text left the edit box";
            }
            EXPECT_EQ(ListItems(dialog), items);
        }
        Command(dialog, IDCANCEL);
    }});
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && strcmp(argv[1], "--hold-file") == 0) return HoldFile(argv[2]);
    ::testing::InitGoogleTest(&argc, argv);
    if (argc < 2) {
        fprintf(stderr, "usage: dialog_tests PATH_OF_VORNICK_EXE\n");
        return 2;
    }
    g_exePath = WindowsPath(argv[1]);
    // The hotkey control's class, as the program loads it.
    if (!LoadCommonControls()) {
        fprintf(stderr, "dialog_tests: comctl32.dll could not be loaded\n");
        return 2;
    }
    return RUN_ALL_TESTS();
}
