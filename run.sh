#!/usr/bin/env bash
# Builds vornick and starts it under Wine on your X display, with the settings
# file ./vornick.ini of the directory you run this from.
#
#   ./run.sh          run vornick on $DISPLAY
#   ./run.sh --demo   show vornick at work on a virtual display of its own and
#                     leave screenshots in build/demo/ (no display needed)
#
# Where the directory has no vornick.ini, it says so and, on a terminal,
# offers to write a sample one. Where this machine runs no 32-bit code (or
# with VORNICK_ARCH=x64), the x86-64 build runs, in a 64-bit Wine prefix in
# build/x64/.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/wine-env.sh"

demo() {
    echo "Building..."
    "$here/build.sh" >/dev/null
    choose_wine "$here/build"
    echo "Starting a virtual display with a fresh Wine prefix (this takes a few seconds)..."
    echo "Running $VORNICK_BUILD_NAME."
    export VORNICK_BUILD=$VORNICK_BUILD_DIR
    cd "$here/tests/desktop"
    exec "$here/tests/desktop-session.sh" "$VORNICK_BUILD_DIR/demo-prefix" \
        python3 demo.py "$VORNICK_BUILD_DIR/demo"
}

# Wine takes its ANSI code page from the locale: under one that is not
# Japanese (code page 932) the program's Japanese texts show as "?".
choose_locale() {
    wine_locale=${LC_ALL:-${LC_CTYPE:-${LANG:-}}}
    case "$wine_locale" in
    ja_JP*) locale_note="your Japanese locale $wine_locale" ;;
    *)
        wine_locale=ja_JP.UTF-8
        if locale -a 2>/dev/null | grep -qix 'ja_JP\.utf-\?8'; then
            locale_note="the Japanese locale ja_JP.UTF-8"
        else
            # Wine still takes code page 932 from the name; only file
            # names outside ASCII would need the Linux locale itself.
            locale_note="LC_ALL=ja_JP.UTF-8 (not installed on this system, but Wine takes code page 932 from it)"
        fi
        ;;
    esac
}

# The sample settings file that the package ships too: its phrases are in
# resources/sample-phrases.txt, the hotkey is Ctrl+Shift+F12.
write_sample() {
    python3 "$here/resources/sample_settings.py" vornick.ini
}

offer_sample() {
    [ -e vornick.ini ] && return
    echo "There is no vornick.ini in $PWD: vornick starts with no phrases and no hotkey."
    if [ -t 0 ] && [ -t 1 ]; then
        count=$(grep -c '' "$here/resources/sample-phrases.txt")
        read -r -p "Write a sample vornick.ini here ($count phrases, hotkey Ctrl+Shift+F12)? [Y/n] " answer ||
            answer=n  # the input has ended: write nothing
        case $answer in
        [nN]*) ;;
        *) write_sample && echo "Wrote $PWD/vornick.ini." ;;
        esac
    fi
    if [ ! -e vornick.ini ]; then
        echo "To add phrases, double-click vornick's icon: the settings dialog edits the list and the hotkey."
    fi
}

# One line on what the file holds: the hotkey and the number of phrases, read
# as the program reads them (the first [DefStr] section, the first of a key
# written twice, names in any case, one pair of quotes around a value).
describe_settings() {
    python3 - <<'PY'
import codecs
import re

def entries():
    try:
        data = open('vornick.ini', 'rb').read()
    except OSError:
        return {}
    if data.startswith((codecs.BOM_UTF16_LE, codecs.BOM_UTF16_BE)):
        text = data.decode('utf-16', 'replace')
    elif data.startswith(codecs.BOM_UTF8):
        text = data[3:].decode('utf-8', 'replace')
    else:
        text = data.decode('cp932', 'replace')
    found, section = {}, None
    for line in text.splitlines():
        line = line.strip()
        header = re.fullmatch(r'\[\s*([^\]]*?)\s*\].*', line)
        if header:
            if section == 'defstr':
                break  # only the first [DefStr] counts
            section = header.group(1).lower()
        elif section == 'defstr' and '=' in line and not line.startswith(';'):
            key, value = (part.strip() for part in line.split('=', 1))
            if len(value) >= 2 and value[0] in '"\'' and value[-1] == value[0]:
                value = value[1:-1]
            found.setdefault(key.lower(), value)
    return found

def number(text):
    match = re.match(r'[+-]?\d+', text or '')
    return int(match.group()) if match else 0

names = {0x70 + i: f'F{i + 1}' for i in range(24)}
names.update({0x20: 'Space', 0x2D: 'Insert', 0x2E: 'Delete', 0x24: 'Home', 0x23: 'End'})
names.update({c: chr(c) for c in list(range(0x30, 0x3A)) + list(range(0x41, 0x5B))})
section = entries()
vk, shift, count = (number(section.get(k)) for k in ('vk', 'shift', 'len'))
if vk:
    mods = [name for bit, name in ((2, 'Ctrl'), (4, 'Shift'), (1, 'Alt'), (8, 'Win')) if shift & bit]
    hotkey = '+'.join(mods + [names.get(vk, f'key {vk:#04x}')])
else:
    hotkey = 'no hotkey'
# The program reads at most 65,036 phrases (commands 500 to 65535).
print(f'Hotkey: {hotkey}; phrases: {min(max(count, 0), 65036)}.')
PY
}

# Whether the X display has a notification area (a system tray manager) of
# its own. Where it has none, Wine shows its icons in a window of its own.
display_has_tray() {
    python3 - <<'PY'
import ctypes, ctypes.util, sys
x11 = ctypes.CDLL(ctypes.util.find_library('X11') or 'libX11.so.6')
x11.XOpenDisplay.restype = ctypes.c_void_p
x11.XDefaultScreen.argtypes = [ctypes.c_void_p]
x11.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
x11.XInternAtom.restype = ctypes.c_ulong
x11.XGetSelectionOwner.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
x11.XGetSelectionOwner.restype = ctypes.c_ulong
display = x11.XOpenDisplay(None)
if not display:
    sys.exit(1)
name = f'_NET_SYSTEM_TRAY_S{x11.XDefaultScreen(display)}'.encode()
sys.exit(0 if x11.XGetSelectionOwner(display, x11.XInternAtom(display, name, 0)) else 1)
PY
}

# Where the icon shows, once it does: the desktop's notification area, or
# Wine's own "Wine System Tray" window at the top left of the screen. Waits
# (for as long as Wine may take to start the program) until the icon is
# there or the program has ended.
describe_icon() {
    local where="your desktop's notification area" i
    if ! display_has_tray; then
        where="Wine's system tray window at the top left of the screen"
        for i in $(seq 600); do
            xdotool search --onlyvisible --name '^Wine System Tray$' >/dev/null 2>&1 && break
            kill -0 "$1" 2>/dev/null || return 0
            sleep 0.1
        done
    fi
    echo "Its icon is in $where; right-click it for the menu, double-click it for the settings."
}

if [ "${1:-}" = --demo ]; then
    demo
fi

if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
    "$here/build.sh" >/dev/null
    users_winearch=${WINEARCH-}
    choose_wine "$here/build"
    if [ "$VORNICK_ARCH" = x64 ]; then
        # Wine's default prefix ~/.wine may be a 32-bit one, which cannot
        # run a 64-bit program: this build gets a prefix of its own.
        export WINEPREFIX=${WINEPREFIX:-$VORNICK_BUILD_DIR/wine-prefix}
    elif [ -z "$users_winearch" ]; then
        unset WINEARCH  # a 32-bit program runs in whichever prefix you have
    fi
    choose_locale
    offer_sample
    echo "Running $VORNICK_BUILD_NAME under $locale_note."
    export WINEDEBUG=${WINEDEBUG:--all}
    LC_ALL=$wine_locale wine "$VORNICK_BUILD_DIR/vornick.exe" &
    vornick=$!
    trap 'kill $vornick 2>/dev/null' INT TERM
    describe_settings
    describe_icon $vornick
    if ! kill -0 $vornick 2>/dev/null; then
        status=0
        wait $vornick || status=$?
        echo "vornick ended at once (exit status $status): is a copy of it already running?"
        exit $status
    fi
    echo "vornick runs now (end it with the exit command of its menu)."
    wait $vornick
    exit
fi

echo "There is no X display to show vornick on (DISPLAY is not set or not reachable)."
echo "A demonstration on a virtual display is available: ./run.sh --demo"
echo "It opens the phrase menu over Wine's notepad, pastes phrases and leaves"
echo "screenshots of the phrase menu, the tray menu and the settings dialog."
if [ -t 0 ] && [ -t 1 ]; then
    read -r -p "Run the demonstration now? [y/N] " answer || answer=n
    case $answer in
    [yY]*) demo ;;
    esac
fi
exit 1
