#!/usr/bin/env bash
# Installs what is missing, builds vornick and its tests, and runs every test
# under Wine on a virtual desktop of its own. Extra arguments go to ctest.
#
#   ./test.sh [--x64] [CTEST_ARGS...]
#
# Where 32-bit programs run, the whole suite runs on the 32-bit build, and
# the x86-64 build's GoogleTest programs run after it. Where they do not
# (or with --x64, or VORNICK_ARCH=x64), the whole suite runs on the x86-64
# build in a 64-bit Wine prefix.
set -euo pipefail
cd "$(dirname "$0")"

if [ "${1:-}" = --x64 ]; then
    export VORNICK_ARCH=x64
    shift
fi
# Wine must be there before the probe can tell which build this machine runs.
./install-deps.sh
source ./wine-env.sh
choose_wine "$PWD/build"
echo "Testing $VORNICK_BUILD_NAME."

./build.sh
tests/desktop-session.sh "$VORNICK_BUILD_DIR/test-prefix" \
    ctest --test-dir "$VORNICK_BUILD_DIR" --output-on-failure "$@"

if [ "$VORNICK_ARCH" = i686 ]; then
    # The x86-64 build must keep building and passing its unit tests too.
    if ! wine_loader_runs "$WINE64_LOADER"; then
        echo "The x86-64 build's unit tests cannot run: $WINE64_LOADER does not start." >&2
        exit 1
    fi
    echo "Testing the x86-64 build's GoogleTest programs in a 64-bit Wine prefix."
    (
        use_wine64 "$PWD/build"
        tests/desktop-session.sh "$PWD/build/x64/test-prefix" \
            ctest --test-dir build/x64 --output-on-failure -L unit "$@"
    )
fi
