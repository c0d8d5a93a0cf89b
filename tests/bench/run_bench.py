"""The benchmark: vornick's figures beside their baselines, as one table.

Run by ../../bench.sh inside a desktop session of its own (Xvfb, openbox and a
fresh Wine prefix). Every figure is taken in this run, next to its baseline:

- hotkey to menu on screen: from the flush of the hotkey's X key press to the
  MapNotify of the menu's X window (xwatch.py: one Xlib connection sends the
  key through XTEST and reads the event; perf_counter resolution, a few tens
  of microseconds of wake-up delay); baseline: bench_baseline.exe, the same
  hotkey and an identical popup menu and nothing else;
- pick to phrase in the target: from the flush of the click on the item to
  the PropertyNotify of the target's new title (bench_target.exe shows its
  text's length and tail in its title); baseline: bench_baseline.exe's pick
  (clipboard and Ctrl+V, no focus or selection restore);
- start to tray icon: from spawning `wine vornick.exe` to the MapNotify of
  Wine's system tray window (hidden while it holds no icon), with 10 and with
  1000 phrases; baselines: Wine's notepad from spawning to its main window's
  MapNotify, and for 1000 phrases the starts with 10;
- idle footprint: VmRSS from /proc of the Wine process, with 10 and 1000
  phrases, against notepad idle; CPU time (utime + stime, clock ticks of
  /proc/PID/stat) over 30 idle seconds, both programs side by side;
- settings: bench_settings.exe times LoadSettings, SaveSettings and
  RebuildPhraseMenu in-process, and the system's own section read and write
  of the same file alone; the ratio column is the growth from the previous
  size, and for the two saves at the largest size, their ratio to the
  system's write;
- soak: hotkey, pick and paste cycles in a row; every paste checked, Control
  and V checked up at the end (the system's key state via bench_probe.exe,
  and the X server's), memory and object counts at the start and the end;
- the size of vornick.exe against the baseline program's.

    python3 run_bench.py --build BUILD_DIR [--name TEXT] [--quick]

--name is printed as the first line: which build, in which Wine prefix.
"""
import argparse
import math
import os
import platform
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
from xwatch import XWatch  # noqa: E402

HOTKEY = 'ctrl+shift+F12'
TRAY_NAME = 'Wine System Tray'
TARGET_TITLE = 'vornick bench target'
NOTEPAD = r'C:\windows\system32\notepad.exe'
CLOCK_TICK_MS = 1000.0 / os.sysconf('SC_CLK_TCK')

# Short phrases (under 40 bytes, so both programs label them alike) of
# different lengths, each with its own ending.
PHRASES = [f'phrase {i}: {"kind regards " * (i % 3)}end {i}.' for i in range(10)]


def log(message):
    print(f'[{time.strftime("%H:%M:%S")}] {message}', file=sys.stderr, flush=True)


def percentile(values, fraction):
    ordered = sorted(values)
    return ordered[max(0, math.ceil(fraction * len(ordered)) - 1)]


def write_ini(folder, phrases, extra=''):
    lines = ['[DefStr]', f'len={len(phrases)}', 'VK=123', 'shift=6']
    lines += [f'{i}={text}' for i, text in enumerate(phrases)]
    Path(folder, 'vornick.ini').write_bytes(('\r\n'.join(lines) + '\r\n' + extra).encode('cp1252'))


class Wine:
    """Windows programs of the benchmark under the session's Wine."""

    def __init__(self, build, workdir):
        self.build, self.workdir = build, workdir
        self.bench = build / 'tests' / 'bench'
        self.processes = []

    def start(self, exe, cwd=None):
        log_file = open(self.workdir / f'{Path(exe).stem}-{len(self.processes)}.log', 'wb')
        process = subprocess.Popen(['wine', str(exe)], cwd=cwd or self.workdir,
                                   stdin=subprocess.DEVNULL, stdout=log_file,
                                   stderr=subprocess.STDOUT, start_new_session=True)
        self.processes.append(process)
        return process

    def probe(self, *args):
        result = subprocess.run(['wine', str(self.bench / 'bench_probe.exe'), *args],
                                cwd=self.workdir, capture_output=True, text=True, timeout=60)
        return dict(re.findall(r'(\w+)=(\S+)', result.stdout))

    def close(self, window_class, process):
        """Ends a program as a person would have it end: WM_CLOSE to its window."""
        self.probe('close', window_class)
        try:
            process.wait(timeout=15)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait(timeout=10)

    def end_all(self):
        for process in self.processes:
            if process.poll() is None:
                process.kill()
                process.wait(timeout=10)


def rss_kb(pid):
    for line in Path(f'/proc/{pid}/status').read_text().splitlines():
        if line.startswith('VmRSS:'):
            return int(line.split()[1])
    return None


def cpu_ms(pid):
    fields = Path(f'/proc/{pid}/stat').read_text().rsplit(')', 1)[1].split()
    return (int(fields[11]) + int(fields[12])) * CLOCK_TICK_MS  # utime, stime


class Desk:
    """The X side: the watcher, the target window and the cycles."""

    def __init__(self, wine):
        self.wine = wine
        self.x = XWatch()
        self.target_process = wine.start(wine.bench / 'bench_target.exe')
        found = self.x.wait_mapped(program='bench_target.exe', timeout=30)
        if not found:
            raise RuntimeError('the bench target did not appear')
        self.target = found.window
        self.length, self.tail = 0, ''

    def tray(self):
        """Wine's system tray window while it is on screen (it holds icons)."""
        return next((w for w in self.x.mapped_windows('explorer.exe')
                     if self.x.name(w) == TRAY_NAME), None)

    def wait_tray_gone(self):
        tray = self.tray()
        if tray:
            self.x.wait_unmapped(tray, 10)

    def activate_target(self):
        subprocess.run(['xdotool', 'windowactivate', '--sync', str(self.target)],
                       capture_output=True, timeout=30)
        x, y, width, height = self.x.geometry(self.target)
        # The menu opens at the pointer: on the blank client area below the
        # edit box, where Wine sees the pointer (it is over one of its windows).
        self.x.move(x + width - 30, y + height - 15)

    def target_state(self):
        match = re.match(re.escape(TARGET_TITLE) + r' (\d+) (.*)$', self.x.name(self.target))
        return (int(match.group(1)), match.group(2)) if match else (0, '')

    def open_menu(self, program, timeout=10.0):
        """Presses the hotkey; (menu window, milliseconds) or (None, None)."""
        self.activate_target()
        self.x.drain()
        pressed = self.x.key(HOTKEY)
        menu = self.x.wait_mapped(program=program, override_redirect=True, timeout=timeout)
        if not menu:
            return None, None
        return menu.window, (menu.time - pressed) * 1000

    def warm_up(self, program, limit=30.0):
        """Waits until the program answers its hotkey (it has registered it),
        and makes one pick, which also shows that its pastes land. (A click
        beside a menu would close it too, as the desktop tests' harness
        does: the program holds the foreground while its menu is open.)"""
        deadline = time.monotonic() + limit
        while time.monotonic() < deadline:
            menu, _ = self.open_menu(program, timeout=1.0)
            if menu:
                return self.pick(menu, 0)[1] is not None
        return False

    def pick(self, menu, index):
        """Clicks item `index` of the menu; (flush time of the click, time the
        target's title showed the paste) or (click time, None)."""
        x, y, width, height = self.x.geometry(menu)
        item = (height - 6) / len(PHRASES)
        self.x.move(x + width // 2, y + 3 + item * index + item / 2)
        phrase = PHRASES[index]
        length, tail = self.length + len(phrase), (self.tail + phrase)[-16:]
        expected = f'{TARGET_TITLE} {length} {tail}'
        clicked = self.x.click()
        title, landed = self.x.wait_name(self.target, lambda name: name == expected, 10)
        if self.x.wait_unmapped(menu, 5) is None:
            # The click missed the item: close the menu with another pick.
            self.x.click()
            self.x.wait_unmapped(menu, 5)
            title = None
        if title is None:
            # Carry on from what the target holds now.
            self.length, self.tail = self.target_state()
            return clicked, None
        self.length, self.tail = length, tail
        return clicked, landed

    def cycle(self, program, index):
        """Hotkey, pick of phrase `index`, paste. Returns (hotkey ms, pick ms),
        with None for a step that did not happen within its time limit."""
        menu, hotkey_ms = self.open_menu(program)
        if not menu:
            return None, None
        clicked, landed = self.pick(menu, index)
        return hotkey_ms, (landed - clicked) * 1000 if landed else None


class Row:
    def __init__(self, figure, unit, values, baseline_name='', baseline=None, ratio=None,
                 note=''):
        self.figure, self.unit, self.values = figure, unit, values
        self.baseline_name, self.baseline, self.ratio, self.note = (
            baseline_name, baseline or [], ratio, note)


def fmt(value, unit):
    if value is None:
        return '-'
    if unit == 'ms':
        return '0' if value == 0 else f'{value:.3f}' if value < 1 else f'{value:.1f}' if value < 100 else f'{value:.0f}'
    if isinstance(value, float) and not value.is_integer():
        return f'{value:.1f}'
    return f'{int(value):,}'


def print_table(rows, machine):
    """One Markdown table; the rows' notes follow it as numbered footnotes."""
    head = ['Figure', 'Unit', 'n', 'Median', 'p95', 'Baseline', 'Baseline median',
            'Baseline p95', 'Ratio']
    lines = ['| ' + ' | '.join(head) + ' |', '|' + '---|' * len(head)]
    notes = []
    for row in rows:
        values, baseline = row.values, row.baseline
        median = statistics.median(values) if values else None
        base_median = statistics.median(baseline) if baseline else None
        ratio = row.ratio
        if ratio is None and median is not None and base_median:
            ratio = median / base_median
        figure = row.figure
        if row.note:
            notes.append(row.note)
            figure += f' [{len(notes)}]'
        cells = [figure, row.unit, str(len(values)), fmt(median, row.unit),
                 fmt(percentile(values, 0.95) if values else None, row.unit),
                 row.baseline_name or '-', fmt(base_median, row.unit),
                 fmt(percentile(baseline, 0.95) if baseline else None, row.unit),
                 f'{ratio:.2f}' if ratio is not None else '-']
        lines.append('| ' + ' | '.join(cells) + ' |')
    print()
    print(machine)
    print()
    print('\n'.join(lines))
    print()
    for number, note in enumerate(notes, 1):
        print(f'[{number}] {note}')


def machine_line(load_start):
    cpu = next((line.split(':', 1)[1].strip() for line in
                Path('/proc/cpuinfo').read_text().splitlines() if line.startswith('model name')),
               platform.processor())
    wine = subprocess.run(['wine', '--version'], capture_output=True, text=True).stdout.strip()
    load_end = os.getloadavg()[0]
    return (f'Machine: {cpu}, {os.cpu_count()} cores, {platform.system()} {platform.release()}, '
            f'{wine}; load average {load_start:.2f} at the start, {load_end:.2f} at the end.')


def measure_latency(wine, desk, vornick_dir, presses, rows):
    """Hotkey to menu and pick to paste, vornick and baseline in turns."""
    samples = {'vornick.exe': ([], []), 'bench_baseline.exe': ([], [])}
    programs = [('bench_baseline.exe', wine.bench / 'bench_baseline.exe', 'vornick bench baseline'),
                ('vornick.exe', wine.build / 'vornick.exe', 'vornick')]
    rounds = 2
    for round_ in range(rounds):
        for program, exe, window_class in programs:
            process = wine.start(exe, cwd=vornick_dir)
            if not desk.warm_up(program):
                raise RuntimeError(f'{program} did not answer its hotkey')
            count = presses // rounds + (presses % rounds if round_ == 0 else 0)
            log(f'{program}: {count} hotkey and pick cycles (round {round_ + 1} of {rounds})')
            for i in range(count):
                hotkey_ms, pick_ms = desk.cycle(program, i % len(PHRASES))
                if hotkey_ms is not None:
                    samples[program][0].append(hotkey_ms)
                if pick_ms is not None:
                    samples[program][1].append(pick_ms)
            wine.close(window_class, process)
    (hotkey, pick), (base_hotkey, base_pick) = (samples['vornick.exe'],
                                                 samples['bench_baseline.exe'])
    missed = {program: 2 * presses - len(a) - len(b) for program, (a, b) in samples.items()}
    rows.append(Row('Hotkey to phrase menu on screen', 'ms', hotkey, 'bench_baseline.exe',
                    base_hotkey, note=(
                        'XTEST key press flushed to MapNotify of the menu window, one Xlib '
                        'connection for both; baseline: the same hotkey and menu, nothing else')))
    rows.append(Row('Pick to phrase in the target', 'ms', pick, 'bench_baseline.exe', base_pick,
                    note=('XTEST click flushed to PropertyNotify of the target title that shows '
                          'the pasted text; baseline: clipboard, SetForegroundWindow, Ctrl+V; '
                          f'steps that timed out: vornick {missed["vornick.exe"]}, baseline '
                          f'{missed["bench_baseline.exe"]}')))


def measure_start(wine, desk, dirs, starts, rows):
    if desk.tray():
        log('the system tray already shows icons: start to tray icon cannot be measured')
        return
    times = {10: [], 1000: []}
    notepad = []
    log(f'{starts} starts of vornick with 10 and with 1000 phrases, and of notepad')
    for _ in range(starts):
        for count in times:
            desk.x.drain()
            spawned = time.perf_counter()
            process = wine.start(wine.build / 'vornick.exe', cwd=dirs[count])
            tray = desk.x.wait_mapped(name=TRAY_NAME, timeout=60)
            if tray:
                times[count].append((tray.time - spawned) * 1000)
            wine.close('vornick', process)
            desk.wait_tray_gone()

        desk.x.drain()
        spawned = time.perf_counter()
        process = wine.start(NOTEPAD)
        window = desk.x.wait_mapped(program='notepad.exe', timeout=60)
        if window:
            notepad.append((window.time - spawned) * 1000)
        wine.close('Notepad', process)
    rows.append(Row('Start to tray icon present, 10 phrases', 'ms', times[10], "Wine's notepad",
                    notepad,
                    note=('spawn of `wine vornick.exe` to MapNotify of Wine\'s tray window, '
                          'which is hidden while it holds no icon; baseline: spawn of notepad '
                          'to MapNotify of its window')))
    rows.append(Row('Start to tray icon present, 1000 phrases', 'ms', times[1000], '10 phrases',
                    times[10]))


def settle(pids, limit=15.0):
    """Waits until none of the processes uses CPU for a second."""
    deadline = time.monotonic() + limit
    while time.monotonic() < deadline:
        before = [cpu_ms(pid) for pid in pids]
        time.sleep(1.0)
        if [cpu_ms(pid) for pid in pids] == before:
            return


def measure_idle(wine, desk, dirs, idle_seconds, rows):
    log(f'idle footprint: vornick with 10 phrases and notepad, {idle_seconds} s side by side')
    vornick = wine.start(wine.build / 'vornick.exe', cwd=dirs[10])
    desk.x.wait_mapped(name=TRAY_NAME, timeout=60)
    notepad = wine.start(NOTEPAD)
    desk.x.wait_mapped(program='notepad.exe', timeout=60)
    settle([vornick.pid, notepad.pid])
    rss10, rss_notepad = [], []
    cpu_start = cpu_ms(vornick.pid), cpu_ms(notepad.pid)
    start = time.monotonic()
    while time.monotonic() - start < idle_seconds:
        rss10.append(rss_kb(vornick.pid))
        rss_notepad.append(rss_kb(notepad.pid))
        time.sleep(1.0)
    cpu_end = cpu_ms(vornick.pid), cpu_ms(notepad.pid)
    wine.close('vornick', vornick)
    desk.wait_tray_gone()

    log('idle footprint: vornick with 1000 phrases')
    vornick = wine.start(wine.build / 'vornick.exe', cwd=dirs[1000])
    desk.x.wait_mapped(name=TRAY_NAME, timeout=120)
    settle([vornick.pid])
    rss1000 = []
    for _ in range(5):
        rss1000.append(rss_kb(vornick.pid))
        time.sleep(1.0)
    wine.close('vornick', vornick)
    wine.close('Notepad', notepad)

    rows.append(Row('Resident memory, 10 phrases', 'KiB', rss10, "Wine's notepad idle",
                    rss_notepad, note='VmRSS of /proc/PID/status, sampled every second'))
    rows.append(Row('Resident memory, 1000 phrases', 'KiB', rss1000, "Wine's notepad idle",
                    rss_notepad))
    vornick_cpu, notepad_cpu = cpu_end[0] - cpu_start[0], cpu_end[1] - cpu_start[1]
    rows.append(Row(f'CPU time over {idle_seconds} idle seconds', 'ms', [vornick_cpu],
                    "Wine's notepad idle", [notepad_cpu],
                    ratio=vornick_cpu / notepad_cpu if notepad_cpu else None,
                    note=f'utime + stime of /proc/PID/stat, in ticks of {CLOCK_TICK_MS:.0f} ms'))


def measure_settings(wine, min_runs, budget, rows):
    folder = Path(tempfile.mkdtemp(prefix='bench-settings-', dir=wine.workdir))
    log('settings: LoadSettings, SaveSettings, RebuildPhraseMenu at 10 .. 10,000 phrases')
    result = subprocess.run(['wine', str(wine.bench / 'bench_settings.exe'), str(min_runs),
                             str(budget)], cwd=folder, capture_output=True, text=True,
                            timeout=3600)
    times = {}
    for op, count, ms in re.findall(r'^settings ([\w-]+) (\d+) ([\d.]+)', result.stdout, re.M):
        times.setdefault((op, int(count)), []).append(float(ms))
    failed = re.findall(r'^check .* FAILED.*$', result.stdout, re.M)
    for line in failed:
        log(line)
    names = {'load': 'LoadSettings', 'save-new': 'SaveSettings into a new file',
             'save-same': 'SaveSettings of the same list again', 'rebuild': 'RebuildPhraseMenu',
             'section-read': "The system's GetPrivateProfileSectionA alone",
             'section-write': "The system's WritePrivateProfileSectionA alone"}
    for op in names:
        previous = None
        for count in sorted(c for o, c in times if o == op):
            values = times[(op, count)]
            growth = (statistics.median(values) / statistics.median(times[(op, previous)])
                      if previous else None)
            note = ''
            if not rows[-1].figure.startswith(('Load', 'Save', 'Rebuild', 'The system')):
                note = ('bench_settings.exe, in-process, QueryPerformanceCounter; the baseline '
                        'of each size is the size before it, and the ratio the growth; '
                        'LoadSettings and the system\'s section read each follow a new time '
                        'stamp on the file, so that Wine parses the file again, as at the '
                        'program\'s start (from its cache, the read of 10,000 entries takes '
                        'about a quarter of that); '
                        + ('all loads and menus checked' if not failed else 'CHECKS FAILED'))
            rows.append(Row(f'{names[op]}, {count:,} phrases', 'ms', values,
                            f'{previous:,} phrases' if previous else '',
                            times[(op, previous)] if previous else None, ratio=growth,
                            note=note))
            previous = count
    # The saves beside the system's own write of the same file, at the
    # largest size.
    largest = max((c for o, c in times if o == 'section-write'), default=None)
    for op in ('save-new', 'save-same'):
        if largest is None or (op, largest) not in times:
            continue
        note = ''
        if op == 'save-new':
            note = ('SaveSettings writes a new file, flushes, closes and reads it back, swaps '
                    'it in, and then drops the file from the platform\'s profile cache, which '
                    'under Wine parses the new file once more')
        rows.append(Row(f'{names[op]}, {largest:,} phrases, against the system\'s write', 'ms',
                        times[(op, largest)], "WritePrivateProfileSectionA",
                        times[('section-write', largest)], note=note))


def measure_soak(wine, desk, vornick_dir, cycles, rows):
    process = wine.start(wine.build / 'vornick.exe', cwd=vornick_dir)
    if not desk.warm_up('vornick.exe'):
        raise RuntimeError('vornick did not answer its hotkey')
    settle([process.pid])
    objects_start, rss_start = wine.probe('gui', 'vornick'), rss_kb(process.pid)
    log(f'soak: {cycles} hotkey, pick and paste cycles')
    landed, hotkeys = 0, []
    length_start = desk.length
    for i in range(cycles):
        hotkey_ms, pick_ms = desk.cycle('vornick.exe', i % len(PHRASES))
        landed += pick_ms is not None
        if hotkey_ms is not None:
            hotkeys.append(hotkey_ms)
        if (i + 1) % 100 == 0:
            log(f'soak: {i + 1} cycles, {landed} pastes landed')
    settle([process.pid])
    objects_end, rss_end = wine.probe('gui', 'vornick'), rss_kb(process.pid)
    keys = wine.probe('keys')
    x_down = set(desk.x.keys_down()) & {desk.x.keycode(k) for k in
                                          ('Control_L', 'Control_R', 'v', 'Shift_L', 'F12')}
    wine.close('vornick', process)

    expected_length = length_start + sum(len(PHRASES[i % len(PHRASES)]) for i in range(cycles))
    held = [name for name in ('control', 'lcontrol', 'rcontrol', 'v') if keys.get(name) != '0']
    note = (f'{landed}/{cycles} pastes landed, target holds {desk.length - length_start} of '
            f'{expected_length - length_start} characters; keys left down: '
            f'{", ".join(held) or "none"} (system), {len(x_down) or "none"} (X)')
    log('soak: ' + note)
    rows.append(Row('Soak: pastes landed', 'count', [landed], 'cycles', [cycles],
                    note=note))
    rows.append(Row('Soak: hotkey to menu, first 50 / last 50 cycles', 'ms', hotkeys[-50:],
                    'first 50 cycles', hotkeys[:50]))
    rows.append(Row('Soak: resident memory, end / start', 'KiB', [rss_end], 'start', [rss_start]))

    def objects(result, kind):
        # GetGuiResources where the system implements it; Wine 8 returns 0
        # with ERROR_CALL_NOT_IMPLEMENTED (120), and then the GDI handle
        # table's used entries and the process's windows stand in.
        if result.get(f'{kind}_error') not in ('0', None):
            return int(result['gdi_table' if kind == 'gdi' else 'windows']), True
        return int(result.get(kind, 0)), False

    for kind, label in (('gdi', 'GDI objects'), ('user', 'USER objects')):
        end, fallback = objects(objects_end, kind)
        start, _ = objects(objects_start, kind)
        note = ''
        if fallback:
            note = ('used GDI handle table entries' if kind == 'gdi' else
                    'windows of the process') + '; GetGuiResources is not implemented by Wine'
        rows.append(Row(f'Soak: {label}, end / start', 'count', [end], 'start', [start], note=note))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument('--build', type=Path, required=True)
    parser.add_argument('--name', help='the build measured, printed as the first line')
    parser.add_argument('--quick', action='store_true',
                        help='few repetitions, to check that the benchmark runs')
    args = parser.parse_args()
    build = args.build.resolve()
    print(f'Build: {args.name or build}', flush=True)
    quick = args.quick
    presses, starts, idle_seconds, soak = (10, 3, 5, 20) if quick else (60, 20, 30, 500)
    min_runs, budget = (1, 0) if quick else (3, 3.0)

    load_start = os.getloadavg()[0]
    workdir = Path(tempfile.mkdtemp(prefix='vornick-bench-'))
    wine = Wine(build, workdir)
    dirs = {}
    for count in (10, 1000):
        dirs[count] = workdir / f'phrases-{count}'
        dirs[count].mkdir()
    write_ini(dirs[10], PHRASES)
    write_ini(dirs[1000], [f'phrase {i:04d}: with kind regards' for i in range(1000)])

    rows = []
    desk = None
    try:
        desk = Desk(wine)
        measure_latency(wine, desk, dirs[10], presses, rows)
        measure_start(wine, desk, dirs, starts, rows)
        measure_idle(wine, desk, dirs, idle_seconds, rows)
        measure_soak(wine, desk, dirs[10], soak, rows)
        measure_settings(wine, min_runs, budget, rows)
        size, base_size = ((build / 'vornick.exe').stat().st_size,
                           (wine.bench / 'bench_baseline.exe').stat().st_size)
        rows.append(Row('Size of vornick.exe', 'bytes', [size], 'bench_baseline.exe',
                        [base_size]))
    finally:
        wine.end_all()
        if desk:
            desk.x.close()
        shutil.rmtree(workdir, ignore_errors=True)
    print_table(rows, machine_line(load_start))


if __name__ == '__main__':
    main()
