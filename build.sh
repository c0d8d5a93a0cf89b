#!/usr/bin/env bash
# Installs what is missing and builds build/vornick.exe (and the tests).
set -euo pipefail
cd "$(dirname "$0")"
./install-deps.sh
cmake -S . -B build -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j"$(nproc)"
