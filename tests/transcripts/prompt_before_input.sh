#!/bin/sh
# Checks that every kind of prompt reaches redirected output while the tool
# waits for its answer: each answer is held back until its prompt has arrived.
#
# usage: prompt_before_input.sh WORK_DIR FIRMWARE_DIR COMMAND...
#   COMMAND runs the tool as in run_transcript.sh. Only prompt text without
#   line ends is looked for, so CR LF output needs no normalising.
set -u
work=$1 firmware_dir=$2
shift 2

rm -rf "$work" && mkdir -p "$work" && cd "$work" || exit 1
cp "$firmware_dir"/*.bin . || exit 1
# The built-in camera, so the run meets all three prompts: connect, reboot, repeat.
printf '[camera]\nopen-fails = 1 -3\n' >camera.txt
mkfifo answers || exit 1

env -i PATH="$PATH" HOME="${HOME:-/tmp}" ${WINEPREFIX:+WINEPREFIX="$WINEPREFIX"} \
    WINEDEBUG=-all KVX_SIM_CAMERA=camera.txt timeout 60 "$@" \
    <answers >stdout.raw 2>stderr.txt &
tool=$!
exec 3>answers
trap '' PIPE

fail() {
    echo "$1"
    exec 3>&-
    wait $tool
    echo "output so far:"
    cat -A stdout.raw | tail -n 5
    [ -s stderr.txt ] && echo "stderr:" && head -n 20 stderr.txt
    exit 1
}

# Gives the tool 30 s to show the prompt; a buffered prompt never arrives.
answer_after() {
    tries=0
    until grep -qF "$1" stdout.raw; do
        kill -0 $tool 2>/dev/null || fail "ended before showing: $1"
        tries=$((tries + 1))
        [ $tries -le 300 ] || fail "not shown while the tool waits: $1"
        sleep 0.1
    done
    printf '%s\n' "$2" >&3 || fail "the tool stopped reading after: $1"
}

answer_after 'Repeat (r) or quit (q) ?' r
# The only prompt without a line end of its own.
answer_after '(note the blinking LEDs).' ''
answer_after 'r to repeat.' q
exec 3>&-
wait $tool
status=$?
[ $status = 0 ] || fail "exit status $status, expected 0"
