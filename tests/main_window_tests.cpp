// The hidden main window, run in this process on the program's own code:
// InitApplication and CreateMainWindow make the window with MainWndProc, and
// the tests send it messages as the system, the tray icon and the menus do.
// What each message does is read back from the platform: the menu tracked,
// the dialog opened, the command posted, the clipboard, the foreground
// window, the quit message, the icon in the notification area.
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>

#include <gtest/gtest.h>

#include <stdio.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/app.h"
#include "app/app_state.h"
#include "resources/resource_ids.h"
#include "tests/test_files.h"

namespace {

// ---------------------------------------------------------------------------
// What the menu and dialog loops show while a message is being handled

// One action on an open settings dialog; steps run one per timer tick inside
// the dialog's modal loop, so that what one step posts is handled before the
// next.
typedef std::function<void(HWND dialog)> Step;

// Filled by the timer and the main window's wrapper procedure below.
struct Observed {
    std::vector<HMENU> menus;  // popups opened on the main window, in order
    // Each open menu as the timer found it: where it is, and which window
    // was in the foreground meanwhile.
    std::vector<std::pair<POINT, HWND>> openMenus;
    int dialogs = 0;  // settings dialogs that appeared
    HWND dialog = nullptr;
    const std::vector<Step>* steps = nullptr;  // null: every dialog is cancelled
    size_t nextStep = 0;
};
Observed g_seen;
WNDPROC g_mainWindowProc = nullptr;

BOOL CALLBACK CollectByClass(HWND window, LPARAM found) {
    auto* wanted = reinterpret_cast<std::pair<const char*, std::vector<HWND>>*>(found);
    char className[16];
    if (IsWindowVisible(window) && GetClassNameA(window, className, sizeof className) &&
        lstrcmpA(className, wanted->first) == 0)
        wanted->second.push_back(window);
    return TRUE;
}

// The visible top-level windows of this thread of one class.
std::vector<HWND> ThreadWindows(const char* className) {
    std::pair<const char*, std::vector<HWND>> wanted(className, {});
    EnumThreadWindows(GetCurrentThreadId(), CollectByClass, reinterpret_cast<LPARAM>(&wanted));
    return wanted.second;
}

// Closes whatever the code under test has opened: an open popup menu (after
// noting where it appeared) is ended as Escape would end it; a dialog runs the
// script's steps, or is cancelled when there is no script.
void CALLBACK OnCloserTimer(HWND, UINT, UINT_PTR, DWORD) {
    std::vector<HWND> menus = ThreadWindows("#32768");
    if (!menus.empty()) {
        RECT frame;
        GetWindowRect(menus.front(), &frame);
        g_seen.openMenus.push_back({{frame.left, frame.top}, GetForegroundWindow()});
        EndMenu();
        return;
    }
    std::vector<HWND> dialogs = ThreadWindows("#32770");
    if (dialogs.empty()) return;
    if (g_seen.dialog != dialogs.front()) {
        g_seen.dialog = dialogs.front();
        ++g_seen.dialogs;
    }
    if (g_seen.steps && g_seen.nextStep < g_seen.steps->size()) {
        (*g_seen.steps)[g_seen.nextStep++](g_seen.dialog);
    } else {
        if (g_seen.steps) ADD_FAILURE() << "the dialog was still open after the last step";
        SendMessageA(g_seen.dialog, WM_COMMAND, IDCANCEL, 0);
    }
}

// Wraps MainWndProc to note the popups that open on the window.
LRESULT CALLBACK RecordingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITMENUPOPUP) g_seen.menus.push_back(reinterpret_cast<HMENU>(wParam));
    return CallWindowProcA(g_mainWindowProc, window, message, wParam, lParam);
}

// Runs `action` with the closer's timer ticking, after clearing what it saw.
void WhileClosing(const std::vector<Step>* steps, const std::function<void()>& action) {
    g_seen = Observed();
    g_seen.steps = steps;
    UINT_PTR timer = SetTimer(nullptr, 0, 20, OnCloserTimer);
    action();
    KillTimer(nullptr, timer);
}

// ---------------------------------------------------------------------------
// Platform state the tests read and set

const char UNTOUCHED[] = "clipboard before the message";

void SetClipboardText(const char* text) {
    if (!OpenClipboard(nullptr)) return;
    EmptyClipboard();
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, lstrlenA(text) + 1);
    lstrcpyA(static_cast<char*>(GlobalLock(block)), text);
    GlobalUnlock(block);
    SetClipboardData(CF_TEXT, block);
    CloseClipboard();
}

std::string ClipboardText() {
    std::string text = "(clipboard could not be opened)";
    if (!OpenClipboard(nullptr)) return text;
    text = "(no text)";
    HANDLE block = GetClipboardData(CF_TEXT);
    if (const char* bytes = block ? static_cast<const char*>(GlobalLock(block)) : nullptr) {
        text = bytes;
        GlobalUnlock(block);
    }
    CloseClipboard();
    return text;
}

// Whether the notification area holds icon 1 of `window`: a change of
// nothing succeeds only for an icon that is there.
bool IconPresent(HWND window) {
    NOTIFYICONDATAA icon = {};
    icon.cbSize = NOTIFYICONDATAA_V1_SIZE;
    icon.hWnd = window;
    icon.uID = 1;
    icon.uFlags = 0;
    return Shell_NotifyIconA(NIM_MODIFY, &icon) != FALSE;
}

// Takes every message meant for `window` (or the whole thread, with null)
// out of the queue, and reports the posted WM_COMMAND and WM_QUIT among them.
struct Queue {
    std::vector<std::pair<WPARAM, LPARAM>> commands;
    bool quit = false;
    WPARAM quitCode = 0;
};
Queue DrainQueue(HWND window) {
    Queue queue;
    MSG message;
    // Wine hands out a pending WM_QUIT whatever the filter asks for.
    while (PeekMessageA(&message, window, WM_COMMAND, WM_COMMAND, PM_REMOVE) ||
           PeekMessageA(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            queue.quit = true;
            queue.quitCode = message.wParam;
        } else {
            queue.commands.push_back({message.wParam, message.lParam});
        }
    }
    return queue;
}

// Handles whatever is pending, as the program's message loop would.
void DispatchPending() {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(message.wParam));
            return;
        }
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

const char THREE_PHRASES[] =
    "[DefStr]\r\nlen=3\r\nVK=0\r\nshift=0\r\n0=first\r\n1=second\r\n2=third\r\n";

// The program as WinMain starts it, with the user's application (`target_`)
// and some other application (`other_`) as two windows of this thread.
class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        WNDCLASSA windowClass = {};
        windowClass.lpfnWndProc = DefWindowProcA;
        windowClass.hInstance = GetModuleHandleA(nullptr);
        windowClass.lpszClassName = "main window test application";
        RegisterClassA(&windowClass);
        target_ = CreateWindowExA(0, windowClass.lpszClassName, "target",
                                  WS_OVERLAPPEDWINDOW | WS_VISIBLE, 400, 300, 200, 100, nullptr,
                                  nullptr, windowClass.hInstance, nullptr);
        other_ =
            CreateWindowExA(0, windowClass.lpszClassName, "other", WS_OVERLAPPEDWINDOW | WS_VISIBLE,
                            650, 300, 200, 100, nullptr, nullptr, windowClass.hInstance, nullptr);
        ASSERT_NE(target_, nullptr);
        ASSERT_NE(other_, nullptr);
        DispatchPending();
    }
    void TearDown() override {
        StopProgram();
        DestroyWindow(target_);
        DestroyWindow(other_);
        DispatchPending();
        DrainQueue(nullptr);
    }

    // Writes the settings file, then start-up as in WinMain up to the loop;
    // the tray icon is added only where a test asks for it.
    void StartProgram(const std::string& ini) {
        WriteFileBytes("vornick.ini", ini);
        app = AppState();
        HINSTANCE instance = GetModuleHandleA(nullptr);
        InitApplication(instance);
        ASSERT_TRUE(CreateMainWindow(instance)) << "the main window was not created";
        if (app.hotkeyVk != 0)
            RegisterHotKey(app.mainWindow, HOTKEY_ID, app.hotkeyModifiers, app.hotkeyVk);
        g_mainWindowProc = reinterpret_cast<WNDPROC>(SetWindowLongPtrA(
            app.mainWindow, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(RecordingProc)));
    }
    // Shutdown as after the loop, and whatever the test left behind.
    void StopProgram() {
        if (IsWindow(app.mainWindow)) {
            RemoveTrayIcon();
            DestroyWindow(app.mainWindow);
        }
        if (app.menuResource) DestroyMenu(app.menuResource);
        DispatchPending();
        DrainQueue(nullptr);
        app = AppState();
    }

    // Brings `window` to the foreground; the hidden main window included.
    bool BringToFront(HWND window) {
        SetForegroundWindow(window);
        return GetForegroundWindow() == window;
    }

    // Whether some window holds this combination: registering it elsewhere
    // then fails. A free combination is released again at once.
    bool Taken(int modifiers, int vk) {
        if (!RegisterHotKey(other_, 1, modifiers, vk)) return true;
        UnregisterHotKey(other_, 1);
        return false;
    }

    HWND target_ = nullptr;
    HWND other_ = nullptr;
    ScopedWorkDir dir_;
};

// ---------------------------------------------------------------------------
// The message table

// The windows a row can name: before the message, as the foreground and as
// the captured target; after it, as what the foreground and target became.
enum Who { NOBODY, TARGET, MAIN, OTHER, SOMEONE_ELSE };
const char* const WHO_NAMES[] = {"nobody", "target", "main window", "other", "someone else"};

enum ShownMenu { NO_MENU, TRAY_MENU, PHRASE_MENU, SOME_MENU };
const char* const MENU_NAMES[] = {"no menu", "tray menu", "phrase menu", "another menu"};

// Everything a row can change. The expected outcome of a row is "nothing
// changed" with the row's changes applied.
struct Outcome {
    LRESULT result = 0;
    ShownMenu menu = NO_MENU;
    int dialogs = 0;
    std::vector<std::pair<WPARAM, LPARAM>> posted;  // WM_COMMAND posted to the main window
    std::string clipboard = UNTOUCHED;
    Who foreground = NOBODY;  // after the message (and any menu) has been handled
    Who target = NOBODY;      // app.targetWindow afterwards
    bool quit = false;        // WM_QUIT with code 0 is in the queue
    bool windowAlive = true;
    bool iconAdded = false;  // the main window's icon is in the notification area

    std::string Describe() const {
        std::string text = "result " + std::to_string(result) + ", " + MENU_NAMES[menu] + ", " +
                           std::to_string(dialogs) + " dialog(s), posted [";
        for (const auto& command : posted)
            text += " WM_COMMAND " + std::to_string(command.first) + "/" +
                    std::to_string(command.second);
        text += " ], clipboard \"" + clipboard + "\", foreground " + WHO_NAMES[foreground] +
                ", target " + WHO_NAMES[target] + (quit ? ", quit posted" : "") +
                (windowAlive ? "" : ", window destroyed") + (iconAdded ? ", icon added" : "");
        return text;
    }
};

// A row's changes to the "nothing changed" outcome.
struct Changes {
    std::optional<LRESULT> result;
    std::optional<ShownMenu> menu;
    int dialogs = 0;
    std::vector<std::pair<WPARAM, LPARAM>> posted;
    std::optional<std::string> clipboard;
    std::optional<Who> foreground, target;
    bool quit = false, destroyed = false, iconAdded = false;
    bool foregroundIgnored = false;

    Changes& Result(LRESULT value) { return result = value, *this; }
    Changes& Menu(ShownMenu value) { return menu = value, *this; }
    Changes& Dialog() { return dialogs = 1, *this; }
    Changes& Posts(WPARAM command) { return posted.push_back({command, 0}), *this; }
    Changes& Clipboard(const char* text) { return clipboard = text, *this; }
    Changes& Foreground(Who who) { return foreground = who, *this; }
    Changes& Target(Who who) { return target = who, *this; }
    Changes& Quits() { return quit = true, *this; }
    Changes& Destroys() { return destroyed = true, *this; }
    Changes& AddsIcon() { return iconAdded = true, *this; }
    // The row leaves the foreground to the platform (a closed dialog).
    Changes& AnyForeground() { return foregroundIgnored = true, *this; }
};

Changes Nothing() { return Changes(); }

struct Row {
    const char* what;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    Who front;           // the foreground window when the message arrives
    Who capturedBefore;  // app.targetWindow then
    Changes changes;
};

const UINT TASKBAR_CREATED = RegisterWindowMessageA("TaskbarCreated");

TEST_F(MainWindowTest, EachMessageDoesWhatItsRowSays) {
    const Row rows[] = {
        // Commands, as the menus deliver them (the high word is the source).
        {"IDM_SETTINGS opens the dialog", WM_COMMAND, IDM_SETTINGS, 0, TARGET, NOBODY,
         Changes().Dialog().AnyForeground()},
        {"IDM_EXIT destroys the window, which posts the quit", WM_COMMAND, IDM_EXIT, 0, TARGET,
         NOBODY, Changes().Destroys().Quits()},
        {"IDM_TRAYMENU captures the target and tracks the tray menu", WM_COMMAND, IDM_TRAYMENU, 0,
         TARGET, NOBODY, Changes().Menu(TRAY_MENU).Target(TARGET)},
        {"the first phrase's command", WM_COMMAND, IDM_PHRASE_BASE, 0, TARGET, NOBODY,
         Changes().Clipboard("first")},
        {"the last phrase's command", WM_COMMAND, IDM_PHRASE_BASE + 2, 0, TARGET, NOBODY,
         Changes().Clipboard("third")},
        {"a phrase command is its low word: an accelerator's high word 1", WM_COMMAND,
         MAKEWPARAM(IDM_PHRASE_BASE + 2, 1), 0, TARGET, NOBODY, Changes().Clipboard("third")},
        {"one past the last phrase goes to the default procedure", WM_COMMAND, IDM_PHRASE_BASE + 3,
         0, TARGET, NOBODY, Nothing()},
        {"one below the first phrase is no phrase", WM_COMMAND, IDM_PHRASE_BASE - 1, 0, TARGET,
         NOBODY, Nothing()},
        {"a command of nobody's", WM_COMMAND, 106, 0, TARGET, NOBODY, Nothing()},

        // The hotkey.
        {"HOTKEY_ID captures the target and tracks the phrase menu", WM_HOTKEY, HOTKEY_ID,
         MAKELPARAM(MOD_CONTROL | MOD_SHIFT, VK_F12), TARGET, NOBODY,
         Changes().Menu(PHRASE_MENU).Target(TARGET)},
        {"another hotkey id does nothing", WM_HOTKEY, HOTKEY_ID + 1, 0, TARGET, NOBODY, Nothing()},

        // Menus closing. The closing notice has 0xFFFF as flags and no menu.
        {"a closed menu hands the foreground back to the target", WM_MENUSELECT,
         MAKEWPARAM(0, 0xFFFF), 0, MAIN, TARGET, Changes().Foreground(TARGET)},
        {"but not when another window has come to the front", WM_MENUSELECT, MAKEWPARAM(0, 0xFFFF),
         0, OTHER, TARGET, Nothing()},
        {"nor without a target", WM_MENUSELECT, MAKEWPARAM(0, 0xFFFF), 0, MAIN, NOBODY, Nothing()},
        {"an item highlighted is no closing", WM_MENUSELECT, MAKEWPARAM(IDM_SETTINGS, MF_HILITE), 1,
         MAIN, TARGET, Nothing()},
        {"flags 0xFFFF with a menu is no closing", WM_MENUSELECT, MAKEWPARAM(0, 0xFFFF), 1, MAIN,
         TARGET, Nothing()},

        // The tray icon's notices; the icon id in wParam is not looked at.
        {"moving over the icon captures the application in front", WM_TRAYNOTIFY, 1, WM_MOUSEMOVE,
         TARGET, NOBODY, Changes().Target(TARGET)},
        {"left button down takes the foreground", WM_TRAYNOTIFY, 1, WM_LBUTTONDOWN, TARGET, TARGET,
         Changes().Foreground(MAIN)},
        {"right button down takes the foreground", WM_TRAYNOTIFY, 1, WM_RBUTTONDOWN, TARGET, TARGET,
         Changes().Foreground(MAIN)},
        {"a double click posts IDM_SETTINGS", WM_TRAYNOTIFY, 1, WM_LBUTTONDBLCLK, MAIN, TARGET,
         Changes().Posts(IDM_SETTINGS)},
        {"right button up posts IDM_TRAYMENU", WM_TRAYNOTIFY, 1, WM_RBUTTONUP, MAIN, TARGET,
         Changes().Posts(IDM_TRAYMENU)},
        {"whatever the icon id", WM_TRAYNOTIFY, 7, WM_RBUTTONUP, MAIN, TARGET,
         Changes().Posts(IDM_TRAYMENU)},
        {"left button up does nothing", WM_TRAYNOTIFY, 1, WM_LBUTTONUP, MAIN, TARGET, Nothing()},
        {"right double click does nothing", WM_TRAYNOTIFY, 1, WM_RBUTTONDBLCLK, MAIN, TARGET,
         Nothing()},

        // The rest.
        {"WM_DESTROY posts the quit", WM_DESTROY, 0, 0, TARGET, NOBODY, Changes().Quits()},
        {"a restarted shell gets the icon again", TASKBAR_CREATED, 0, 0, TARGET, NOBODY,
         Changes().AddsIcon()},
        {"an unknown message goes to the default procedure: the title's length", WM_GETTEXTLENGTH,
         0, 0, TARGET, NOBODY, Changes().Result(lstrlenA("vornick"))},
    };
    ASSERT_NE(TASKBAR_CREATED, 0u);
    const POINT cursor = {200, 150};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        ASSERT_NO_FATAL_FAILURE(StartProgram(THREE_PHRASES));
        auto handle = [&](Who who) -> HWND {
            return who == TARGET  ? target_
                   : who == MAIN  ? app.mainWindow
                   : who == OTHER ? other_
                                  : nullptr;
        };
        auto who = [&](HWND window) -> Who {
            return !window                    ? NOBODY
                   : window == target_        ? TARGET
                   : window == app.mainWindow ? MAIN
                   : window == other_         ? OTHER
                                              : SOMEONE_ELSE;
        };
        app.targetWindow = handle(row.capturedBefore);
        SetClipboardText(UNTOUCHED);
        SetCursorPos(cursor.x, cursor.y);
        // Platform behaviour this table relies on: a window of this thread,
        // the hidden one included, can be brought to the front at will.
        ASSERT_TRUE(BringToFront(handle(row.front)))
            << WHO_NAMES[row.front] << " could not be brought to the foreground";

        Outcome seen;
        HWND mainWindow = app.mainWindow;
        WhileClosing(nullptr, [&] {
            seen.result = MainWndProc(mainWindow, row.message, row.wParam, row.lParam);
        });
        seen.foreground = who(GetForegroundWindow());
        seen.target = who(app.targetWindow);
        seen.windowAlive = IsWindow(mainWindow) != FALSE;
        seen.dialogs = g_seen.dialogs;
        seen.menu = g_seen.menus.empty()                     ? NO_MENU
                    : g_seen.menus.front() == app.trayMenu   ? TRAY_MENU
                    : g_seen.menus.front() == app.phraseMenu ? PHRASE_MENU
                                                             : SOME_MENU;
        Queue queue = DrainQueue(mainWindow);
        seen.posted = queue.commands;
        seen.quit = queue.quit && queue.quitCode == 0;
        seen.clipboard = ClipboardText();
        seen.iconAdded = IconPresent(mainWindow);
        if (seen.iconAdded) {
            EXPECT_EQ(app.trayIcon.hWnd, mainWindow);
            EXPECT_EQ(app.trayIcon.uCallbackMessage, WM_TRAYNOTIFY);
        }
        if (seen.menu != NO_MENU) {
            ASSERT_FALSE(g_seen.openMenus.empty()) << "the menu never showed";
            const POINT origin = g_seen.openMenus.front().first;
            EXPECT_EQ(origin.x, cursor.x) << "the menu is not at the cursor";
            EXPECT_EQ(origin.y, cursor.y) << "the menu is not at the cursor";
            // Only a menu whose owner is in front closes on a click elsewhere.
            EXPECT_STREQ(WHO_NAMES[who(g_seen.openMenus.front().second)], WHO_NAMES[MAIN])
                << "in front during the menu";
        }

        const Changes& change = row.changes;
        Outcome expected;
        expected.result = change.result.value_or(0);
        expected.menu = change.menu.value_or(NO_MENU);
        expected.dialogs = change.dialogs;
        expected.posted = change.posted;
        expected.clipboard = change.clipboard.value_or(UNTOUCHED);
        expected.foreground = change.foregroundIgnored ? seen.foreground
                              : change.foreground      ? *change.foreground
                              // A tracked menu took the foreground and, on closing, gave
                              // it back to the captured target.
                              : change.menu ? change.target.value_or(row.capturedBefore)
                                            : row.front;
        expected.target = change.target.value_or(row.capturedBefore);
        expected.quit = change.quit;
        expected.windowAlive = !change.destroyed;
        expected.iconAdded = change.iconAdded;
        EXPECT_EQ(seen.Describe(), expected.Describe());
        StopProgram();
    }
}

// With no phrases there is nothing to pick, but the hotkey still captures the
// target and tracks the empty phrase menu. (Wine shows no window for an empty
// popup and sends no closing notice, so the hidden window stays in front.)
TEST_F(MainWindowTest, HotkeyWithNoPhrasesTracksTheEmptyPhraseMenu) {
    StartProgram("[DefStr]\r\nlen=0\r\nVK=0\r\nshift=0\r\n");
    ASSERT_EQ(GetMenuItemCount(app.phraseMenu), 0);
    ASSERT_TRUE(BringToFront(target_));
    SetClipboardText(UNTOUCHED);
    WhileClosing(nullptr, [&] { MainWndProc(app.mainWindow, WM_HOTKEY, HOTKEY_ID, 0); });
    EXPECT_EQ(g_seen.menus, std::vector<HMENU>{app.phraseMenu});
    EXPECT_EQ(app.targetWindow, target_);
    EXPECT_TRUE(DrainQueue(app.mainWindow).commands.empty());
    EXPECT_EQ(ClipboardText(), UNTOUCHED);
}

// ---------------------------------------------------------------------------
// The dialog and the main window together

const char FOUR_PHRASES_AND_HOTKEY[] =
    "[DefStr]\r\nlen=4\r\nVK=123\r\nshift=6\r\n0=alpha\r\n1=\r\n2=gamma\r\n3=delta\r\n";

std::vector<std::string> PhraseMenuTexts() {
    std::vector<std::string> texts;
    for (int i = 0; i < GetMenuItemCount(app.phraseMenu); ++i) {
        char text[256] = "";
        GetMenuStringA(app.phraseMenu, i, text, sizeof text, MF_BYPOSITION);
        texts.push_back(std::to_string(GetMenuItemID(app.phraseMenu, i)) + " " + text);
    }
    return texts;
}

void Edit(HWND dialog, int control, const char* text) {
    SetWindowTextA(GetDlgItem(dialog, control), text);
}
void Command(HWND dialog, int id) { SendMessageA(dialog, WM_COMMAND, id, 0); }

// The tray menu's exit picked while the dialog is open: the quit message ends
// the dialog's loop, so neither OK nor Cancel runs.
TEST_F(MainWindowTest, ExitWithTheDialogOpenDiscardsTheEditsAndEndsTheProgram) {
    StartProgram(FOUR_PHRASES_AND_HOTKEY);
    const std::string fileBefore = ReadFileBytes("vornick.ini");
    const PhraseList phrasesBefore = app.phrases;
    const std::vector<std::string> menuBefore = PhraseMenuTexts();
    HWND mainWindow = app.mainWindow;
    const std::vector<Step> steps = {
        [&](HWND dialog) {
            EXPECT_FALSE(Taken(MOD_CONTROL | MOD_SHIFT, VK_F12)) << "held while the dialog is open";
            SendMessageA(GetDlgItem(dialog, IDC_PHRASE_LIST), LB_SETCURSEL, 0, 0);
            Command(dialog, IDC_DELETE);
            Edit(dialog, IDC_PHRASE_EDIT, "added");
            Command(dialog, IDC_ADD);
            SendMessageA(GetDlgItem(dialog, IDC_HOTKEY), HKM_SETHOTKEY,
                         MAKEWORD('Q', HOTKEYF_CONTROL), 0);
        },
        // The pick arrives as a command posted to the main window.
        [&](HWND) { PostMessageA(mainWindow, WM_COMMAND, IDM_EXIT, 0); },
    };
    LRESULT result = 0;
    WhileClosing(&steps, [&] { result = MainWndProc(mainWindow, WM_COMMAND, IDM_SETTINGS, 0); });
    EXPECT_EQ(result, 0);
    EXPECT_EQ(g_seen.dialogs, 1);
    EXPECT_EQ(g_seen.nextStep, steps.size()) << "the dialog closed before the exit";
    EXPECT_FALSE(IsWindow(g_seen.dialog)) << "the dialog outlived its loop";
    EXPECT_FALSE(IsWindow(mainWindow));
    EXPECT_FALSE(app.dialogOpen);
    // The program's own loop gets the quit too, and ends with code 0.
    Queue queue = DrainQueue(nullptr);
    EXPECT_TRUE(queue.quit) << "the dialog's loop swallowed the quit";
    EXPECT_EQ(queue.quitCode, 0u);

    EXPECT_EQ(app.phrases, phrasesBefore);
    EXPECT_EQ(PhraseMenuTexts(), menuBefore);
    EXPECT_EQ(ReadFileBytes("vornick.ini"), fileBefore);
    EXPECT_EQ(app.hotkeyVk, VK_F12);
    EXPECT_EQ(app.hotkeyModifiers, MOD_CONTROL | MOD_SHIFT);
    // A registration on the destroyed main window could not succeed; these
    // catch one made on any other window.
    EXPECT_FALSE(Taken(MOD_CONTROL | MOD_SHIFT, VK_F12)) << "the old hotkey was registered again";
    EXPECT_FALSE(Taken(MOD_CONTROL, 'Q')) << "the edited hotkey was registered";
}

// Another program holds the combination chosen in the dialog.
TEST_F(MainWindowTest, HotkeyThatCannotBeRegisteredAfterOkIsSavedAndTheTrayMenuStillWorks) {
    StartProgram(FOUR_PHRASES_AND_HOTKEY);
    // Id 2: Taken uses id 1, and Wine lets a new registration of an id
    // replace the old one.
    ASSERT_TRUE(RegisterHotKey(other_, 2, MOD_CONTROL | MOD_ALT, VK_F9));
    HWND mainWindow = app.mainWindow;
    const std::vector<Step> steps = {[&](HWND dialog) {
        Edit(dialog, IDC_PHRASE_EDIT, "new");
        Command(dialog, IDC_ADD);
        SendMessageA(GetDlgItem(dialog, IDC_HOTKEY), HKM_SETHOTKEY,
                     MAKEWORD(VK_F9, HOTKEYF_CONTROL | HOTKEYF_ALT), 0);
        SetFocus(GetDlgItem(dialog, IDC_PHRASE_LIST));
        Command(dialog, IDOK);
    }};
    WhileClosing(&steps, [&] { MainWndProc(mainWindow, WM_COMMAND, IDM_SETTINGS, 0); });
    ASSERT_EQ(g_seen.dialogs, 1);

    const PhraseList saved = {"alpha", "", "gamma", "delta", "new"};
    EXPECT_EQ(app.phrases, saved);
    EXPECT_EQ(app.hotkeyVk, VK_F9);
    EXPECT_EQ(app.hotkeyModifiers, MOD_CONTROL | MOD_ALT);
    EXPECT_EQ(GetPrivateProfileIntA("DefStr", "len", -1, "./vornick.ini"), 5);
    EXPECT_EQ(GetPrivateProfileIntA("DefStr", "VK", -1, "./vornick.ini"), VK_F9);
    EXPECT_EQ(GetPrivateProfileIntA("DefStr", "shift", -1, "./vornick.ini"), MOD_CONTROL | MOD_ALT);
    char last[16] = "";
    GetPrivateProfileStringA("DefStr", "4", "", last, sizeof last, "./vornick.ini");
    EXPECT_STREQ(last, "new");
    EXPECT_FALSE(UnregisterHotKey(mainWindow, HOTKEY_ID)) << "the main window holds a hotkey";
    EXPECT_FALSE(Taken(MOD_CONTROL | MOD_SHIFT, VK_F12)) << "the old hotkey is still held";
    EXPECT_TRUE(UnregisterHotKey(other_, 2)) << "the other program lost its hotkey";

    // A right click on the icon: the button's release posts the command that
    // shows the tray menu, whose phrase submenu has the new list.
    ASSERT_TRUE(BringToFront(target_));
    WhileClosing(nullptr, [&] {
        MainWndProc(mainWindow, WM_TRAYNOTIFY, 1, WM_RBUTTONDOWN);
        MainWndProc(mainWindow, WM_TRAYNOTIFY, 1, WM_RBUTTONUP);
        DispatchPending();
    });
    ASSERT_EQ(g_seen.menus.size(), 1u);
    EXPECT_EQ(g_seen.menus.front(), app.trayMenu);
    EXPECT_EQ(PhraseMenuTexts(),
              (std::vector<std::string>{"500 alpha", "501 ", "502 gamma", "503 delta", "504 new"}));
    // Its commands still act: the new phrase, and the dialog once more.
    SetClipboardText(UNTOUCHED);
    MainWndProc(mainWindow, WM_COMMAND, IDM_PHRASE_BASE + 4, 0);
    EXPECT_EQ(ClipboardText(), "new");
    WhileClosing(nullptr, [&] { MainWndProc(mainWindow, WM_COMMAND, IDM_SETTINGS, 0); });
    EXPECT_EQ(g_seen.dialogs, 1);
}

// ---------------------------------------------------------------------------
// The tray icon

// The program removes its icon after the loop, when the main window is
// already destroyed. Wine drops a destroyed window's icon by itself, so the
// icon is removed here while the window lives, where nothing but
// RemoveTrayIcon can make it go.
TEST_F(MainWindowTest, RemoveTrayIconTakesTheIconAwayOnce) {
    StartProgram(THREE_PHRASES);
    AddTrayIcon(app.smallIcon);
    ASSERT_TRUE(IconPresent(app.mainWindow)) << "the icon was not added";
    RemoveTrayIcon();
    EXPECT_FALSE(IconPresent(app.mainWindow)) << "the icon is still there";
    EXPECT_EQ(app.trayIcon.hWnd, nullptr);
    // Added again, as after a restarted shell, it can be removed again.
    AddTrayIcon(app.smallIcon);
    ASSERT_TRUE(IconPresent(app.mainWindow));
    RemoveTrayIcon();
    EXPECT_FALSE(IconPresent(app.mainWindow));
}

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    // The settings dialog's hotkey control, as the program loads it.
    if (!LoadCommonControls()) {
        fprintf(stderr, "main_window_tests: comctl32.dll could not be loaded\n");
        return 2;
    }
    return RUN_ALL_TESTS();
}
