#!/usr/bin/env python3
"""Packs the program for its users: one zip holding vornick.exe, the sample
settings file vornick.ini and the Japanese guide readme.txt.

The guide is kept in the repository as UTF-8 with LF line ends
(docs/guide-ja.txt); the zip holds it in Shift-JIS (code page 932) with CRLF
line ends, which Notepad shows right on every Windows from 95 on, under an
ASCII name, which every unzip program shows right. The entries carry a fixed
date and order, so the same sources make the same zip.

Usage: make_package.py EXE GUIDE OUTPUT_ZIP
"""
import sys
import zipfile
from pathlib import Path

import sample_settings

# The date that the files show once unpacked (local time, as zip keeps it).
PACKAGE_DATE = (2026, 12, 11, 12, 0, 0)
# MS-DOS and Windows file attributes: an ordinary file.
FILE_ATTRIBUTE_ARCHIVE = 0x20


def guide_bytes(path):
    """The guide in code page 932 with CRLF line ends; fails on a character
    that the code page lacks."""
    text = Path(path).read_text(encoding='utf-8')
    if '\r' in text:
        raise ValueError(f'{path}: keep the guide with LF line ends; the package adds the CRs')
    if not text.endswith('\n'):
        text += '\n'
    return text.replace('\n', '\r\n').encode('cp932')


def entries(exe, guide):
    """(name in the zip, bytes), in the zip's order."""
    return [('vornick.exe', Path(exe).read_bytes()),
            ('vornick.ini', sample_settings.sample_bytes()),
            ('readme.txt', guide_bytes(guide))]


def write_package(exe, guide, output):
    output = Path(output)
    partial = output.with_name(output.name + '.partial')
    with zipfile.ZipFile(partial, 'w') as package:
        for name, data in entries(exe, guide):
            info = zipfile.ZipInfo(name, PACKAGE_DATE)
            info.compress_type = zipfile.ZIP_DEFLATED
            info.create_system = 0  # attributes in the MS-DOS form
            info.external_attr = FILE_ATTRIBUTE_ARCHIVE
            package.writestr(info, data, compresslevel=9)
    partial.replace(output)


if __name__ == '__main__':
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    write_package(*sys.argv[1:])
