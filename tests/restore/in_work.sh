#!/bin/sh
# The command a restore case gives run_transcript.sh, run in the case's working
# folder: real q713-update runs write the transcript, then q713-restore reads
# it. What the restore prints on standard error follows its standard output
# under a marker line, so the case's stdout holds the whole screen.
#
# usage: in_work.sh CASE_DIR UPDATE RESTORE [EMULATOR...]
#   CASE_DIR holds, beside the files of run_transcript.sh:
#   updates  camera profiles, one a line, each a file of the case or a name in
#            simcam/profiles: one update run each, with no input, so it ends at
#            the reboot prompt; their stdout, one after the other, is transcript.txt
#   edit     optional sed script applied to transcript.txt (a damaged or retyped copy)
#   encoding optional: utf-16le, utf-16be or utf-8-bom: transcript.txt saved
#            again so, after its byte order mark, as Notepad or PowerShell saves it
#   saved-as optional: the transcript's name instead of transcript.txt
#   args     optional: the restore's arguments (default the transcript's name)
#   no-stdout optional (empty): the restore runs with its standard output closed
set -u
case_dir=$1 update=$2 restore=$3
shift 3
samples=$(dirname "$0")/../../simcam/profiles

: >transcript.txt
if [ -f "$case_dir/updates" ]; then
    while read -r camera; do
        profile=$case_dir/$camera
        [ -f "$profile" ] || profile=$samples/$camera
        cp "$profile" update-camera.txt || exit 1
        # Its own camera and trace; the restore's are the case's.
        KVX_SIM_CAMERA=update-camera.txt KVX_SIM_TRACE=update-trace.txt \
            "$@" "$update" </dev/null >>transcript.txt 2>>update-stderr.txt
    done <"$case_dir/updates"
fi
if [ -f "$case_dir/edit" ]; then
    sed -f "$case_dir/edit" transcript.txt >transcript.edited && mv transcript.edited transcript.txt ||
        exit 1
fi
if [ -f "$case_dir/encoding" ]; then
    case $(cat "$case_dir/encoding") in
    utf-16le) mark='\377\376' charset=UTF-16LE ;;
    utf-16be) mark='\376\377' charset=UTF-16BE ;;
    utf-8-bom) mark='\357\273\277' charset=UTF-8 ;;
    *) echo "unknown encoding in $case_dir/encoding" && exit 1 ;;
    esac
    { printf "$mark" && iconv -f UTF-8 -t $charset transcript.txt; } >transcript.encoded &&
        mv transcript.encoded transcript.txt || exit 1
fi
name=transcript.txt
if [ -f "$case_dir/saved-as" ]; then
    name=$(cat "$case_dir/saved-as")
    mv transcript.txt "$name" || exit 1
fi
args=$name
[ -f "$case_dir/args" ] && args=$(cat "$case_dir/args")

# $args unquoted: its words are the arguments, none when it is empty. A name
# reaches wine as UTF-8 only in a UTF-8 locale.
if [ -f "$case_dir/no-stdout" ]; then
    LC_ALL=C.UTF-8 "$@" "$restore" $args 2>restore-stderr.txt >&-
else
    LC_ALL=C.UTF-8 "$@" "$restore" $args 2>restore-stderr.txt
fi
status=$?
# The simulated camera's training line opens standard error after the banner
# (run_transcript.sh checks it for q713-update); the case shows the rest.
sed '1{/^Training: simulated camera library, no real camera is changed\.\r*$/d}' \
    restore-stderr.txt >restore-stderr.rest
if [ -s restore-stderr.rest ]; then
    echo "--- standard error ---"
    cat restore-stderr.rest
fi
exit $status
