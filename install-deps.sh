#!/usr/bin/env bash
# Installs what building and testing vornick needs on a Debian machine:
# the MinGW-w64 cross compilers (32-bit with both thread models, x86-64 with
# the posix one), 32-bit and 64-bit Wine, Xvfb, openbox, xdotool,
# ImageMagick, and a Japanese font for the program's texts. Skips the work
# when everything is already there. 32-bit Wine is installed even where the
# kernel cannot run it: the scripts probe whether it starts (wine-env.sh).
set -euo pipefail

have_all() {
    command -v i686-w64-mingw32-g++-posix >/dev/null &&
    command -v i686-w64-mingw32-g++-win32 >/dev/null &&
    command -v x86_64-w64-mingw32-g++-posix >/dev/null &&
    [ -e /usr/lib/wine/wine64 ] &&
    command -v wine >/dev/null && command -v wineserver >/dev/null &&
    dpkg -s wine32:i386 >/dev/null 2>&1 &&
    command -v Xvfb >/dev/null && command -v openbox >/dev/null &&
    command -v xdotool >/dev/null && command -v xwininfo >/dev/null &&
    command -v import >/dev/null && command -v cmake >/dev/null &&
    command -v python3 >/dev/null && [ -d /usr/src/googletest ] &&
    dpkg -s fonts-ipafont-gothic >/dev/null 2>&1
}

if have_all; then exit 0; fi

if [ "$(id -u)" != 0 ]; then
    echo "install-deps.sh: packages are missing and installing them needs root" >&2
    exit 1
fi

echo "Installing the build and test packages..."
export DEBIAN_FRONTEND=noninteractive
dpkg --add-architecture i386
# A stale mirror index must not stop the set-up: the fallback below copes.
apt-get update -q || true
pkgs="g++-mingw-w64-i686 g++-mingw-w64-x86-64-posix wine wine32:i386 wine64 xvfb xdotool openbox x11-utils imagemagick cmake make python3 googletest fonts-ipafont-gothic"
# When the i386 security index is stale, amd64 and i386 versions differ;
# taking both from the main suite then works.
apt-get install -y -q --no-install-recommends $pkgs ||
    apt-get install -y -q -t bookworm --no-install-recommends $pkgs
have_all
