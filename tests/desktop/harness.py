"""The desktop test harness: programs under Wine, real X input, waits.

The tests run inside tests/desktop-session.sh, which provides DISPLAY and a
Wine prefix with its server (WINEPREFIX). ctest passes the build folder in
VORNICK_BUILD. Input goes through xdotool (XTest), as a person's would; every
wait is a poll of a condition with a time limit.
"""
import os
import re
import shutil
import signal
import subprocess
import tempfile
import time
import unittest
from pathlib import Path

BUILD = Path(os.environ.get('VORNICK_BUILD', Path(__file__).resolve().parents[2] / 'build'))
VORNICK_EXE = BUILD / 'vornick.exe'
TESTS_BIN = BUILD / 'tests'
SCREENSHOTS = BUILD / 'test-screenshots'


def winpath(path):
    """A Linux path as the Windows programs see it (Wine's drive Z:)."""
    return 'Z:' + str(Path(path).resolve()).replace('/', '\\')


def wait_until(condition, timeout=10.0, what='condition', interval=0.05):
    """Polls condition() until it returns a true value, which is returned."""
    deadline = time.monotonic() + timeout
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() >= deadline:
            raise AssertionError(f'timed out after {timeout:.1f} s waiting for {what}')
        time.sleep(interval)


def stays(condition, duration=1.0, interval=0.05):
    """True when condition() holds throughout the given time."""
    deadline = time.monotonic() + duration
    while time.monotonic() < deadline:
        if not condition():
            return False
        time.sleep(interval)
    return True


def xdotool(*args, check=True):
    result = subprocess.run(['xdotool', *map(str, args)], capture_output=True, text=True, timeout=30)
    if check and result.returncode != 0:
        raise AssertionError(f'xdotool {" ".join(map(str, args))} failed: {result.stderr.strip()}')
    return result.stdout.strip()


def find_windows(name_pattern, only_visible=False):
    """X window ids whose title matches the regular expression."""
    args = ['search', '--onlyvisible'] if only_visible else ['search']
    output = xdotool(*args, '--name', name_pattern, check=False)
    return [int(w) for w in output.split()]


def window_geometry(window):
    """(x, y, width, height) of an X window, in root coordinates."""
    info = subprocess.run(['xwininfo', '-id', str(window)], capture_output=True, text=True).stdout
    def field(name):
        return int(re.search(name + r':\s+(-?\d+)', info).group(1))
    return (field('Absolute upper-left X'), field('Absolute upper-left Y'),
            field('Width'), field('Height'))


def is_mapped(window):
    info = subprocess.run(['xwininfo', '-id', str(window)], capture_output=True, text=True).stdout
    return 'IsViewable' in info


def mapped_windows_of(program):
    """Mapped top-level X windows whose WM_CLASS names the given program."""
    tree = subprocess.run(['xwininfo', '-root', '-children'], capture_output=True, text=True).stdout
    windows = []
    for line in tree.splitlines():
        match = re.match(r'\s+(0x[0-9a-f]+) .*\("([^"]*)" "([^"]*)"\)', line)
        if match and match.group(2).lower() == program.lower():
            window = int(match.group(1), 16)
            if is_mapped(window):
                windows.append(window)
    return windows


def active_window():
    output = xdotool('getactivewindow', check=False)
    return int(output) if output else None


def activate(window):
    """Makes an X window the active one, as a click on its title would."""
    xdotool('windowactivate', '--sync', window, check=False)
    wait_until(lambda: active_window() == window, 5, f'window {window} to become active')


def screenshot(path):
    path = Path(path)
    path.parent.mkdir(parents=True, exist_ok=True)
    subprocess.run(['import', '-window', 'root', str(path)], capture_output=True, timeout=30)
    return path


class WineProcess:
    """A Windows program started under Wine, with its output in a log file."""

    def __init__(self, exe, args=(), cwd=None, env=None, log=None):
        self.log_path = Path(log or tempfile.mktemp(prefix='wine-', suffix='.log'))
        environment = dict(os.environ)
        environment.update(env or {})
        with open(self.log_path, 'wb') as log_file:
            self.popen = subprocess.Popen(
                ['wine', str(exe), *map(str, args)], cwd=cwd, env=environment,
                stdin=subprocess.DEVNULL, stdout=log_file, stderr=subprocess.STDOUT,
                start_new_session=True)

    @property
    def pid(self):
        return self.popen.pid

    def running(self):
        return self.popen.poll() is None

    def wait(self, timeout=10.0):
        """The exit code, once the process has ended within the time limit."""
        return self.popen.wait(timeout=timeout)

    def kill(self):
        if self.running():
            try:
                os.killpg(self.popen.pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
            self.popen.wait(timeout=10)


class TargetApp:
    """The tests' own application: an edit box, a button and a list box.

    focus is 'edit', 'button' or 'list'. Its state is read from the report
    that it rewrites every 50 ms.
    """

    def __init__(self, workdir, title, text='', sel=(0, 0), focus='edit', env=None):
        self.title = title
        self.report_path = Path(workdir) / (re.sub(r'\W+', '_', title) + '.report')
        self.process = WineProcess(TESTS_BIN / 'target_app.exe',
                                   [winpath(self.report_path), title, text, sel[0], sel[1], focus],
                                   cwd=workdir, env=env)
        self.window = wait_until(lambda: (find_windows(f'^{re.escape(title)}$', True) or [None])[0],
                                 15, f'the window "{title}"')
        wait_until(self.report, 10, f'the first report of "{title}"')

    def report(self):
        """The last complete report as a dict, or None."""
        try:
            lines = self.report_path.read_text().splitlines()
        except FileNotFoundError:
            return None
        if not lines or lines[-1] != 'end':
            return None
        report = dict(line.split('=', 1) for line in lines[:-1])
        report['text'] = bytes.fromhex(report['text']).decode('utf-8')
        report['sel'] = tuple(int(n) for n in report['sel'].split())
        report['setsel'] = int(report['setsel'])
        report['pastes'] = int(report['pastes'])
        return report

    def text(self):
        return self.report()['text']

    def hwnd(self, control=None):
        """A window handle of the target as a number: the window or a control."""
        return int(self.report()[control or 'hwnd'], 16)

    def wait_for_text(self, expected, timeout=5.0):
        wait_until(lambda: self.text() == expected, timeout,
                   f'"{self.title}" to hold {expected!r} (it holds {self.text()!r})')

    def activate(self):
        activate(self.window)

    def close(self):
        self.process.kill()


class DesktopTestCase(unittest.TestCase):
    """Gives each test a fresh working folder, ends every process the test
    started, and keeps a screenshot of the desktop when a test fails."""

    def setUp(self):
        self.workdir = Path(tempfile.mkdtemp(prefix='vornick-desktop-'))
        self._processes = []
        self.addCleanup(self._end_processes)
        self.addCleanup(self._screenshot_if_failed)

    def start(self, exe, args=(), cwd=None, env=None):
        process = WineProcess(exe, args, cwd=cwd or self.workdir, env=env,
                              log=self.workdir / f'{Path(exe).stem}-{len(self._processes)}.log')
        self._processes.append(process)
        return process

    def start_target(self, title, text='', sel=(0, 0), focus='edit', env=None):
        target = TargetApp(self.workdir, title, text, sel, focus, env)
        self._processes.append(target.process)
        return target

    def _end_processes(self):
        for process in reversed(self._processes):
            process.kill()
        # A menu or window left behind by a failed test must not disturb the next.
        xdotool('key', 'Escape', check=False)
        shutil.rmtree(self.workdir, ignore_errors=True)

    def _screenshot_if_failed(self):
        outcome = getattr(self, '_outcome', None)
        result = getattr(outcome, 'result', None)
        if result is None:
            return
        failed = any(test is self for test, _ in result.failures + result.errors)
        if failed:
            path = screenshot(SCREENSHOTS / f'{self.id()}.png')
            print(f'\nscreenshot of the failure: {path}')


def popup_menus():
    """Mapped popup menu windows of vornick, as X window ids."""
    return mapped_windows_of('vornick.exe')


def menu_item_point(menu_window, index, count):
    """Root coordinates of the middle of item `index` of a popup menu that
    holds `count` items of equal height (3 pixels of frame on each side)."""
    x, y, width, height = window_geometry(menu_window)
    item_height = (height - 6) / count
    return x + width // 2, int(y + 3 + item_height * index + item_height / 2)


def write_ini(folder, text=None, data=None):
    """Writes folder/vornick.ini from text (CRLF line ends, code page 1252)
    or from raw bytes."""
    path = Path(folder) / 'vornick.ini'
    if data is None:
        data = text.replace('\r\n', '\n').replace('\n', '\r\n').encode('cp1252')
    path.write_bytes(data)
    return path


class Vornick:
    """The real vornick.exe, started in a folder of its own."""

    TRAY_TITLE = '^Wine System Tray$'

    def __init__(self, case, ini=None, cwd=None, env=None, wait_for_icon=True):
        self.cwd = Path(cwd or case.workdir)
        if ini is not None:
            write_ini(self.cwd, ini)
        self.process = case.start(VORNICK_EXE, cwd=self.cwd, env=env)
        if wait_for_icon:
            self.tray = wait_until(self.tray_window, 15, "Wine's system tray with vornick's icon")

    @staticmethod
    def tray_window():
        windows = find_windows(Vornick.TRAY_TITLE, only_visible=True)
        return windows[0] if windows else None

    def icon_point(self, index=0):
        """Root coordinates of the middle of the index-th icon of the tray."""
        x, y, _, height = window_geometry(self.tray)
        return x + 8 + 16 * index + 2 * index, y + height // 2

    def open_phrase_menu(self, target, key='ctrl+shift+F12', at=(600, 400)):
        """Activates the target, presses the hotkey with the mouse at `at`,
        and returns the menu's X window once it is on screen."""
        target.activate()
        xdotool('mousemove', *at)
        xdotool('key', key)
        return wait_until(lambda: (popup_menus() or [None])[0], 5, 'the phrase menu')

    def pick(self, menu_window, index, count):
        xdotool('mousemove', *menu_item_point(menu_window, index, count))
        xdotool('click', 1)

    def wait_exit(self, timeout=10.0):
        return self.process.wait(timeout)
