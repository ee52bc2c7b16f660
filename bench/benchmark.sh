#!/bin/sh
# Measures complete path A and path B updates on the simulated camera: library
# calls against the intended sequence, instructions and heap allocations against
# a printf-only baseline, and the sizes of the binaries (the Windows exes of the
# windows and windows-x86 builds when present). Exits 1 when a figure misses
# its target. Needs valgrind and a C compiler; builds the default preset.
# The runs are the transcript cases path_a_full and path_b_full, and the calls
# their committed traces hold are the intended sequence.
#
# usage: bench/benchmark.sh [BUILD_DIR]   (default build/default, the preset's)
set -eu
cd "$(dirname "$0")/.."
root=$(pwd)
build=${1:-}
if [ -z "$build" ]; then
    cmake --preset default >/dev/null
    build=build/default
fi
cmake --build "$build" >/dev/null
build=$(cd "$build" && pwd)
work=$build/bench
rm -rf "$work" && mkdir -p "$work"
cc -O2 -o "$work/baseline" bench/baseline.c
tool=$build/q713-update
missed=

# Same environment for every run: instruction counts depend on it a little.
quiet() {
    env -i PATH="$PATH" "$@"
}

# total FILE EVENT: the program total of a callgrind or xtree file.
total() {
    callgrind_annotate --auto=no --show="$2" "$1" 2>/dev/null |
        awk '/PROGRAM TOTALS/ { gsub(",", "", $1); print $1; exit }'
}

# inclusive FILE EVENT REGEX: the summed inclusive cost of the functions whose
# "file:function" matches REGEX (an extended regular expression).
inclusive() {
    callgrind_annotate --inclusive=yes --auto=no --threshold=100 --show="$2" "$1" 2>/dev/null |
        PATTERN=$3 awk 'match($0, /^ *[0-9,]+ \([^)]*\)  [^ ]/) {
                n = $1; f = substr($0, RLENGTH); sub(/ .*/, "", f); gsub(",", "", n)
                if (f ~ ENVIRON["PATTERN"]) s += n
            }
            END { printf "%.0f\n", s }'
}

ratio() {
    awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'
}

at_most() {
    awk -v a="$1" -v b="$2" 'BEGIN { exit !(a + 0 <= b + 0) }'
}

verdict() {
    if at_most "$1" "$2"; then echo "ok"; else echo "MISSED"; fi
}

# The six library functions, and the exit hook that writes the trace's exit lines.
library='kvx_api\.cpp:KVX|sim_state\.cpp:simFinish'
# The tool's progress callback runs inside KVXfirmwareUpdate.
callback='firmware\.cpp:printProgress'

for path in a b; do
    case_dir=$root/tests/transcripts/cases/path_${path}_full
    sample=$(cat "$case_dir/sample")
    dir=$work/path_$path
    mkdir -p "$dir"
    cp "$build"/firmware/*.bin "$dir/"
    cat "simcam/profiles/$sample" >"$dir/camera.txt"
    if [ -f "$case_dir/profile" ]; then cat "$case_dir/profile" >>"$dir/camera.txt"; fi
    cp "$case_dir/input" "$dir/input"
    cd "$dir"

    quiet KVX_SIM_CAMERA=camera.txt KVX_SIM_TRACE=trace.txt "$tool" <input >stdout.txt
    calls=$(grep -vc '^sim:' trace.txt)
    intended=$(grep -vc '^sim:' "$case_dir/trace")
    at_most "$calls" "$intended" || missed="$missed calls-$path"

    quiet KVX_SIM_CAMERA=camera.txt valgrind --tool=callgrind --callgrind-out-file=tool.cg \
        "$tool" <input >/dev/null 2>callgrind-tool.log
    quiet valgrind --tool=callgrind --callgrind-out-file=baseline.cg "$work/baseline" \
        <stdout.txt >/dev/null 2>callgrind-baseline.log
    ir_tool=$(total tool.cg Ir)
    ir_base=$(total baseline.cg Ir)
    ir_library=$(($(inclusive tool.cg Ir "$library") - $(inclusive tool.cg Ir "$callback")))
    ir_image=$(inclusive tool.cg Ir 'image\.cpp:imageParse')
    ir_profile=$(inclusive tool.cg Ir 'profile\.cpp:profileParse')
    ir_rest=$((ir_tool - ir_library))
    at_most "$(ratio "$ir_tool" "$ir_base")" 2 || missed="$missed instructions-$path"

    quiet KVX_SIM_CAMERA=camera.txt valgrind --xtree-memory=full --xtree-memory-file=tool.xt \
        "$tool" <input >/dev/null 2>memcheck-tool.log
    quiet valgrind --xtree-memory=full --xtree-memory-file=baseline.xt "$work/baseline" \
        <stdout.txt >/dev/null 2>memcheck-baseline.log
    heap_tool=$(total tool.xt totBk)
    heap_base=$(total baseline.xt totBk)
    heap_library=$(inclusive tool.xt totBk "$library")
    heap_rest=$((heap_tool - heap_library))
    usage_tool=$(sed -n 's/.*total heap usage: //p' memcheck-tool.log)
    usage_base=$(sed -n 's/.*total heap usage: //p' memcheck-baseline.log)
    at_most "$heap_rest" "$heap_base" || missed="$missed heap-$path"
    cd "$root"

    echo "path $(echo $path | tr ab AB) ($sample)"
    echo "  library calls             $calls, intended $intended: $(verdict "$calls" "$intended")"
    echo "  instructions, process     $ir_tool, baseline $ir_base, ratio $(ratio "$ir_tool" "$ir_base") (target <= 2): $(verdict "$(ratio "$ir_tool" "$ir_base")" 2)"
    echo "    in the simulated library  $ir_library (firmware image checks $ir_image, profile parsing $ir_profile)"
    echo "    the rest                  $ir_rest, ratio $(ratio "$ir_rest" "$ir_base")"
    echo "  heap allocations          $heap_tool ($usage_tool)"
    echo "    baseline                  $heap_base ($usage_base)"
    echo "    in the simulated library  $heap_library (its fopen of the profile and the firmware files)"
    echo "    the rest                  $heap_rest (stdio's buffers; target: no more than the baseline's): $(verdict "$heap_rest" "$heap_base")"
done

# The sizes of the binaries: the Linux tools, and the Windows exes of the
# builds present in the build folder and stripped, as the zips ship them.
for name in q713-update q713-restore; do
    strip -o "$work/$name.stripped" "$build/$name"
    echo "Linux $name: $(wc -c <"$build/$name") bytes, $(wc -c <"$work/$name.stripped") stripped"
done
for preset in windows windows-x86; do
    case $preset in
    windows) strip=x86_64-w64-mingw32-strip ;;
    *) strip=i686-w64-mingw32-strip ;;
    esac
    for name in q713-update q713-restore; do
        exe=build/$preset/$name.exe
        if [ ! -f "$exe" ]; then
            echo "$preset $name.exe: not built (cmake --build --preset $preset)"
            continue
        fi
        "$strip" -o "$work/$preset-$name.exe" "$exe"
        shipped=$(wc -c <"$work/$preset-$name.exe")
        echo "$preset $name.exe: $(wc -c <"$exe") bytes, $shipped stripped (target <= 81920): $(verdict "$shipped" 81920)"
        at_most "$shipped" 81920 || missed="$missed size-$preset-$name"
    done
done

if [ -n "$missed" ]; then
    echo "missed:$missed"
    exit 1
fi
echo "every target met"
