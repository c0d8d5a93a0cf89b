"""Bad settings files and faults, survived by the real program.

The settings files are generated here, one per case: junk and NUL bytes, a
line of megabytes, odd `len` values, a doubled or differently cased section,
byte-order marks, UTF-16, unusual line ends and thousands of keys. For each
the real vornick.exe starts, the phrase count stays within the bound, a save
from the settings dialog leaves the file's other sections and keys as they
were, the hotkey opens the menu, and nothing crashes.

The faults are made from another process by fault_helper.exe: the settings
file read-only at OK, the clipboard held open at the pick, the target closed
between capture and pick, the hotkey taken by another program, and the
taskbar created again (the helper removes vornick's icon from Wine's tray, as
a restarted shell has no icons, and broadcasts "TaskbarCreated" as the new
shell does).

Saves that fail or are cut off from the Linux side: a full volume (a small
file system mounted for the test; root only), a folder that takes no new
file, and saves killed at random moments, also where Wine tells the saving
program it runs on Windows 98. The settings file must always load as the
old list or the new one; save_probe.exe runs the program's load and save on
command for the last two.
"""
import collections
import errno
import os
import random
import shutil
import subprocess
import time
import unittest

from harness import (IDC_ADD, IDOK, MOD_CONTROL, MOD_SHIFT, TESTS_BIN, VK_F12, DesktopTestCase,
                     Vornick, activate, close_menu, decode_ini, find_windows, ini_sections,
                     tray_window, wait_icon_count, wait_menus, wait_no_menu, wait_until, xdotool)

FAULT_HELPER = TESTS_BIN / 'fault_helper.exe'
SAVE_PROBE = TESTS_BIN / 'save_probe.exe'

# Phrase commands run from 500 to 65535.
BOUND = 65536 - 500

PHRASES = ['alpha', 'beta', 'gamma']
SETTINGS = ['[DefStr]', 'len=3', 'VK=123', 'shift=6', '0=alpha', '1=beta', '2=gamma',
            'note=kept key']
OTHER = ['[Other]', 'name=kept value', r'path=C:\kept\path']
# Entries that are not the program's and that a save must leave alone.
KEPT = {('defstr', 'note'): 'kept key', ('other', 'name'): 'kept value',
        ('other', 'path'): r'C:\kept\path'}


def profile(*blocks, newline='\r\n', final_newline=True, encoding='cp1252', bom=b''):
    """A settings file from blocks of lines (lists of text) and raw bytes."""
    data = bom
    for i, block in enumerate(blocks):
        if isinstance(block, bytes):
            data += block
            continue
        text = newline.join(block)
        if final_newline or i < len(blocks) - 1:
            text += newline
        data += text.encode(encoding)
    return data


def settings_with(**entries):
    """SETTINGS with some entries' values replaced."""
    lines = []
    for line in SETTINGS:
        key = line.split('=', 1)[0]
        lines.append(f'{key}={entries[key]}' if key in entries else line)
    return lines


def junk(size, seed):
    """Bytes of every value, NUL among them, with no line break and no '['
    that could open a section: a damaged stretch of file."""
    generator = random.Random(seed)
    data = bytes(generator.randrange(256) for _ in range(size))
    return data.replace(b'\r', b'\0').replace(b'\n', b'\0').replace(b'[', b'\0')


def entry(data, section, key):
    """The value of a key in the first section of that name (any letter
    case), the first entry of the key winning, as profiles read it."""
    for name, entries in ini_sections(data):
        if name.lower() == section:
            return next((value.strip() for k, value in entries if k.strip().lower() == key), None)
    return None


class Case:
    """One bad settings file. `count` is the phrase count that the program
    must end up with, or None where only the bound holds (numbers that the
    platform's profile reader parses its own way)."""

    def __init__(self, name, data, count, phrases=None, kept=KEPT, lines_kept=()):
        self.name, self.data, self.count = name, data, count
        # The phrases as the save writes them back, when the case fixes them.
        self.phrases = PHRASES if phrases is None and count == len(PHRASES) else phrases
        self.kept, self.lines_kept = kept, lines_kept


HUGE_LINE = 'x' * (4 << 20)
NON_ASCII = ['alpha', 'beta', 'café']  # é is in the ANSI code page 1252
LONGEST_PHRASE = 1023  # bytes of a phrase that the program reads and keeps
MANY = 3000
LEN_HUGE = Case('len huge', profile(settings_with(len='1000000000'), OTHER), None)

CASES = [
    # Damage in the middle of the file: the entries around it still count.
    Case('binary junk and NUL bytes', profile(SETTINGS, junk(4096, 7), b'\r\n', OTHER), 3),
    # A phrase of 4 MiB: read cut to the longest phrase, and saved so.
    Case('one line of several megabytes', profile(settings_with(**{'1': HUGE_LINE}), OTHER), 3,
         phrases=['alpha', HUGE_LINE[:LONGEST_PHRASE], 'gamma']),
    LEN_HUGE,
    Case('len negative', profile(settings_with(len='-3'), OTHER), 0),
    Case('len not a number', profile(settings_with(len='three'), OTHER), 0),
    Case('len beyond 32 bits', profile(settings_with(len='4294967299'), OTHER), None),
    Case('len beyond 64 bits', profile(settings_with(len='18446744073709551619'), OTHER), None),
    # The first section is the one that counts; the second stays as it was.
    Case('section twice', profile(SETTINGS, OTHER, ['[DefStr]', 'len=7', 'late=kept too']), 3,
         lines_kept=['[DefStr]', 'len=7', 'late=kept too']),
    Case('section name in other letter case',
         profile(['[defstr]'] + SETTINGS[1:], OTHER), 3),
    # Read in the file's own encoding, and written back in it.
    Case('UTF-8 byte-order mark', profile(settings_with(**{'2': 'café'}), OTHER, encoding='utf-8',
                                          bom=b'\xef\xbb\xbf'), 3, phrases=NON_ASCII),
    Case('UTF-16 file', profile(settings_with(**{'2': 'café'}), OTHER, encoding='utf-16-le',
                                bom=b'\xff\xfe'), 3, phrases=NON_ASCII),
    Case('no final line break', profile(SETTINGS, OTHER, final_newline=False), 3),
    Case('LF-only line endings', profile(SETTINGS, OTHER, newline='\n'), 3),
    # Thousands of phrases, and thousands of keys that are not the program's.
    Case('thousands of keys',
         profile(['[DefStr]', f'len={MANY}', 'VK=123', 'shift=6', 'note=kept key'] +
                 [f'{i}=phrase {i}' for i in range(MANY)], OTHER,
                 [f'key{i}=value {i}' for i in range(MANY)]),
         MANY, phrases=[f'phrase {i}' for i in range(MANY)], kept={**KEPT, **{('other', f'key{i}'): f'value {i}' for i in range(MANY)}}),
]


class RobustnessTestCase(DesktopTestCase):

    def start_vornick(self, data, timeout=60):
        return Vornick(self, data=data, timeout=timeout)

    def helper(self, *args, wait_for=None):
        """Starts fault_helper.exe; with wait_for, waits for that line of it."""
        process = self.start(FAULT_HELPER, args)
        if wait_for:
            wait_until(lambda: wait_for in process.log(), 30,
                       f'the helper to report "{wait_for}"')
        return process

    def close_message_box(self):
        """Waits for the program's message box (titled with its name) and
        closes it with Enter."""
        message_boxes = lambda: find_windows('^vornick$', only_visible=True)
        wait_until(message_boxes, 15, 'the message box')
        activate(message_boxes()[0])
        xdotool('key', 'Return')
        wait_until(lambda: not message_boxes(), 15, 'the message box to close')

    def key_watcher(self):
        """A probe whose keyboard hook sees every key synthesised on the desktop."""
        probe = self.start_probe('key watcher')
        probe.hook_keyboard()
        return probe


class BadSettingsFileTest(RobustnessTestCase):

    def check_case(self, case, target):
        path = self.workdir / 'vornick.ini'
        vornick = self.current = self.start_vornick(case.data)

        # The dialog lists the phrases in memory; OK saves them.
        dialog = vornick.open_dialog()
        count = dialog.count()
        self.assertTrue(0 <= count <= BOUND, count)
        if case.count is not None:
            self.assertEqual(count, case.count)
        dialog.ok()
        saved = path.read_bytes()
        self.assertEqual(int(entry(saved, 'defstr', 'len')), count)
        for i, phrase in enumerate(case.phrases or []):
            self.assertEqual(entry(saved, 'defstr', str(i)), phrase, f'phrase {i}')
        for (section, key), value in case.kept.items():
            self.assertEqual(entry(saved, section, key), value, f'[{section}] {key}')
        lines = decode_ini(saved).splitlines()
        for line in case.lines_kept:
            self.assertIn(line, lines)

        # The hotkey still opens the menu of those phrases.
        vornick.press_hotkey(target)
        if count:
            wait_menus(1, f'the phrase menu of {count} phrases', timeout=60)
            close_menu()
        else:
            # Wine shows nothing for a popup menu without items; the program
            # still answers by taking the foreground for it.
            target.wait_foreground('vornick')
        vornick.assert_alive()
        vornick.exit()
        return count

    def test_bad_files_start_show_the_menu_and_save_keeps_other_entries(self):
        target = self.start_target('Robustness target')
        for case in CASES:
            if case is LEN_HUGE:
                continue  # test_len_huge_starts_and_stays_usable
            self.current = None
            with self.subTest(case=case.name):
                started = time.monotonic()
                count = self.check_case(case, target)
                print(f'\n  {case.name}: {count} phrases, {time.monotonic() - started:.1f} s',
                      end='', flush=True)
            # A case that failed half-way may leave its program running.
            if self.current:
                self.current.process.kill()
        print(flush=True)


@unittest.skipUnless(os.environ.get('VORNICK_SLOW_TESTS'),
                     'minutes under Wine; run it with VORNICK_SLOW_TESTS=1 ./test.sh -R test_robustness')
class BoundTest(RobustnessTestCase):
    """A len beyond the bound: the program holds BOUND phrases (the bound
    itself is checked in process, by settings_tests). Wine inserts menu
    items in time that grows with the square of their number, so the start
    with a phrase menu of BOUND items takes minutes; this is what a user
    sees then: the program starts, its menus work, it ends, and the file
    is left as it was."""

    def test_len_huge_starts_and_stays_usable(self):
        path = self.workdir / 'vornick.ini'
        target = self.start_target('Bound target')
        started = time.monotonic()
        vornick = self.start_vornick(LEN_HUGE.data, timeout=1200)
        print(f'\n  len huge: started in {time.monotonic() - started:.0f} s', flush=True)
        vornick.press_hotkey(target)
        wait_menus(1, f'the phrase menu of {BOUND} phrases', timeout=300)
        close_menu()
        target.activate()
        vornick.exit()
        self.assertEqual(path.read_bytes(), LEN_HUGE.data)


class FaultTest(RobustnessTestCase):

    def test_clipboard_held_or_target_gone_at_the_pick_types_nothing(self):
        vornick = self.start_vornick(profile(SETTINGS, OTHER))
        target = self.start_target('Clipboard target', 'untouched', sel=(9, 9))
        keys = self.key_watcher()

        # Each fault is checked once the next hotkey has opened a menu: the
        # program handles the hotkey only after the pick before it, so by
        # then every key the pick would type has been seen by the hook.
        with self.subTest(fault='clipboard held open by another process'):
            holder = self.helper('clipboard', wait_for='held=1')
            vornick.pick(vornick.open_phrase_menu(target), 0, len(PHRASES))
            wait_no_menu()
            vornick.open_phrase_menu(target)
            self.assertEqual(keys.typed_keys(), [], 'keys were typed with the clipboard held')
            self.assertEqual((target.text(), target.report()['pastes']), ('untouched', 0))
            close_menu()
            # Once the clipboard is free again, the same pick pastes.
            holder.kill()
            vornick.pick(vornick.open_phrase_menu(target), 0, len(PHRASES))
            target.wait_for_text('untouchedalpha')
            keys.typed_keys()

        with self.subTest(fault='target closed between capture and pick'):
            doomed = self.start_target('Closing target', 'doomed')
            menu = vornick.open_phrase_menu(doomed)
            doomed.close()
            wait_until(lambda: not find_windows('^Closing target$'), 10, 'the target to go')
            before = target.report()
            vornick.pick(menu, 1, len(PHRASES))
            wait_no_menu()
            vornick.open_phrase_menu(target)
            # The window left is the other target: no Ctrl+V may reach it.
            self.assertEqual(keys.typed_keys(), [], 'keys were typed with the target gone')
            self.assertEqual((target.text(), target.report()['pastes']),
                             (before['text'], before['pastes']))
            close_menu()
            # The pick itself happened: the phrase is on the clipboard.
            target.activate()
            xdotool('key', 'ctrl+v')
            target.wait_for_text(before['text'] + 'beta')
        vornick.assert_alive()

    def test_read_only_file_at_ok_says_so_and_loses_nothing(self):
        vornick = self.start_vornick(profile(SETTINGS, OTHER))
        target = self.start_target('Read-only target')
        path = self.workdir / 'vornick.ini'

        dialog = vornick.open_dialog()
        dialog.type('delta')
        dialog.click(IDC_ADD)
        dialog.wait_items(3, PHRASES + ['delta'])
        self.make_read_only(path)
        before = path.read_bytes()
        dialog.click(IDOK)
        # The message box, titled with the program's name; the dialog stays.
        self.close_message_box()
        self.assertTrue(dialog.is_open(), 'the dialog closed')
        self.assertEqual(path.read_bytes(), before)

        # Cancel leaves the file and the phrases as they were.
        dialog.cancel()
        self.assertEqual(path.read_bytes(), before)
        vornick.assert_alive()
        menu = vornick.open_phrase_menu(target)
        vornick.pick(menu, 2, len(PHRASES))
        target.wait_for_text('gamma')

    def make_read_only(self, path):
        """Read-only for this user: without write permission, and for root,
        who writes regardless of permissions, immutable as well."""
        path.chmod(0o444)
        self.addCleanup(path.chmod, 0o644)
        if os.geteuid() == 0 and shutil.which('chattr'):
            if subprocess.run(['chattr', '+i', str(path)], capture_output=True).returncode == 0:
                self.addCleanup(subprocess.run, ['chattr', '-i', str(path)], capture_output=True)
        try:
            with open(path, 'ab'):
                pass
        except PermissionError:
            return
        self.skipTest('the settings file cannot be made read-only here')

    def test_hotkey_taken_then_taskbar_created_again_tray_menu_works(self):
        taker = self.helper('hotkey', MOD_CONTROL | MOD_SHIFT, VK_F12, wait_for='registered=1')
        vornick = self.start_vornick(profile(SETTINGS, OTHER))
        target = self.start_target('Tray target')

        for fault in self.sequence(['hotkey taken by another program', 'taskbar created again']):
            with self.subTest(fault=fault):
                if fault == 'hotkey taken by another program':
                    # The system gives a hotkey to the one program that holds it.
                    vornick.press_hotkey(target)
                    wait_until(lambda: 'hotkey' in taker.log().split(), 10,
                               'the other program to receive the hotkey')
                    self.pick_from_tray(vornick, target, 1)
                    target.wait_for_text('beta')
                else:
                    self.helper('forget-icon', 'vornick', wait_for='deleted=1')
                    wait_icon_count(0, 'the shell to forget the icon')
                    self.helper('taskbar-created', wait_for='broadcast=1')
                    wait_icon_count(1, 'the icon to come back')
                    vornick.tray = tray_window()
                    self.pick_from_tray(vornick, target, 2)
                    target.wait_for_text('betagamma')
        vornick.assert_alive()

    def pick_from_tray(self, vornick, target, index):
        target.activate()
        _, submenu = vornick.open_phrase_submenu()
        vornick.pick(submenu, index, len(PHRASES))


# Phrases of the file that a full volume must not cut, and of the saves that
# are killed.
KEPT_FOR_YEARS = [f'phrase {i:03d} of a list kept for years' for i in range(300)]
KILLED_SAVE_PHRASES = 10000


def fill(folder):
    """Fills the volume of `folder`: a file written in 4 KB blocks until no
    space is left. Returns the file."""
    filler = folder / 'filler'
    descriptor = os.open(filler, os.O_WRONLY | os.O_CREAT, 0o644)
    try:
        while True:
            os.write(descriptor, bytes(4096))
    except OSError as error:
        if error.errno != errno.ENOSPC:
            raise
    finally:
        os.close(descriptor)
    return filler


def folder_state(folder):
    """What a save cut off left in its folder, in words."""
    names = {path.name for path in folder.iterdir()}
    if 'vornick.ini.new' in names:
        return 'a new file being written or checked'
    if 'vornick.ini.old' in names:
        return ('the old file aside, the new one not yet in' if 'vornick.ini' not in names
                else 'the new file in, the old one not yet deleted')
    return 'no file but the settings file'


class SaveFaultTest(RobustnessTestCase):

    def mount_small_volume(self, size='256k'):
        """A file system of its own in the test's folder (tmpfs counts space
        in whole 4 KB pages). Mounting needs root: where it is refused, the
        test is skipped and says why."""
        folder = self.workdir / 'volume'
        folder.mkdir()
        mounted = subprocess.run(['mount', '-t', 'tmpfs', '-o', f'size={size}', 'tmpfs',
                                  str(folder)], capture_output=True, text=True)
        if mounted.returncode != 0:
            self.skipTest(f'a small file system cannot be mounted here (uid {os.geteuid()}): '
                          f'{mounted.stderr.strip() or mounted.returncode}')
        # Lazily: a program that failed half-way may still have it open.
        self.addCleanup(subprocess.run, ['umount', '-l', str(folder)], capture_output=True)
        return folder

    def test_full_volume_ok_says_so_and_saves_once_space_is_free(self):
        volume = self.mount_small_volume()
        path = volume / 'vornick.ini'
        vornick = self.current = Vornick(
            self, cwd=volume,
            data=profile(['[DefStr]', f'len={len(KEPT_FOR_YEARS)}', 'VK=123', 'shift=6',
                          'note=kept key'] +
                         [f'{i}={text}' for i, text in enumerate(KEPT_FOR_YEARS)], OTHER))
        filler = fill(volume)
        before = path.read_bytes()

        dialog = vornick.open_dialog()
        for i in range(25):
            dialog.type_in_edit(f'added {i:02d}')
            dialog.click(IDC_ADD)
        wait_until(lambda: dialog.count() == 325, 30, 'the 25 phrases to be added')
        _, edited = dialog.items()
        dialog.click(IDOK)
        # OK says that it could not save; the dialog and the file stay.
        self.close_message_box()
        self.assertTrue(dialog.is_open(), 'the dialog closed')
        self.assertEqual(path.read_bytes(), before)
        self.assertEqual(sorted(p.name for p in volume.iterdir()), ['filler', 'vornick.ini'])

        # Once space is free, OK saves the whole list.
        filler.unlink()
        dialog.ok()
        saved = path.read_bytes()
        self.assertEqual(entry(saved, 'defstr', 'len'), '325')
        self.assertEqual([entry(saved, 'defstr', str(i)) for i in range(325)], edited)
        for (section, key), value in KEPT.items():
            self.assertEqual(entry(saved, section, key), value, f'[{section}] {key}')
        vornick.exit()

    def test_folder_that_takes_no_new_file_fails_the_save_and_keeps_the_file(self):
        """An immutable folder takes no new file, while the file in it could
        still be rewritten in place: the save must fail, not fall back."""
        if os.geteuid() != 0 or not shutil.which('chattr'):
            self.skipTest('making a folder immutable needs root and chattr')
        folder = self.workdir / 'locked'
        folder.mkdir()
        path = folder / 'vornick.ini'
        data = profile(SETTINGS, OTHER)
        path.write_bytes(data)
        locked = subprocess.run(['chattr', '+i', str(folder)], capture_output=True, text=True)
        if locked.returncode != 0:
            self.skipTest(f'this file system cannot make a folder immutable: '
                          f'{locked.stderr.strip()}')
        self.addCleanup(subprocess.run, ['chattr', '-i', str(folder)], capture_output=True)

        probe = self.start(SAVE_PROBE, ['save', 3], cwd=folder)
        self.assertEqual(probe.wait(60), 0)
        self.assertRegex(probe.log().strip(), r'^error=[1-9]\d* path=Z:.*\\locked\\$')
        self.assertEqual(path.read_bytes(), data)

    def as_windows_98(self, exe):
        """A copy of `exe` to which Wine reports Windows 98."""
        copy = self.workdir / f'{exe.stem}_9x.exe'
        shutil.copy(exe, copy)
        # `wine reg` starts Wine's services, which keep their output open.
        subprocess.run(['wine', 'reg', 'add', rf'HKCU\Software\Wine\AppDefaults\{copy.name}',
                        '/v', 'Version', '/d', 'win98', '/f'], stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True,
                       timeout=120)
        return copy

    def test_saves_killed_at_random_moments_load_as_the_old_or_the_new_list(self):
        """save_probe saves two lists of 10,000 phrases in turn, and is killed
        at a random moment, at least 20 times for each family of systems and
        until at least 3 kills have found a new file being written; after
        each kill the program's load must give one of the two lists whole."""
        for family, exe in [('NT', SAVE_PROBE), ('consumer', self.as_windows_98(SAVE_PROBE))]:
            with self.subTest(family=family):
                folder = self.workdir / family
                folder.mkdir()
                states, loaded = collections.Counter(), collections.Counter()
                kills = 0
                while kills < 20 or (states['a new file being written or checked'] < 3
                                     and kills < 80):
                    probe = self.start(exe, ['loop', KILLED_SAVE_PHRASES], cwd=folder)
                    wait_until(lambda: 'ready' in probe.log() or not probe.running(), 120,
                               'the probe to save its first list')
                    self.assertIn('ready', probe.log())
                    # Saves follow each other without a pause, so a moment
                    # taken at random falls anywhere in a save.
                    time.sleep(random.uniform(0, 0.1))
                    probe.kill()
                    kills += 1
                    state = folder_state(folder)
                    states[state] += 1
                    check = self.start(exe, ['check', KILLED_SAVE_PHRASES], cwd=folder)
                    self.assertEqual(check.wait(120), 0)
                    found = check.log().strip()
                    self.assertIn(found, ('A', 'B'), f'kill {kills}, which left {state}')
                    loaded[found] += 1
                print(f'\n  {family}: {kills} kills; left {dict(states)}; loaded {dict(loaded)}',
                      end='', flush=True)
                self.assertGreaterEqual(states['a new file being written or checked'], 3)
        print(flush=True)
