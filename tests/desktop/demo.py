"""A demonstration of vornick on a virtual display, for machines without one.

Run inside tests/desktop-session.sh (./run.sh --demo does that):

    python3 demo.py OUTPUT_FOLDER

It starts vornick with a sample settings file of Japanese and English
phrases, opens Wine's notepad, opens the phrase menu over it with the hotkey
and picks a phrase, picks another one from the tray menu, saves the note and
shows what notepad received, and opens the settings dialog. It leaves
screenshots of the phrase menu, the tray menu and the dialog in the output
folder and prints their paths.
"""
import re
import subprocess
import sys
from pathlib import Path

from harness import (AWAY, VORNICK_EXE, WineProcess, activate, exit_through_tray_menu, find_window,
                     menu_item_point, open_dialog, open_phrase_submenu, tray_window,
                     wait_clean_tray, wait_icon_count, wait_menus, wait_no_menu, wait_until,
                     window_geometry, winpath, xdotool)

PHRASES = ['お世話になっております。', 'よろしくお願いいたします。', 'Best regards,',
           'vornick types this for you.']

# The dialog's Japanese font is "ＭＳ Ｐゴシック", which Linux does not have:
# let Wine draw it with the IPA Gothic fonts (fonts-ipafont-gothic).
IPA_FONT = '/usr/share/fonts/opentype/ipafont-gothic/ipagp.ttf'
FONT_SUBSTITUTES = {
    'ＭＳ Ｐゴシック': 'IPAPGothic', 'MS PGothic': 'IPAPGothic',
    'ＭＳ ゴシック': 'IPAGothic', 'MS Gothic': 'IPAGothic', 'MS UI Gothic': 'IPAPGothic',
}


def substitute_fonts(folder):
    if not Path(IPA_FONT).exists():
        print('(the IPA Gothic font is missing: Japanese texts may show as boxes)')
        return
    lines = ['Windows Registry Editor Version 5.00', '',
             r'[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows NT\CurrentVersion\FontSubstitutes]']
    lines += [f'"{name}"="{font}"' for name, font in FONT_SUBSTITUTES.items()]
    reg = Path(folder) / 'fonts.reg'
    # regedit reads a UTF-16 file whatever the code page.
    reg.write_bytes(b'\xff\xfe' + ('\r\n'.join(lines) + '\r\n').encode('utf-16-le'))
    subprocess.run(['wine', 'regedit', '/S', winpath(reg)], capture_output=True, timeout=60)


def shot(path, region=None):
    """A screenshot of the display, cut to region (x, y, width, height),
    taken once two grabs in a row are alike: menus and dialogs draw
    themselves a moment after they appear."""
    args = ['import', '-window', 'root']
    if region:
        x, y, width, height = region
        args += ['-crop', f'{width}x{height}+{x}+{y}', '+repage']
    grabs = []

    def settled():
        grabs.append(subprocess.run(args + ['ppm:-'], capture_output=True, timeout=30).stdout)
        return len(grabs) > 1 and grabs[-1] == grabs[-2]
    wait_until(settled, 10, 'the screen to settle', interval=0.3)
    subprocess.run(['convert', 'ppm:-', str(path)], input=grabs[-1], check=True, timeout=30)
    return path


def frame(window):
    """(x, y, width, height) of an X window with the window manager's frame."""
    x, y, width, height = window_geometry(window)
    extents = subprocess.run(['xprop', '-id', str(window), '_NET_FRAME_EXTENTS'],
                             capture_output=True, text=True).stdout
    numbers = [int(n) for n in re.findall(r'\d+', extents.split('=')[-1])] if '=' in extents else []
    left, right, top, bottom = numbers if len(numbers) == 4 else (0, 0, 0, 0)
    return x - left, y - top, width + left + right, height + top + bottom


def around(*windows, margin=8):
    """The region that holds the given X windows and their frames."""
    boxes = [frame(w) for w in windows]
    left = max(min(x for x, _, _, _ in boxes) - margin, 0)
    top = max(min(y for _, y, _, _ in boxes) - margin, 0)
    right = max(x + w for x, _, w, _ in boxes) + margin
    bottom = max(y + h for _, y, _, h in boxes) + margin
    return left, top, right - left, bottom - top


# Wine then uses the Japanese code page 932, so the menus, the dialog and the
# sample phrases appear in Japanese.
JAPANESE = {'LC_ALL': 'ja_JP.UTF-8'}


def main(out):
    out = Path(out).resolve()
    out.mkdir(parents=True, exist_ok=True)
    for old in out.glob('*.png'):
        old.unlink()
    substitute_fonts(out)

    ini = ['[DefStr]', f'len={len(PHRASES)}', 'VK=123', 'shift=6']
    ini += [f'{i}={phrase}' for i, phrase in enumerate(PHRASES)]
    (out / 'vornick.ini').write_bytes(('\r\n'.join(ini) + '\r\n').encode('cp932'))
    note = out / 'note.txt'
    note.write_bytes('Dear customer,\r\n'.encode('cp932'))

    processes = []
    try:
        print('Starting vornick with', out / 'vornick.ini')
        wait_clean_tray()
        processes.append(WineProcess(VORNICK_EXE, cwd=out, env=JAPANESE, log=out / 'vornick.log'))
        wait_icon_count(1, "vornick's icon in the tray")
        tray = tray_window()

        processes.append(WineProcess('notepad', [winpath(note)], cwd=out, env=JAPANESE,
                                     log=out / 'notepad.log'))
        notepad = find_window(r'^note\.txt - ', 30, "Wine's notepad")
        # Out of the way of the tray window in the top left corner.
        xdotool('windowsize', '--sync', notepad, 560, 300)
        xdotool('windowmove', '--sync', notepad, 220, 90)

        print('Ctrl+Shift+F12 over notepad opens the phrase menu; picking the first phrase')
        activate(notepad)
        xdotool('key', 'ctrl+End')
        xdotool('mousemove', 430, 190)
        xdotool('key', 'ctrl+shift+F12')
        menu = wait_menus(1, 'the phrase menu')[0]
        phrase_shot = shot(out / 'phrase-menu.png', around(notepad, menu))
        xdotool('mousemove', *menu_item_point(menu, 0, len(PHRASES)))
        xdotool('click', 1)
        wait_no_menu()

        print('Right click on the tray icon: the tray menu; picking the second phrase')
        activate(notepad)
        tray_menu, submenu = open_phrase_submenu(tray)
        tray_shot = shot(out / 'tray-menu.png', around(tray, tray_menu, submenu))
        xdotool('mousemove', *menu_item_point(submenu, 1, len(PHRASES)))
        xdotool('click', 1)
        wait_no_menu()

        def saved():
            activate(notepad)
            xdotool('key', 'ctrl+s')
            return all(p.encode('cp932') in note.read_bytes() for p in PHRASES[:2])
        wait_until(saved, 20, 'notepad to save both phrases', interval=1)
        print('notepad now holds:')
        for line in note.read_bytes().decode('cp932').splitlines():
            print('    ' + line)

        print('Double click on the tray icon: the settings dialog')
        dialog = open_dialog(tray)
        dialog_shot = shot(out / 'settings-dialog.png', around(dialog.window))
        dialog.cancel()

        print('The tray menu\'s exit command ends vornick')
        activate(notepad)
        exit_through_tray_menu(tray)
        code = processes[0].wait(20)
        print(f'vornick ended with exit code {code}')
        xdotool('mousemove', *AWAY)
    except AssertionError as error:
        print(f'The demonstration went wrong: {error}')
        print(f'The screen at that moment: {shot(out / "failure.png")}')
        return 1
    finally:
        for process in reversed(processes):
            process.kill()

    print('Screenshots:')
    for path in (phrase_shot, tray_shot, dialog_shot):
        print(f'    {path}')
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv[1] if len(sys.argv) > 1 else 'demo'))
