#!/bin/sh
# Starts (start) or stops (stop) the one wine server all Windows tests share,
# on $WINEPREFIX, so no test pays for starting wine afresh.
set -u
: "${WINEPREFIX:?set by the windows test preset}"
case ${1:-} in
start)
    mkdir -p "$WINEPREFIX" || exit 1
    # A server left behind by an interrupted run would refuse the persistent one.
    wineserver -k 2>/dev/null
    # It stays in the background: with CTest's output still open it would hold
    # the test until killed.
    wineserver -p </dev/null >/dev/null 2>&1 || exit 1
    # Creates the prefix on the first run; without mono and gecko, which a
    # console tool never needs and which would be looked for on the network.
    # The prefix is 64-bit, whichever exes run in it.
    WINEDLLOVERRIDES="mscoree,mshtml=" sh "$(dirname "$0")/../../tools/wine.sh" 64 wineboot -i \
        </dev/null >/dev/null 2>&1 || exit 1
    ;;
stop)
    wineserver -k
    ;;
*)
    echo "usage: wine_server.sh start|stop" >&2
    exit 2
    ;;
esac
