"""The first start from the package, as a user of Windows makes it: the zip
unpacked into an empty folder, vornick.exe started with that folder as its
working folder (as Explorer starts a program), and the sample's hotkey
pressed over Wine's notepad.

The zip holds the 32-bit program. Where the suite runs on the x86-64 build
(a machine that runs no 32-bit code, or ./test.sh --x64), the test puts that
build's vornick.exe in place of the zip's and says so: the folder, the
sample settings file and the start are the package's all the same.
"""
import os
import shutil
import sys
import unittest
import zipfile
from pathlib import Path

from harness import (REPOSITORY, VORNICK_EXE, DesktopTestCase, Vornick, activate, menu_item_point,
                     wait_menus, wait_no_menu, wait_until, winpath, xdotool)

sys.path.insert(0, str(REPOSITORY / 'resources'))
import sample_settings  # noqa: E402  (the sample's phrases and hotkey)

PACKAGE = Path(os.environ.get('VORNICK_PACKAGE', ''))
IMAGE_FILE_MACHINE_I386 = 0x14C
# Wine then runs in code page 932, the code page of the program's users.
JAPANESE = {'LC_ALL': 'ja_JP.UTF-8'}


def xdotool_keys(hotkey):
    """'Ctrl+Shift+F12' as xdotool writes it."""
    return '+'.join({'Ctrl': 'ctrl', 'Shift': 'shift', 'Alt': 'alt'}.get(key, key)
                    for key in hotkey.split('+'))


def is_32_bit(exe):
    data = Path(exe).read_bytes()
    header = int.from_bytes(data[0x3C:0x40], 'little')
    return int.from_bytes(data[header + 4:header + 6], 'little') == IMAGE_FILE_MACHINE_I386


class FirstStartTest(DesktopTestCase):

    def unpack(self):
        """The zip's files in an empty folder; the program there is the one
        of the build under test."""
        self.assertTrue(PACKAGE.is_file(), f'no package at {PACKAGE!s}: ./build.sh makes it')
        folder = self.workdir / 'vornick'
        folder.mkdir()
        with zipfile.ZipFile(PACKAGE) as package:
            package.extractall(folder)
        if is_32_bit(VORNICK_EXE):
            self.assertEqual((folder / 'vornick.exe').read_bytes(), VORNICK_EXE.read_bytes(),
                             'the zip holds another program than the build under test')
        else:
            print(f'\nThe x86-64 build is under test: its {VORNICK_EXE} runs in place of the '
                  "zip's 32-bit vornick.exe.", flush=True)
            shutil.copy(VORNICK_EXE, folder / 'vornick.exe')
        return folder

    def test_hotkey_over_notepad_pastes_the_first_sample_phrase(self):
        folder = self.unpack()
        note = self.workdir / 'note.txt'
        note.write_bytes(b'Note: ')
        notepad = self.start_notepad([winpath(note)], r'^note\.txt - ', env=JAPANESE)

        # Nothing but the unpacked folder tells the program what to do.
        vornick = Vornick(self, cwd=folder, exe=folder / 'vornick.exe', env=JAPANESE)
        phrases = sample_settings.phrases()
        activate(notepad)
        xdotool('key', 'ctrl+End')
        xdotool('mousemove', 600, 400)
        xdotool('key', xdotool_keys(sample_settings.HOTKEY_NAME))
        menu = wait_menus(1, f'the phrase menu after {sample_settings.HOTKEY_NAME} over notepad')[0]
        vornick.pick(menu, 0, len(phrases))
        wait_no_menu()

        # Notepad shows what it holds only on screen: save it and read the file.
        expected = b'Note: ' + phrases[0].encode('cp932')
        activate(notepad)
        xdotool('key', 'ctrl+s')
        wait_until(lambda: note.read_bytes() == expected, 15,
                   lambda: f'notepad to save the first sample phrase (the file holds '
                           f'{note.read_bytes()!r})')


if __name__ == '__main__':
    unittest.main()
