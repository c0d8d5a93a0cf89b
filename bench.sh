#!/usr/bin/env bash
# Measures vornick beside its baselines and prints one table (Markdown): hotkey
# to menu, pick to paste, start, idle footprint, the settings file at 10 to
# 10,000 phrases, a soak of 500 cycles and the size of the program. It runs on
# a virtual desktop and a Wine prefix of its own and takes about five minutes.
# It is not a test: it passes or fails nothing.
#
#   ./bench.sh [--build DIR] [--quick]
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
    *) args+=("$1"); shift ;;
    esac
done

./install-deps.sh
cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j"$(nproc)" >/dev/null
tests/desktop-session.sh "$build/bench-prefix" \
    python3 tests/bench/run_bench.py --build "$build" ${args[@]+"${args[@]}"}
