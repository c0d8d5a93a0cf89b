"""The whole program end to end: the real vornick.exe under Wine, driven by
real X input through its tray icon, its hotkey, its menus and its dialog.

Wine 8.0 shows the notification area as its own "Wine System Tray" window
when the display has no XEmbed tray. Icons are counted on a grab of that
window's pixels: each icon is a block of non-background columns. Wine hides
the window when it holds no icon, and drops the icons of windows that no
longer exist, so every test waits for an empty tray before it starts.
"""
import re
import subprocess
import unittest
from pathlib import Path

from harness import (VORNICK_EXE, DesktopTestCase, Vornick, activate, find_windows,
                     mapped_windows_of, menu_item_point, stays, wait_until, window_geometry,
                     winpath, write_ini, xdotool)

INI = """[DefStr]
len=3
VK=123
shift=6
0=alpha
1=beta
2=gamma
"""

PHRASES = ['alpha', 'beta', 'gamma']

# A point of the empty desktop, away from every window.
AWAY = (900, 700)

# The tray menu: the phrase submenu, the settings command, the exit command.
TRAY_ITEMS = 3
TRAY_PHRASES, TRAY_SETTINGS, TRAY_EXIT = range(TRAY_ITEMS)

# The settings dialog's size and some of its controls, in dialog units: the
# template's layout, which the tests turn into screen points.
DIALOG_UNITS = (243, 196)
DIALOG_EDIT = (96, 66)
DIALOG_ADD = (213, 66)
DIALOG_OK = (215, 14)
# The client edge that Wine draws inside the dialog's X window.
DIALOG_EDGE = 2


def tray_window():
    windows = find_windows(Vornick.TRAY_TITLE, only_visible=True)
    return windows[0] if windows else None


def tray_icon_count():
    """How many icons Wine's tray window shows; 0 when it is hidden."""
    tray = tray_window()
    if tray is None:
        return 0
    grab = subprocess.run(['import', '-window', str(tray), '-depth', '8', 'ppm:-'],
                          capture_output=True, timeout=30).stdout
    header = re.match(rb'P6\s+(\d+)\s+(\d+)\s+255\s', grab)
    if not header:
        return 0  # the window went away while it was grabbed
    width, height = int(header.group(1)), int(header.group(2))
    pixels = grab[header.end():]
    background = pixels[0:3]  # the top-left corner is outside every icon cell

    def busy(x):
        return any(pixels[(y * width + x) * 3:(y * width + x) * 3 + 3] != background
                   for y in range(height))

    # Icons are 16 pixels wide in cells of about 20; a gap of 3 or more
    # background columns separates two icons.
    count, gap = 0, 3
    for x in range(width):
        if busy(x):
            if gap >= 3:
                count += 1
            gap = 0
        else:
            gap += 1
    return count


def tip_showing():
    """Whether the tray shows an icon's tip: a window of Wine's desktop
    process that the window manager does not manage."""
    return any(is_override_redirect(w) for w in mapped_windows_of('explorer.exe'))


def is_override_redirect(window):
    info = subprocess.run(['xwininfo', '-id', str(window)], capture_output=True, text=True).stdout
    return 'Override Redirect State: yes' in info


def open_menus():
    """vornick's popup menus on screen, topmost first. Menus are the only
    windows of the program that the window manager does not manage, which
    tells them from the settings dialog."""
    return [w for w in mapped_windows_of('vornick.exe') if is_override_redirect(w)]


def dialogs():
    """The settings dialogs on screen. Their caption holds "Version" in
    every code page."""
    return find_windows('Version', only_visible=True)


def dialog_point(dialog, units):
    """Screen point of a position given in the dialog's units."""
    x, y, width, height = window_geometry(dialog)
    scale_x = (width - 2 * DIALOG_EDGE) / DIALOG_UNITS[0]
    scale_y = (height - 2 * DIALOG_EDGE) / DIALOG_UNITS[1]
    return (int(x + DIALOG_EDGE + units[0] * scale_x),
            int(y + DIALOG_EDGE + units[1] * scale_y))


def click(point, button=1, repeat=1):
    xdotool('mousemove', *point)
    xdotool('click', '--repeat', repeat, '--delay', 80, button)


def read_ini(path):
    """The entries of the file's [DefStr] section, keys as written."""
    entries = {}
    for line in Path(path).read_bytes().decode('cp1252').splitlines():
        if '=' in line and not line.startswith('['):
            key, value = line.split('=', 1)
            entries[key] = value
    return entries


def wait_menus(count, what):
    """vornick's menus, once exactly `count` of them are on screen."""
    def menus():
        found = open_menus()
        return found if len(found) == count else None
    return wait_until(menus, 10, what)


def wait_no_menu():
    wait_until(lambda: not open_menus(), 10, 'the menus to close')


def point_at_icon(tray):
    """Moves the mouse to the first icon of the tray and rests there until
    the icon's tip shows, as a user does: the tip shows that the icon has had
    the mouse move, so the program has captured the foreground window before
    any click follows."""
    xdotool('mousemove', *AWAY)
    wait_until(lambda: not tip_showing(), 10, 'the icon tip to go')
    # Wine learns where the mouse is only from moves over its own windows.
    # Crossing the tray's empty end on the way makes sure the icon sees a
    # move even when the pointer was last on the same point of the icon.
    x, y, width, height = window_geometry(tray)
    xdotool('mousemove', x + width - 4, y + height // 2)
    xdotool('mousemove', *icon_point(tray))
    wait_until(tip_showing, 10, "the icon's tip")


def icon_point(tray):
    """The middle of the first icon's cell (16 pixels of icon, 2 of border)."""
    x, y, _, height = window_geometry(tray)
    return x + 10, y + height // 2


def open_tray_menu(tray):
    point_at_icon(tray)
    xdotool('click', 3)
    return wait_menus(1, 'the tray menu')[0]


def open_phrase_submenu(tray):
    """Opens the tray menu and, by resting on its first item, the phrase
    submenu; returns (tray menu, submenu)."""
    tray_menu = open_tray_menu(tray)
    xdotool('mousemove', *menu_item_point(tray_menu, TRAY_PHRASES, TRAY_ITEMS))
    menus = wait_menus(2, 'the phrase submenu beside the tray menu')
    return tray_menu, next(m for m in menus if m != tray_menu)


def open_dialog(tray):
    click(icon_point(tray), repeat=2)
    return wait_until(lambda: (dialogs() or [None])[0], 10, 'the settings dialog')


def exit_through_tray_menu(tray):
    tray_menu = open_tray_menu(tray)
    click(menu_item_point(tray_menu, TRAY_EXIT, TRAY_ITEMS))


class ProgramTestCase(DesktopTestCase):

    def setUp(self):
        super().setUp()
        xdotool('mousemove', *AWAY)
        wait_until(lambda: tray_icon_count() == 0, 20, 'an empty tray before the test')

    def start_vornick(self, ini=INI, cwd=None, env=None):
        vornick = Vornick(self, ini, cwd=cwd, env=env, wait_for_icon=False)
        wait_until(lambda: tray_icon_count() == 1, 20, "vornick's icon in the tray")
        vornick.tray = tray_window()
        return vornick

    def wait_foreground(self, target, window_class):
        wait_until(lambda: target.report()['foreground_class'] == window_class, 10,
                   f'the foreground to be a "{window_class}" window '
                   f'(it is "{target.report()["foreground_class"]}")')

    def activate(self, target):
        """Activates the target and waits until Wine, too, has made it the
        foreground window: Wine follows the X focus a moment later, and a
        capture in between would record the window that had it before."""
        target.activate()
        wait_until(lambda: target.report()['foreground'] == target.report()['hwnd'], 5,
                   f'"{target.title}" to be the foreground window')

    def open_phrase_menu(self, vornick, target, at=(600, 400)):
        self.activate(target)
        return vornick.open_phrase_menu(target, at=at)

    def point_at_icon(self, vornick, target):
        """The mouse leaves the target, which has the foreground, for the icon."""
        self.activate(target)
        point_at_icon(vornick.tray)

    def open_tray_menu(self, vornick, target):
        self.activate(target)
        return open_tray_menu(vornick.tray)

    def open_phrase_submenu(self, vornick, target):
        self.activate(target)
        return open_phrase_submenu(vornick.tray)[1]


class HotkeyTest(ProgramTestCase):

    def test_hotkey_opens_menu_at_cursor_and_third_phrase_replaces_selection(self):
        vornick = self.start_vornick()
        target = self.start_target('Hotkey target', 'hello world', sel=(6, 11))

        menu = self.open_phrase_menu(vornick, target, at=(600, 400))
        x, y, _, _ = window_geometry(menu)
        self.assertEqual((x, y), (600, 400), 'the menu opens with its corner at the cursor')
        vornick.pick(menu, 2, len(PHRASES))

        target.wait_for_text('hello gamma')
        report = target.report()
        self.assertEqual(report['pastes'], 1)
        self.assertEqual(report['sel'], (11, 11))
        self.assertEqual(report['focus'], 'edit')
        self.assertEqual(report['foreground'], report['hwnd'])
        wait_no_menu()

    def test_japanese_phrase_pastes_under_code_page_932(self):
        japanese = {'LC_ALL': 'ja_JP.UTF-8'}
        phrase = 'お世話になっております。'
        write_ini(self.workdir, data=('[DefStr]\r\nlen=1\r\nVK=123\r\nshift=6\r\n0=' + phrase +
                                      '\r\n').encode('cp932'))
        vornick = self.start_vornick(ini=None, env=japanese)
        target = self.start_target('Japanese target', '', env=japanese)

        menu = self.open_phrase_menu(vornick, target)
        vornick.pick(menu, 0, 1)
        target.wait_for_text(phrase)

    def test_no_hotkey_with_key_code_zero_but_tray_menu_pastes(self):
        vornick = self.start_vornick(INI.replace('VK=123', 'VK=0'))
        target = self.start_target('No hotkey target', 'x')

        self.activate(target)
        xdotool('mousemove', 600, 400)
        xdotool('key', 'ctrl+shift+F12')
        self.assertTrue(stays(lambda: not open_menus(), 1.5), 'VK=0 registers no hotkey')

        submenu = self.open_phrase_submenu(vornick, target)
        vornick.pick(submenu, 0, len(PHRASES))
        # The caret was at the start of the text.
        target.wait_for_text('alphax')

    def test_closing_a_menu_without_a_pick_returns_the_foreground(self):
        # Closed by a click elsewhere. Escape would not show the hand-back
        # here: Wine gives a key to the thread of the X focus window, so the
        # menu would need the X focus, and when it goes the window manager
        # focuses the target again whatever the program does.
        vornick = self.start_vornick()
        target = self.start_target('Closing target', 'untouched')

        for opened_by in ('hotkey', 'tray'):
            with self.subTest(opened_by=opened_by):
                if opened_by == 'hotkey':
                    self.open_phrase_menu(vornick, target)
                else:
                    self.open_tray_menu(vornick, target)
                self.wait_foreground(target, 'vornick')
                click(AWAY)
                wait_no_menu()
                self.wait_foreground(target, 'VornickTestTarget')
                self.assertEqual(target.report()['foreground'], target.report()['hwnd'])
        self.assertEqual(target.text(), 'untouched')
        self.assertEqual(target.report()['pastes'], 0)


class TrayTest(ProgramTestCase):

    def test_tray_menu_offers_phrases_first_and_pastes_into_the_previous_foreground(self):
        vornick = self.start_vornick()
        target = self.start_target('Tray target', 'one two three', sel=(4, 7))

        submenu = self.open_phrase_submenu(vornick, target)
        x = window_geometry(submenu)[0]
        tray_x = window_geometry(next(m for m in open_menus() if m != submenu))[0]
        self.assertGreater(x, tray_x, 'the phrase submenu opens beside the tray menu')
        vornick.pick(submenu, 1, len(PHRASES))

        target.wait_for_text('one beta three')
        report = target.report()
        self.assertEqual(report['sel'], (8, 8))
        self.assertEqual(report['foreground'], report['hwnd'])

    def test_single_left_click_shows_no_menu(self):
        vornick = self.start_vornick()
        target = self.start_target('Left click target', 'text')

        self.point_at_icon(vornick, target)
        xdotool('click', 1)
        # The hidden window takes the foreground, and nothing gives it back.
        self.wait_foreground(target, 'vornick')
        self.assertTrue(stays(lambda: not open_menus() and not dialogs(), 1.5))
        self.assertEqual(target.report()['foreground_class'], 'vornick')

    def test_second_copy_exits_with_zero_and_adds_no_icon(self):
        vornick = self.start_vornick()
        second = self.start(VORNICK_EXE, cwd=vornick.cwd)
        self.assertTrue(stays(lambda: tray_icon_count() <= 1, 3), 'a second icon appeared')
        self.assertEqual(second.wait(15), 0)
        self.assertEqual(tray_icon_count(), 1)

        target = self.start_target('First copy target', '')
        menu = self.open_phrase_menu(vornick, target)
        vornick.pick(menu, 0, len(PHRASES))
        target.wait_for_text('alpha')

    def test_exit_command_removes_icon_and_ends_with_zero(self):
        for dialog_open in (False, True):
            with self.subTest(dialog_open=dialog_open):
                vornick = self.start_vornick()
                target = self.start_target(f'Exit target {dialog_open}', '')
                if dialog_open:
                    open_dialog(vornick.tray)
                self.activate(target)
                exit_through_tray_menu(vornick.tray)
                self.assertEqual(vornick.wait_exit(15), 0)
                # Wine also drops an icon whose window is gone, so this shows
                # that the icon goes, not which of the two removed it.
                wait_until(lambda: tray_icon_count() == 0, 10, 'the icon to go')
                self.assertEqual(dialogs(), [])
                target.close()


class SettingsTest(ProgramTestCase):

    def test_dialog_opens_once_and_ok_changes_next_menu_and_file(self):
        vornick = self.start_vornick()
        target = self.start_target('Settings target', 'say ', sel=(4, 4))

        self.point_at_icon(vornick, target)
        dialog = open_dialog(vornick.tray)
        wait_until(lambda: target.report()['foreground_class'] == '#32770', 5,
                   'the dialog to be the foreground window')
        dialog_hwnd = target.report()['foreground']
        click(icon_point(vornick.tray), repeat=2)
        wait_until(lambda: target.report()['foreground'] != dialog_hwnd, 5,
                   'the dialog to lose the foreground')
        # The dialog losing the foreground shows that the second double click
        # has been handled; from then on no second dialog may come up.
        self.assertTrue(stays(lambda: dialogs() == [dialog], 1.5), 'a second dialog opened')

        click(dialog_point(dialog, DIALOG_EDIT))
        xdotool('type', '--delay', 30, 'delta')
        click(dialog_point(dialog, DIALOG_ADD))
        click(dialog_point(dialog, DIALOG_OK))
        wait_until(lambda: not dialogs(), 10, 'the dialog to close')

        entries = read_ini(vornick.cwd / 'vornick.ini')
        self.assertEqual(entries, {'len': '4', 'VK': '123', 'shift': '6', '0': 'alpha',
                                   '1': 'beta', '2': 'gamma', '3': 'delta'})

        menu = self.open_phrase_menu(vornick, target)
        self.assertEqual(len(open_menus()), 1)
        vornick.pick(menu, 3, 4)
        target.wait_for_text('say delta')

    def test_settings_of_the_current_directory_are_read(self):
        write_ini(self.workdir, INI)
        other = self.workdir / 'other folder'
        other.mkdir()
        vornick = self.start_vornick(
            '[DefStr]\nlen=2\nVK=123\nshift=6\n0=from the other folder\n1=second\n', cwd=other)
        target = self.start_target('Folder target', '')

        menu = self.open_phrase_menu(vornick, target)
        vornick.pick(menu, 0, 2)
        target.wait_for_text('from the other folder')


class NotepadTest(ProgramTestCase):

    def test_pastes_into_wine_notepad(self):
        vornick = self.start_vornick()
        note = self.workdir / 'note.txt'
        note.write_bytes(b'Dear ')
        self.start('notepad', [winpath(note)])
        notepad = wait_until(lambda: (find_windows(r'^note\.txt - Notepad$', True) or [None])[0],
                             20, "Wine's notepad")

        activate(notepad)
        xdotool('key', 'ctrl+End')
        xdotool('mousemove', 600, 400)
        xdotool('key', 'ctrl+shift+F12')
        menu = wait_menus(1, 'the phrase menu over notepad')[0]
        vornick.pick(menu, 1, len(PHRASES))
        wait_no_menu()

        # Notepad shows what it holds only on screen: save it and read the file.
        activate(notepad)
        xdotool('key', 'ctrl+s')
        wait_until(lambda: note.read_bytes() == b'Dear beta', 10,
                   f'notepad to save the pasted phrase (the file holds {note.read_bytes()!r})')


if __name__ == '__main__':
    unittest.main()
