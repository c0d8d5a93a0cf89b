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
from harness import (REPOSITORY, TESTS_BIN, VK_F9, VORNICK_EXE, DesktopTestCase, Vornick, click,
                     kill_group, menu_item_point, read_section, wait_menus, wait_until, xdotool)

PLANTED_DLL = TESTS_BIN / 'planted' / 'comctl32.dll'
IMPORTER_EXE = TESTS_BIN / 'comctl32_importer.exe'
MARKER = 'planted-dll-ran.txt'


class Terminal:
    """A command on a pseudo-terminal of its own, as a person runs it: what it
    prints is collected, and answers are typed at its prompts."""

    def __init__(self, command, cwd, env=None):
        self.master, slave = pty.openpty()
        self.popen = subprocess.Popen(command, cwd=cwd, env=env, stdin=slave, stdout=slave,
                                      stderr=slave, start_new_session=True)
        os.close(slave)
        self.output = ''

    def running(self):
        return self.popen.poll() is None

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


def read_until(pipe, text, timeout):
    """What a program wrote on the pipe until `text` appeared in it."""
    chunks = []
    def arrived():
        while select.select([pipe], [], [], 0)[0]:
            chunk = os.read(pipe.fileno(), 4096)
            if not chunk:
                break
            chunks.append(chunk)
        return text in b''.join(chunks).decode('utf-8', errors='replace')
    wait_until(arrived, timeout, lambda: f'{text!r} in the output (so far: {b"".join(chunks)!r})')
    return b''.join(chunks).decode('utf-8', errors='replace')


def xdotool_keys(hotkey):
    """'Ctrl+Shift+F12' as xdotool writes it."""
    return '+'.join({'Ctrl': 'ctrl', 'Shift': 'shift', 'Alt': 'alt'}.get(k, k)
                    for k in hotkey.split('+'))


class FirstRunTest(DesktopTestCase):

    def test_run_sh_writes_a_sample_and_its_hotkey_pastes_the_first_phrase(self):
        def run_sh():
            terminal = Terminal([str(REPOSITORY / 'run.sh')], cwd=self.workdir)
            self.addCleanup(terminal.end)
            terminal.wait_for(r'no vornick\.ini', 300)
            terminal.wait_for(r'Write a sample vornick\.ini here.*\?', 30)
            terminal.type('y\n')
            return terminal
        terminal = Vornick(self, start=run_sh).process
        hotkey = terminal.wait_for(r'Hotkey: ([^;]+); phrases: (\d+)\.', 60)
        self.assertEqual(hotkey.group(1), 'Ctrl+Shift+F12')
        self.assertEqual(int(hotkey.group(2)), 4)
        terminal.wait_for(r"Wine's system tray window", 60)
        self.assertTrue((self.workdir / 'vornick.ini').exists())

        # The program runs in code page 932, and so does the application.
        target = self.start_target('First run target', '', env={'LC_ALL': 'ja_JP.UTF-8'})
        target.activate()
        xdotool('mousemove', 600, 400)
        xdotool('key', xdotool_keys(hotkey.group(1)))
        menu = wait_menus(1, 'the phrase menu')[0]
        click(menu_item_point(menu, 0, 4))
        target.wait_for_text('お世話になっております。')

    def test_run_sh_without_a_terminal_writes_nothing_and_says_how_to_add_phrases(self):
        def run_sh():
            popen = subprocess.Popen([str(REPOSITORY / 'run.sh')], cwd=self.workdir,
                                     stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                     stderr=subprocess.STDOUT, start_new_session=True)
            self.addCleanup(kill_group, popen)
            popen.running = lambda: popen.poll() is None
            return popen
        result = Vornick(self, start=run_sh, timeout=300).process
        output = read_until(result.stdout, 'vornick runs now', 120)
        self.assertIn('no vornick.ini', output)
        self.assertIn('double-click', output)
        self.assertIn('Hotkey: no hotkey; phrases: 0.', output)
        self.assertFalse((self.workdir / 'vornick.ini').exists())


class PlantedDllTest(DesktopTestCase):

    def test_a_comctl32_dll_beside_the_program_is_not_loaded(self):
        folder = self.workdir / 'Downloads'
        folder.mkdir()
        for program in (VORNICK_EXE, PLANTED_DLL, IMPORTER_EXE):
            shutil.copy(program, folder)
        # Windows' own search order for a DLL that is not a KnownDLL: the
        # program's folder first. Wine prefers its builtin copy unless told.
        overrides = os.environ.get('WINEDLLOVERRIDES', '')
        env = {'WINEDLLOVERRIDES': ';'.join(filter(None, [overrides, 'comctl32=n,b']))}

        # A program that imports comctl32 by name does load the plant: the
        # check below can fail.
        importer = self.start(folder / IMPORTER_EXE.name, cwd=folder, env=env)
        self.assertEqual(importer.wait(60), 0)
        self.assertTrue((folder / MARKER).exists(),
                        'the planted DLL did not run even in a program that imports it by name')
        (folder / MARKER).unlink()

        vornick = Vornick(self, '[DefStr]\nlen=1\nVK=123\nshift=6\n0=alpha\n', cwd=folder,
                          exe=folder / 'vornick.exe', env=env)
        self.assertFalse((folder / MARKER).exists(), 'the planted DLL ran inside vornick')

        # The hotkey control, which needs the common controls, still works.
        dialog = vornick.open_dialog()
        dialog.set_hotkey('F9', VK_F9)
        dialog.ok()
        self.assertEqual(read_section(folder / 'vornick.ini')['VK'], str(VK_F9))
        self.assertFalse((folder / MARKER).exists(), 'the planted DLL ran inside vornick')
