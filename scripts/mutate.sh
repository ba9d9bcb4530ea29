#!/usr/bin/env bash
# Mutation check: applies each mutation of the lists to the source, one at a
# time, rebuilds and runs the tests named for it; a mutation the tests do not
# catch is reported as survived.  The source is restored after each one.
#
#   scripts/mutate.sh [-b build-dir] [-n] [-m] [-x regex] list.txt...
#   scripts/mutate.sh tests/mutations/<list>.txt [build-dir]
#
# e.g. scripts/mutate.sh -b build/mutate tests/mutations/*.txt
#
# A list holds one mutation a line, fields separated by " | ":
#   path | sed expression | ctest regular expression
# Lines starting with "#" and blank lines are skipped.  The regular
# expression selects CTest names: unit tests "<Suite>.<Test>", golden cases
# "Cases/GoldenCase.MatchesGoldenOutput/<folder>_<case>" and the same under
# "Cases/GoldenCaseOverTcp", so "Cases/" names them all; the replay of a fuzz
# corpus "corpus.<target>".  Exit status 1 when a
# mutation survived, did not apply or does not build.
#
# The source tree is mutated in place: do not edit it, the lists or this
# script while a run goes on.
# -n only checks that each mutation applies, and shows the lines it changes.
# -x leaves out the tests whose names match the regex, as if they were
# deleted: the way to see, before trimming tests, that the rest still catch
# every mutation.
# -m names, for each mutation, every unit test that fails (all of them run,
# not only up to the first failure) and, when one or none does, whether the
# golden cases catch it too: a test that is never the only catcher of a
# mutation is the first to look at when trimming.
# Each mutation rebuilds only the program, the node and the test programs
# whose tests its expression selects.
set -uo pipefail
cd "$(dirname "$0")/.." || exit 2

usage() { echo "usage: $0 [-b build-dir] [-n] [-m] [-x regex] list.txt... (or: $0 list.txt build-dir)"; exit 2; }
build=""
left_out='^$'
dry_run=0
matrix=0
lists=()
while [ $# -gt 0 ]; do
    case $1 in
    -b | --build) [ $# -ge 2 ] || usage; build=$2; shift 2 ;;
    -n | --dry-run) dry_run=1; shift ;;
    -m | --matrix) matrix=1; shift ;;
    -x | --leave-out) [ $# -ge 2 ] || usage; left_out=$2; shift 2 ;;
    -h | --help) usage ;;
    *) lists+=("$1"); shift ;;
    esac
done
# The older form: one list, then the build directory.
if [ -z "$build" ] && [ ${#lists[@]} -eq 2 ] && [ ! -f "${lists[1]}" ]; then
    build=${lists[1]}
    lists=("${lists[0]}")
fi
build=${build:-build/mutate}
[ ${#lists[@]} -gt 0 ] || usage
for list in "${lists[@]}"; do
    [ -f "$list" ] || { echo "no such list: $list"; exit 2; }
done

if [ "$dry_run" -eq 1 ]; then
    status=0
    for list in "${lists[@]}"; do
        while IFS= read -r line; do
            [[ -z "$line" || "$line" == \#* ]] && continue
            path=$(echo "$line" | awk -F' [|] ' '{print $1}')
            expression=$(echo "$line" | awk -F' [|] ' '{print $2}')
            if ! sed "$expression" "$path" >/dev/null; then
                echo "BAD EXPRESSION  $path: $expression"
                status=1
                continue
            fi
            changed=$(sed "$expression" "$path" | diff "$path" - | grep -c '^[<>]')
            if [ "$changed" -eq 0 ]; then
                echo "NOT APPLIED  $path: $expression"
                status=1
            else
                echo "applies ($changed lines)  $path: $expression"
                sed "$expression" "$path" | diff "$path" - | grep '^[<>]' | cut -c1-160
            fi
        done <"$list"
    done
    exit $status
fi

jobs=$(nproc)
# Optimised as the tests are, without debug information: rebuilds are quicker.
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O2 -DNDEBUG" \
    "-DCMAKE_C_FLAGS_RELWITHDEBINFO=-O2 -DNDEBUG" -DZARK_WERROR=ON -DZARK_BUILD_BENCH=OFF \
    -DZARK_BUILD_FUZZ=OFF >/dev/null || { echo "cannot configure $build"; exit 2; }
cmake --build "$build" -j"$jobs" >/dev/null || { echo "the unmutated tree does not build"; exit 2; }

# The test programs behind each test, from CTest's own listing: a mutation
# then rebuilds those only.  Tests that run something else (scripts) need the
# whole build.
declare -A targets_of
test_targets() {
    local regex=$1
    [ -n "$regex" ] || return 0
    if [ -z "${targets_of[$regex]+set}" ]; then
        targets_of[$regex]=$(cd "$build" && ctest --show-only=json-v1 -R "$regex" 2>/dev/null |
            python3 -c '
import json, os, sys
names = set()
for test in json.load(sys.stdin).get("tests", []):
    command = test.get("command") or [""]
    name = os.path.basename(command[0])
    names.add(name if name.startswith("test_") else "all")
print(" ".join(sorted(names)))')
    fi
    echo "${targets_of[$regex]}"
}

rebuild() {
    local targets
    targets=$(test_targets "$1")
    if [ -z "$targets" ] || [[ " $targets " == *" all "* ]]; then
        cmake --build "$build" -j"$jobs" >/dev/null 2>&1
    else
        # shellcheck disable=SC2086  # one target a word
        cmake --build "$build" -j"$jobs" --target spacewire_zark_software spacewire_zark_node $targets \
            >/dev/null 2>&1
    fi
}

# The golden cases the regular expression selects: true when they pass.
run_goldens() {
    (cd "$build" && timeout 1800 ctest -j"$jobs" --stop-on-failure --no-tests=ignore -R "$1" \
        -E "^([^C]|C[^a]|Ca[^s]|Cas[^e]|Case[^s]|Cases[^/])|$left_out" >/dev/null 2>&1)
}

# True when the tests pass.  The unit tests go first, alone, since they are
# quick and catch most mutations; the golden cases ("Cases/...") then run
# only for what they leave.  With -m, sets failed and goldens for the report.
run_tests() {
    if [ "$matrix" -eq 0 ]; then
        (cd "$build" &&
            timeout 900 ctest -j"$jobs" --stop-on-failure --no-tests=ignore -R "$1" -E "^Cases/|$left_out" >/dev/null 2>&1) &&
            run_goldens "$1"
        return
    fi
    # The unit tests that failed, from CTest's closing list.
    failed=$(cd "$build" && timeout 900 ctest -j"$jobs" --no-tests=ignore -R "$1" -E "^Cases/|$left_out" 2>&1 |
        sed -n '/The following tests FAILED:/,$s/^[[:space:]]*[0-9]* - \([^ ]*\) .*/\1/p' | paste -sd ' ')
    goldens=""
    if [ "$(wc -w <<<"$failed")" -le 1 ]; then
        if run_goldens "$1"; then goldens="passed"; else goldens="caught"; fi
    fi
    [ -z "$failed" ] && [ "$goldens" = "passed" ]
}

survived=0
caught=0
failed=""  # with -m: the unit tests that failed for the last mutation
goldens="" # with -m: "caught", "passed", or empty when they did not run
backup=""
path=""
# Interrupted, the file being mutated is put back as it was.
trap '[ -n "$backup" ] && cp "$backup" "$path"; exit 130' INT TERM
for list in "${lists[@]}"; do
    while IFS= read -r line; do
        [[ -z "$line" || "$line" == \#* ]] && continue
        path=$(echo "$line" | awk -F' [|] ' '{print $1}')
        expression=$(echo "$line" | awk -F' [|] ' '{print $2}')
        tests=$(echo "$line" | awk -F' [|] ' '{print $3}')
        if [ ! -f "$path" ] || [ -z "$expression" ] || [ -z "$tests" ]; then
            echo "MALFORMED LINE  $line"
            survived=$((survived + 1))
            continue
        fi
        backup=$(mktemp)
        cp "$path" "$backup"
        sed -i "$expression" "$path"
        if cmp -s "$path" "$backup"; then
            echo "NOT APPLIED  $path: $expression"
            survived=$((survived + 1))
        elif [ -z "$(test_targets "$tests")" ]; then
            echo "NO TESTS MATCH  $path: $tests"
            survived=$((survived + 1))
        elif ! rebuild "$tests"; then
            # Not a mutant worth the name: write one that builds.
            echo "DOES NOT BUILD  $path: $expression"
            survived=$((survived + 1))
        elif run_tests "$tests"; then
            echo "SURVIVED  $path: $expression"
            survived=$((survived + 1))
        else
            echo "caught  $path: $expression"
            [ "$matrix" -eq 0 ] || echo "        unit tests failing: ${failed:-none}; golden cases: ${goldens:-not run}"
            caught=$((caught + 1))
        fi
        cp "$backup" "$path"
        rm -f "$backup"
        backup=""
    done <"$list"
done
cmake --build "$build" -j"$jobs" >/dev/null
echo "$caught caught, $survived survived or not applied"
[ "$survived" -eq 0 ]
