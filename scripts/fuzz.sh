#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, ASan+UBSan) and runs each for a while.
# Usage: scripts/fuzz.sh [seconds per target] [target...]
#   default: 60 seconds for each of the four targets.
# Each target starts from its committed seeds in tests/fuzz/corpus/<target>;
# what it finds new goes to build/fuzz/corpus/<target> (not committed; another
# folder with FUZZ_WORK_DIR), and a
# crashing input to build/fuzz/findings/. Keep a finding, once fixed, as a
# seed in tests/fuzz/corpus/<target>.
set -euo pipefail
cd "$(dirname "$0")/.."
SECONDS_PER_TARGET=${1:-60}
shift || true
TARGETS=("$@")
[ ${#TARGETS[@]} -gt 0 ] || TARGETS=(fuzz_directory fuzz_card fuzz_config fuzz_attributes)
DIR=${FUZZ_BUILD_DIR:-build/fuzz}
JOBS=${JOBS:-$(nproc)}

mkdir -p "$DIR" build
if [ ! -f "$DIR/CMakeCache.txt" ]; then
    CC=clang CXX=clang++ cmake -S . -B "$DIR" -DCMAKE_BUILD_TYPE=Fuzz \
        -DCMAKE_CXX_FLAGS_FUZZ="-O1 -gline-tables-only" -DCMAKE_C_FLAGS_FUZZ="-O1 -gline-tables-only" \
        -DQUILLON_SANITIZER=address -DQUILLON_FUZZ=ON >"$DIR.configure.log" 2>&1 ||
        { cat "$DIR.configure.log"; exit 1; }
fi
cmake --build "$DIR" -j"$JOBS" --target "${TARGETS[@]}" >"$DIR.build.log" 2>&1 ||
    { grep -E 'error' "$DIR.build.log" | head -40; tail -20 "$DIR.build.log"; exit 1; }

status=0
mkdir -p "$DIR/findings"
for target in "${TARGETS[@]}"; do
    seeds=tests/fuzz/corpus/$target
    work=${FUZZ_WORK_DIR:-$DIR/corpus}/$target
    mkdir -p "$work"
    log=$DIR/$target.log
    # Leaks count as findings; an input slower than 10 s is one too.
    if ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:allocator_may_return_null=1" \
        UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1" \
        "$DIR/tests/fuzz/$target" -max_total_time="$SECONDS_PER_TARGET" -timeout=10 \
        -rss_limit_mb=2048 -max_len=16384 -print_final_stats=1 \
        -artifact_prefix="$DIR/findings/$target-" "$work" "$seeds" >"$log" 2>&1; then
        runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
        units=$(ls "$work" | wc -l)
        echo "$target: ${runs:-?} runs in ${SECONDS_PER_TARGET} s, corpus $units inputs (+$(ls "$seeds" | wc -l) seeds), no finding"
    else
        echo "$target: FINDING (log: $log)"
        grep -E 'ERROR|SUMMARY|runtime error|==ERROR|broken|changed|reads back' "$log" | head -10
        ls "$DIR/findings" | grep "^$target-" | head -3
        status=1
    fi
done
exit $status
