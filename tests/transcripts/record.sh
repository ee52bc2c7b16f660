#!/bin/sh
# Rewrites the expected stdout (and trace, where a case has one) of every
# transcript case from the current build, so an intended change of the tool's
# output is one command and a diff to review. Exit statuses are never rewritten.
#
# usage: tests/transcripts/record.sh [BUILD_DIR] [CASE...]
#   BUILD_DIR: a native build against the simulated camera (default
#   build/default); its tool and firmware images are brought up to date first.
#   CASE: names of folders in tests/transcripts/cases (default all).
set -u
cd "$(dirname "$0")/../.."
root=$(pwd)
build=${1:-build/default}
[ $# -gt 0 ] && shift
case $build in
/*) ;;
*) build=$root/$build ;;
esac
cmake --build "$build" --target q713-update simcam_firmware >/dev/null || exit 1

cases=${*:-$(cd tests/transcripts/cases && ls)}
failed=
for name in $cases; do
    sh tests/transcripts/run_transcript.sh --record "$root/tests/transcripts/cases/$name" \
        "$build/tests/transcripts/record/$name" "$build/firmware" "$build/q713-update" ||
        failed="$failed $name"
done
git status --short -- tests/transcripts/cases 2>/dev/null
if [ -n "$failed" ]; then
    echo "not recorded completely:$failed"
    exit 1
fi
