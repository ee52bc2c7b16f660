#!/bin/sh
# Builds and runs every test: the Linux build, then the 64-bit and the 32-bit
# Windows builds under wine when mingw-w64 and wine are installed.
set -eu
cd "$(dirname "$0")"
cmake --preset default
cmake --build --preset default
ctest --preset default

# The same tests against the Windows exe and DLL, run under wine.
missing=
for tool in x86_64-w64-mingw32-g++ wine; do
    command -v $tool >/dev/null || missing="$missing $tool"
done
if [ -n "$missing" ]; then
    echo "Skipping the Windows leg:$missing not installed"
else
    cmake --preset windows
    cmake --build --preset windows
    ctest --preset windows
fi

# Again for the 32-bit exe, in case the maker's DLL is 32-bit. It runs in the
# same 64-bit wine prefix, which takes 32-bit exes once wine32 is installed.
missing=
command -v i686-w64-mingw32-g++ >/dev/null || missing="$missing i686-w64-mingw32-g++"
command -v wine >/dev/null || missing="$missing wine"
[ -x /usr/lib/wine/wine ] || missing="$missing wine32"
if [ -n "$missing" ]; then
    echo "Skipping the 32-bit Windows leg:$missing not installed"
else
    cmake --preset windows-x86
    cmake --build --preset windows-x86
    ctest --preset windows-x86
fi
