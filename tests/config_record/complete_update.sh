#!/bin/sh
# Runs a complete path A update and fails unless it reports the update done
# and ends with status 0 after q.
#
# usage: complete_update.sh WORK_DIR FIRMWARE_DIR PROFILE TOOL
set -u
work=$1 firmware_dir=$2 profile=$3 tool=$4
rm -rf "$work" && mkdir -p "$work" && cd "$work" || exit 1
cp "$firmware_dir"/*.bin . || exit 1
printf '\nq\n' | KVX_SIM_CAMERA=$profile "$tool" >stdout.txt 2>stderr.txt
status=$?
cat stderr.txt
grep -q '^Firmware update done\.$' stdout.txt || { echo "no update done:"; tail -n 5 stdout.txt; exit 1; }
[ $status = 0 ] || { echo "exit status $status"; exit 1; }
