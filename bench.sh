#!/usr/bin/env bash
# Measures vornick beside its baselines and prints one table (Markdown): hotkey
# to menu, pick to paste, start, idle footprint, the settings file at 10 to
# 10,000 phrases, a soak of 500 cycles and the size of the program. It runs on
# a virtual desktop and a Wine prefix of its own and takes about five minutes.
# It is not a test: it passes or fails nothing. Its first line names the
# build it measured: the 32-bit one where this machine runs 32-bit code, the
# x86-64 one where it does not (or with --x64).
#
#   ./bench.sh [--build DIR] [--x64] [--quick]
#
# --build DIR   build folder to build and measure (default: build)
# --quick       a few repetitions of each figure, to check that it runs
set -euo pipefail
cd "$(dirname "$0")"

build=$PWD/build
args=()
while [ $# -gt 0 ]; do
    case $1 in
    --build) build=$(realpath -m "$2"); shift 2 ;;
    --x64) export VORNICK_ARCH=x64; shift ;;
    *) args+=("$1"); shift ;;
    esac
done

# Wine must be there before the probe can tell which build this machine runs.
./install-deps.sh
source ./wine-env.sh
choose_wine "$build"
./build.sh --build "$build" >/dev/null
tests/desktop-session.sh "$VORNICK_BUILD_DIR/bench-prefix" \
    python3 tests/bench/run_bench.py --build "$VORNICK_BUILD_DIR" --name "$VORNICK_BUILD_NAME" \
    ${args[@]+"${args[@]}"}
