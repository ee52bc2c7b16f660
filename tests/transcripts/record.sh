#!/bin/sh
# Rewrites the expected stdout (and trace, where a case has one) of every
# transcript case and restore case from the current build, so an intended
# change of the tools' output is one command and a diff to review. Exit
# statuses are never rewritten.
#
# usage: tests/transcripts/record.sh [BUILD_DIR] [CASE...]
#   BUILD_DIR: a native build against the simulated camera (default
#   build/default); its tools and firmware images are brought up to date first.
#   CASE: names of folders in tests/transcripts/cases or tests/restore/cases
#   (default all of both).
set -u
cd "$(dirname "$0")/../.."
root=$(pwd)
build=${1:-build/default}
[ $# -gt 0 ] && shift
case $build in
/*) ;;
*) build=$root/$build ;;
esac
cmake --build "$build" --target q713-update q713-restore simcam_firmware >/dev/null || exit 1

transcripts=tests/transcripts/cases
restores=tests/restore/cases
cases=${*:-$(cd $transcripts && ls) $(cd $restores && ls)}
failed=
for name in $cases; do
    if [ -d "$transcripts/$name" ]; then
        sh tests/transcripts/run_transcript.sh --record "$root/$transcripts/$name" \
            "$build/tests/transcripts/record/$name" "$build/firmware" "$build/q713-update"
    elif [ -d "$restores/$name" ]; then
        # As tests/restore runs it: update runs write the transcript the restore reads.
        sh tests/transcripts/run_transcript.sh --record "$root/$restores/$name" \
            "$build/tests/restore/record/$name" "$build/firmware" \
            sh "$root/tests/restore/in_work.sh" "$root/$restores/$name" "$build/q713-update" \
            "$build/q713-restore"
    else
        echo "no case $name in $transcripts or $restores"
        false
    fi || failed="$failed $name"
done
git status --short -- $transcripts $restores 2>/dev/null
if [ -n "$failed" ]; then
    echo "not recorded completely:$failed"
    exit 1
fi
