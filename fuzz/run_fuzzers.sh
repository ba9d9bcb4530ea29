#!/usr/bin/env bash
# Builds the fuzz targets with clang and runs them one after another.
#
#   fuzz/run_fuzzers.sh SECONDS [TARGET...]   fuzz each target for SECONDS
#   fuzz/run_fuzzers.sh --regress [TARGET...] run every input of each target's
#                                             corpus once (what CI does)
#
# Without TARGET names every fuzz_* target runs.  Fuzzing starts from the
# committed corpus fuzz/corpus/<target>/ and keeps what it finds in
# fuzz/corpus-work/<target>/ (not committed); crash files and logs go to
# fuzz/corpus-work/artifacts/<target>/ and fuzz/corpus-work/logs/.  A crash
# file that shows a fault belongs in fuzz/corpus/<target>/ once understood,
# so that the regression run keeps the fault fixed.
#
# Environment: ZARK_FUZZ_BUILD (build directory, default build/fuzz),
# ZARK_FUZZ_JOBS (build jobs, default 2), ZARK_FUZZ_NO_BUILD=1 (run what is
# built, so that sources can change during a long run), ZARK_FUZZ_FLAGS (further libFuzzer
# flags for fuzzing, e.g. "-fork=1 -ignore_crashes=1" to go on past a known
# fault; every crash file is then kept).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

usage() {
    echo "usage: $0 SECONDS [TARGET...] | $0 --regress [TARGET...]"
    exit 2
}
[ $# -ge 1 ] || usage
mode=$1
shift
if [ "$mode" != --regress ] && ! [[ "$mode" =~ ^[0-9]+$ && "$mode" -gt 0 ]]; then
    usage
fi

build=${ZARK_FUZZ_BUILD:-build/fuzz}
case $build in /*) ;; *) build=$root/$build ;; esac
build_targets() {
    if [ ! -f "$build/CMakeCache.txt" ]; then
        mkdir -p "$build"
        if ! CC=clang CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
            -DZARK_BUILD_FUZZ=ON -DZARK_BUILD_TESTS=OFF -DZARK_WERROR="${ZARK_WERROR:-OFF}" >"$build/fuzz_configure.log" 2>&1; then
            cat "$build/fuzz_configure.log"
            rm -f "$build/CMakeCache.txt"
            return 1
        fi
    fi
    if ! cmake --build "$build" -j"${ZARK_FUZZ_JOBS:-2}" --target fuzz_targets >"$build/fuzz_build.log" 2>&1; then
        tail -n 40 "$build/fuzz_build.log"
        echo "Building the fuzz targets failed; log: $build/fuzz_build.log"
        return 1
    fi
}
[ "${ZARK_FUZZ_NO_BUILD:-0}" = 1 ] || build_targets

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
    for source in fuzz/fuzz_*.cpp; do
        name=$(basename "$source" .cpp)
        [ "$name" = fuzz_support ] || targets+=("$name")
    done
fi

work=$root/fuzz/corpus-work
failed=()
for target in "${targets[@]}"; do
    binary=$build/fuzz/$target
    corpus=$root/fuzz/corpus/$target
    if [ ! -x "$binary" ] || [ ! -d "$corpus" ]; then
        echo "$target: no such fuzz target or corpus"
        failed+=("$target")
        continue
    fi
    if [ "$mode" = --regress ]; then
        count=$(find "$corpus" -type f | wc -l)
        if "$binary" -runs=0 -timeout=30 -artifact_prefix="$build/$target-" "$corpus" >"$build/$target.regress.log" 2>&1; then
            echo "$target: $count corpus inputs replayed, no fault"
        else
            echo "$target: FAULT replaying the corpus; log: $build/$target.regress.log"
            grep -E 'Running: |property broken|ERROR|runtime error|SUMMARY|Test unit written' \
                "$build/$target.regress.log" || tail -n 30 "$build/$target.regress.log"
            failed+=("$target")
        fi
        continue
    fi
    mkdir -p "$work/$target" "$work/artifacts/$target" "$work/logs"
    log=$work/logs/$target.log
    status=0
    dictionary=()
    [ ! -f "$root/fuzz/$target.dict" ] || dictionary=(-dict="$root/fuzz/$target.dict")
    # shellcheck disable=SC2086 # the flags are meant to split
    "$binary" -max_total_time="$mode" -timeout=30 -rss_limit_mb=2048 -print_final_stats=1 \
        "${dictionary[@]}" ${ZARK_FUZZ_FLAGS:-} -artifact_prefix="$work/artifacts/$target/" "$work/$target" "$corpus" \
        >"$log" 2>&1 || status=$?
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
    rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -n 1)
    if [ -z "$runs" ]; then
        # Fork mode reports as it goes: "#RUNS: cov: ... exec/s: RATE ...".
        last=$(grep -E '^#[0-9]+: cov:' "$log" | tail -n 1 || true)
        runs=$(sed -n 's/^#\([0-9]*\):.*/\1/p' <<<"$last")
        rate=$(sed -n 's/.* exec\/s:\{0,1\} \([0-9]*\).*/\1/p' <<<"$last")
        crashes=$(sed -n 's/.*oom\/timeout\/crash: \([0-9/]*\).*/\1/p' <<<"$last")
        [ -z "$crashes" ] || echo "$target: out-of-memory/time-out/crash count $crashes"
    fi
    if [ "$status" -eq 0 ]; then
        echo "$target: ${runs:-?} executions in $mode s, ${rate:-?} per second, no fault"
    else
        echo "$target: FAULT after ${runs:-?} executions; log: $log"
        echo "$target: $(find "$work/artifacts/$target" -type f | wc -l) files in $work/artifacts/$target/"
        failed+=("$target")
    fi
done

if [ ${#failed[@]} -gt 0 ]; then
    echo "Faults in: ${failed[*]}"
    exit 1
fi
