#!/usr/bin/env bash
# Runs a command on a desktop of its own: a virtual X display (Xvfb) with the
# openbox window manager, and a fresh Wine prefix (32-bit, or the WINEARCH
# that wine-env.sh chose) with its server kept up for the whole command.
# Everything started here is ended on exit.
#
#   tests/desktop-session.sh PREFIX_DIR COMMAND [ARGS...]
set -euo pipefail

prefix=$1
shift

pids=()
cleanup() {
    WINEPREFIX=$prefix wineserver -k 2>/dev/null || true
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
}
trap cleanup EXIT
trap 'exit 130' INT TERM

wait_for() {  # wait_for SECONDS COMMAND...: polls until COMMAND succeeds
    local deadline=$((SECONDS + $1))
    shift
    until "$@" >/dev/null 2>&1; do
        if [ "$SECONDS" -ge "$deadline" ]; then
            echo "desktop-session: timed out waiting for: $*" >&2
            return 1
        fi
        sleep 0.1
    done
}

# Xvfb picks a free display number itself and writes it to the pipe, so that
# sessions started at the same moment cannot collide.
exec 3< <(Xvfb -displayfd 1 -screen 0 1024x768x24 -nolisten tcp -noreset 2>/dev/null)
pids+=($!)
read -r -t 20 display <&3 || { echo "desktop-session: Xvfb did not start" >&2; exit 1; }
export DISPLAY=:$display
wait_for 20 xdpyinfo -display "$DISPLAY"

openbox --sm-disable >"$prefix.openbox.log" 2>&1 &
pids+=($!)
wait_for 20 sh -c 'xprop -root _NET_SUPPORTING_WM_CHECK | grep -q "window id"'

# WINEARCH comes from wine-env.sh (win32 or win64); 32-bit by default.
export WINEARCH=${WINEARCH:-win32} WINEPREFIX=$prefix WINEDEBUG=-all
# No Mono or Gecko: they cannot be downloaded here and nothing needs them.
export WINEDLLOVERRIDES="mscoree,mshtml="
rm -rf "$prefix"
mkdir -p "$prefix"
# A persistent server, started before anything else uses the prefix.
wineserver -p
wineboot -i >/dev/null 2>&1
# Wine's desktop process (and with it the system tray) ends some seconds
# after the last program on the desktop, and its restart costs the next
# program seconds. A program waiting for input all session long keeps it up.
exec 4< <(sleep infinity)
pids+=($!)
wine cmd /c "set /p x=" <&4 >/dev/null 2>&1 &
pids+=($!)
# Wine's first program in a prefix pays for starting its services; let the
# command start on a settled desktop.
wine cmd /c exit >/dev/null 2>&1 || true

"$@"
