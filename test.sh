#!/bin/sh
# Builds and runs every test: the Linux build, then the Windows build under wine
# when mingw-w64 and wine are installed.
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
