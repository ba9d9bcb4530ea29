#!/usr/bin/env bash
# Builds and runs every test twice: a normal build, and one with
# AddressSanitizer and UndefinedBehaviorSanitizer, where any finding fails.
set -euo pipefail
cd "$(dirname "$0")/.."
# The fuzz corpora are replayed too: clang and libFuzzer are installed for it.
export ZARK_WITH_FUZZ=${ZARK_WITH_FUZZ:-1}
# Our own builds treat warnings as errors (the fuzz build reads it too).
export ZARK_WERROR=ON
scripts/install_deps.sh

jobs=$(nproc)
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0:halt_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}

run_variant() {
    local dir=$1
    shift
    cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZARK_WERROR=ON "$@"
    cmake --build "$dir" -j"$jobs"
    (cd "$dir" && ctest --output-on-failure -j"$jobs")
}

run_variant build/normal -DZARK_SANITIZE=OFF -DZARK_BUILD_BENCH=ON
run_variant build/sanitize -DZARK_SANITIZE=ON -DZARK_BUILD_BENCH=OFF

# Where clang can build fuzz targets (ZARK_WITH_FUZZ=1 installs it), replay
# every fuzz corpus once, so that a fault a fuzzer found stays fixed.
if echo 'extern "C" int LLVMFuzzerTestOneInput(const char *, unsigned long) { return 0; }' |
    clang++ -x c++ -fsanitize=fuzzer - -o /dev/null >/dev/null 2>&1; then
    ZARK_FUZZ_JOBS=$jobs fuzz/run_fuzzers.sh --regress
else
    echo "No clang with libFuzzer: fuzz corpora not replayed (ZARK_WITH_FUZZ=1 installs it)."
fi
echo "All tests passed in both builds."
