#!/bin/sh
# Runs a complete update under valgrind's memcheck as a transcript case: the
# same stdout, status and trace as without it, and no memory error or leak.
#
# usage: valgrind.sh CASE_DIR WORK_DIR FIRMWARE_DIR TOOL
#   Exits 77 (CTest: skipped) when valgrind is not installed.
set -u
if ! command -v valgrind >/dev/null 2>&1; then
    echo "valgrind is not installed; skipped"
    exit 77
fi
here=$(cd "$(dirname "$0")" && pwd)
case_dir=$1 work=$2 firmware_dir=$3 tool=$4
# Errors go to stderr and into the exit status, which the transcript compares.
exec sh "$here/../transcripts/run_transcript.sh" "$case_dir" "$work" "$firmware_dir" \
    valgrind --quiet --error-exitcode=1 --leak-check=full "$tool"
