#!/usr/bin/env bash
# Builds vornick and starts it under Wine on your X display, with the settings
# file ./vornick.ini of the directory you run this from.
#
#   ./run.sh          run vornick on $DISPLAY
#   ./run.sh --demo   show vornick at work on a virtual display of its own and
#                     leave screenshots in build/demo/ (no display needed)
#
# Where this machine runs no 32-bit code (or with VORNICK_ARCH=x64), the
# x86-64 build runs instead, in a 64-bit Wine prefix in build/x64/.
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
    echo "Running $VORNICK_BUILD_NAME."
    echo "vornick runs now; its icon is in the notification area (exit from its menu)."
    export WINEDEBUG=${WINEDEBUG:--all}
    exec wine "$VORNICK_BUILD_DIR/vornick.exe"
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
