"""Capturing the target application and pasting a phrase into it.

paste_probe.exe runs the program's own CaptureTarget and PastePhrase on
command and reports the fields they keep in `app`; the targets are the tests'
own target_app and Wine's notepad, brought to the front by X activation. The
probe's main window stands for the program's hidden window: the `front`
command gives it the foreground, as the phrase menu does before it opens.
"""
import os
import queue
import shutil
import subprocess
import threading
import unittest

from harness import (TESTS_BIN, DesktopTestCase, activate, end_piped, find_windows, stays,
                     wait_until, xdotool)

PROBE_EXE = TESTS_BIN / 'paste_probe.exe'

VK_CONTROL, VK_RCONTROL, VK_V = 0x11, 0xA3, 0x56
LLKHF_INJECTED, LLKHF_UP = 0x10, 0x80

# The Unicode target shows CF_TEXT as the code page of the locale turns it.
WESTERN = {'LC_ALL': 'en_US.UTF-8'}
JAPANESE = {'LC_ALL': 'ja_JP.UTF-8'}


class Probe:
    """paste_probe.exe: one command per line on stdin, one reply line each."""

    def __init__(self, case, title='paste probe', exe=PROBE_EXE, env=None):
        environment = dict(os.environ)
        environment.update(env or {})
        self._log = open(case.workdir / f'{title.replace(" ", "_")}.log', 'wb')
        self.popen = subprocess.Popen(['wine', str(exe), title], cwd=case.workdir,
                                      env=environment, stdin=subprocess.PIPE,
                                      stdout=subprocess.PIPE, stderr=self._log, text=True,
                                      start_new_session=True)
        case._processes.append(self)
        self._lines = queue.Queue()
        self._reader = threading.Thread(target=self._read, daemon=True)
        self._reader.start()
        ready = self._reply(30)
        if not ready.startswith('ready '):
            raise AssertionError(f'the probe did not start: {ready!r}')

    def _read(self):
        for line in self.popen.stdout:
            self._lines.put(line.rstrip('\n'))
        self._lines.put(None)

    def _reply(self, timeout):
        try:
            line = self._lines.get(timeout=timeout)
        except queue.Empty:
            raise AssertionError(f'the probe gave no reply within {timeout} s') from None
        if line is None:
            raise AssertionError('the probe ended')
        return line

    def command(self, line):
        self.popen.stdin.write(line + '\n')
        self.popen.stdin.flush()
        return self._reply(20)

    @staticmethod
    def _fields(reply):
        return dict(field.split('=', 1) for field in reply.split())

    def _state(self, reply):
        fields = self._fields(reply)
        state = {name: int(fields[name], 16) for name in ('fg', 'target', 'focus', 'main', 'tray')}
        state.update(fgclass=fields['fgclass'], nt=fields['nt'] == '1',
                     sel=(int(fields['start']), int(fields['end'])))
        return state

    def state(self):
        return self._state(self.command('state'))

    def capture(self):
        return self._state(self.command('capture'))

    def paste(self, phrase):
        return self._state(self.command('paste ' + phrase.hex()))

    def front(self, window=0):
        """Gives the foreground to a window, by default to the main window."""
        return self._state(self.command(f'front {window:x}'))

    def clipboard(self):
        """(owner window, CF_TEXT bytes or None)."""
        fields = self._fields(self.command('clip'))
        text = fields['text']
        return int(fields['owner'], 16), None if text == 'none' else bytes.fromhex(text)

    def edit_state(self, edit):
        """(ANSI text, selection) of an edit control."""
        fields = self._fields(self.command(f'edit {edit:x}'))
        return bytes.fromhex(fields['text']), (int(fields['start']), int(fields['end']))

    def hook_keyboard(self):
        self.assert_ok('hook')

    def typed_keys(self):
        """Synthesised key events seen by the hook since the last call, as
        (virtual key, scan code, released) tuples."""
        events = self._fields(self.command('keys'))['keys']
        keys = []
        for event in filter(None, events.split(',')):
            vk, scan, flags = (int(part, 16) for part in event.split(':'))
            if flags & LLKHF_INJECTED:
                keys.append((vk, scan, bool(flags & LLKHF_UP)))
        return keys

    def assert_ok(self, line):
        reply = self.command(line)
        if reply != 'ok':
            raise AssertionError(f'probe command {line!r} answered {reply!r}')

    def kill(self):
        if self.popen.poll() is None:
            end_piped(self.popen)  # the probe ends when its input does
        self._reader.join(timeout=5)
        for stream in (self.popen.stdin, self.popen.stdout, self._log):
            try:
                stream.close()
            except OSError:
                pass


class PasteTestCase(DesktopTestCase):

    def bring_to_front(self, target, probe):
        """X activation of the target, until Wine has made it the foreground."""
        self._activate_until(target.window, lambda: probe.state()['fg'] == target.hwnd(),
                             f'"{target.title}" to be the foreground window')

    def capture(self, target, probe):
        """The user's application captured, then the menu in front."""
        self.bring_to_front(target, probe)
        state = probe.capture()
        self.assertEqual(state['target'], target.hwnd())
        probe.front()
        return state

    def bring_notepad_to_front(self, notepad, probe):
        self._activate_until(notepad, lambda: probe.state()['fgclass'] == 'Notepad',
                             'notepad in front')

    def _activate_until(self, window, in_front, what):
        # An activation request for the window that X already has active can
        # go unanswered by the window manager; asking again settles it.
        for _ in range(3):
            activate(window)
            try:
                return wait_until(in_front, 2, what)
            except AssertionError:
                pass
        wait_until(in_front, 1, what)

    def click(self, target, point):
        """A click at a point of the target's client area."""
        xdotool('mousemove', '--window', target.window, *point, 'click', 1)

    def focus_edit(self, target):
        self.click(target, (100, 20))
        wait_until(lambda: target.report()['focus'] == 'edit', 5, 'the focus on the edit box')

    def focus_list(self, target):
        self.click(target, (250, 100))
        wait_until(lambda: target.report()['focus'] == 'list', 5, 'the focus on the list box')

    def assert_unchanged(self, target, report, duration=1.5):
        """The target's text and paste count stay as in the report."""
        def same():
            now = target.report()
            return all(now[key] == report[key] for key in ('text', 'pastes'))
        self.assertTrue(stays(same, duration),
                        f'"{target.title}" changed from {report} to {target.report()}')


class CaptureTest(PasteTestCase):

    def test_capture_records_window_focused_edit_and_selection(self):
        target = self.start_target('Capture target', 'abcdefghij', sel=(3, 7))
        probe = Probe(self)
        self.bring_to_front(target, probe)

        state = probe.capture()

        self.assertEqual(state['target'], target.hwnd())
        self.assertEqual(state['focus'], target.hwnd('edit'))
        self.assertEqual(state['sel'], (3, 7))

        # A window of the program's own thread can be captured too; it does
        # not answer EM_GETSEL, so the selection must come out as 0, not as
        # the previous capture's. (Another process's control cannot show
        # this under Wine: the marshalled reply always writes both values.)
        window = int(probe.command('window').split('=')[1], 16)
        activate(wait_until(lambda: (find_windows('^paste probe window$', True) or [None])[0],
                            10, "the probe's own window"))
        wait_until(lambda: probe.state()['fg'] == window, 5, "the probe's window in front")
        state = probe.capture()
        self.assertEqual((state['target'], state['focus'], state['sel']), (window, window, (0, 0)))

    def test_capture_with_excluded_foreground_keeps_previous_capture(self):
        target = self.start_target('Capture target', 'abcdefghij', sel=(3, 7))
        probe = Probe(self)
        probe.assert_ok('tray')  # the taskbar window exists once an icon is shown
        taskbar = wait_until(lambda: probe.state()['tray'], 10, 'the taskbar window')
        self.bring_to_front(target, probe)
        first = probe.capture()
        self.assertEqual(first['target'], target.hwnd())

        # Wine leaves no foreground window after the capture's thread
        # attachment, which gives the "nothing in front" case.
        cases = [('nothing', None, 0),
                 ('the main window', lambda: probe.front(), first['main']),
                 ('the taskbar', lambda: probe.front(taskbar), taskbar)]
        for name, bring, foreground in cases:
            with self.subTest(foreground=name):
                if bring:
                    bring()
                wait_until(lambda: probe.state()['fg'] == foreground, 5,
                           f'{name} in the foreground')
                state = probe.capture()
                for field in ('target', 'focus', 'sel'):
                    self.assertEqual(state[field], first[field], field)


class PasteTest(PasteTestCase):

    def test_paste_replaces_the_saved_selection(self):
        target = self.start_target('Paste target', 'abcdefghij', sel=(3, 7))
        probe = Probe(self)
        self.bring_to_front(target, probe)
        probe.capture()
        # The caret moves away after the capture; the paste puts the saved
        # selection back before Ctrl+V.
        xdotool('key', 'End')
        wait_until(lambda: target.report()['sel'] == (10, 10), 5, 'the caret at the end')
        probe.front()

        state = probe.paste(b'XY')

        target.wait_for_text('abcXYhij')
        self.assertEqual(target.report()['setsel'], 1)
        self.assertEqual(probe.clipboard(), (state['main'], b'XY'))
        self.assertEqual(state['focus'], 0, 'the paste consumes the saved focus')
        self.assertEqual(state['target'], target.hwnd(), 'the target stays in force')

    def test_caret_at_start_sends_no_selection(self):
        target = self.start_target('Paste target', 'world', sel=(0, 0))
        probe = Probe(self)
        self.assertEqual(self.capture(target, probe)['sel'], (0, 0))

        probe.paste(b'hello ')

        target.wait_for_text('hello world')
        self.assertEqual(target.report()['setsel'], 0)
        self.assertEqual(target.report()['focus'], 'edit')

    def test_focus_on_button_restores_only_the_focus(self):
        target = self.start_target('Paste target', 'abcdefghij', sel=(3, 7), focus='button')
        probe = Probe(self)
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

        wait_until(lambda: target.report()['focus'] == 'button', 5, 'the focus back on the button')
        self.assert_unchanged(target, before)
        self.assertEqual(target.report()['setsel'], 0)

    def test_second_paste_without_capture_does_not_restore_focus(self):
        target = self.start_target('Paste target', 'abcdefghij', sel=(3, 7))
        other = self.start_target('Other target', 'other')
        probe = Probe(self)
        self.capture(target, probe)
        probe.paste(b'XY')
        target.wait_for_text('abcXYhij')
        # The user moves to the list box, then to another application.
        self.focus_list(target)
        self.bring_to_front(other, probe)
        before, other_before = target.report(), other.report()

        probe.paste(b'Z')

        wait_until(lambda: probe.state()['fg'] == target.hwnd(), 5, 'the target back in front')
        self.assert_unchanged(target, before)
        self.assertEqual(target.report()['focus'], 'list')
        self.assert_unchanged(other, other_before, duration=0.2)
        self.assertEqual(target.report()['setsel'], 1, 'only the first paste restored a selection')

    def test_empty_phrase_empties_the_clipboard_and_still_types_ctrl_v(self):
        target = self.start_target('Paste target', 'abc', sel=(1, 2))
        probe = Probe(self)
        probe.paste(b'earlier text')
        self.capture(target, probe)

        state = probe.paste(b'')

        # The clipboard is read only after the target's paste: a reader
        # holding it open would make the target's paste fail.
        wait_until(lambda: target.report()['pastes'] == 1, 5, 'the paste in the target')
        self.assertEqual(target.text(), 'ac', 'an empty paste replaces the selection with nothing')
        self.assertEqual(probe.clipboard(), (state['main'], b''))

    def test_without_any_capture_the_phrase_is_only_on_the_clipboard(self):
        target = self.start_target('Paste target', 'abc')
        probe = Probe(self)
        probe.hook_keyboard()
        self.bring_to_front(target, probe)
        before = target.report()

        state = probe.paste(b'lonely')

        self.assertEqual(state['target'], 0)
        self.assertEqual(probe.clipboard(), (state['main'], b'lonely'))
        self.assert_unchanged(target, before)
        self.assertEqual(probe.typed_keys(), [])

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
                probe = Probe(self, title=f'{family} probe', exe=exe)
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
                probe = Probe(self, title=f'{name} probe', env=env)
                self.capture(target, probe)

                state = probe.paste(phrase)

                target.wait_for_text(text)
                self.assertEqual(probe.clipboard(), (state['main'], phrase))
                target.close()
                probe.kill()


class FailureTest(PasteTestCase):

    def test_clipboard_held_by_another_process_types_nothing(self):
        target = self.start_target('Paste target', 'abcdefghij', sel=(3, 7))
        probe = Probe(self)
        holder = Probe(self, title='clipboard holder')
        probe.hook_keyboard()
        probe.paste(b'before')
        self.capture(target, probe)
        before = target.report()
        holder.assert_ok('hold')

        probe.paste(b'after')

        self.assert_unchanged(target, before)
        self.assertEqual(probe.typed_keys(), [])
        holder.assert_ok('release')
        self.assertEqual(probe.clipboard()[1], b'before')

    def test_target_closed_before_paste_types_nothing_anywhere(self):
        target = self.start_target('Closed target', 'abcdefghij', sel=(3, 7))
        other = self.start_target('Other target', 'other')
        probe = Probe(self)
        probe.hook_keyboard()
        self.capture(target, probe)
        target.close()
        wait_until(lambda: not find_windows('^Closed target$'), 10, 'the target to close')
        # The user is in another application when the phrase is picked.
        self.bring_to_front(other, probe)
        before = other.report()

        probe.paste(b'ghost')

        self.assertEqual(probe.clipboard()[1], b'ghost')
        self.assert_unchanged(other, before)
        self.assertEqual(probe.typed_keys(), [])


class NotepadTest(PasteTestCase):

    def test_paste_into_notepad_lands_at_the_caret(self):
        probe = Probe(self)
        self.start('notepad')
        notepad = wait_until(lambda: (find_windows('Notepad$', True) or [None])[0], 20,
                             "Wine's notepad")
        self.bring_notepad_to_front(notepad, probe)
        edit = probe.capture()['focus']
        self.assertNotEqual(edit, 0)
        xdotool('type', '--delay', 30, 'hello world')
        xdotool('key', 'Home', *['Right'] * 5)
        wait_until(lambda: probe.edit_state(edit) == (b'hello world', (5, 5)), 10,
                   'the typed text in notepad with the caret after "hello"')
        self.bring_notepad_to_front(notepad, probe)
        self.assertEqual(probe.capture()['sel'], (5, 5))
        probe.front()

        probe.paste(b', dear')

        wait_until(lambda: probe.edit_state(edit)[0] == b'hello, dear world', 5,
                   'the phrase at the caret in notepad')


if __name__ == '__main__':
    unittest.main()
