#!/bin/sh
# Breaks a full update run in every place it can break, one place per run, and
# judges each run with check_run.pl: no crash or hang, no false "done", no
# calibration lost without a word.
#
# usage: sweep.sh faults|end-of-input CASE_DIR WORK_DIR FIRMWARE_DIR COMMAND...
#   CASE_DIR is a transcript case of a complete update (sample, optional
#   profile, input). faults: the Nth library call fails with -77, for every
#   call of the clean run; where that call is KVXopen, once more with an "r"
#   answered at the retry prompt. end-of-input: the input ends after each of
#   its lines. Runs that break a rule are kept in WORK_DIR/broken/.
#   Set SWEEP_TIMEOUT to change the 10 s limit of one run (slow sanitizers).
set -u
kind=$1 case_dir=$2 work=$3 firmware_dir=$4
shift 4
here=$(cd "$(dirname "$0")" && pwd)
samples=$here/../../simcam/profiles
limit=${SWEEP_TIMEOUT:-10}
case $kind in
faults | end-of-input) ;;
*) echo "unknown kind $kind (faults or end-of-input)" && exit 2 ;;
esac

rm -rf "$work" && mkdir -p "$work/run" "$work/broken" || exit 1
# The runs happen in the scratch folder, so what they name must not be relative.
work=$(cd "$work" && pwd)
case $1 in
/*) ;;
*/*) command=$(pwd)/$1 && shift && set -- "$command" "$@" ;;
esac
for image in 20151028_Lumivor-Q713_v2.3.1.bin 20140827_Lumivor-Q713_v0.0.0_patch.bin; do
    cp "$firmware_dir/$image" "$work/run/" || exit 1
done
{
    cat "$samples/$(cat "$case_dir/sample")"
    if [ -f "$case_dir/profile" ]; then cat "$case_dir/profile"; fi
} >"$work/camera.txt" || exit 1
input=/dev/null
[ -f "$case_dir/input" ] && input=$case_dir/input
cp "$input" "$work/input" || exit 1

runs=0 broken=0

# run LABEL PROFILE INPUT COMMAND...: one run of the tool in the scratch folder, judged.
run() {
    label=$1 profile=$2 answers=$3
    shift 3
    rm -f "$work/run/trace.txt"
    cp "$profile" "$work/run/camera.txt" || exit 1
    # Only the sanitizers' settings pass; nothing else outside decides what the tool sees.
    (cd "$work/run" && env -i PATH="$PATH" HOME="${HOME:-/tmp}" \
        ${ASAN_OPTIONS:+ASAN_OPTIONS="$ASAN_OPTIONS"} \
        ${UBSAN_OPTIONS:+UBSAN_OPTIONS="$UBSAN_OPTIONS"} \
        KVX_SIM_CAMERA=camera.txt KVX_SIM_TRACE=trace.txt \
        timeout -k 2 "$limit" "$@" <"$answers" >stdout.txt 2>stderr.txt)
    status=$?
    echo "$status" >"$work/run/status"
    touch "$work/run/trace.txt"
    runs=$((runs + 1))
    if ! verdict=$(perl "$here/check_run.pl" "$work/run" "$profile"); then
        broken=$((broken + 1))
        echo "BROKEN $label:"
        echo "$verdict" | sed 's/^/    /'
        rm -rf "$work/broken/$label"
        cp -R "$work/run" "$work/broken/$label"
        cp "$answers" "$work/broken/$label/input"
    fi
}

# injected LABEL I: the last run must have had its Ith call fail as the profile asked.
injected() {
    if ! grep -v "^sim:" "$work/run/trace.txt" | sed -n "$2p" | grep -q " -> -77\$"; then
        broken=$((broken + 1))
        echo "BROKEN $1: call $2 did not fail with the injected -77"
    fi
}

# The clean run fixes the calls to break; it must itself complete the update.
run clean "$work/camera.txt" "$work/input" "$@"
grep -v '^sim:' "$work/run/trace.txt" >"$work/calls"
calls=$(wc -l <"$work/calls")
if [ "$status" != 0 ] || ! grep -q '^Firmware update done\.$' "$work/run/stdout.txt"; then
    echo "the clean run of $(basename "$case_dir") did not complete the update (status $status)"
    exit 1
fi
lines=$(wc -l <"$work/input")

case $kind in
faults)
    i=1
    while [ "$i" -le "$calls" ]; do
        call=$(sed -n "${i}p" "$work/calls")
        { cat "$work/camera.txt"; echo "fail-call = $i -77"; } >"$work/faulty.txt"
        run "call-$i" "$work/faulty.txt" "$work/input" "$@"
        injected "call-$i" "$i"
        case $call in
        KVXopen*)
            # The retry prompt reads the line after the reboot prompts answered so far.
            answered=$(head -n "$((i - 1))" "$work/calls" | grep -c '^KVXclose')
            { head -n "$answered" "$work/input"; echo r; tail -n "+$((answered + 1))" "$work/input"; } \
                >"$work/retry-input"
            run "call-$i-retry" "$work/faulty.txt" "$work/retry-input" "$@"
            injected "call-$i-retry" "$i"
            ;;
        esac
        i=$((i + 1))
    done
    ;;
end-of-input)
    k=0
    while [ "$k" -lt "$lines" ]; do
        head -n "$k" "$work/input" >"$work/short-input"
        run "after-line-$k" "$work/camera.txt" "$work/short-input" "$@"
        k=$((k + 1))
    done
    ;;
esac

echo "$(basename "$case_dir") $kind: $runs runs, $calls library calls in the clean run, $broken broke a rule"
[ "$broken" = 0 ]
