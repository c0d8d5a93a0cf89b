#!/usr/bin/env bash
# Installs what is missing, builds vornick and its tests, and runs every test
# under Wine on a virtual desktop of its own. Extra arguments go to ctest.
set -euo pipefail
cd "$(dirname "$0")"
./build.sh
tests/desktop-session.sh "$PWD/build/test-prefix" ctest --test-dir build --output-on-failure "$@"
