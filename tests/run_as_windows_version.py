"""Runs a Windows test program under Wine told to report another Windows
version to it, and exits with the program's exit code.

    python3 run_as_windows_version.py VERSION EXE [ARGS...]

Wine keeps the version per program file name, so the program runs as a copy
named NAME_VERSION.exe beside it; VERSION is one of Wine's names (win95,
win98, nt40, winxp, win10...). Run inside the test session's Wine prefix.
"""
import shutil
import subprocess
import sys
from pathlib import Path


def main():
    version, exe, args = sys.argv[1], Path(sys.argv[2]), sys.argv[3:]
    copy = exe.with_name(f'{exe.stem}_{version}{exe.suffix}')
    shutil.copy2(exe, copy)
    # `wine reg` starts Wine's services, which keep their output open: a
    # caller reading that output would wait for ever.
    subprocess.run(['wine', 'reg', 'add', rf'HKCU\Software\Wine\AppDefaults\{copy.name}',
                    '/v', 'Version', '/d', version, '/f'],
                   stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, check=True, timeout=120)
    return subprocess.run(['wine', str(copy), *args]).returncode


if __name__ == '__main__':
    sys.exit(main())
