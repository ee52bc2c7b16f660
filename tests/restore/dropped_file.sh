#!/bin/sh
# A transcript dropped onto q713-restore: started by its full path from the
# folder of the file (not the exe's), it loads 2.3.1 from the exe's folder, and
# where neither folder holds the image it names both. A camera left on the patch.
#
# usage: dropped_file.sh WORK FIRMWARE_DIR CASES_DIR UPDATE RESTORE [EMULATOR...]
#   with an EMULATOR (wine) the exe's DLL beside RESTORE goes with it.
set -u
work=$1 firmware=$2 cases=$3 update=$4 restore=$5
shift 5
rm -rf "$work" && mkdir -p "$work/tool" "$work/desk" "$work/update" || exit 1
work=$(cd "$work" && pwd -P)
exe=$work/tool/$(basename "$restore")
cp "$restore" "$exe" || exit 1
dll=$(dirname "$restore")/KvxQ713.dll
[ $# -gt 0 ] && { cp "$dll" "$work/tool/" || exit 1; }
maker_name=20151028_Lumivor-Q713_v2.3.1.bin
failed=0

# How the tool names a folder: wine's drive Z: for the emulator's runs.
shown() {
    path=$1
    shift
    if [ $# -gt 0 ]; then printf 'Z:%s' "$path" | tr / '\\'; else printf '%s' "$path"; fi
}

# The update that stopped at its first reboot prompt, its console text saved.
samples=$(dirname "$0")/../../simcam/profiles
cp "$firmware"/training-*.bin "$work/update/" &&
    cp "$samples/fw142-20130226.txt" "$work/update/camera.txt" || exit 1
(cd "$work/update" && env KVX_SIM_CAMERA=camera.txt WINEDEBUG=-all timeout 60 "$@" "$update" \
    </dev/null >"$work/desk/transcript.txt" 2>/dev/null)

# Runs the restore in FOLDER on the transcript at TRANSCRIPT with the camera
# left on the patch; its stdout with CR LF as LF in $work/out.txt, its status
# the function's.
run_restore() {
    folder=$1 transcript=$2
    shift 2
    left_on_patch=$cases/finishes_a_camera_left_on_the_patch
    cat "$samples/$(cat "$left_on_patch/sample")" "$left_on_patch/profile" >"$work/camera.txt" ||
        exit 1
    (cd "$folder" && printf 'y\n\ny\n' | env KVX_SIM_CAMERA="$work/camera.txt" WINEDEBUG=-all \
        timeout 60 "$@" "$exe" "$transcript" >"$work/out.raw" 2>/dev/null)
    status=$?
    tr -d '\r' <"$work/out.raw" >"$work/out.txt"
    return $status
}

expect() {
    if ! grep -qF -- "$2" "$work/out.txt"; then
        echo "FAILED: $1: no line '$2' in:" && cat "$work/out.txt" && failed=1
    fi
}

tool_shown=$(shown "$work/tool" "$@")
desk_shown=$(shown "$work/desk" "$@")
cp "$firmware/training-firmware-2.3.1.bin" "$work/tool/$maker_name" || exit 1
run_restore "$work/desk" transcript.txt "$@"
status=$?
expect "from the exe's folder" "Loading firmware \"$(shown "$work/tool/" "$@")$maker_name\" ..."
expect "from the exe's folder" "Calibration restored and verified."
[ $status = 0 ] || { echo "FAILED: from the exe's folder: status $status"; failed=1; }

rm "$work/tool/$maker_name"
run_restore "$work/desk" transcript.txt "$@"
status=$?
expect "in neither folder" "Loading firmware \"$maker_name\" ..."
expect "in neither folder" "(File not found in $desk_shown or in $tool_shown."
expect "in neither folder" ")Hit <return> to quit."
[ $status = 255 ] || { echo "FAILED: in neither folder: status $status"; failed=1; }

run_restore "$work/tool" ../desk/transcript.txt "$@"
status=$?
expect "in the exe's folder only" "(File not found in $tool_shown."
[ $status = 255 ] || { echo "FAILED: in the exe's folder only: status $status"; failed=1; }
exit $failed
