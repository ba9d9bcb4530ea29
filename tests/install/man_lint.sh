#!/usr/bin/env bash
# Lints the manual pages with mandoc at its strictest level.  A reference to
# one of our own pages is not reported as missing: it is checked here instead.
# usage: man_lint.sh PAGE...
set -euo pipefail
if ! command -v mandoc >/dev/null 2>&1; then
    echo "FAILED: mandoc is not installed (scripts/install_deps.sh installs it)."
    exit 1
fi
names=()
for page in "$@"; do
    names+=("$(basename "$page" .1)")
done
status=0
for page in "$@"; do
    report=$(mandoc -Tlint -W style "$page" 2>&1 || true)
    for name in "${names[@]}"; do
        report=$(grep -v "referenced manual not found: Xr $name 1" <<<"$report" || true)
    done
    if [ -n "$report" ]; then
        echo "$report"
        status=1
    fi
    for reference in $(sed -n 's/^\.Xr \([^ ]*\) 1.*/\1/p' "$page"); do
        [[ " ${names[*]} " == *" $reference "* ]] || { echo "$page: unknown page $reference(1)"; status=1; }
    done
done
[ $status = 0 ] && echo "PASSED: $# pages lint clean"
exit $status
