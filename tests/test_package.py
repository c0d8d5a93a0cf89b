"""The package for the program's users: build/vornick-VERSION.zip.

ctest passes the zip's path in VORNICK_PACKAGE and the 32-bit build's
vornick.exe, which the zip must hold, in VORNICK_CHECKED_EXE. The sample
settings file is read by the program's own code in package_tests.exe, and the
first start from the unpacked zip is test_first_start.
"""
import os
import re
import struct
import subprocess
import tempfile
import unittest
import zipfile
from pathlib import Path

REPOSITORY = Path(__file__).resolve().parents[1]
PACKAGE = Path(os.environ.get('VORNICK_PACKAGE', ''))
CHECKED_EXE = Path(os.environ.get('VORNICK_CHECKED_EXE', ''))
GUIDE_SOURCE = REPOSITORY / 'docs' / 'guide-ja.txt'
ENTRIES = ['vornick.exe', 'vornick.ini', 'readme.txt']
IMAGE_FILE_MACHINE_I386 = 0x14C

# The names of the keys that a hotkey of the sample may use, as the guide
# writes them.
KEY_NAMES = {0x70 + i: f'F{i + 1}' for i in range(24)}
KEY_NAMES.update({c: chr(c) for c in list(range(0x30, 0x3A)) + list(range(0x41, 0x5B))})


def machine_of(exe_bytes):
    """The machine field of a PE file's header."""
    header = struct.unpack_from('<I', exe_bytes, 0x3C)[0]
    assert exe_bytes[header:header + 4] == b'PE\0\0', 'not a PE file'
    return struct.unpack_from('<H', exe_bytes, header + 4)[0]


def hotkey_name(ini_text):
    """'Ctrl+Shift+F12' for the VK and shift entries of a settings file."""
    entries = dict(re.findall(r'^(\w+)=(.*)$', ini_text, re.M))
    vk, shift = int(entries['VK']), int(entries['shift'])
    modifiers = [name for bit, name in ((2, 'Ctrl'), (4, 'Shift'), (1, 'Alt')) if shift & bit]
    return '+'.join(modifiers + [KEY_NAMES[vk]])


class PackageTest(unittest.TestCase):

    def setUp(self):
        self.assertTrue(PACKAGE.is_file(), f'no package at {PACKAGE!s}: ./build.sh makes it')
        with zipfile.ZipFile(PACKAGE) as package:
            self.names = package.namelist()
            self.files = {name: package.read(name) for name in self.names}

    def test_holds_exactly_the_program_the_sample_and_the_guide(self):
        self.assertEqual(self.names, ENTRIES)
        self.assertEqual(PACKAGE.name, f'vornick-{self.dialog_version()}.zip')

    @staticmethod
    def dialog_version():
        rc = (REPOSITORY / 'resources' / 'vornick.rc').read_text(encoding='utf-8')
        return re.search(r'"Vornick Version ([0-9.]+)"', rc).group(1)

    def test_program_is_the_32_bit_build_byte_for_byte(self):
        exe = self.files['vornick.exe']
        self.assertEqual(machine_of(exe), IMAGE_FILE_MACHINE_I386)
        self.assertTrue(exe == CHECKED_EXE.read_bytes(),
                        f'the zip holds another vornick.exe than {CHECKED_EXE}')

    def test_guide_is_shift_jis_with_crlf_and_says_what_the_sample_holds(self):
        data = self.files['readme.txt']
        text = data.decode('cp932')  # strict: fails on any byte outside code page 932
        self.assertNotIn(b'\n', data.replace(b'\r\n', b''), 'a line ends in LF alone')
        self.assertNotIn(b'\r', data.replace(b'\r\n', b''), 'a line ends in CR alone')
        self.assertTrue(data.endswith(b'\r\n'))
        # Notepad wraps no line unless asked to: each fits a window's width.
        widest = max(text.split('\r\n'), key=lambda line: len(line.encode('cp932')))
        self.assertLessEqual(len(widest.encode('cp932')), 76, widest)
        # The guide that ships is the repository's.
        self.assertEqual(text.replace('\r\n', '\n'), GUIDE_SOURCE.read_text(encoding='utf-8'))

        sample = self.files['vornick.ini'].decode('cp932')
        self.assertIn(hotkey_name(sample), text)
        self.assertIn('vornick.ini', text)


class ReproducibleTest(unittest.TestCase):
    """A second build of the same sources, in a folder of its own, makes the
    same zip: the program's link and the zip's entries carry no time."""

    def test_a_second_build_makes_the_same_bytes(self):
        self.assertTrue(PACKAGE.is_file(), f'no package at {PACKAGE!s}: ./build.sh makes it')
        with tempfile.TemporaryDirectory(prefix='vornick-rebuild-') as build:
            configure = ['cmake', '-S', str(REPOSITORY), '-B', build,
                         f'-DCMAKE_TOOLCHAIN_FILE={REPOSITORY}/cmake/mingw-i686-win32.cmake',
                         '-DCMAKE_BUILD_TYPE=Release', '-DVORNICK_TESTS=OFF']
            for command in (configure, ['cmake', '--build', build, '-j', str(os.cpu_count() or 1),
                                        '--target', 'vornick_package']):
                result = subprocess.run(command, capture_output=True, text=True)
                self.assertEqual(result.returncode, 0, result.stdout[-3000:] + result.stderr[-3000:])
            again = Path(build) / PACKAGE.name
            self.assertTrue(again.read_bytes() == PACKAGE.read_bytes(),
                            f'the second build made another zip than {PACKAGE}: '
                            f'{self.difference(PACKAGE, again)}')

    @staticmethod
    def difference(first, second):
        """Which entries differ, and in what."""
        with zipfile.ZipFile(first) as one, zipfile.ZipFile(second) as other:
            found = []
            for a, b in zip(one.infolist(), other.infolist()):
                if (a.filename, a.date_time) != (b.filename, b.date_time):
                    found.append(f'{a.filename} {a.date_time} / {b.filename} {b.date_time}')
                elif one.read(a) != other.read(b):
                    found.append(f'{a.filename}: content')
            return '; '.join(found) or 'the same entries, other bytes'


if __name__ == '__main__':
    unittest.main()
