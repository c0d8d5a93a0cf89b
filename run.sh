#!/usr/bin/env bash
# Builds vornick and starts it under Wine on your X display, with the settings
# file ./vornick.ini of the directory you run this from.
#
#   ./run.sh          run vornick on $DISPLAY
#   ./run.sh --demo   show vornick at work on a virtual display of its own and
#                     leave screenshots in build/demo/ (no display needed)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)

demo() {
    echo "Building..."
    "$here/build.sh" >/dev/null
    echo "Starting a virtual display with a fresh Wine prefix (this takes a few seconds)..."
    export VORNICK_BUILD="$here/build"
    cd "$here/tests/desktop"
    exec "$here/tests/desktop-session.sh" "$here/build/demo-prefix" \
        python3 demo.py "$here/build/demo"
}

if [ "${1:-}" = --demo ]; then
    demo
fi

if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
    "$here/build.sh" >/dev/null
    echo "vornick runs now; its icon is in the notification area (exit from its menu)."
    export WINEDEBUG=${WINEDEBUG:--all}
    exec wine "$here/build/vornick.exe"
fi

echo "There is no X display to show vornick on (DISPLAY is not set or not reachable)."
echo "A demonstration on a virtual display is available: ./run.sh --demo"
echo "It opens the phrase menu over Wine's notepad, pastes phrases and leaves"
echo "screenshots of the phrase menu, the tray menu and the settings dialog."
if [ -t 0 ] && [ -t 1 ]; then
    read -r -p "Run the demonstration now? [y/N] " answer
    case $answer in
    [yY]*) demo ;;
    esac
fi
exit 1
