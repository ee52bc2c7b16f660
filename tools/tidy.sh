#!/bin/sh
# Runs clang-tidy with the repository's .clang-tidy over the tool's own sources,
# compiled as the default preset compiles them; fails on any warning.
#
# usage: tools/tidy.sh   (CLANG_TIDY names another clang-tidy binary)
set -eu
cd "$(dirname "$0")/.."
tidy=${CLANG_TIDY:-clang-tidy}
# Configuring writes build/default/compile_commands.json.
cmake --preset default >/dev/null
log=build/default/clang-tidy.log
# The *_windows.cpp files are Windows' alone: checked below against
# mingw-w64's headers.
windows_only=$(ls camera/*_windows.cpp os/*_windows.cpp)
windows_checked=$windows_only
files=$(ls camera/*.cpp calibration/*.cpp console/*.cpp session/*.cpp workflow/*.cpp restore/*.cpp \
    os/*.cpp)
# .clang-tidy makes every warning an error, so a finding fails its file.
status=0
printf '%s\n' $files | grep -v '_windows\.cpp$' | xargs -P 2 -n 1 "$tidy" -p build/default --quiet >"$log" 2>&1 || status=1
# It takes the version from the build, as the other files do.
versions=$(grep -o -- '-DQ713_VERSION_[A-Z]*=[0-9]*' build/default/compile_commands.json | sort -u)
for target in x86_64-w64-mingw32 i686-w64-mingw32; do
    if [ -d /usr/$target/include ]; then
        for file in $windows_checked; do
            "$tidy" --quiet $file -- --target=$target -std=c++17 -I. $versions >>"$log" 2>&1 ||
                status=1
        done
    else
        echo "clang-tidy: $windows_only not checked for $target (no mingw-w64 headers)"
    fi
done
# clang counts the warnings it suppressed in system headers; only findings matter.
grep -v '^[0-9]* warnings\{0,1\} generated\.$' "$log" || true
if [ "$status" != 0 ]; then
    echo "clang-tidy: findings above"
    exit 1
fi
echo "clang-tidy: no warnings in $(echo $files | wc -w) files"
