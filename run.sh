#!/usr/bin/env bash
# Builds vornick and starts it under Wine on your X display, with the settings
# file ./vornick.ini of the directory you run this from.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
"$here/build.sh" >/dev/null

if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
    echo "vornick runs now; its icon is in the notification area (exit from its menu)."
    export WINEDEBUG=${WINEDEBUG:--all}
    exec wine "$here/build/vornick.exe"
fi

echo "There is no X display to show vornick on (DISPLAY is not set or not reachable)."
exit 1
