#!/bin/sh
# Output that cannot be written: on a full disk, and into a reader that stops
# early. The tool must never die of a broken pipe, and the camera must end
# either untouched or with its calibration written back.
#
# usage: output_failures.sh WORK_DIR FIRMWARE_DIR PROFILE TOOL [RESTORE]
#   RESTORE: q713-restore, tried with a reader that goes while it loads 2.3.1
set -u
work=$1 firmware_dir=$2 profile=$3 tool=$4 restore=${5:-}
rm -rf "$work" && mkdir -p "$work" && cd "$work" || exit 1
cp "$firmware_dir"/*.bin . || exit 1
failed=0
fail() {
    echo "$1"
    failed=1
}
run() {
    env -i PATH="$PATH" KVX_SIM_CAMERA="$profile" KVX_SIM_TRACE=trace.txt "$tool"
}

# A full disk: the printed table is lost, so nothing may be loaded.
rm -f trace.txt
printf '\nq\n' | run >/dev/full 2>stderr.txt
status=$?
[ $status = 255 ] || fail "full disk: exit status $status, expected 255"
grep -qx 'q713-update: standard output failed; the camera was not changed.' stderr.txt ||
    fail "full disk: no word on stderr"
! grep -q '^KVXfirmwareUpdate' trace.txt || fail "full disk: firmware loaded"

# No standard output at all: the trace the library opens must not become it,
# and nothing may be loaded.
rm -f trace.txt
printf '\nq\n' | run >&- 2>stderr.txt
status=$?
[ $status = 255 ] || fail "closed output: exit status $status, expected 255"
grep -qx 'q713-update: standard output failed; the camera was not changed.' stderr.txt ||
    fail "closed output: no word on stderr"
head -n 1 trace.txt | grep -qx 'KVXinitConfig -> 0' || fail "closed output: trace not a trace"
! grep -q '^KVXfirmwareUpdate' trace.txt || fail "closed output: firmware loaded"

# A reader that takes 200 bytes and goes; the answer comes a moment later.
rm -f trace.txt
{ sleep 1; printf '\nq\n'; } | { run 2>stderr.txt; echo $? >status.txt; } | head -c 200 >/dev/null
status=$(cat status.txt)
[ "$status" = 0 ] || [ "$status" = 255 ] || fail "broken pipe: exit status $status (141: SIGPIPE)"
if grep -q '^KVXfirmwareUpdate' trace.txt; then
    grep -q '^KVXwriteRegister 54 0x1000000 -> 0$' trace.txt ||
        fail "broken pipe: firmware loaded but the calibration never went back"
else
    grep -qx 'q713-update: standard output failed; the camera was not changed.' stderr.txt ||
        fail "broken pipe: stopped without a word"
fi

# q713-restore loading 2.3.1 into a camera left on the patch, into a reader
# that goes during the load: it must write no values, and say on stderr that
# 2.3.1 was loaded, not that the camera is as it was.
if [ -n "$restore" ]; then
    patch_camera=$(dirname "$profile")/fw142-20130226.txt
    env -i PATH="$PATH" KVX_SIM_CAMERA="$patch_camera" "$tool" </dev/null >update.txt 2>/dev/null
    { cat "$patch_camera"; printf 'firmware = 0.0.0\nrelease = 27.08.2014\n'; } >patch.txt
    rm -f trace.txt
    { printf 'y\n'; sleep 1; printf '\ny\n'; } |
        { env -i PATH="$PATH" KVX_SIM_CAMERA=patch.txt KVX_SIM_TRACE=trace.txt "$restore" update.txt \
            2>stderr.txt; echo $? >status.txt; } | head -c 700 >/dev/null
    status=$(cat status.txt)
    [ "$status" = 255 ] || fail "restore, broken pipe: exit status $status, expected 255"
    grep -q '^KVXfirmwareUpdate.* -> 0$' trace.txt || fail "restore, broken pipe: 2.3.1 not loaded"
    ! grep -q '^KVXwriteRegister' trace.txt || fail "restore, broken pipe: values written"
    grep -qx 'q713-restore: standard output failed; firmware 2.3.1 was loaded, but no values were written.' \
        stderr.txt || fail "restore, broken pipe: not told that 2.3.1 was loaded"
fi
exit $failed
