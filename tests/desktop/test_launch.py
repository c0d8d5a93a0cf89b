"""Starting vornick as users do: the first run through ./run.sh in a folder
with no settings file, and a copy run from a folder where someone has left a
DLL named like a system one.
"""
import os
import pty
import re
import select
import shutil
import signal
import subprocess
from pathlib import Path

from harness import (AWAY, DIALOG_OK, TESTS_BIN, VORNICK_EXE, DesktopTestCase, click, dialog_point,
                     dialogs, menu_item_point, open_dialog, read_ini, tray_icon_count, tray_window,
                     wait_menus, wait_until, write_ini, xdotool)

REPOSITORY = Path(__file__).resolve().parents[2]
PLANTED_DLL = TESTS_BIN / 'planted' / 'comctl32.dll'
MARKER = 'planted-dll-ran.txt'

# The hotkey control of the settings dialog, in dialog units.
DIALOG_HOTKEY = (198, 181)
VK_F9 = 120


class Terminal:
    """A command on a pseudo-terminal of its own, as a person runs it: what it
    prints is collected, and answers are typed at its prompts."""

    def __init__(self, command, cwd, env=None):
        self.master, slave = pty.openpty()
        self.popen = subprocess.Popen(command, cwd=cwd, env=env, stdin=slave, stdout=slave,
                                      stderr=slave, start_new_session=True)
        os.close(slave)
        self.output = ''

    def read(self):
        while select.select([self.master], [], [], 0)[0]:
            try:
                data = os.read(self.master, 4096)
            except OSError:  # the command has ended and closed the terminal
                break
            if not data:
                break
            self.output += data.decode('utf-8', errors='replace')
        return self.output

    def wait_for(self, pattern, timeout):
        """The match of the regular expression in the output, once it is there."""
        return wait_until(lambda: re.search(pattern, self.read()), timeout,
                          f'{pattern!r} in the output (so far: {self.read()!r})')

    def type(self, text):
        os.write(self.master, text.encode())

    def end(self):
        try:
            os.killpg(self.popen.pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
        self.popen.wait(timeout=10)
        os.close(self.master)


def xdotool_keys(hotkey):
    """'Ctrl+Shift+F12' as xdotool writes it."""
    return '+'.join({'Ctrl': 'ctrl', 'Shift': 'shift', 'Alt': 'alt'}.get(k, k)
                    for k in hotkey.split('+'))


class LaunchTestCase(DesktopTestCase):

    def setUp(self):
        super().setUp()
        xdotool('mousemove', *AWAY)
        wait_until(lambda: tray_icon_count() == 0, 30, 'an empty tray before the test')


class FirstRunTest(LaunchTestCase):

    def test_run_sh_writes_a_sample_and_its_hotkey_pastes_the_first_phrase(self):
        terminal = Terminal([str(REPOSITORY / 'run.sh')], cwd=self.workdir)
        self.addCleanup(terminal.end)
        terminal.wait_for(r'no vornick\.ini', 300)
        terminal.wait_for(r'Write a sample vornick\.ini here.*\?', 30)
        terminal.type('y\n')
        hotkey = terminal.wait_for(r'Hotkey: ([^;]+); phrases: (\d+)\.', 60)
        self.assertEqual(hotkey.group(1), 'Ctrl+Shift+F12')
        self.assertEqual(int(hotkey.group(2)), 4)
        terminal.wait_for(r"Wine's system tray window", 60)
        self.assertTrue((self.workdir / 'vornick.ini').exists())
        wait_until(lambda: tray_icon_count() == 1, 30, "vornick's icon in the tray")

        # The program runs in code page 932, and so does the application.
        target = self.start_target('First run target', '', env={'LC_ALL': 'ja_JP.UTF-8'})
        target.activate()
        xdotool('mousemove', 600, 400)
        xdotool('key', xdotool_keys(hotkey.group(1)))
        menu = wait_menus(1, 'the phrase menu')[0]
        click(menu_item_point(menu, 0, 4))
        target.wait_for_text('お世話になっております。')

    def test_run_sh_without_a_terminal_writes_nothing_and_says_how_to_add_phrases(self):
        result = subprocess.Popen([str(REPOSITORY / 'run.sh')], cwd=self.workdir,
                                  stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                  stderr=subprocess.STDOUT, start_new_session=True, text=True)
        self.addCleanup(lambda: (os.killpg(result.pid, signal.SIGKILL), result.wait(10)))
        lines = []
        for line in result.stdout:
            lines.append(line)
            if line.startswith('vornick runs now'):
                break
        output = ''.join(lines)
        self.assertIn('no vornick.ini', output)
        self.assertIn('double-click', output)
        self.assertIn('Hotkey: no hotkey; phrases: 0.', output)
        self.assertFalse((self.workdir / 'vornick.ini').exists())


class PlantedDllTest(LaunchTestCase):

    def test_a_comctl32_dll_beside_the_program_is_not_loaded(self):
        folder = self.workdir / 'Downloads'
        folder.mkdir()
        shutil.copy(VORNICK_EXE, folder)
        shutil.copy(PLANTED_DLL, folder)
        # Windows' own search order for a DLL that is not a KnownDLL: the
        # program's folder first. Wine prefers its builtin copy unless told.
        overrides = os.environ.get('WINEDLLOVERRIDES', '')
        env = {'WINEDLLOVERRIDES': ';'.join(filter(None, [overrides, 'comctl32=n,b']))}
        write_ini(folder, '[DefStr]\nlen=1\nVK=123\nshift=6\n0=alpha\n')
        self.start(folder / 'vornick.exe', cwd=folder, env=env)
        wait_until(lambda: tray_icon_count() == 1, 30, "vornick's icon in the tray")
        self.assertFalse((folder / MARKER).exists(), 'the planted DLL ran inside vornick')

        # The hotkey control, which needs the common controls, still works.
        dialog = open_dialog(tray_window())
        click(dialog_point(dialog, DIALOG_HOTKEY))
        xdotool('key', 'F9')
        click(dialog_point(dialog, DIALOG_OK))
        wait_until(lambda: not dialogs(), 10, 'the dialog to close')
        self.assertEqual(read_ini(folder / 'vornick.ini')['VK'], str(VK_F9))
        self.assertFalse((folder / MARKER).exists(), 'the planted DLL ran inside vornick')
