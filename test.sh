#!/bin/sh
# Sets up what the tests need, then builds and runs every test: the Linux
# build, then the 64-bit and the 32-bit Windows builds, their exes run under
# wine. As root with apt it installs what is missing; otherwise it names the
# packages and the command, runs the legs it can and says which did not run.
# Q713_LINUX_ONLY=1 asks for the Linux leg alone.
set -eu
cd "$(dirname "$0")"
linux_only=${Q713_LINUX_ONLY:-0}

# Each need is "package:check", the check a shell test that holds once the
# Debian package is installed (Debian's modules are /usr/bin/python3's, which
# CMake finds behind a python3 of one's own that lacks them). The 32-bit loader comes from the i386
# architecture and is installed on its own, after the rest.
linux_needs='cmake:command -v cmake
ninja-build:command -v ninja
g++:command -v g++
valgrind:command -v valgrind
python3:command -v python3
python3-pexpect:/usr/bin/python3 -c "import pexpect" || python3 -c "import pexpect"
libgtest-dev:[ -f /usr/lib/x86_64-linux-gnu/cmake/GTest/GTestConfig.cmake ] || [ -f /usr/lib/cmake/GTest/GTestConfig.cmake ]'
windows_needs='g++-mingw-w64-x86-64:command -v x86_64-w64-mingw32-g++
wine:command -v wine
wine64:[ -x /usr/lib/wine/wine64 ]
python3-pefile:/usr/bin/python3 -c "import pefile" || python3 -c "import pefile"
osslsigncode:command -v osslsigncode
openssl:command -v openssl
g++-mingw-w64-i686:command -v i686-w64-mingw32-g++'
loader32_need='wine32:i386:[ -x /usr/lib/wine/wine ]'

# The packages of NEEDS (one a line) whose check fails.
missing() {
    printf '%s\n' "$1" | while IFS= read -r need; do
        check=${need#*:}
        [ "${need%%:*}" = wine32 ] && check=${check#i386:}
        sh -c "$check" >/dev/null 2>&1 || printf ' %s' "${need%%:"$check"}"
    done
}

needs=$linux_needs
[ "$linux_only" = 1 ] || needs="$needs
$windows_needs"
need=$(missing "$needs")
need32=
[ "$linux_only" = 1 ] || need32=$(missing "$loader32_need")

# Debian's mirror can serve a bad index for a while ("Mirror sync in
# progress?"): one retry, then the install says whether it matters.
apt_update() {
    apt-get update -qq || { echo "apt-get update failed; trying once more"; apt-get update -qq; } ||
        echo "apt-get update failed twice; installing from the indexes it has"
}
apt_install() {
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "$@"
}
why32=
if [ -n "$need$need32" ]; then
    if [ "$(id -u)" = 0 ] && command -v apt-get >/dev/null; then
        updated=
        if [ -n "$need" ]; then
            echo "Installing:$need"
            apt_update
            updated=1
            # shellcheck disable=SC2086
            apt_install $need || echo "Installing$need failed; running what can run"
        fi
        # Apart from the rest: a broken i386 index must cost only the 32-bit runs.
        if [ -n "$need32" ]; then
            echo "Installing wine's 32-bit loader: wine32:i386"
            if ! dpkg --print-foreign-architectures | grep -qx i386; then
                dpkg --add-architecture i386
                updated=
            fi
            [ -n "$updated" ] || apt_update
            # --no-remove: an i386 index out of step with the installed 64-bit
            # libraries can make apt take wine64 away to fit wine32 in.
            if ! apt_install --no-remove wine32:i386; then
                why32="wine32:i386 did not install (apt's lines above say why)"
                echo "$why32; the 32-bit leg runs what needs no 32-bit program"
            fi
        fi
    else
        echo "Missing:$need$need32"
        arch=
        case $need32 in *i386*) arch='dpkg --add-architecture i386 && ' ;; esac
        echo "Install them as root with: ${arch}apt-get update && apt-get install -y$need$need32"
    fi
fi

not_run=
# The Linux leg, and the tools every leg builds with.
lacking=$(missing "$linux_needs" | tr -s ' ' '\n' | grep -xE 'cmake|ninja-build|g\+\+|python3|libgtest-dev' |
    tr '\n' ' ' | sed 's/ $//') || true
if [ -n "$lacking" ]; then
    not_run="the Linux leg ($lacking missing)"
else
    cmake --preset default
    cmake --build --preset default
    ctest --preset default
fi

if [ "$linux_only" = 1 ]; then
    echo "Q713_LINUX_ONLY=1: only the Linux leg was asked for; the Windows legs did not run.${not_run:+ Did not run: $not_run.}"
    [ -z "$not_run" ]
    exit
fi

# The same tests against the Windows exe and DLL, under wine's 64-bit loader.
if [ -n "$lacking" ]; then
    not_run="$not_run; the Windows leg (it builds with them too)"
elif ! command -v x86_64-w64-mingw32-g++ >/dev/null || ! [ -x /usr/lib/wine/wine64 ]; then
    not_run="${not_run:+$not_run; }the Windows leg (needs g++-mingw-w64-x86-64 and wine64)"
else
    cmake --preset windows
    cmake --build --preset windows
    ctest --preset windows
fi

# Again for the 32-bit exe, in case the maker's DLL is 32-bit. It runs in the
# same 64-bit wine prefix, under wine's 32-bit loader (wine32). Where that
# loader cannot run, the build and the checks that run nothing still do.
if [ -n "$lacking" ]; then
    not_run="$not_run; the 32-bit Windows leg"
elif ! command -v i686-w64-mingw32-g++ >/dev/null; then
    not_run="${not_run:+$not_run; }the 32-bit Windows leg (needs g++-mingw-w64-i686)"
else
    cmake --preset windows-x86
    cmake --build --preset windows-x86
    ctest --preset windows-x86
    if ! why=$(sh tools/wine.sh runs 32); then
        not_run="${not_run:+$not_run; }the 32-bit runs under wine (listed as not run above): ${why32:+$why32; }$why"
    fi
fi

# One line for whatever did not run; only a missing Linux or 64-bit Windows
# leg fails the run, as the product is the Windows exe.
if [ -n "$not_run" ]; then
    echo "Did not run: $not_run."
    case $not_run in *"the Windows leg"* | *"the Linux leg"*) exit 1 ;; esac
fi
exit 0
