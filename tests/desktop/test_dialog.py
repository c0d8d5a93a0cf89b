"""The settings dialog of the real vornick.exe, opened by a double click on its
tray icon and driven by X input as a person would: typing, Enter and Escape,
clicks on the list and on the buttons, keys in the hotkey control. The
harness's inspector reads the dialog's controls from outside and makes list
selections by message where a click would add nothing (such a selection
sends no notification to the dialog).

The rules of list editing (Add, Delete, Up, Down and a selection copied into
the edit box), of OK and Cancel and of the hotkey conversions are owned by
the in-process tables of dialog_tests; here they are checked where only real
input shows them: Enter and Escape, list clicks, the hotkey typed into the
control and then pressed on the desktop, the system-wide registration, and
one sequence of edits by mouse and keyboard whose result is pasted.
"""
import unittest

from harness import (HOTKEY, IDC_ADD, IDC_DELETE, IDC_DOWN, IDC_UP, MOD_CONTROL, MOD_SHIFT, VK_F11,
                     VK_F12, DesktopTestCase, Vornick, activate, close_menu, inspector,
                     menu_item_height, read_section, xdotool)

# Ctrl+Shift+F12 and three phrases.
THREE_PHRASES = '[DefStr]\nlen=3\nVK=123\nshift=6\n0=alpha\n1=beta\n2=gamma\n'


class DialogTestCase(DesktopTestCase):

    def start_vornick(self, ini):
        self.vornick = Vornick(self, ini)
        self.ini = self.vornick.cwd / 'vornick.ini'

    def open_dialog(self):
        return self.vornick.open_dialog()

    def assert_hotkey_free(self, modifiers, vk, message):
        self.assertTrue(inspector().hotkey_free(modifiers, vk), message)


class InputTest(DialogTestCase):
    """Keys and clicks that reach the dialog only through the system's own
    handling of real input: Enter pressed in the edit box, and the list's
    items clicked with the mouse."""

    def test_enter_in_the_edit_box_adds_and_the_dialog_stays_open(self):
        self.start_vornick(THREE_PHRASES)
        before = self.ini.read_bytes()
        dialog = self.open_dialog()
        dialog.type('typed')
        xdotool('key', 'Return')
        dialog.wait_items(3, ['alpha', 'beta', 'gamma', 'typed'])
        # Enter again, with nothing to add: still open, nothing added.
        xdotool('key', 'Return')
        dialog.settle()
        self.assertTrue(dialog.is_open())
        self.assertEqual(dialog.items(), (3, ['alpha', 'beta', 'gamma', 'typed']))
        self.assertEqual(self.ini.read_bytes(), before)

        dialog.ok()
        self.assertEqual(read_section(self.ini),
                         {'len': '4', 'VK': '123', 'shift': '6', '0': 'alpha', '1': 'beta',
                          '2': 'gamma', '3': 'typed'})

    def test_clicking_an_item_copies_it_into_the_edit_box_fully_selected(self):
        self.start_vornick('[DefStr]\nlen=3\nVK=0\nshift=0\n0=alpha\n1=\n2=gamma\n')
        dialog = self.open_dialog()
        for index, shown in self.sequence([(2, ('gamma', (0, 5))),
                                           (1, ('', (0, 0))),  # an empty item
                                           (0, ('alpha', (0, 5)))]):
            with self.subTest(clicked=index):
                dialog.click_item(index)
                dialog.wait_edit_box(shown)
                self.assertEqual(dialog.items()[0], index)


class ApplyTest(DialogTestCase):
    """What OK and Escape apply, where it shows on the desktop: a list
    edited with the mouse and the keyboard and a hotkey typed into the
    control make the new menu, which the new hotkey opens and from which a
    phrase is pasted; and the released and registered hotkeys as the system
    holds them."""

    def setUp(self):
        super().setUp()
        self.target = self.start_target('vornick dialog target')

    def test_ok_saves_the_list_and_the_typed_hotkey_which_then_opens_the_new_menu(self):
        self.start_vornick('[DefStr]\nlen=4\nVK=123\nshift=6\n0=one\n1=two\n2=three\n3=four\n')
        menu = self.vornick.open_phrase_menu(self.target, HOTKEY)
        item_height = menu_item_height(menu, 4)
        close_menu()

        # Each editing button clicked with the mouse once; their rules are
        # the in-process table's.
        dialog = self.open_dialog()
        dialog.select(3)
        dialog.click(IDC_DELETE)
        dialog.wait_items(2, ['one', 'two', 'three'])
        dialog.click(IDC_UP)
        dialog.wait_items(1, ['one', 'three', 'two'])
        dialog.select(0)
        dialog.click(IDC_DELETE)
        dialog.wait_items(0, ['three', 'two'])
        dialog.type_in_edit('fresh')
        dialog.click(IDC_ADD)
        dialog.wait_items(0, ['fresh', 'three', 'two'])
        dialog.click(IDC_DOWN)
        dialog.wait_items(1, ['three', 'fresh', 'two'])
        # F12 alone, with no modifier.
        dialog.set_hotkey('F12', VK_F12)
        dialog.ok()

        self.assertEqual(read_section(self.ini),
                         {'len': '3', 'VK': '123', 'shift': '0', '0': 'three', '1': 'fresh',
                          '2': 'two', '3': 'four'})
        self.assert_hotkey_free(MOD_CONTROL | MOD_SHIFT, VK_F12, 'the old hotkey is still held')
        menu = self.vornick.open_phrase_menu(self.target, 'F12')
        self.assertAlmostEqual(menu_item_height(menu, 3), item_height, delta=0.5,
                               msg='the menu does not hold one item per phrase')
        self.vornick.pick(menu, 1, 3)
        self.target.wait_for_text('fresh')

    def test_escape_discards_the_edits_and_restores_the_old_hotkey(self):
        self.start_vornick('[DefStr]\nlen=2\nVK=123\nshift=6\n0=one\n1=two\n')
        before = self.ini.read_bytes()

        dialog = self.open_dialog()
        self.assert_hotkey_free(MOD_CONTROL | MOD_SHIFT, VK_F12,
                                'the hotkey is held while the dialog is open')
        dialog.select(0)
        dialog.click(IDC_DELETE)
        dialog.wait_items(0, ['two'])
        dialog.type_in_edit('added')
        dialog.click(IDC_ADD)
        dialog.wait_items(0, ['added', 'two'])
        dialog.set_hotkey('F11', VK_F11)
        activate(dialog.window)
        xdotool('key', 'Escape')
        dialog.wait_closed()

        self.assertEqual(self.ini.read_bytes(), before)
        self.assert_hotkey_free(0, VK_F11, 'the hotkey typed into the cancelled dialog is held')
        menu = self.vornick.open_phrase_menu(self.target, HOTKEY)
        self.vornick.pick(menu, 1, 2)
        self.target.wait_for_text('two')


if __name__ == '__main__':
    unittest.main()
