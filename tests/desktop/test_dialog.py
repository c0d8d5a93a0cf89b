"""The settings dialog of the real vornick.exe, opened by a double click on its
tray icon and driven by X input as a person would: typing, Enter and Escape,
clicks on the list and on the buttons. dialog_probe.exe reads the
dialog's controls from outside (list items, the edit box, the hotkey
control) and makes list selections by message where a click would add nothing
(such a selection sends no notification to the dialog). What OK applies is
checked where it shows: the settings file, and the phrase menu that the new
hotkey opens on the target application, whose picked items are pasted there.
"""
import os
import select
import subprocess
import time
import unittest

from harness import (BUILD, TESTS_BIN, DesktopTestCase, Vornick, activate, active_window,
                     end_piped, popup_menus, stays, wait_until, window_geometry, xdotool)

INSPECTOR = TESTS_BIN / 'dialog_probe.exe'

IDOK, IDCANCEL = 1, 2
IDC_PHRASE_EDIT, IDC_ADD, IDC_PHRASE_LIST = 1000, 1001, 1002
IDC_DELETE, IDC_UP, IDC_HOTKEY, IDC_DOWN = 1005, 1006, 1007, 1008
LB_SETCURSEL = 0x186
HKM_GETHOTKEY = 0x402
VK_F11, VK_F12 = 122, 123
HOTKEYF_SHIFT, HOTKEYF_CONTROL = 1, 2

# Ctrl+Shift+F12 and three phrases.
THREE_PHRASES = '[DefStr]\nlen=3\nVK=123\nshift=6\n0=alpha\n1=beta\n2=gamma\n'


class Inspector:
    """dialog_probe.exe: one question per line, one answer per line."""

    def __init__(self, log_path):
        with open(log_path, 'wb') as log:
            self.popen = subprocess.Popen(['wine', str(INSPECTOR)], stdin=subprocess.PIPE,
                                          stdout=subprocess.PIPE, stderr=log,
                                          start_new_session=True)
        self._pending = b''

    def ask(self, *words, timeout=15.0):
        self.popen.stdin.write((' '.join(map(str, words)) + '\n').encode())
        self.popen.stdin.flush()
        deadline = time.monotonic() + timeout
        while b'\n' not in self._pending:
            remaining = deadline - time.monotonic()
            if remaining <= 0:
                raise AssertionError(f'the inspector gave no answer to {words}')
            if select.select([self.popen.stdout], [], [], remaining)[0]:
                chunk = os.read(self.popen.stdout.fileno(), 4096)
                if not chunk:
                    raise AssertionError('the inspector has ended')
                self._pending += chunk
        line, self._pending = self._pending.split(b'\n', 1)
        answer = line.decode().strip()
        if answer in ('timeout', 'no window', 'error', 'unknown command'):
            raise AssertionError(f'the inspector answered {answer!r} to {words}')
        return answer

    def close(self):
        end_piped(self.popen, grace=10)
        self.popen.stdout.close()


def unhex(word):
    return '' if word == '-' else bytes.fromhex(word).decode('utf-8')


class SettingsDialog:
    """The open dialog: its controls as the inspector sees them, and clicks
    and keys as a person gives them."""

    def __init__(self, inspector, handle):
        self.ask = inspector.ask
        self.handle = handle
        self.controls = {id: self.ask('item', handle, id)
                         for id in (IDOK, IDCANCEL, IDC_PHRASE_EDIT, IDC_ADD, IDC_PHRASE_LIST,
                                    IDC_DELETE, IDC_UP, IDC_HOTKEY, IDC_DOWN)}
        self.list = self.controls[IDC_PHRASE_LIST]
        self.edit = self.controls[IDC_PHRASE_EDIT]

    def is_open(self):
        return self.handle in self.ask('dialogs').split()

    def items(self):
        """(selected index, [item texts])"""
        words = self.ask('list', self.list).split()
        return int(words[0]), [unhex(word) for word in words[1:]]

    def edit_box(self):
        """(text, (selection start, selection end))"""
        start, end, text = self.ask('edit', self.edit).split()
        return unhex(text), (int(start), int(end))

    def focus(self):
        return self.ask('focus', self.handle)

    def hotkey(self):
        return int(self.ask('send', self.controls[IDC_HOTKEY], HKM_GETHOTKEY, 0, 0))

    def select(self, index):
        """Selects a list item by message, which sends no notification."""
        self.ask('send', self.list, LB_SETCURSEL, index, 0)

    def click(self, id):
        point = self.ask('center', self.controls[id]).split()
        xdotool('mousemove', *point)
        xdotool('click', 1)

    def click_item(self, index):
        xdotool('mousemove', *self.ask('itempoint', self.list, index).split())
        xdotool('click', 1)

    def type_in_edit(self, text):
        """Clicks into the (empty) edit box and types."""
        self.click(IDC_PHRASE_EDIT)
        xdotool('type', '--delay', 30, text)
        wait_until(lambda: self.edit_box()[0] == text, 5, f'the edit box to hold {text!r}')

    def settle(self):
        """Returns once every input given so far has been handled: a click on
        the hotkey control comes after it, and moves the focus there."""
        self.click(IDC_HOTKEY)
        wait_until(lambda: self.focus() == self.controls[IDC_HOTKEY], 5,
                   'the click on the hotkey control')

    def wait_items(self, selected, items):
        wait_until(lambda: self.items() == (selected, items), 5,
                   f'the list to be {items} with {selected} selected (it is {self.items()})')

    def wait_closed(self):
        wait_until(lambda: not self.is_open(), 5, 'the dialog to close')


def dialog_window():
    """The X window of vornick's dialog: its one visible window besides menus
    (the window manager has reparented it, so it is not a child of the root)."""
    output = xdotool('search', '--onlyvisible', '--classname', '^vornick\\.exe$', check=False)
    windows = set(int(w) for w in output.split()) - set(popup_menus())
    return windows.pop() if len(windows) == 1 else None


def read_ini(path):
    """The settings file as {section: {key: value}}, failing on a repeated
    section or key."""
    sections, current = {}, None
    for line in path.read_bytes().decode('cp1252').splitlines():
        if line.startswith('['):
            current = line.strip('[]')
            assert current not in sections, f'section {current} twice'
            sections[current] = {}
        elif '=' in line:
            key, value = line.split('=', 1)
            assert key not in sections[current], f'key {key} twice'
            sections[current][key] = value
    return sections


_inspector = None


def setUpModule():
    # One inspector for all the tests. As a Wine process on the desktop, it
    # also keeps Wine's desktop process (explorer, which draws the tray) from
    # ending between tests: starting it again costs seconds.
    global _inspector
    _inspector = Inspector(BUILD / 'dialog-inspector.log')
    _inspector.ask('dialogs')


def tearDownModule():
    _inspector.close()


class DialogTestCase(DesktopTestCase):

    def setUp(self):
        super().setUp()
        self.inspector = _inspector

    def start_vornick(self, ini):
        self.vornick = Vornick(self, ini)
        self.ini = self.vornick.cwd / 'vornick.ini'

    def open_dialog(self):
        """Double-clicks the tray icon and returns the dialog once it is the
        active window with the focus in its edit box."""
        xdotool('mousemove', *self.vornick.icon_point())
        xdotool('click', '--repeat', 2, '--delay', 80, 1)
        handle = wait_until(lambda: (self.inspector.ask('dialogs').split() or [None])[0], 10,
                            'the settings dialog')
        dialog = SettingsDialog(self.inspector, handle)
        dialog.window = wait_until(dialog_window, 5, "the dialog's X window")
        wait_until(lambda: active_window() == dialog.window, 5, 'the dialog to be active')
        wait_until(lambda: dialog.focus() == dialog.edit, 5, 'the focus in the edit box')
        return dialog

    def press_on_target(self, key):
        self.target.activate()
        xdotool('mousemove', 600, 450)
        xdotool('key', key)

    def assert_no_menu_after(self, key):
        self.press_on_target(key)
        self.assertTrue(stays(lambda: not popup_menus(), 1.5), f'{key} opened the phrase menu')

    def close_menu(self):
        """A click on a bare part of the target's window closes a menu."""
        x, y, _, _ = window_geometry(self.target.window)
        xdotool('mousemove', x + 50, y + 150)
        xdotool('click', 1)
        wait_until(lambda: not popup_menus(), 5, 'the menu to close')

    def menu_item_height(self, menu, count):
        return (window_geometry(menu)[3] - 6) / count


class EditingTest(DialogTestCase):
    """The list box is edited in place; the edit box only feeds Add."""

    def test_add_appends_or_inserts_before_the_selection_and_ignores_empty_text(self):
        self.start_vornick(THREE_PHRASES)
        dialog = self.open_dialog()
        self.assertEqual(dialog.items(), (-1, ['alpha', 'beta', 'gamma']))

        # The focus starts in the edit box: typing needs no click.
        xdotool('type', '--delay', 30, 'delta')
        wait_until(lambda: dialog.edit_box()[0] == 'delta', 5, 'the typed text')
        dialog.click(IDC_ADD)
        dialog.wait_items(3, ['alpha', 'beta', 'gamma', 'delta'])
        self.assertEqual(dialog.edit_box(), ('', (0, 0)))

        dialog.click(IDC_ADD)  # with the edit box empty
        dialog.settle()
        self.assertEqual(dialog.items(), (3, ['alpha', 'beta', 'gamma', 'delta']))

        dialog.select(1)
        dialog.type_in_edit('new')
        dialog.click(IDC_ADD)
        dialog.wait_items(1, ['alpha', 'new', 'beta', 'gamma', 'delta'])
        self.assertEqual(dialog.edit_box(), ('', (0, 0)))

    def test_enter_in_the_edit_box_adds_and_the_dialog_stays_open(self):
        self.start_vornick(THREE_PHRASES)
        before = self.ini.read_bytes()
        dialog = self.open_dialog()
        xdotool('type', '--delay', 30, 'typed')
        wait_until(lambda: dialog.edit_box()[0] == 'typed', 5, 'the typed text')
        xdotool('key', 'Return')
        dialog.wait_items(3, ['alpha', 'beta', 'gamma', 'typed'])
        # Enter again, with nothing to add: still open, nothing added.
        xdotool('key', 'Return')
        dialog.settle()
        self.assertTrue(dialog.is_open())
        self.assertEqual(dialog.items(), (3, ['alpha', 'beta', 'gamma', 'typed']))
        self.assertEqual(self.ini.read_bytes(), before)

        dialog.click(IDOK)
        dialog.wait_closed()
        self.assertEqual(read_ini(self.ini)['DefStr'],
                         {'len': '4', 'VK': '123', 'shift': '6', '0': 'alpha', '1': 'beta',
                          '2': 'gamma', '3': 'typed'})

    def test_selecting_an_item_copies_it_into_the_edit_box_fully_selected(self):
        self.start_vornick('[DefStr]\nlen=3\nVK=0\nshift=0\n0=alpha\n1=\n2=gamma\n')
        dialog = self.open_dialog()
        dialog.click_item(2)
        wait_until(lambda: dialog.edit_box() == ('gamma', (0, 5)), 5, 'gamma in the edit box')
        dialog.click_item(1)  # an empty item
        wait_until(lambda: dialog.edit_box() == ('', (0, 0)), 5, 'an empty edit box')
        dialog.click_item(0)
        wait_until(lambda: dialog.edit_box() == ('alpha', (0, 5)), 5, 'alpha in the edit box')
        self.assertEqual(dialog.items()[0], 0)
        # Add then puts a copy before the selected item, and the edit box is
        # cleared rather than refilled from the new selection.
        dialog.click(IDC_ADD)
        dialog.wait_items(0, ['alpha', 'alpha', '', 'gamma'])
        self.assertEqual(dialog.edit_box(), ('', (0, 0)))

    def test_delete_keeps_the_position_or_takes_the_new_last_item(self):
        self.start_vornick(THREE_PHRASES)
        dialog = self.open_dialog()
        xdotool('type', '--delay', 30, 'keep')
        wait_until(lambda: dialog.edit_box()[0] == 'keep', 5, 'the typed text')

        steps = [
            # (index selected by message or None, list after Delete, selection after)
            (None, ['alpha', 'beta', 'gamma'], -1),  # nothing selected: nothing deleted
            (2, ['alpha', 'beta'], 1),  # the last of several: the new last one
            (0, ['beta'], 0),  # the first: the next one moves up into its place
            (0, [], -1),  # the only item: an empty list, no selection
            (None, [], -1),
        ]
        for selected, items, selection in steps:
            with self.subTest(selected=selected, items=items):
                if selected is not None:
                    dialog.select(selected)
                dialog.click(IDC_DELETE)
                dialog.settle()
                self.assertEqual(dialog.items(), (selection, items))
                self.assertEqual(dialog.edit_box()[0], 'keep')

    def test_up_and_down_move_the_selected_item_and_stop_at_the_ends(self):
        self.start_vornick(THREE_PHRASES)
        dialog = self.open_dialog()
        xdotool('type', '--delay', 30, 'keep')
        wait_until(lambda: dialog.edit_box()[0] == 'keep', 5, 'the typed text')

        steps = [
            # (index selected by message or None, button, list after, selection after)
            (None, IDC_UP, ['alpha', 'beta', 'gamma'], -1),
            (None, IDC_DOWN, ['alpha', 'beta', 'gamma'], -1),
            (0, IDC_UP, ['alpha', 'beta', 'gamma'], 0),  # Up on the first
            (None, IDC_DOWN, ['beta', 'alpha', 'gamma'], 1),
            (None, IDC_DOWN, ['beta', 'gamma', 'alpha'], 2),
            (None, IDC_DOWN, ['beta', 'gamma', 'alpha'], 2),  # Down on the last
            (None, IDC_UP, ['beta', 'alpha', 'gamma'], 1),
            (1, IDC_UP, ['alpha', 'beta', 'gamma'], 0),
        ]
        for selected, button, items, selection in steps:
            with self.subTest(button='Up' if button == IDC_UP else 'Down', items=items):
                if selected is not None:
                    dialog.select(selected)
                dialog.click(button)
                dialog.settle()
                self.assertEqual(dialog.items(), (selection, items))
                self.assertEqual(dialog.edit_box()[0], 'keep')


class ApplyTest(DialogTestCase):
    """OK saves and applies the list and the hotkey; Cancel and Escape
    change nothing."""

    def setUp(self):
        super().setUp()
        self.target = self.start_target('vornick dialog target')

    def pick_each(self, key, phrases, item_height):
        """Opens the menu with the hotkey once per phrase, checks its size,
        and picks the phrases in turn: each is pasted after the last."""
        pasted = ''
        for index, phrase in enumerate(phrases):
            menu = self.vornick.open_phrase_menu(self.target, key)
            self.assertAlmostEqual(self.menu_item_height(menu, len(phrases)), item_height,
                                   delta=0.5, msg='the menu does not hold one item per phrase')
            self.vornick.pick(menu, index, len(phrases))
            pasted += phrase
            self.target.wait_for_text(pasted)

    def test_ok_saves_the_list_and_the_hotkey_which_then_opens_the_new_menu(self):
        self.start_vornick('[DefStr]\nlen=4\nVK=123\nshift=6\n0=one\n1=two\n2=three\n3=four\n')
        menu = self.vornick.open_phrase_menu(self.target, 'ctrl+shift+F12')
        item_height = self.menu_item_height(menu, 4)
        self.close_menu()

        dialog = self.open_dialog()
        dialog.select(3)
        dialog.click(IDC_DELETE)
        dialog.wait_items(2, ['one', 'two', 'three'])
        dialog.select(0)
        dialog.click(IDC_DELETE)
        dialog.wait_items(0, ['two', 'three'])
        dialog.type_in_edit('fresh')
        dialog.click(IDC_ADD)
        dialog.wait_items(0, ['fresh', 'two', 'three'])
        # Typed but not added: OK takes only the list.
        dialog.type_in_edit('not added')
        # F12 alone, with no modifier.
        dialog.click(IDC_HOTKEY)
        xdotool('key', 'F12')
        wait_until(lambda: dialog.hotkey() == VK_F12, 5, 'F12 in the hotkey control')
        dialog.click(IDOK)
        dialog.wait_closed()

        # Entry 3 is beyond the new length and stays as it was.
        self.assertEqual(read_ini(self.ini),
                         {'DefStr': {'len': '3', 'VK': '123', 'shift': '0', '0': 'fresh',
                                     '1': 'two', '2': 'three', '3': 'four'}})
        self.pick_each('F12', ['fresh', 'two', 'three'], item_height)
        self.assert_no_menu_after('ctrl+shift+F12')

    def test_ok_with_the_hotkey_cleared_saves_zero_and_registers_nothing(self):
        self.start_vornick(THREE_PHRASES)
        dialog = self.open_dialog()
        dialog.click(IDC_HOTKEY)
        xdotool('key', 'BackSpace')
        wait_until(lambda: dialog.hotkey() == 0, 5, 'the hotkey control to be cleared')
        dialog.click(IDOK)
        dialog.wait_closed()
        self.assertEqual(read_ini(self.ini)['DefStr'],
                         {'len': '3', 'VK': '0', 'shift': '0', '0': 'alpha', '1': 'beta',
                          '2': 'gamma'})
        self.assert_no_menu_after('ctrl+shift+F12')

    def test_a_loaded_shift_with_mod_win_loses_that_bit(self):
        # Windows key + Ctrl + Shift + F12: the exact combination is needed.
        self.start_vornick('[DefStr]\nlen=1\nVK=123\nshift=14\n0=one\n')
        self.assert_no_menu_after('ctrl+shift+F12')

        dialog = self.open_dialog()
        self.assertEqual(dialog.hotkey(), VK_F12 | (HOTKEYF_CONTROL | HOTKEYF_SHIFT) << 8)
        dialog.click(IDOK)
        dialog.wait_closed()
        self.assertEqual(read_ini(self.ini)['DefStr'],
                         {'len': '1', 'VK': '123', 'shift': '6', '0': 'one'})
        self.vornick.open_phrase_menu(self.target, 'ctrl+shift+F12')
        self.close_menu()

    def test_cancel_and_escape_discard_the_edits_and_restore_the_old_hotkey(self):
        self.start_vornick('[DefStr]\nlen=2\nVK=123\nshift=6\n0=one\n1=two\n')
        before = self.ini.read_bytes()
        menu = self.vornick.open_phrase_menu(self.target, 'ctrl+shift+F12')
        item_height = self.menu_item_height(menu, 2)
        self.close_menu()

        for way in ('Cancel', 'Escape'):
            with self.subTest(way=way):
                dialog = self.open_dialog()
                # The hotkey is released while the dialog is open.
                self.assert_no_menu_after('ctrl+shift+F12')
                activate(dialog.window)
                dialog.select(0)
                dialog.click(IDC_DELETE)
                dialog.wait_items(0, ['two'])
                dialog.type_in_edit('added')
                dialog.click(IDC_ADD)
                dialog.wait_items(0, ['added', 'two'])
                dialog.click(IDC_HOTKEY)
                xdotool('key', 'F11')
                wait_until(lambda: dialog.hotkey() == VK_F11, 5, 'F11 in the hotkey control')
                if way == 'Cancel':
                    dialog.click(IDCANCEL)
                else:
                    xdotool('key', 'Escape')
                dialog.wait_closed()

                self.assertEqual(self.ini.read_bytes(), before)
                self.assert_no_menu_after('F11')
                start = self.target.text()
                menu = self.vornick.open_phrase_menu(self.target, 'ctrl+shift+F12')
                self.assertAlmostEqual(self.menu_item_height(menu, 2), item_height, delta=0.5)
                self.vornick.pick(menu, 1, 2)
                self.target.wait_for_text(start + 'two')

    def test_a_second_open_while_the_dialog_is_open_does_nothing(self):
        self.start_vornick(THREE_PHRASES)
        dialog = self.open_dialog()
        xdotool('mousemove', *self.vornick.icon_point())
        xdotool('click', '--repeat', 2, '--delay', 80, 1)
        self.assertTrue(stays(lambda: self.inspector.ask('dialogs') == dialog.handle, 1.5),
                        'a second dialog opened')
        # The first dialog still works, and once it is closed the icon opens
        # a dialog again.
        activate(dialog.window)
        xdotool('key', 'Escape')
        dialog.wait_closed()
        self.open_dialog()

    def test_empty_phrases_from_the_file_are_shown_and_saved_again(self):
        # Entry 2 is missing altogether: it loads as an empty phrase too.
        self.start_vornick('[DefStr]\nlen=4\nVK=0\nshift=0\n0=alpha\n1=\n3=delta\n')
        dialog = self.open_dialog()
        self.assertEqual(dialog.items(), (-1, ['alpha', '', '', 'delta']))
        dialog.click(IDOK)
        dialog.wait_closed()
        self.assertEqual(read_ini(self.ini)['DefStr'],
                         {'len': '4', 'VK': '0', 'shift': '0', '0': 'alpha', '1': '', '2': '',
                          '3': 'delta'})


if __name__ == '__main__':
    unittest.main()
