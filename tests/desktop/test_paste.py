"""Capturing the target application and pasting a phrase into it.

paste_probe.exe runs the program's own CaptureTarget and PastePhrase on
command and reports the fields they keep in `app`; the targets are the tests'
own target_app and Wine's notepad, brought to the front by X activation. The
probe's main window stands for the program's hidden window: the `front`
command gives it the foreground, as the phrase menu does before it opens.
"""
import shutil
import subprocess
import unittest

from harness import (PROBE_EXE, VK_CONTROL, VK_RCONTROL, VK_V, DesktopTestCase, activate,
                     find_window, find_windows, wait_no_foreground_after_capture, wait_until,
                     xdotool)

# The Unicode target shows CF_TEXT as the code page of the locale turns it.
WESTERN = {'LC_ALL': 'en_US.UTF-8'}
JAPANESE = {'LC_ALL': 'ja_JP.UTF-8'}

# Time beyond the probe's answer timeout that a capture or a paste may take
# on a loaded machine when another program does not answer (ms).
MARGIN_MS = 1000


class PasteTestCase(DesktopTestCase):

    def bring_to_front(self, target, probe):
        """X activation of the target, until Wine has made it the foreground."""
        activate(target.window, lambda: probe.state()['fg'] == target.hwnd(),
                 f'"{target.title}" to be the foreground window')

    def capture(self, target, probe):
        """The user's application captured, then the menu in front."""
        self.bring_to_front(target, probe)
        state = probe.capture()
        self.assertEqual(state['target'], target.hwnd())
        probe.front()
        return state

    def bring_notepad_to_front(self, notepad, probe):
        activate(notepad, lambda: probe.state()['fgclass'] == 'Notepad', 'notepad in front')

    def click(self, target, point):
        """A click at a point of the target's client area."""
        xdotool('mousemove', '--window', target.window, *point, 'click', 1)

    def focus_edit(self, target):
        self.click(target, (100, 20))
        wait_until(lambda: target.report()['focus'] == 'edit', 20, 'the focus on the edit box')

    def focus_list(self, target):
        self.click(target, (250, 100))
        wait_until(lambda: target.report()['focus'] == 'list', 20, 'the focus on the list box')

    def assert_unchanged(self, target, report):
        """The target's text and paste count are as in the report, once it
        has handled every key typed into it so far."""
        now = target.settled_report()
        self.assertEqual({key: now[key] for key in ('text', 'pastes')},
                         {key: report[key] for key in ('text', 'pastes')},
                         f'"{target.title}" changed')


class CaptureTest(PasteTestCase):

    def test_capture_records_window_focused_edit_and_selection(self):
        target = self.start_target('Capture target', 'abcdefghij', sel=(3, 7))
        probe = self.start_probe()
        self.bring_to_front(target, probe)

        state = probe.capture()

        self.assertEqual(state['target'], target.hwnd())
        self.assertEqual(state['focus'], target.hwnd('edit'))
        self.assertEqual(state['sel'], (3, 7))

        # A window of the program's own thread can be captured too; it does
        # not answer EM_GETSEL, so the selection must come out as 0, not as
        # the previous capture's. (Another process's control cannot show
        # this under Wine: the marshalled reply always writes both values.)
        window = int(probe.ask('window').split('=')[1], 16)
        activate(find_window('^paste probe window$', 20, "the probe's own window"),
                 lambda: probe.state()['fg'] == window, "the probe's window in front")
        state = probe.capture()
        self.assertEqual((state['target'], state['focus'], state['sel']), (window, window, (0, 0)))

    def test_capture_with_excluded_foreground_keeps_previous_capture(self):
        target = self.start_target('Capture target', 'abcdefghij', sel=(3, 7))
        probe = self.start_probe()
        probe.assert_ok('tray')  # the taskbar window exists once an icon is shown
        taskbar = wait_until(lambda: probe.state()['tray'], 10, 'the taskbar window')
        self.bring_to_front(target, probe)
        first = probe.capture()
        self.assertEqual(first['target'], target.hwnd())

        cases = [('nothing', None, 0),
                 ('the main window', lambda: probe.front(), first['main']),
                 ('the taskbar', lambda: probe.front(taskbar), taskbar)]
        for name, bring, foreground in self.sequence(cases):
            with self.subTest(foreground=name):
                if bring:
                    bring()
                else:
                    wait_no_foreground_after_capture(probe)
                wait_until(lambda: probe.state()['fg'] == foreground, 10,
                           f'{name} in the foreground')
                state = probe.capture()
                for field in ('target', 'focus', 'sel'):
                    self.assertEqual(state[field], first[field], field)


class PasteTest(PasteTestCase):

    def test_paste_replaces_the_saved_selection(self):
        target = self.start_target('Paste target', 'abcdefghij', sel=(3, 7))
        probe = self.start_probe()
        self.bring_to_front(target, probe)
        probe.capture()
        # The caret moves away after the capture; the paste puts the saved
        # selection back before Ctrl+V.
        xdotool('key', 'End')
        wait_until(lambda: target.report()['sel'] == (10, 10), 20, 'the caret at the end')
        probe.front()

        state = probe.paste(b'XY')

        target.wait_for_text('abcXYhij')
        self.assertEqual(target.report()['setsel'], 1)
        self.assertEqual(probe.clipboard(), (state['main'], b'XY'))
        self.assertEqual(state['focus'], 0, 'the paste consumes the saved focus')
        self.assertEqual(state['target'], target.hwnd(), 'the target stays in force')

    def test_caret_at_start_sends_no_selection(self):
        target = self.start_target('Paste target', 'world', sel=(0, 0))
        probe = self.start_probe()
        self.assertEqual(self.capture(target, probe)['sel'], (0, 0))

        probe.paste(b'hello ')

        target.wait_for_text('hello world')
        self.assertEqual(target.report()['setsel'], 0)
        self.assertEqual(target.report()['focus'], 'edit')

    def test_focus_on_button_restores_only_the_focus(self):
        target = self.start_target('Paste target', 'abcdefghij', sel=(3, 7), focus='button')
        probe = self.start_probe()
        self.bring_to_front(target, probe)
        state = probe.capture()
        self.assertEqual((state['focus'], state['sel']), (target.hwnd('button'), (0, 0)))
        # The user clicks into the edit box; the paste must give the focus
        # back to the button, so that Ctrl+V does not reach the edit box. The
        # target stays in front: an activation would let the target restore
        # a focus of its own choice.
        self.focus_edit(target)
        before = target.report()

        probe.paste(b'XY')

        wait_until(lambda: target.report()['focus'] == 'button', 20, 'the focus back on the button')
        self.assert_unchanged(target, before)
        self.assertEqual(target.report()['setsel'], 0)

    def test_second_paste_without_capture_does_not_restore_focus(self):
        target = self.start_target('Paste target', 'abcdefghij', sel=(3, 7))
        other = self.start_target('Other target', 'other')
        probe = self.start_probe()
        self.capture(target, probe)
        probe.paste(b'XY')
        target.wait_for_text('abcXYhij')
        # The user moves to the list box, then to another application.
        self.focus_list(target)
        self.bring_to_front(other, probe)
        before, other_before = target.report(), other.report()

        probe.paste(b'Z')

        wait_until(lambda: probe.state()['fg'] == target.hwnd(), 20, 'the target back in front')
        self.assert_unchanged(target, before)
        self.assertEqual(target.report()['focus'], 'list')
        self.assert_unchanged(other, other_before)
        self.assertEqual(target.report()['setsel'], 1, 'only the first paste restored a selection')

    def test_empty_phrase_empties_the_clipboard_and_still_types_ctrl_v(self):
        target = self.start_target('Paste target', 'abc', sel=(1, 2))
        probe = self.start_probe()
        probe.paste(b'earlier text')
        self.capture(target, probe)

        state = probe.paste(b'')

        # The clipboard is read only after the target's paste: a reader
        # holding it open would make the target's paste fail.
        wait_until(lambda: target.report()['pastes'] == 1, 20, 'the paste in the target')
        self.assertEqual(target.text(), 'ac', 'an empty paste replaces the selection with nothing')
        self.assertEqual(probe.clipboard(), (state['main'], b''))

    def test_without_any_capture_the_phrase_is_only_on_the_clipboard(self):
        target = self.start_target('Paste target', 'abc')
        probe = self.start_probe()
        probe.hook_keyboard()
        self.bring_to_front(target, probe)
        before = target.report()

        state = probe.paste(b'lonely')

        self.assertEqual(state['target'], 0)
        self.assertEqual(probe.clipboard(), (state['main'], b'lonely'))
        self.assertEqual(probe.typed_keys(), [])
        self.assert_unchanged(target, before)

    def test_control_key_follows_the_platform_family(self):
        # Wine reports the consumer family to a program whose Windows
        # version is set to 98.
        consumer_probe = self.workdir / 'paste_probe_9x.exe'
        shutil.copy(PROBE_EXE, consumer_probe)
        subprocess.run(['wine', 'reg', 'add',
                        r'HKCU\Software\Wine\AppDefaults\paste_probe_9x.exe',
                        '/v', 'Version', '/d', 'win98', '/f'],
                       capture_output=True, check=True, timeout=60)
        for family, exe, is_nt, control in [('NT', PROBE_EXE, True, VK_RCONTROL),
                                            ('consumer', consumer_probe, False, VK_CONTROL)]:
            with self.subTest(family=family):
                target = self.start_target(f'{family} target', 'ab', sel=(1, 1))
                probe = self.start_probe(title=f'{family} probe', exe=exe)
                probe.hook_keyboard()
                self.assertEqual(self.capture(target, probe)['nt'], is_nt)

                probe.paste(b'V')

                target.wait_for_text('aVb')
                self.assertEqual(probe.typed_keys(), [(control, 0, False), (VK_V, 0, False),
                                                      (VK_V, 0, True), (control, 0, True)])
                target.close()
                probe.kill()


class ClipboardTest(PasteTestCase):

    def test_clipboard_holds_the_phrase_bytes_as_text(self):
        rows = [
            # plain bytes in the Western code page 1252
            ('Western', WESTERN, 'café € 5', 'café € 5'.encode('cp1252')),
            # Shift-JIS under code page 932, with 0x5C as the trail byte of
            # ソ and 表, which must not be taken for a backslash
            ('Japanese', JAPANESE, 'あいう漢字ソ表', 'あいう漢字ソ表'.encode('cp932')),
        ]
        for name, env, text, phrase in rows:
            with self.subTest(code_page=name):
                target = self.start_target(f'{name} target', env=env)
                probe = self.start_probe(title=f'{name} probe', env=env)
                self.capture(target, probe)

                state = probe.paste(phrase)

                target.wait_for_text(text)
                self.assertEqual(probe.clipboard(), (state['main'], phrase))
                target.close()
                probe.kill()


class FailureTest(PasteTestCase):

    def test_clipboard_held_by_another_process_types_nothing(self):
        target = self.start_target('Paste target', 'abcdefghij', sel=(3, 7))
        probe = self.start_probe()
        holder = self.start_probe(title='clipboard holder')
        probe.hook_keyboard()
        probe.paste(b'before')
        self.capture(target, probe)
        before = target.report()
        holder.assert_ok('hold')

        probe.paste(b'after')

        self.assertEqual(probe.typed_keys(), [])
        self.assert_unchanged(target, before)
        holder.assert_ok('release')
        self.assertEqual(probe.clipboard()[1], b'before')

    def test_clipboard_owner_that_does_not_answer_ends_the_paste(self):
        target = self.start_target('Owner target', 'abcdefghij', sel=(3, 7))
        probe = self.start_probe()
        probe.hook_keyboard()
        self.bring_to_front(target, probe)
        xdotool('key', 'ctrl+c')  # the target's edit box owns the clipboard
        wait_until(lambda: probe.clipboard()[1] == b'defg', 10, 'the copied text on the clipboard')
        owned = probe.clipboard()
        self.capture(target, probe)
        # Emptying the clipboard waits for its owner: Wine gives up after
        # 5 s, Windows not at all.
        target.hang(8)

        state = probe.paste(b'XY')

        self.assertLessEqual(state['ms'], probe.answer_timeout + MARGIN_MS)
        self.assertEqual(probe.clipboard(), owned)
        self.assertEqual(probe.typed_keys(), [])
        self.assertTrue(target.still_hung(), 'the target woke before the paste was over')
        target.wait_awake(15)
        self.assertEqual(target.settled_report()['pastes'], 0)

    def test_target_closed_before_paste_types_nothing_anywhere(self):
        target = self.start_target('Closed target', 'abcdefghij', sel=(3, 7))
        other = self.start_target('Other target', 'other')
        probe = self.start_probe()
        probe.hook_keyboard()
        self.capture(target, probe)
        target.close()
        wait_until(lambda: not find_windows('^Closed target$'), 10, 'the target to close')
        # The user is in another application when the phrase is picked.
        self.bring_to_front(other, probe)
        before = other.report()

        probe.paste(b'ghost')

        self.assertEqual(probe.clipboard()[1], b'ghost')
        self.assertEqual(probe.typed_keys(), [])
        self.assert_unchanged(other, before)


class UnansweringTargetTest(PasteTestCase):
    """Targets that answer late or not at all. The hotkey cannot show this
    under Wine: while the window with the X focus hangs, no key reaches any
    program, so the routines run here on command."""

    def test_hung_target_holds_capture_and_paste_up_only_until_the_timeout(self):
        target = self.start_target('Hung target', 'abcdefghij', sel=(3, 7))
        probe = self.start_probe()
        probe.hook_keyboard()
        self.bring_to_front(target, probe)
        # The capture and the paste come well within the first 5 s of the
        # hang, before the system counts the target as hung and answers for
        # it at once: they must give up by their own timeout.
        target.hang(8)
        bound = probe.answer_timeout + MARGIN_MS

        state = probe.capture()

        self.assertLessEqual(state['ms'], bound, 'the capture waited for the hung target')
        self.assertEqual((state['target'], state['focus'], state['sel']),
                         (target.hwnd(), target.hwnd('edit'), (0, 0)))

        probe.front()
        state = probe.paste(b'XY')

        self.assertLessEqual(state['ms'], bound, 'the paste waited for the hung target')
        self.assertEqual(probe.clipboard(), (state['main'], b'XY'))
        self.assertEqual(probe.typed_keys(), [])
        self.assertEqual(state['focus'], target.hwnd('edit'), 'the unused focus is kept')
        self.assertTrue(target.still_hung(), 'the target woke before the paste was over')
        # Nothing waits in its queue either.
        target.wait_awake(15)
        report = target.settled_report()
        self.assertEqual((report['text'], report['pastes'], report['setsel']),
                         ('abcdefghij', 0, 0))

        # Once it answers again, the kept focus takes the next paste, over
        # the selection the control still has.
        probe.paste(b'XY')

        target.wait_for_text('abcXYhij')

    def test_slow_target_is_still_captured_and_restored_with_its_selection(self):
        target = self.start_target('Slow target', 'abcdefghij', sel=(3, 7))
        probe = self.start_probe()
        target.answer_slowly(probe.answer_timeout // 2)
        self.bring_to_front(target, probe)

        self.assertEqual(probe.capture()['sel'], (3, 7))
        xdotool('key', 'End')
        wait_until(lambda: target.report()['sel'] == (10, 10), 20, 'the caret at the end')
        probe.front()
        probe.paste(b'XY')

        target.wait_for_text('abcXYhij')
        self.assertEqual(target.report()['setsel'], 1)


class NotepadTest(PasteTestCase):

    def test_paste_into_notepad_lands_at_the_caret(self):
        probe = self.start_probe()
        notepad = self.start_notepad()
        self.bring_notepad_to_front(notepad, probe)
        edit = probe.capture()['focus']
        self.assertNotEqual(edit, 0)
        xdotool('type', '--delay', 30, 'hello world')
        xdotool('key', 'Home', *['Right'] * 5)
        wait_until(lambda: probe.edit_state(edit) == (b'hello world', (5, 5)), 20,
                   'the typed text in notepad with the caret after "hello"')
        self.bring_notepad_to_front(notepad, probe)
        self.assertEqual(probe.capture()['sel'], (5, 5))
        probe.front()

        probe.paste(b', dear')

        wait_until(lambda: probe.edit_state(edit)[0] == b'hello, dear world', 20,
                   'the phrase at the caret in notepad')


if __name__ == '__main__':
    unittest.main()
