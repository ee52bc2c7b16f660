#!/bin/sh
# Runs a Windows program under wine with the loader of its own width, the one
# place that choice is made. Debian's wine script takes the 32-bit loader
# whenever wine32 is installed, even for a 64-bit exe, and on kernels that
# cannot execute 32-bit programs that loader does not start at all.
#
# usage: wine.sh 64|32 PROGRAM [ARGUMENT...]   run PROGRAM (an exe, or wine's cmd)
#        wine.sh runs 64|32                    0 if programs of that width run here,
#                                              else prints why and exits 1
set -u
loader_for() {
    case $1 in
        64) echo /usr/lib/wine/wine64 ;;
        32) echo /usr/lib/wine/wine ;;
        *) echo "wine.sh: width must be 64 or 32, not '$1'" >&2; exit 2 ;;
    esac
}

if [ "${1:-}" = runs ]; then
    loader=$(loader_for "${2:-}") || exit 2
    if [ ! -x "$loader" ]; then
        echo "$loader is not installed"
        exit 1
    fi
    # The loader starts its own process: a kernel without 32-bit support
    # refuses it with "Exec format error".
    if ! why=$("$loader" --version 2>&1 </dev/null); then
        echo "$loader does not run here: $why"
        exit 1
    fi
    exit 0
fi

[ $# -ge 2 ] || { echo "usage: wine.sh 64|32 PROGRAM [ARGUMENT...]" >&2; exit 2; }
loader=$(loader_for "$1") || exit 2
shift
WINELOADER=$loader
export WINELOADER
exec "$loader" "$@"
