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


def end_piped(popen, grace=5.0):
    """Ends a program that reads commands on its input: closing the input ends
    it, and its process group is killed if it is still there after `grace`."""
    try:
        popen.stdin.close()
        popen.wait(timeout=grace)
    except (OSError, subprocess.TimeoutExpired):
        try:
            os.killpg(popen.pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
        popen.wait(timeout=10)


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
        """Activates the window and waits until Wine, too, has made it the
        foreground window: Wine follows the X focus a moment later, and a
        capture in between would record the window that had it before."""
        activate(self.window)
        wait_until(lambda: self.report()['foreground'] == self.report()['hwnd'], 5,
                   f'"{self.title}" to be the foreground window')

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


# A point of the empty desktop, away from every window.
AWAY = (900, 700)

# The tray menu: the phrase submenu, the settings command, the exit command.
TRAY_ITEMS = 3
TRAY_PHRASES, TRAY_SETTINGS, TRAY_EXIT = range(TRAY_ITEMS)


def is_override_redirect(window):
    info = subprocess.run(['xwininfo', '-id', str(window)], capture_output=True, text=True).stdout
    return 'Override Redirect State: yes' in info


def popup_menus():
    """vornick's popup menus on screen, topmost first. Menus are the only
    windows of the program that the window manager does not manage, which
    tells them from the settings dialog."""
    return [w for w in mapped_windows_of('vornick.exe') if is_override_redirect(w)]


def wait_menus(count, what):
    """vornick's menus, once exactly `count` of them are on screen."""
    def menus():
        found = popup_menus()
        return found if len(found) == count else None
    return wait_until(menus, 10, what)


def wait_no_menu():
    wait_until(lambda: not popup_menus(), 10, 'the menus to close')


def menu_item_point(menu_window, index, count):
    """Root coordinates of the middle of item `index` of a popup menu that
    holds `count` items of equal height (3 pixels of frame on each side)."""
    x, y, width, height = window_geometry(menu_window)
    item_height = (height - 6) / count
    return x + width // 2, int(y + 3 + item_height * index + item_height / 2)


def dialogs():
    """The settings dialogs on screen. Their caption holds "Version" in
    every code page."""
    return find_windows('Version', only_visible=True)


# The settings dialog's size and some of its controls, in dialog units: the
# template's layout, which the tests turn into screen points.
DIALOG_UNITS = (243, 196)
DIALOG_EDIT = (96, 66)
DIALOG_ADD = (213, 66)
DIALOG_OK = (215, 14)
DIALOG_CANCEL = (216, 33)
# The client edge that Wine draws inside the dialog's X window.
DIALOG_EDGE = 2


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


def write_ini(folder, text=None, data=None):
    """Writes folder/vornick.ini from text (CRLF line ends, code page 1252)
    or from raw bytes."""
    path = Path(folder) / 'vornick.ini'
    if data is None:
        data = text.replace('\r\n', '\n').replace('\n', '\r\n').encode('cp1252')
    path.write_bytes(data)
    return path


def read_ini(path):
    """The entries of the file's [DefStr] section, keys as written."""
    entries = {}
    for line in Path(path).read_bytes().decode('cp1252').splitlines():
        if '=' in line and not line.startswith('['):
            key, value = line.split('=', 1)
            entries[key] = value
    return entries


# Wine 8.0 shows the notification area as its own "Wine System Tray" window
# when the display has no XEmbed tray. It hides the window when it holds no
# icon, and drops the icons of windows that no longer exist.
TRAY_TITLE = '^Wine System Tray$'


def tray_window():
    windows = find_windows(TRAY_TITLE, only_visible=True)
    return windows[0] if windows else None


def tray_icon_count():
    """How many icons Wine's tray window shows (0 when it is hidden), counted
    on a grab of its pixels: each icon is a block of non-background columns."""
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


def icon_point(tray):
    """The middle of the tray's first icon cell (16 pixels of icon, 2 of border)."""
    x, y, _, height = window_geometry(tray)
    return x + 10, y + height // 2


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


class Vornick:
    """The real vornick.exe, started in a folder of its own, and what a user
    does with its icon and menus."""

    def __init__(self, case, ini=None, cwd=None, env=None, wait_for_icon=True):
        self.cwd = Path(cwd or case.workdir)
        if ini is not None:
            write_ini(self.cwd, ini)
        self.process = case.start(VORNICK_EXE, cwd=self.cwd, env=env)
        self.tray = None
        if wait_for_icon:
            self.tray = wait_until(tray_window, 15, "Wine's system tray with vornick's icon")

    def icon_point(self):
        return icon_point(self.tray)

    def point_at_icon(self):
        point_at_icon(self.tray)

    def open_tray_menu(self):
        return open_tray_menu(self.tray)

    def open_phrase_submenu(self):
        return open_phrase_submenu(self.tray)

    def open_dialog(self):
        return open_dialog(self.tray)

    def exit_through_tray_menu(self):
        exit_through_tray_menu(self.tray)

    def open_phrase_menu(self, target, key='ctrl+shift+F12', at=(600, 400)):
        """Activates the target, presses the hotkey with the mouse at `at`,
        and returns the menu's X window once it is on screen."""
        target.activate()
        xdotool('mousemove', *at)
        xdotool('key', key)
        return wait_menus(1, 'the phrase menu')[0]

    def pick(self, menu_window, index, count):
        xdotool('mousemove', *menu_item_point(menu_window, index, count))
        xdotool('click', 1)

    def wait_exit(self, timeout=10.0):
        return self.process.wait(timeout)
