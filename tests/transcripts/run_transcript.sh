#!/bin/sh
# Runs one transcript case: the real tool in a scratch folder with scripted
# input against the simulated camera; compares the whole stdout byte for byte,
# the exit status and, where the case gives one, the library call trace.
#
# usage: run_transcript.sh [--record] [--windows [--crlf-input]] CASE_DIR WORK_DIR FIRMWARE_DIR COMMAND...
#   CASE_DIR holds: input (stdin; none = empty), stdout, status, and optionally
#   sample (the name of a profile in simcam/profiles), profile (camera lines,
#   appended to the sample's last camera), trace (the whole expected trace)
#   and firmware (the simulated library's image files to put in the working
#   folder, SOURCE=NAME for one under another name; none = both), and
#   stdout.windows, the stdout of a --windows run where the console's code
#   page shows a text otherwise, and stderr, the whole standard error after
#   the training line (none = only that line is shown when there is more).
#   COMMAND runs the tool, e.g. "sh tools/wine.sh 64 q713-update.exe" with --windows, where
#   the console's CR LF is read as LF and nothing else is changed.
#   --crlf-input types every line of input with CR LF, as a Windows console
#   does: the same stdout must come out.
#   --record writes what came out into the case instead (stdout, and trace
#   where the case has one); a changed exit status is reported, not written.
# Under wine the layout is a technician's: the exe finds KvxQ713.dll beside
# itself (both sit in the build folder; the loader looks in the exe's folder
# first), the firmware images in the working folder. No WINEPATH, no copies.
# Q713_PYTHON names the Python 3 for the Windows mode's line ends (default python3).
set -u
python=${Q713_PYTHON:-python3}
record= windows= crlf_input=
[ "$1" = --record ] && record=1 && shift
[ "$1" = --windows ] && windows=1 && shift
[ "$1" = --crlf-input ] && crlf_input=1 && shift
case_dir=$1 work=$2 firmware_dir=$3
shift 3

rm -rf "$work" && mkdir -p "$work" || exit 1
images="training-firmware-2.3.1.bin training-patch-0.0.0.bin"
[ -f "$case_dir/firmware" ] && images=$(cat "$case_dir/firmware")
for image in $images; do
    # SOURCE=NAME puts the image SOURCE into the folder under the name NAME.
    cp "$firmware_dir/${image%%=*}" "$work/${image#*=}" || exit 1
done
samples=$(dirname "$0")/../../simcam/profiles
camera=
for part in sample profile; do
    [ -f "$case_dir/$part" ] || continue
    if [ $part = sample ]; then cat "$samples/$(cat "$case_dir/sample")"; else cat "$case_dir/profile"; fi
    camera=KVX_SIM_CAMERA=camera.txt
done >"$work/camera.txt" || exit 1
input=/dev/null
[ -f "$case_dir/input" ] && input=$case_dir/input
if [ -n "$crlf_input" ]; then
    "$python" -c 'import re, sys
sys.stdout.buffer.write(re.sub(rb"\r?\n", b"\r\n", sys.stdin.buffer.read()))' \
        <"$input" >"$work/input.crlf" || exit 1
    input=$work/input.crlf
fi

# A clean environment, so nothing but the case decides what the tool sees.
(cd "$work" && env -i PATH="$PATH" HOME="${HOME:-/tmp}" ${WINEPREFIX:+WINEPREFIX="$WINEPREFIX"} \
    WINEDEBUG=-all $camera KVX_SIM_TRACE=trace.txt timeout 60 "$@" \
    <"$input" >stdout.raw 2>stderr.txt)
status=$?

# Only the pair CR LF: the tool's own lone CR must survive, also as the last byte.
normalise() {
    if [ -n "$windows" ]; then
        "$python" -c 'import sys
sys.stdout.buffer.write(sys.stdin.buffer.read().replace(b"\r\n", b"\n"))'
    else
        cat
    fi
}
normalise <"$work/stdout.raw" >"$work/stdout.txt"
touch "$work/trace.txt"
normalise <"$work/trace.txt" >"$work/trace.norm"

expected_status=$(cat "$case_dir/status")
expected_stdout=$case_dir/stdout
[ -n "$windows" ] && [ -f "$case_dir/stdout.windows" ] && expected_stdout=$case_dir/stdout.windows
if [ -n "$record" ]; then
    cp "$work/stdout.txt" "$expected_stdout" || exit 1
    if [ -f "$case_dir/trace" ]; then cp "$work/trace.norm" "$case_dir/trace" || exit 1; fi
    if [ -f "$case_dir/stderr" ]; then
        sed '1{/^Training: simulated camera library, no real camera is changed\.\r*$/d}' \
            "$work/stderr.txt" | normalise >"$case_dir/stderr" || exit 1
    fi
    if [ "$status" != "$expected_status" ]; then
        echo "$(basename "$case_dir"): exit status $status, expected $expected_status (not recorded)"
        exit 1
    fi
    exit 0
fi

failed=0
if ! cmp -s "$expected_stdout" "$work/stdout.txt"; then
    echo "stdout differs (expected, actual):"
    diff -u "$expected_stdout" "$work/stdout.txt" | cat -A | head -n 80
    failed=1
fi
if [ "$status" != "$expected_status" ]; then
    echo "exit status $status, expected $expected_status"
    failed=1
fi
if [ -f "$case_dir/trace" ] && ! cmp -s "$case_dir/trace" "$work/trace.norm"; then
    echo "library calls differ (expected, actual):"
    diff -u "$case_dir/trace" "$work/trace.norm" | head -n 80
    failed=1
fi
# Practice can never pass for the field: against the simulated camera the
# update tool says so on standard error right after its banner, and only there.
training="Training: simulated camera library, no real camera is changed."
if grep -q "Update Tool v" "$work/stdout.txt" &&
    [ "$(head -n 1 "$work/stderr.txt" | tr -d '\r')" != "$training" ]; then
    echo "standard error does not begin with the training line"
    failed=1
fi
if grep -q "^Training:" "$work/stdout.txt"; then
    echo "the training line is on standard output"
    failed=1
fi
sed '1{/^Training: simulated camera library, no real camera is changed\.\r*$/d}' \
    "$work/stderr.txt" | normalise >"$work/stderr.rest"
if [ -f "$case_dir/stderr" ] && ! cmp -s "$case_dir/stderr" "$work/stderr.rest"; then
    echo "stderr differs (expected, actual):"
    diff -u "$case_dir/stderr" "$work/stderr.rest" | head -n 20
    failed=1
elif [ -s "$work/stderr.txt" ]; then
    echo "stderr:"
    head -n 20 "$work/stderr.txt"
fi
exit $failed
