#!/usr/bin/env bash
# Installs what is missing and builds vornick and its tests twice from the
# same sources: the 32-bit build in DIR (build/ by default), whose
# vornick.exe is the program, and the x86-64 build in DIR/x64. The package
# for the program's users, DIR/vornick-VERSION.zip, holds the 32-bit program,
# the sample settings file and the guide in Japanese.
#
#   ./build.sh [--build DIR]
set -euo pipefail
cd "$(dirname "$0")"

build=$PWD/build
if [ "${1:-}" = --build ]; then build=$(realpath -m "$2"); fi

./install-deps.sh
cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake \
    -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j"$(nproc)"
# Its exe_tests check the 32-bit program, the file that is shipped, and its
# package tests the 32-bit build's package.
cmake -S . -B "$build/x64" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake \
    -DCMAKE_BUILD_TYPE=Release -DVORNICK_CHECKED_EXE="$build/vornick.exe" \
    -DVORNICK_PACKAGE_DIR="$build" >/dev/null
cmake --build "$build/x64" -j"$(nproc)"
