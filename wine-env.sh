# Sourced by run.sh, test.sh and bench.sh: chooses which build of vornick
# this machine can run under Wine, and sets up Wine for it.
#
# Most machines run 32-bit code, and there the 32-bit build (build/) runs in
# a 32-bit Wine prefix. Some run 64-bit user code only: every i386 program,
# Wine's 32-bit loader included, fails with "Exec format error". There the
# x86-64 build of the same sources (build/x64/) runs in a 64-bit prefix.
# VORNICK_ARCH=x64 (or a script's --x64) forces the 64-bit path anywhere.
#
# After choose_wine: VORNICK_ARCH is i686 or x64, VORNICK_BUILD_DIR the build
# to run, VORNICK_BUILD_NAME a line that names it, and WINEARCH (with, for
# x64, WINELOADER and a `wine` in PATH) is set for that build's prefix.

WINE32_LOADER=/usr/lib/wine/wine
WINE64_LOADER=/usr/lib/wine/wine64

# The probe: can the loader start at all? Cheap (no prefix, no server).
wine_loader_runs() {
    [ -x "$1" ] && "$1" --version >/dev/null 2>&1
}

# Debian's `wine` and the wineboot, winecfg... wrappers pick the 32-bit
# loader whenever its file exists, runnable or not. A `wine` and a
# `wine-stable` of our own first in PATH make them all start wine64.
use_wine64() {
    local bin=$1/wine64-bin
    mkdir -p "$bin"
    for name in wine wine-stable; do
        printf '#!/bin/sh\nexec %s "$@"\n' "$WINE64_LOADER" >"$bin/$name"
        chmod +x "$bin/$name"
    done
    export WINEARCH=win64 WINELOADER=$WINE64_LOADER PATH=$bin:$PATH
}

# choose_wine TOP_BUILD_DIR: TOP_BUILD_DIR holds the 32-bit build, and its
# x64/ folder the 64-bit one.
choose_wine() {
    local top=$1
    if [ "${VORNICK_ARCH:-}" != x64 ] && wine_loader_runs "$WINE32_LOADER"; then
        VORNICK_ARCH=i686
        VORNICK_BUILD_DIR=$top
        VORNICK_BUILD_NAME="the 32-bit build ($top/vornick.exe)"
        export WINEARCH=win32
    elif wine_loader_runs "$WINE64_LOADER"; then
        if [ "${VORNICK_ARCH:-}" != x64 ]; then
            echo "This machine runs no 32-bit code ($WINE32_LOADER cannot start):" \
                 "using the x86-64 build in a 64-bit Wine prefix." >&2
        fi
        VORNICK_ARCH=x64
        VORNICK_BUILD_DIR=$top/x64
        VORNICK_BUILD_NAME="the x86-64 build ($top/x64/vornick.exe) under 64-bit Wine"
        use_wine64 "$top"
    else
        wine_missing
        return 1
    fi
    export VORNICK_ARCH VORNICK_BUILD_DIR VORNICK_BUILD_NAME
}

wine_missing() {
    local loaders=("$WINE32_LOADER" "$WINE64_LOADER")
    [ "${VORNICK_ARCH:-}" = x64 ] && loaders=("$WINE64_LOADER")
    {
        echo "No Wine loader that the tests need can run on this machine:"
        for loader in "${loaders[@]}"; do
            if [ ! -e "$loader" ]; then
                echo "  $loader is missing"
            else
                echo "  $loader does not start: $("$loader" --version 2>&1 | head -n 1)"
            fi
        done
        echo "install-deps.sh installs them (packages wine32:i386 and wine64)."
    } >&2
}
