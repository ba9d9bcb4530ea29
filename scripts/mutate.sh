#!/usr/bin/env bash
# Mutation check: applies each mutation of a list to the source, one at a
# time, rebuilds and runs the tests named for it; a mutation the tests do not
# catch is reported as survived.  The source is restored after each one.
#
#   scripts/mutate.sh tests/mutations/<list>.txt [build-dir]
#
# A list holds one mutation a line, fields separated by " | ":
#   path | sed expression | ctest regular expression
# Lines starting with "#" and blank lines are skipped.  The regular
# expression selects CTest names (golden cases: "Golden").  Exit status 1 when
# a mutation survived, did not apply or does not build.
set -uo pipefail
cd "$(dirname "$0")/.."
list=$1
build=${2:-build/mutate}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZARK_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" >/dev/null || { echo "the unmutated tree does not build"; exit 2; }

survived=0
caught=0
backup=""
path=""
# Interrupted, the file being mutated is put back as it was.
trap '[ -n "$backup" ] && cp "$backup" "$path"; exit 130' INT TERM
while IFS= read -r line; do
    [[ -z "$line" || "$line" == \#* ]] && continue
    path=$(echo "$line" | awk -F' [|] ' '{print $1}')
    expression=$(echo "$line" | awk -F' [|] ' '{print $2}')
    tests=$(echo "$line" | awk -F' [|] ' '{print $3}')
    backup=$(mktemp)
    cp "$path" "$backup"
    sed -i "$expression" "$path"
    if cmp -s "$path" "$backup"; then
        echo "NOT APPLIED  $path: $expression"
        survived=$((survived + 1))
    elif ! cmake --build "$build" -j"$(nproc)" >/dev/null 2>&1; then
        # Not a mutant worth the name: write one that builds.
        echo "DOES NOT BUILD  $path: $expression"
        survived=$((survived + 1))
    elif (cd "$build" && timeout 900 ctest -j"$(nproc)" --no-tests=error -R "$tests" >/dev/null 2>&1); then
        echo "SURVIVED  $path: $expression"
        survived=$((survived + 1))
    else
        echo "caught  $path: $expression"
        caught=$((caught + 1))
    fi
    cp "$backup" "$path"
    rm -f "$backup"
    backup=""
done <"$list"
cmake --build "$build" -j"$(nproc)" >/dev/null
echo "$caught caught, $survived survived or not applied"
[ "$survived" -eq 0 ]
