"""The whole program end to end: the real vornick.exe under Wine, driven by
real X input through its tray icon, its hotkey, its menus and its dialog.

Every start waits for an empty tray first (harness.Vornick).
"""
import time
import unittest

from harness import (IDC_ADD, MOD_CONTROL, MOD_SHIFT, TRAY_ITEMS, TRAY_PHRASES, VK_F12,
                     VORNICK_EXE, DesktopTestCase, Vornick, activate, click, close_menu, dialogs,
                     inspector, menu_item_point, popup_menus, read_section, stays,
                     tray_icon_count, wait_icon_count, wait_menus, wait_no_menu, wait_until,
                     window_geometry, winpath, write_ini, xdotool)

INI = """[DefStr]
len=3
VK=123
shift=6
0=alpha
1=beta
2=gamma
"""

PHRASES = ['alpha', 'beta', 'gamma']


class ProgramTestCase(DesktopTestCase):

    def start_vornick(self, ini=INI, cwd=None, env=None):
        return Vornick(self, ini, cwd=cwd, env=env)

    def point_at_icon(self, vornick, target):
        """The mouse leaves the target, which has the foreground, for the icon."""
        target.activate()
        vornick.point_at_icon()

    def open_tray_menu(self, vornick, target):
        target.activate()
        return vornick.open_tray_menu()

    def open_phrase_submenu(self, vornick, target):
        target.activate()
        return vornick.open_phrase_submenu()[1]


class HotkeyTest(ProgramTestCase):

    def test_hotkey_opens_menu_at_cursor_and_third_phrase_replaces_selection(self):
        vornick = self.start_vornick()
        target = self.start_target('Hotkey target', 'hello world', sel=(6, 11))

        menu = vornick.open_phrase_menu(target, at=(600, 400))
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

        menu = vornick.open_phrase_menu(target)
        vornick.pick(menu, 0, 1)
        target.wait_for_text(phrase)

    def test_no_hotkey_with_key_code_zero_but_tray_menu_pastes(self):
        vornick = self.start_vornick(INI.replace('VK=123', 'VK=0'))
        target = self.start_target('No hotkey target', 'x')

        # Neither the file's modifiers with key code 0 nor with the usual key.
        for vk in (0, VK_F12):
            self.assertTrue(inspector().hotkey_free(MOD_CONTROL | MOD_SHIFT, vk),
                            f'VK=0 registered a hotkey: Ctrl+Shift with key code {vk} is held')

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

        for opened_by in self.sequence(['hotkey', 'tray']):
            with self.subTest(opened_by=opened_by):
                if opened_by == 'hotkey':
                    vornick.open_phrase_menu(target)
                else:
                    self.open_tray_menu(vornick, target)
                close_menu()
                target.wait_foreground('VornickTestTarget')
                self.assertEqual(target.report()['foreground'], target.report()['hwnd'])
        self.assertEqual(target.text(), 'untouched')
        self.assertEqual(target.report()['pastes'], 0)


class TrayTest(ProgramTestCase):

    def test_tray_menu_offers_phrases_first_and_pastes_into_the_previous_foreground(self):
        vornick = self.start_vornick()
        target = self.start_target('Tray target', 'one two three', sel=(4, 7))

        submenu = self.open_phrase_submenu(vornick, target)
        x = window_geometry(submenu)[0]
        tray_x = window_geometry(next(m for m in popup_menus() if m != submenu))[0]
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
        target.wait_foreground('vornick')
        # Nothing else can show that no menu and no dialog comes.
        self.assertTrue(stays(lambda: not popup_menus() and not dialogs(), 1.5))
        self.assertEqual(target.report()['foreground_class'], 'vornick')

    def test_second_copy_exits_with_zero_and_adds_no_icon(self):
        vornick = self.start_vornick()
        second = self.start(VORNICK_EXE, cwd=vornick.cwd)
        # Watched until the second copy has ended: Wine drops the icon of a
        # window that is gone, so a second icon shows only while it runs.
        wait_until(lambda: tray_icon_count() > 1 or not second.running(), 30,
                   'the second copy to end')
        self.assertLessEqual(tray_icon_count(), 1, 'a second icon appeared')
        self.assertEqual(second.wait(15), 0)
        self.assertEqual(tray_icon_count(), 1)

        target = self.start_target('First copy target', '')
        menu = vornick.open_phrase_menu(target)
        vornick.pick(menu, 0, len(PHRASES))
        target.wait_for_text('alpha')

    def test_exit_command_removes_icon_and_ends_with_zero(self):
        left = []
        for dialog_open in (False, True):
            # A failed case must not leave its programs to the next one; they
            # end only here, after its screenshot has been taken.
            for process in left:
                process.kill()
            with self.subTest(dialog_open=dialog_open):
                vornick = self.start_vornick()
                target = self.start_target(f'Exit target {dialog_open}', '')
                left = [vornick.process, target.process]
                if dialog_open:
                    vornick.open_dialog()
                target.activate()
                vornick.exit_through_tray_menu()
                self.assertEqual(vornick.wait_exit(15), 0)
                # Wine also drops an icon whose window is gone, so this shows
                # that the icon goes, not which of the two removed it.
                wait_icon_count(0, 'the icon to go')
                self.assertEqual(dialogs(), [])


class SettingsTest(ProgramTestCase):

    def test_dialog_opens_once_and_ok_changes_next_menu_and_file(self):
        vornick = self.start_vornick()
        target = self.start_target('Settings target', 'say ', sel=(4, 4))

        self.point_at_icon(vornick, target)
        dialog = vornick.open_dialog()
        target.wait_foreground('#32770')
        dialog_hwnd = target.report()['foreground']
        click(vornick.icon_point(), repeat=2)
        wait_until(lambda: target.report()['foreground'] != dialog_hwnd, 10,
                   'the dialog to lose the foreground')
        # The window handles its tray messages in order: once the tray menu
        # asked for after the second double click is on screen, that double
        # click's command has been handled too.
        vornick.open_tray_menu()
        self.assertEqual(inspector().dialogs(), [dialog.handle], 'a second dialog opened')
        close_menu()

        activate(dialog.window)
        dialog.type_in_edit('delta')
        dialog.click(IDC_ADD)
        dialog.wait_items(3, PHRASES + ['delta'])
        dialog.ok()

        entries = read_section(vornick.cwd / 'vornick.ini')
        self.assertEqual(entries, {'len': '4', 'VK': '123', 'shift': '6', '0': 'alpha',
                                   '1': 'beta', '2': 'gamma', '3': 'delta'})

        menu = vornick.open_phrase_menu(target)
        self.assertEqual(len(popup_menus()), 1)
        vornick.pick(menu, 3, 4)
        target.wait_for_text('say delta')

    def test_settings_of_the_current_directory_are_read(self):
        write_ini(self.workdir, INI)
        other = self.workdir / 'other folder'
        other.mkdir()
        vornick = self.start_vornick(
            '[DefStr]\nlen=2\nVK=123\nshift=6\n0=from the other folder\n1=second\n', cwd=other)
        target = self.start_target('Folder target', '')

        menu = vornick.open_phrase_menu(target)
        vornick.pick(menu, 0, 2)
        target.wait_for_text('from the other folder')


class HungApplicationTest(ProgramTestCase):

    def seconds_since(self, start):
        return time.monotonic() - start

    def test_hung_application_in_front_does_not_freeze_the_program(self):
        vornick = self.start_vornick()
        target = self.start_target('Hung target', 'abc', sel=(3, 3))
        probe = self.start_probe()  # reads the clipboard; its hook sees every synthesised key
        probe.hook_keyboard()
        target.activate()
        # Long enough for the steps below on a loaded machine. The mouse
        # reaches the icon within the first 5 s of the hang, before the
        # system counts the application as hung and answers for it at once.
        target.hang(15)

        vornick.point_at_icon()
        start = time.monotonic()
        xdotool('click', 3)
        tray_menu = wait_menus(1, 'the tray menu over the hung application')[0]
        self.assertLess(self.seconds_since(start), 1.0, 'the tray menu came late')

        xdotool('mousemove', *menu_item_point(tray_menu, TRAY_PHRASES, TRAY_ITEMS))
        submenu = next(m for m in wait_menus(2, 'the phrase submenu') if m != tray_menu)
        start = time.monotonic()
        vornick.pick(submenu, 1, len(PHRASES))
        wait_until(lambda: probe.clipboard()[1] == b'beta', 10, 'the phrase on the clipboard')
        self.assertLess(self.seconds_since(start), 1.0, 'the phrase came late to the clipboard')

        # The dialog opens too, while the application still hangs.
        vornick.open_dialog().cancel()
        self.assertTrue(target.still_hung(), 'the application woke before the checks were over')

        target.wait_awake(30)
        self.assertEqual(probe.typed_keys(), [])
        report = target.settled_report()
        self.assertEqual((report['text'], report['pastes']), ('abc', 0))

        # Once the application answers again, all is as before.
        submenu = self.open_phrase_submenu(vornick, target)
        vornick.pick(submenu, 0, len(PHRASES))
        target.wait_for_text('abcalpha')
        vornick.open_dialog().cancel()


class NotepadTest(ProgramTestCase):

    def test_pastes_into_wine_notepad(self):
        vornick = self.start_vornick()
        note = self.workdir / 'note.txt'
        note.write_bytes(b'Dear ')
        notepad = self.start_notepad([winpath(note)], r'^note\.txt - Notepad$')

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
        wait_until(lambda: note.read_bytes() == b'Dear beta', 15,
                   f'notepad to save the pasted phrase (the file holds {note.read_bytes()!r})')


if __name__ == '__main__':
    unittest.main()
