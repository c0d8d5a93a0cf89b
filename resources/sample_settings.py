#!/usr/bin/env python3
"""Writes the sample settings file: the phrases of sample-phrases.txt (UTF-8,
one a line) and the hotkey Ctrl+Shift+F12, in code page 932 with CRLF line
ends, as the program reads it on a Japanese system.

./run.sh offers it in a folder that has no settings file, and the package
ships it beside the program. Usage: sample_settings.py OUTPUT_FILE
"""
import sys
from pathlib import Path

PHRASES_FILE = Path(__file__).with_name('sample-phrases.txt')

# Ctrl+Shift+F12: the key code of F12 and the RegisterHotKey modifier bits.
HOTKEY_NAME = 'Ctrl+Shift+F12'
VK_F12 = 123
MOD_CONTROL, MOD_SHIFT = 2, 4

# The longest phrase that the program reads back whole, in bytes.
MAX_PHRASE_BYTES = 1023


def phrases():
    """The sample's phrases, in menu order."""
    found = PHRASES_FILE.read_text(encoding='utf-8').splitlines()
    for phrase in found:
        # The file stores a phrase as it is only where the system's profile
        # functions give it back unchanged: not empty, no white space or
        # quotation marks around it.
        if not phrase or phrase != phrase.strip() or phrase[0] in '"\'':
            raise ValueError(f'{PHRASES_FILE}: {phrase!r} would not read back as written')
        if len(phrase.encode('cp932')) > MAX_PHRASE_BYTES:
            raise ValueError(f'{PHRASES_FILE}: {phrase!r} is longer than {MAX_PHRASE_BYTES} bytes')
    return found


def sample_bytes():
    """The settings file's bytes."""
    listed = phrases()
    lines = ['[DefStr]', f'len={len(listed)}', f'VK={VK_F12}', f'shift={MOD_CONTROL | MOD_SHIFT}']
    lines += [f'{i}={phrase}' for i, phrase in enumerate(listed)]
    return ('\r\n'.join(lines) + '\r\n').encode('cp932')


if __name__ == '__main__':
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    Path(sys.argv[1]).write_bytes(sample_bytes())
