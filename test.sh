#!/bin/sh
# Builds and runs every test: the Linux build, then the 64-bit and the 32-bit
# Windows builds, their exes run under wine when mingw-w64 and wine are installed.
set -eu
cd "$(dirname "$0")"
cmake --preset default
cmake --build --preset default
ctest --preset default

# The same tests against the Windows exe and DLL, under wine's 64-bit loader.
missing=
command -v x86_64-w64-mingw32-g++ >/dev/null || missing="$missing x86_64-w64-mingw32-g++"
[ -x /usr/lib/wine/wine64 ] || missing="$missing wine64"
if [ -n "$missing" ]; then
    echo "Skipping the Windows leg:$missing not installed"
else
    cmake --preset windows
    cmake --build --preset windows
    ctest --preset windows
fi

# Again for the 32-bit exe, in case the maker's DLL is 32-bit. It runs in the
# same 64-bit wine prefix, under wine's 32-bit loader (wine32). Where that
# loader cannot run, the build and the checks that run nothing still do.
if ! command -v i686-w64-mingw32-g++ >/dev/null; then
    echo "Skipping the 32-bit Windows leg: i686-w64-mingw32-g++ not installed"
else
    cmake --preset windows-x86
    cmake --build --preset windows-x86
    ctest --preset windows-x86
    if ! why=$(sh tools/wine.sh 32 --version 2>&1); then
        echo "Skipped the 32-bit runs under wine (listed as not run above): wine's 32-bit loader does not run here: $why"
    fi
fi
