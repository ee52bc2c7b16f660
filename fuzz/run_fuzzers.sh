#!/bin/sh
# Builds the fuzz preset and runs each libFuzzer target for a bounded time from
# the committed seeds; fails when a target crashes, hangs or breaks a check.
#
# usage: fuzz/run_fuzzers.sh [TARGET...]          TARGET: profile image dialogue transcript (default all)
#        fuzz/run_fuzzers.sh --keep TARGET FILE NAME
#   FUZZ_SECONDS: seconds per target (default 60). Inputs that break a target
#   land in build/fuzz/findings/TARGET/; --keep turns one into the regression
#   fuzz/regressions/TARGET/NAME.hex, which the fuzz.* tests replay from then on.
set -eu
cd "$(dirname "$0")/.."
root=$(pwd)

if [ "${1:-}" = --keep ]; then
    [ $# = 4 ] || { echo "usage: $0 --keep TARGET FILE NAME" >&2; exit 2; }
    mkdir -p "fuzz/regressions/$2"
    {
        echo "# Broke fuzz_$2 once; replayed by the fuzz tests so it cannot come back."
        od -An -v -tx1 "$3" | sed 's/^ //'
    } >"fuzz/regressions/$2/$4.hex"
    echo "wrote fuzz/regressions/$2/$4.hex"
    exit 0
fi

seconds=${FUZZ_SECONDS:-60}
targets=${*:-profile image dialogue transcript}
cmake --preset fuzz >/dev/null
binaries=
for target in $targets; do
    binaries="$binaries fuzz_$target"
done
cmake --build --preset fuzz --target $binaries simcam_firmware

work=$root/build/fuzz/run
failed=
for target in $targets; do
    corpus=$work/corpus/$target   # grows from run to run
    seeds=$work/seeds/$target     # rebuilt from the committed files every run
    findings=$root/build/fuzz/findings/$target
    rm -rf "$seeds"
    mkdir -p "$corpus" "$seeds" "$findings"
    for file in fuzz/corpus/$target/* fuzz/regressions/$target/*; do
        [ -f "$file" ] || continue
        case $file in
        *.hex) grep -v '^#' "$file" | python3 -c 'import sys
sys.stdout.buffer.write(bytes.fromhex(sys.stdin.read()))' >"$seeds/$(basename "$file" .hex)" ;;
        *) cp "$file" "$seeds/" ;;
        esac
    done
    case $target in
    profile) cp simcam/profiles/*.txt "$seeds/" ;;
    image) cp build/fuzz/firmware/*.bin "$seeds/" ;;
    esac
    set -- -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
        -artifact_prefix="$findings/"
    [ -f "fuzz/$target.dict" ] && set -- "$@" -dict="$root/fuzz/$target.dict"
    # The simulated library reports bad profiles on stderr, once per input.
    [ "$target" = dialogue ] && set -- "$@" -close_fd_mask=3
    echo "fuzz_$target: $seconds s"
    if ! "build/fuzz/fuzz/fuzz_$target" "$@" "$corpus" "$seeds" >"$work/$target.log" 2>&1; then
        failed="$failed $target"
        tail -n 60 "$work/$target.log"
    fi
    grep -E '^(Done|stat::number_of_executed_units|stat::peak_rss_mb)' "$work/$target.log" || true
    grep -E '#[0-9]+.*cov:' "$work/$target.log" | tail -n 1 || true
done

if [ -n "$failed" ]; then
    echo "broken:$failed; inputs in build/fuzz/findings/ (keep one with --keep)"
    exit 1
fi
echo "no target broke"
