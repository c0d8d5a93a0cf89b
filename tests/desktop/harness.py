"""The desktop test harness: programs under Wine, real X input, waits.

The tests run inside tests/desktop-session.sh, which provides DISPLAY and a
Wine prefix with its server (WINEPREFIX). ctest passes the build folder in
VORNICK_BUILD. Input goes through xdotool (XTest), as a person's would; every
wait is a poll of a condition with a generous time limit, and how fast
something happens is measured by bench.sh, never here.

What the harness takes from Wine's own behaviour (where the tray draws its
icons, what the icon's tip shows, which click closes a menu, who holds the
foreground after an activation or a capture) lives in one function each,
whose failure message names the assumption.
"""
import contextlib
import functools
import os
import queue
import re
import shutil
import signal
import subprocess
import tempfile
import threading
import time
import unittest
from pathlib import Path

REPOSITORY = Path(__file__).resolve().parents[2]
BUILD = Path(os.environ.get('VORNICK_BUILD', REPOSITORY / 'build'))
VORNICK_EXE = BUILD / 'vornick.exe'
TESTS_BIN = BUILD / 'tests'
PROBE_EXE = TESTS_BIN / 'paste_probe.exe'
SCREENSHOTS = BUILD / 'test-screenshots'


def resource_ids(path=REPOSITORY / 'resources' / 'resource_ids.h'):
    """The program's #define'd identifiers, by name."""
    return {name: int(value) for name, value in
            re.findall(r'^#define\s+(ID\w+)\s+(\d+)\s*$', Path(path).read_text(), re.M)}


_IDS = resource_ids()
IDC_PHRASE_EDIT, IDC_ADD, IDC_PHRASE_LIST, IDC_DELETE, IDC_UP, IDC_HOTKEY, IDC_DOWN = (
    _IDS[name] for name in ('IDC_PHRASE_EDIT', 'IDC_ADD', 'IDC_PHRASE_LIST', 'IDC_DELETE',
                            'IDC_UP', 'IDC_HOTKEY', 'IDC_DOWN'))
IDOK, IDCANCEL = 1, 2  # the platform's own button ids

HOTKEY = 'ctrl+shift+F12'  # the hotkey of most settings files here
MOD_ALT, MOD_CONTROL, MOD_SHIFT, MOD_WIN = 1, 2, 4, 8
VK_F9, VK_F11, VK_F12 = 120, 122, 123


def winpath(path):
    """A Linux path as the Windows programs see it (Wine's drive Z:)."""
    return 'Z:' + str(Path(path).resolve()).replace('/', '\\')


def wait_until(condition, timeout=10.0, what='condition', interval=0.05):
    """Polls condition() until it returns a true value, which is returned.
    `what` may be a callable, called for the message only on a timeout, so
    that the message can say what was seen instead."""
    deadline = time.monotonic() + timeout
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() >= deadline:
            described = what() if callable(what) else what
            raise AssertionError(f'timed out after {timeout:.1f} s waiting for {described}')
        time.sleep(interval)


def stays(condition, duration=1.0, interval=0.05):
    """True when condition() holds throughout the given time. Only for the
    absence of something that no other sign can show."""
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


def find_window(name_pattern, timeout, what):
    return wait_until(lambda: (find_windows(name_pattern, True) or [None])[0], timeout, what)


def _xwininfo(window):
    return subprocess.run(['xwininfo', '-id', str(window)], capture_output=True, text=True).stdout


def window_geometry(window):
    """(x, y, width, height) of an X window, in root coordinates."""
    info = _xwininfo(window)
    def field(name):
        return int(re.search(name + r':\s+(-?\d+)', info).group(1))
    return (field('Absolute upper-left X'), field('Absolute upper-left Y'),
            field('Width'), field('Height'))


def is_mapped(window):
    return 'IsViewable' in _xwininfo(window)


def is_override_redirect(window):
    return 'Override Redirect State: yes' in _xwininfo(window)


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


def activate(window, in_front=None, what=None):
    """Makes an X window the active one, as a click on its title would, and
    waits until in_front() holds too (by default: X has it active).

    Wine assumptions: Wine makes a window its foreground window a moment
    after the window manager gives it the X focus, so a caller that needs
    Wine's foreground passes in_front; and the window manager can leave
    unanswered an activation request for the window that X already has
    active, so the request is made again until both hold."""
    in_front = in_front or (lambda: active_window() == window)
    what = what or f'window {window:#x} to become active'
    for _ in range(3):
        xdotool('windowactivate', '--sync', window, check=False)
        try:
            return wait_until(in_front, 3, what)
        except AssertionError:
            pass
    return wait_until(in_front, 5, lambda: f'{what} (after four activation requests; Wine '
                                           f'follows the X focus into its foreground window)')


def screenshot(path):
    path = Path(path)
    path.parent.mkdir(parents=True, exist_ok=True)
    subprocess.run(['import', '-window', 'root', str(path)], capture_output=True, timeout=30)
    return path


def kill_group(popen):
    try:
        os.killpg(popen.pid, signal.SIGKILL)
    except ProcessLookupError:
        pass
    popen.wait(timeout=10)


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

    def log(self):
        return self.log_path.read_text(errors='replace')

    def wait(self, timeout=10.0):
        """The exit code, once the process has ended within the time limit."""
        return self.popen.wait(timeout=timeout)

    def kill(self):
        if self.running():
            kill_group(self.popen)


def end_piped(popen, grace=5.0):
    """Ends a program that reads commands on its input: closing the input ends
    it, and its process group is killed if it is still there after `grace`."""
    try:
        popen.stdin.close()
        popen.wait(timeout=grace)
    except (OSError, subprocess.TimeoutExpired):
        kill_group(popen)


class LineProgram:
    """A Windows program that answers each line on its input with one line."""

    FAILURES = ()  # answers that mean the question could not be answered

    def __init__(self, exe, args=(), cwd=None, env=None, log=None):
        environment = dict(os.environ)
        environment.update(env or {})
        self.name = Path(exe).stem
        self._log = open(log or os.devnull, 'wb')
        self.popen = subprocess.Popen(['wine', str(exe), *map(str, args)], cwd=cwd,
                                      env=environment, stdin=subprocess.PIPE,
                                      stdout=subprocess.PIPE, stderr=self._log, text=True,
                                      start_new_session=True)
        self._lines = queue.Queue()
        self._reader = threading.Thread(target=self._read, daemon=True)
        self._reader.start()

    def _read(self):
        for line in self.popen.stdout:
            self._lines.put(line.rstrip('\n'))
        self._lines.put(None)

    def reply(self, timeout=30.0, asked='its start'):
        try:
            line = self._lines.get(timeout=timeout)
        except queue.Empty:
            raise AssertionError(f'{self.name} gave no answer to {asked!r} within '
                                 f'{timeout:.0f} s') from None
        if line is None:
            raise AssertionError(f'{self.name} ended before it answered {asked!r}')
        if line.startswith(self.FAILURES):
            raise AssertionError(f'{self.name} answered {line!r} to {asked!r}')
        return line

    def ask(self, *words, timeout=30.0):
        line = ' '.join(map(str, words))
        self.popen.stdin.write(line + '\n')
        self.popen.stdin.flush()
        return self.reply(timeout, line)

    def running(self):
        return self.popen.poll() is None

    def kill(self):
        if self.running():
            end_piped(self.popen)
        self._reader.join(timeout=5)
        for stream in (self.popen.stdin, self.popen.stdout, self._log):
            try:
                stream.close()
            except OSError:
                pass


def unhex(word):
    """A text of the probes' answers: hex-encoded UTF-8, "-" when empty."""
    return '' if word == '-' else bytes.fromhex(word).decode('utf-8')


class Inspector(LineProgram):
    """dialog_probe.exe: reads windows of other processes (vornick's dialog
    and the foreground) from outside."""

    FAILURES = ('timeout', 'no window', 'error', 'unknown command')

    def __init__(self, log=None):
        super().__init__(TESTS_BIN / 'dialog_probe.exe', log=log)

    def dialogs(self):
        """Handles of vornick's visible dialogs."""
        return self.ask('dialogs').split()

    def foreground(self):
        """(handle, class name) of the foreground window; ('0', '-') for none."""
        handle, class_name = self.ask('foreground').split()
        return handle, class_name

    def hotkey_free(self, modifiers, vk):
        """Whether no program holds that system-wide hotkey: the registration
        itself, which a keystroke could only show by a menu not appearing."""
        return self.ask('hotkeyfree', modifiers, vk) == '1'


_inspector = None


def inspector():
    """The one inspector of this test program, started on first use and
    ended when the program ends."""
    global _inspector
    if _inspector is None or not _inspector.running():
        _inspector = Inspector(log=BUILD / 'dialog-inspector.log')
        _inspector.dialogs()
        import atexit
        atexit.register(_inspector.kill)
    return _inspector


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
                                   cwd=workdir, env=env, log=Path(workdir) / f'{title}.log')
        self.window = find_window(f'^{re.escape(title)}$', 30, f'the window "{title}"')
        wait_until(self.report, 20, f'the first report of "{title}"')

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
        for field in ('setsel', 'pastes', 'hung', 'slow'):
            report[field] = int(report[field])
        return report

    def settled_report(self):
        """A report written after every input queued for the target so far
        has been handled: the report comes from a timer message, which the
        system hands out only when no input is waiting. Each report is a new
        file renamed over the last, so the second new file is one whose
        writing began after this call."""
        def written():
            try:
                return self.report_path.stat().st_ino
            except FileNotFoundError:
                return None
        for _ in range(2):
            before = written()
            wait_until(lambda: written() not in (before, None), 10,
                       f'a new report of "{self.title}"', interval=0.01)
        return self.report()

    def request(self, line):
        """Hands the application a request ("hang MS", "slow MS"), which it
        takes at its next report. The file is renamed into place, so that it
        is never read half written."""
        path = self.report_path.with_name(self.report_path.name + '.request')
        temp = path.with_name(path.name + '.tmp')
        temp.write_text(line)
        temp.replace(path)

    def hang(self, seconds):
        """Makes the application stop handling messages for that long, and
        returns once it has begun."""
        self.request(f'hang {round(seconds * 1000)}')
        wait_until(lambda: self.report()['hung'], 10, f'"{self.title}" to begin its hang')

    def still_hung(self):
        """Whether the report of the hang's start is still the last one."""
        return self.report()['hung'] == 1

    def wait_awake(self, timeout):
        wait_until(lambda: not self.still_hung(), timeout, f'"{self.title}" to end its hang')

    def answer_slowly(self, ms):
        """From now on the application answers each message sent from
        another program only `ms` milliseconds later."""
        self.request(f'slow {ms}')
        wait_until(lambda: self.report()['slow'] == ms, 10, f'"{self.title}" to answer slowly')

    def text(self):
        return self.report()['text']

    def hwnd(self, control=None):
        """A window handle of the target as a number: the window or a control."""
        return int(self.report()[control or 'hwnd'], 16)

    def wait_for_text(self, expected, timeout=10.0):
        wait_until(lambda: self.text() == expected, timeout,
                   lambda: f'"{self.title}" to hold {expected!r} (it holds {self.text()!r})')

    def wait_foreground(self, window_class, timeout=10.0):
        """Waits until the foreground window, as this application sees it,
        is of the given class."""
        wait_until(lambda: self.report()['foreground_class'] == window_class, timeout,
                   lambda: f'the foreground to be a "{window_class}" window (it is a '
                           f'"{self.report()["foreground_class"]}" window)')

    def activate(self):
        """Activates the window until Wine, too, has made it the foreground
        window: a capture in between would record the window before it."""
        activate(self.window, lambda: self.report()['foreground'] == self.report()['hwnd'],
                 f'"{self.title}" to be the foreground window')

    def close(self):
        self.process.kill()


class DesktopTestCase(unittest.TestCase):
    """Gives each test a fresh working folder, ends every process the test
    started, and leaves a screenshot of the desktop for every failure, in a
    test or in one of its subTests, at the moment it happens; the failure's
    report says where the picture is."""

    def __init__(self, methodName='runTest'):
        super().__init__(methodName)
        method = getattr(self, methodName, None)
        if callable(method):
            @functools.wraps(method)
            def run_with_screenshot():
                try:
                    return method()
                except unittest.SkipTest:
                    raise
                except Exception as error:
                    self._note_screenshot(error, self.id())
                    raise
            setattr(self, methodName, run_with_screenshot)

    def setUp(self):
        self.workdir = Path(tempfile.mkdtemp(prefix='vornick-desktop-'))
        self._processes = []
        self._failed_subtests = 0
        self.addCleanup(self._end_processes)

    @contextlib.contextmanager
    def subTest(self, *args, **params):
        with super().subTest(*args, **params):
            try:
                yield
            except unittest.SkipTest:
                raise
            except Exception as error:
                self._failed_subtests += 1
                described = ','.join(f'{key}={value}' for key, value in params.items())
                self._note_screenshot(error, f'{self.id()}[{described}]')
                raise

    def sequence(self, steps):
        """The steps of a sequence one by one, each to be run in a subTest
        of its own. It stops after a failed step: every step starts from
        what the one before left, so the later ones would only fail too."""
        failed = self._failed_subtests
        for number, step in enumerate(steps, 1):
            yield step
            if self._failed_subtests > failed:
                if number < len(steps):
                    print(f'\n{self.id()}: step {number} of {len(steps)} failed; the steps '
                          f'after it were not run', flush=True)
                return

    def _note_screenshot(self, error, name):
        if getattr(error, '_screenshot_noted', False):
            return
        path = screenshot(SCREENSHOTS / (re.sub(r'[^\w.=,\[\]-]+', '_', name)[:180] + '.png'))
        error.add_note(f'screenshot of the desktop at this failure: {path}')
        error._screenshot_noted = True

    def start(self, exe, args=(), cwd=None, env=None):
        process = WineProcess(exe, args, cwd=cwd or self.workdir, env=env,
                              log=self.workdir / f'{Path(exe).stem}-{len(self._processes)}.log')
        self._processes.append(process)
        return process

    def start_notepad(self, args=(), title=r'Notepad$', env=None):
        """Wine's notepad as the target application; returns its X window.

        Wine assumption: notepad shows its window within half a minute of its
        start. Once, on a CI machine, a notepad started at the same point of
        the suite showed none at all while everything else ran normally;
        such a start is given a second try, and the first one's state is
        in the message if that fails too."""
        tries = []
        for _ in range(2):
            notepad = self.start('notepad', args, env=env)
            try:
                return find_window(title, 30, "Wine's notepad")
            except AssertionError:
                tries.append(f'running: {notepad.running()}, output: {notepad.log()[-500:]!r}')
                notepad.kill()
        raise AssertionError(f"Wine's notepad showed no window titled {title!r} in two starts "
                             f"of 30 s each ({'; '.join(tries)})")

    def start_target(self, title, text='', sel=(0, 0), focus='edit', env=None):
        target = TargetApp(self.workdir, title, text, sel, focus, env)
        self._processes.append(target.process)
        return target

    def start_probe(self, title='paste probe', exe=None, env=None):
        probe = Probe(self.workdir, title, exe, env)
        self._processes.append(probe)
        return probe

    def _end_processes(self):
        for process in reversed(self._processes):
            process.kill()
        # A menu or window left behind by a failed test must not disturb the next.
        xdotool('key', 'Escape', check=False)
        shutil.rmtree(self.workdir, ignore_errors=True)


# Capture and paste run on command -------------------------------------------

VK_CONTROL, VK_RCONTROL, VK_V = 0x11, 0xA3, 0x56
LLKHF_INJECTED, LLKHF_UP = 0x10, 0x80


class Probe(LineProgram):
    """paste_probe.exe: runs the program's CaptureTarget and PastePhrase on
    command, and reports the fields they keep; its low-level keyboard hook
    sees every key synthesised on the desktop, by any program."""

    FAILURES = ('unknown command',)

    def __init__(self, workdir, title='paste probe', exe=None, env=None):
        super().__init__(exe or PROBE_EXE, [title], cwd=workdir, env=env,
                         log=Path(workdir) / f'{title.replace(" ", "_")}.log')
        ready = self.reply(60)
        if not ready.startswith('ready '):
            raise AssertionError(f'the probe did not start: {ready!r}')
        # How long the capture and the paste wait for a target to answer (ms).
        self.answer_timeout = int(self._fields(ready[len('ready '):])['timeout'])

    @staticmethod
    def _fields(reply):
        return dict(field.split('=', 1) for field in reply.split())

    def _state(self, reply):
        fields = self._fields(reply)
        state = {name: int(fields[name], 16) for name in ('fg', 'target', 'focus', 'main', 'tray')}
        state.update(fgclass=fields['fgclass'], nt=fields['nt'] == '1',
                     sel=(int(fields['start']), int(fields['end'])))
        if 'ms' in fields:
            state['ms'] = int(fields['ms'])  # how long the capture or paste took
        return state

    def state(self):
        return self._state(self.ask('state'))

    def capture(self):
        return self._state(self.ask('capture'))

    def paste(self, phrase):
        return self._state(self.ask('paste ' + phrase.hex()))

    def front(self, window=0):
        """Gives the foreground to a window, by default to the main window."""
        return self._state(self.ask(f'front {window:x}'))

    def clipboard(self):
        """(owner window, CF_TEXT bytes or None)."""
        fields = self._fields(self.ask('clip'))
        text = fields['text']
        return int(fields['owner'], 16), None if text == 'none' else bytes.fromhex(text)

    def edit_state(self, edit):
        """(ANSI text, selection) of an edit control."""
        fields = self._fields(self.ask(f'edit {edit:x}'))
        return bytes.fromhex(fields['text']), (int(fields['start']), int(fields['end']))

    def hook_keyboard(self):
        self.assert_ok('hook')

    def typed_keys(self):
        """Synthesised key events seen by the hook since the last call, as
        (virtual key, scan code, released) tuples."""
        events = self._fields(self.ask('keys'))['keys']
        keys = []
        for event in filter(None, events.split(',')):
            vk, scan, flags = (int(part, 16) for part in event.split(':'))
            if flags & LLKHF_INJECTED:
                keys.append((vk, scan, bool(flags & LLKHF_UP)))
        return keys

    def assert_ok(self, line):
        reply = self.ask(line)
        if reply != 'ok':
            raise AssertionError(f'probe command {line!r} answered {reply!r}')


def wait_no_foreground_after_capture(probe):
    """Wine assumption: after the capture's thread attachment Wine leaves no
    foreground window at all (Windows keeps it), which is how a test gets a
    capture with nothing in front."""
    wait_until(lambda: probe.state()['fg'] == 0, 20,
               'no foreground window after the capture (Wine drops the foreground when a '
               'thread attaches its input to the foreground thread)')


# The settings files -----------------------------------------------------------

def write_ini(folder, text=None, data=None):
    """Writes folder/vornick.ini from text (CRLF line ends, code page 1252)
    or from raw bytes."""
    path = Path(folder) / 'vornick.ini'
    if data is None:
        data = text.replace('\r\n', '\n').replace('\n', '\r\n').encode('cp1252')
    path.write_bytes(data)
    return path


def decode_ini(data):
    """A settings file's text: UTF-16 or UTF-8 after their byte-order marks,
    code page 1252 otherwise."""
    if data.startswith(b'\xff\xfe'):
        return data[2:].decode('utf-16-le')
    if data.startswith(b'\xef\xbb\xbf'):
        return data[3:].decode('utf-8')
    return data.decode('cp1252', errors='replace')


def ini_sections(data):
    """The sections of a settings file in file order, as written:
    [(name, [(key, value), ...])]. Lines before the first section and
    lines without '=' are left out."""
    sections = []
    for line in decode_ini(data).replace('\r\n', '\n').split('\n'):
        if line.startswith('[') and ']' in line:
            sections.append((line[1:line.index(']')], []))
        elif '=' in line and sections:
            key, value = line.split('=', 1)
            sections[-1][1].append((key, value))
    return sections


def read_section(path, name='DefStr'):
    """The entries of the file's first section of that name (in any letter
    case) as {key: value}, keys as written; fails on a key written twice."""
    for section, entries in ini_sections(Path(path).read_bytes()):
        if section.lower() == name.lower():
            keys = [key for key, _ in entries]
            doubled = sorted({key for key in keys if keys.count(key) > 1})
            assert not doubled, f'[{section}] holds {doubled} more than once'
            return dict(entries)
    raise AssertionError(f'{path} has no section [{name}]')


# The tray, the menus and the dialog --------------------------------------------

# A point of the empty desktop, away from every window.
AWAY = (900, 700)

# The tray menu: the phrase submenu, the settings command, the exit command.
TRAY_ITEMS = 3
TRAY_PHRASES, TRAY_SETTINGS, TRAY_EXIT = range(TRAY_ITEMS)

# Wine 8.0 shows the notification area as its own "Wine System Tray" window
# when the display has no XEmbed tray. It hides the window when it holds no
# icon, and drops the icons of windows that no longer exist.
TRAY_TITLE = '^Wine System Tray$'


def tray_window():
    windows = find_windows(TRAY_TITLE, only_visible=True)
    return windows[0] if windows else None


def tray_icon_count():
    """How many icons Wine's tray window shows (0 when it is hidden).

    Wine assumption: the tray draws each icon as a block of 16 pixel
    columns in a cell of about 20, on a plain background, so icons are
    counted on a grab of the window's pixels: a gap of 3 or more background
    columns separates two icons."""
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

    count, gap = 0, 3
    for x in range(width):
        if busy(x):
            if gap >= 3:
                count += 1
            gap = 0
        else:
            gap += 1
    return count


def wait_icon_count(count, what, timeout=30.0):
    wait_until(lambda: tray_icon_count() == count, timeout,
               lambda: f'{what} (Wine\'s tray window shows {tray_icon_count()} icons, counted as '
                       f'blocks of non-background pixel columns)')


def wait_clean_tray():
    """Waits until the tray holds no icon: Wine drops the icon of a program
    that has ended only a moment later, and until then a double click on
    the first icon cell would reach the dead icon. The mouse goes away
    first, so that no tip covers the icons."""
    xdotool('mousemove', *AWAY)
    wait_icon_count(0, 'an empty tray before vornick starts (the icon of a program '
                       'that has ended to go)')


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
    the icon's tip shows, as a user does.

    Wine assumption: the tip shows only once the icon's window has had the
    mouse move, which Wine hands to the program as a tray notification; so
    the tip tells that the program has captured the foreground window
    before any click follows."""
    xdotool('mousemove', *AWAY)
    wait_until(lambda: not tip_showing(), 10, 'the icon tip to go')
    # Wine learns where the mouse is only from moves over its own windows.
    # Crossing the tray's empty end on the way makes sure the icon sees a
    # move even when the pointer was last on the same point of the icon.
    x, y, width, height = window_geometry(tray)
    xdotool('mousemove', x + width - 4, y + height // 2)
    xdotool('mousemove', *icon_point(tray))
    wait_until(tip_showing, 10, "the icon's tip (Wine shows it once the icon has had a mouse "
                                "move, which is how the harness knows the program saw it)")


def popup_menus():
    """vornick's menus on screen, topmost first.

    Wine assumption: a popup menu is an X window that the window manager
    does not manage (override-redirect), and no other window of the program
    is one, which tells menus from the settings dialog."""
    return [w for w in mapped_windows_of('vornick.exe') if is_override_redirect(w)]


def wait_menus(count, what, timeout=15.0):
    """vornick's menus, once exactly `count` of them are on screen."""
    def menus():
        found = popup_menus()
        return found if len(found) == count else None
    return wait_until(menus, timeout, lambda: f'{what} ({len(popup_menus())} menus on screen, '
                                              "counted as vornick's windows that the window "
                                              'manager does not manage)')


def wait_no_menu(timeout=15.0):
    wait_until(lambda: not popup_menus(), timeout, 'the menus to close')


def menu_item_point(menu_window, index, count):
    """Root coordinates of the middle of item `index` of a popup menu.

    Wine assumption: a menu of text items draws them all at one height,
    inside 3 pixels of frame at the top and the bottom."""
    x, y, width, height = window_geometry(menu_window)
    item_height = (height - 6) / count
    assert 10 <= item_height <= 40, (
        f'a menu {height} pixels high does not hold {count} items of one height inside 3 '
        f'pixels of frame, as Wine draws them')
    return x + width // 2, int(y + 3 + item_height * index + item_height / 2)


def menu_item_height(menu_window, count):
    return (window_geometry(menu_window)[3] - 6) / count


def close_menu():
    """Closes vornick's menus without a pick, by a click on the empty
    desktop beside them.

    Wine assumption: a click outside the menu closes it, on the empty desktop
    as on another application's window, because the menu's owner holds the
    foreground (tried 32 times under Wine 8.0, for both menus, at once and
    after a wait: each click closed the menu). The program takes the
    foreground before it opens a menu; that is checked first, so a failure
    here names the broken condition rather than a menu left open."""
    wait_until(lambda: inspector().foreground()[1] == 'vornick', 10,
               lambda: f'vornick to hold the foreground while its menu is open (it is a '
                       f'"{inspector().foreground()[1]}" window): a click beside a menu closes '
                       f'it only then')
    xdotool('mousemove', *AWAY)
    xdotool('click', 1)
    wait_until(lambda: not popup_menus(), 10, 'the menu to close after a click beside it')


def click(point, button=1, repeat=1):
    xdotool('mousemove', *point)
    xdotool('click', '--repeat', repeat, '--delay', 80, button)


def dialogs():
    """X windows of the settings dialogs on screen. Their caption holds
    "Version" in every code page."""
    return find_windows('Version', only_visible=True)


class SettingsDialog:
    """The open settings dialog: its controls as the inspector sees them,
    and clicks and keys as a person gives them. Clicks go to the middle of
    each control as the system places it."""

    CONTROLS = (IDOK, IDCANCEL, IDC_PHRASE_EDIT, IDC_ADD, IDC_PHRASE_LIST, IDC_DELETE, IDC_UP,
                IDC_HOTKEY, IDC_DOWN)
    LB_SETCURSEL, LB_GETCOUNT, HKM_GETHOTKEY = 0x186, 0x18B, 0x402

    def __init__(self, handle, window):
        self.inspector = inspector()
        self.ask = self.inspector.ask
        self.handle, self.window = handle, window
        self.controls = {id: self.ask('item', handle, id) for id in self.CONTROLS}
        self.list = self.controls[IDC_PHRASE_LIST]
        self.edit = self.controls[IDC_PHRASE_EDIT]

    def is_open(self):
        return self.handle in self.inspector.dialogs()

    def items(self, timeout=30.0):
        """(selected index, [item texts])"""
        words = self.ask('list', self.list, timeout=timeout).split()
        return int(words[0]), [unhex(word) for word in words[1:]]

    def count(self, timeout=30.0):
        return int(self.ask('send', self.list, self.LB_GETCOUNT, 0, 0, timeout=timeout))

    def edit_box(self):
        """(text, (selection start, selection end))"""
        start, end, text = self.ask('edit', self.edit).split()
        return unhex(text), (int(start), int(end))

    def wait_edit_box(self, expected):
        wait_until(lambda: self.edit_box() == expected, 10,
                   lambda: f'the edit box to be {expected} (it is {self.edit_box()})')

    def focus(self):
        return self.ask('focus', self.handle)

    def hotkey(self):
        return int(self.ask('send', self.controls[IDC_HOTKEY], self.HKM_GETHOTKEY, 0, 0))

    def select(self, index):
        """Selects a list item by message, which sends no notification."""
        self.ask('send', self.list, self.LB_SETCURSEL, index, 0)

    def click(self, id):
        xdotool('mousemove', *self.ask('center', self.controls[id]).split())
        xdotool('click', 1)

    def click_item(self, index):
        xdotool('mousemove', *self.ask('itempoint', self.list, index).split())
        xdotool('click', 1)

    def type(self, text):
        """Types where the focus is, and waits for the edit box to hold it."""
        xdotool('type', '--delay', 30, text)
        wait_until(lambda: self.edit_box()[0] == text, 10,
                   lambda: f'the edit box to hold {text!r} (it holds {self.edit_box()[0]!r})')

    def type_in_edit(self, text):
        """Clicks into the (empty) edit box and types."""
        self.click(IDC_PHRASE_EDIT)
        self.type(text)

    def set_hotkey(self, key, expected):
        """Clicks the hotkey control and presses a key there."""
        self.click(IDC_HOTKEY)
        xdotool('key', key)
        wait_until(lambda: self.hotkey() == expected, 10,
                   lambda: f'{expected:#x} in the hotkey control (it holds {self.hotkey():#x})')

    def settle(self):
        """Returns once every input given so far has been handled: a click on
        the hotkey control comes after it, and moves the focus there."""
        self.click(IDC_HOTKEY)
        wait_until(lambda: self.focus() == self.controls[IDC_HOTKEY], 10,
                   'the click on the hotkey control')

    def wait_items(self, selected, items):
        wait_until(lambda: self.items() == (selected, items), 10,
                   lambda: f'the list to be {items} with {selected} selected (it is {self.items()})')

    def wait_closed(self, timeout=15.0):
        wait_until(lambda: not self.is_open(), timeout, 'the dialog to close')
        wait_until(lambda: not dialogs(), timeout, "the dialog's window to go")

    def ok(self, timeout=15.0):
        self.click(IDOK)
        self.wait_closed(timeout)

    def cancel(self, timeout=15.0):
        self.click(IDCANCEL)
        self.wait_closed(timeout)


def dialog_window():
    """The X window of vornick's dialog: its one visible window besides menus
    (the window manager has reparented it, so it is not a child of the root)."""
    output = xdotool('search', '--onlyvisible', '--classname', '^vornick\\.exe$', check=False)
    windows = set(int(w) for w in output.split()) - set(popup_menus())
    return windows.pop() if len(windows) == 1 else None


def open_dialog(tray, timeout=20.0):
    """Double-clicks the tray icon and returns the settings dialog once it is
    the active window with the focus in its edit box. A double click that
    the system took for two single clicks (on a loaded machine) is given
    once more."""
    for attempt in range(2):
        click(icon_point(tray), repeat=2)
        try:
            handle = wait_until(lambda: (inspector().dialogs() or [None])[0],
                                timeout / 2 if attempt == 0 else timeout,
                                'the settings dialog after a double click on the middle of the '
                                "tray's first icon cell (16 pixels of icon, 2 of border)")
            break
        except AssertionError:
            if attempt:
                raise
    window = wait_until(dialog_window, timeout, "the dialog's X window")
    dialog = SettingsDialog(handle, window)
    if attempt == 0:
        wait_until(lambda: active_window() == window, timeout, 'the dialog to be active')
    else:
        # The first double click may only have been slow: then the second
        # one has taken the foreground from the dialog it opened.
        activate(window, what='the dialog to be active after a second double click')
    wait_until(lambda: dialog.focus() == dialog.edit, timeout, 'the focus in the edit box')
    return dialog


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


def exit_through_tray_menu(tray):
    tray_menu = open_tray_menu(tray)
    click(menu_item_point(tray_menu, TRAY_EXIT, TRAY_ITEMS))


class Vornick:
    """The real vornick.exe, started in a folder of its own, and what a user
    does with its icon and menus.

    Every start goes through here: it waits for an empty tray, writes the
    settings file (text, or raw bytes in `data`), starts the program (or
    calls `start`, which returns something with running()), and returns
    once its icon is in the tray, failing if the program ended first."""

    def __init__(self, case, ini=None, data=None, cwd=None, env=None, exe=VORNICK_EXE,
                 start=None, timeout=60.0):
        self.cwd = Path(cwd or case.workdir)
        wait_clean_tray()
        if ini is not None or data is not None:
            write_ini(self.cwd, ini, data)
        self.process = start() if start else case.start(exe, cwd=self.cwd, env=env)
        wait_until(lambda: tray_icon_count() == 1 or not self.process.running(), timeout,
                   lambda: f"vornick's icon in the tray (Wine's tray window shows "
                           f"{tray_icon_count()} icons, counted as blocks of pixel columns)")
        self.assert_alive()
        self.tray = tray_window()

    def assert_alive(self):
        log = self.process.log() if hasattr(self.process, 'log') else ''
        assert self.process.running(), f'vornick has ended; its output: {log[-2000:]!r}'
        assert 'Unhandled' not in log, f'vornick crashed: {log[-2000:]!r}'

    def icon_point(self):
        return icon_point(self.tray)

    def point_at_icon(self):
        point_at_icon(self.tray)

    def open_tray_menu(self):
        return open_tray_menu(self.tray)

    def open_phrase_submenu(self):
        return open_phrase_submenu(self.tray)

    def open_dialog(self, timeout=20.0):
        return open_dialog(self.tray, timeout)

    def exit_through_tray_menu(self):
        exit_through_tray_menu(self.tray)

    def exit(self):
        """Ends the program through its tray menu and waits for its icon to go."""
        self.exit_through_tray_menu()
        assert self.wait_exit(30) == 0, 'vornick did not end with 0'
        wait_icon_count(0, 'the icon to go')

    def press_hotkey(self, target, key=HOTKEY, at=(600, 400)):
        """Activates the target and presses the hotkey with the mouse at `at`."""
        target.activate()
        xdotool('mousemove', *at)
        xdotool('key', key)

    def open_phrase_menu(self, target, key=HOTKEY, at=(600, 400), timeout=15.0):
        """Presses the hotkey over the target and returns the menu's X window
        once it is on screen."""
        self.press_hotkey(target, key, at)
        return wait_menus(1, f'the phrase menu after {key}', timeout)[0]

    def pick(self, menu_window, index, count):
        xdotool('mousemove', *menu_item_point(menu_window, index, count))
        xdotool('click', 1)

    def wait_exit(self, timeout=10.0):
        return self.process.wait(timeout)
