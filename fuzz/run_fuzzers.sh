#!/usr/bin/env bash
# Builds the fuzz targets with clang and runs them one after another.
#
#   fuzz/run_fuzzers.sh SECONDS [TARGET...]    fuzz each target for SECONDS
#   fuzz/run_fuzzers.sh --regress [TARGET...]  replay each target's corpus once
#
# Fuzzing starts from fuzz/corpus/<target>/ and keeps what it finds, its logs
# and crash files in fuzz/corpus-work/ (not committed); a crash file belongs in
# fuzz/corpus/<target>/ once its fault is understood, so that it stays fixed.
# Environment: ZARK_FUZZ_BUILD (default build/fuzz), ZARK_FUZZ_JOBS (default
# 2), ZARK_FUZZ_FLAGS (further libFuzzer flags, e.g. "-fork=1 -ignore_crashes=1").
set -euo pipefail
cd "$(dirname "$0")/.."
mode=${1:-}
[[ $mode = --regress || $mode =~ ^[1-9][0-9]*$ ]] || { echo "usage: $0 SECONDS|--regress [TARGET...]"; exit 2; }
shift
build=$(realpath -m "${ZARK_FUZZ_BUILD:-build/fuzz}")
[ -f "$build/CMakeCache.txt" ] || CC=clang CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DZARK_BUILD_FUZZ=ON -DZARK_BUILD_TESTS=OFF -DZARK_WERROR="${ZARK_WERROR:-OFF}" >/dev/null
cmake --build "$build" -j"${ZARK_FUZZ_JOBS:-2}" --target fuzz_targets >"$build/fuzz_build.log" 2>&1 ||
    { tail -n 40 "$build/fuzz_build.log"; exit 1; }

[ $# -gt 0 ] || set -- $(basename -s .cpp fuzz/fuzz_*.cpp)
work=$PWD/fuzz/corpus-work
failed=()
for target in "$@"; do
    if [ "$mode" = --regress ]; then
        log=$build/$target.regress.log
        flags=(-runs=0 -artifact_prefix="$build/$target-")
    else
        mkdir -p "$work/$target" "$work/artifacts/$target" "$work/logs"
        log=$work/logs/$target.log
        flags=(-max_total_time="$mode" -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$work/artifacts/$target/" "$work/$target")
        [ ! -f "fuzz/$target.dict" ] || flags+=(-dict="fuzz/$target.dict")
    fi
    # shellcheck disable=SC2086 # ZARK_FUZZ_FLAGS is meant to split
    if "$build/fuzz/$target" -timeout=30 "${flags[@]}" ${ZARK_FUZZ_FLAGS:-} "fuzz/corpus/$target" >"$log" 2>&1; then
        echo "$target: no fault; $(grep -Eo '#[0-9]+.*exec/s: [0-9]+' "$log" | tail -n 1)"
    else
        echo "$target: FAULT; log: $log"
        grep -E 'property broken|ERROR|runtime error|SUMMARY|Test unit written' "$log" || tail -n 30 "$log"
        failed+=("$target")
    fi
done
[ ${#failed[@]} -eq 0 ] || { echo "Faults in: ${failed[*]}"; exit 1; }
