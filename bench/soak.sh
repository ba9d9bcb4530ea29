#!/usr/bin/env bash
# Soak-sized runs of the program itself, measured from outside with
# /usr/bin/time: wall time, transactions a second (of wall time and of CPU
# time, which a busy machine disturbs less) and peak resident memory
# (program and device library together) for
#   rmap_loop        a loop of N four-byte RMAP reads (default 10,000,000)
#   rmap_flat        N/10 RMAP reads and acknowledged writes without loops
#   spacewire_loop   L n:1 t:N/2; S d:1; on the loopback
#
#   bench/soak.sh [-n N] [program]
#
# The program defaults to build/normal/spacewire_zark_software; its output
# goes to a scratch directory that is removed at the end.
set -euo pipefail
cd "$(dirname "$0")/.."
count=10000000
if [ "${1:-}" = "-n" ]; then
    count=$2
    shift 2
fi
program=$(realpath "${1:-build/normal/spacewire_zark_software}")
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

printf 'l;\nTimesToRepeat: n%d; NumberToRepeat: 1;\n\nr;\nDestinationAddress: FE; SourceAddress: 20;\nIncrementTarget: yes; Key: 0; TransactionIdentifier: 1; Address: 2000;\nExtendedReadWriteAddress: 0; Length: 4;\n' \
    "$count" >"$scratch/rmap_loop.txt"
flat=$((count / 10))
{
    printf 'w;\nDestinationAddress: FE; SourceAddress: 20; VerifyBeforeWrite: no;\nAcknowledge: yes; IncrementTarget: yes; Key: 0; TransactionIdentifier: 0;\nReadWriteAddress: 1000; ExtendedReadWriteAddress: 0; Data: 01 02 03 04;\n\n'
    awk -v n="$flat" 'BEGIN { for (i = 1; i < n; i++) printf "%s;\nTransactionIdentifier: %x;\n\n", (i % 2 ? "r" : "w"), i % 65536 }'
} >"$scratch/rmap_flat.txt"
printf 'L n:1 t:n%d; S d:1;\n' $((count / 2)) >"$scratch/spacewire_loop.txt"

run() {
    local name=$1 mode=$2 commands=$3 sim=$4
    (cd "$scratch" && VANTOR_SIM="$sim" /usr/bin/time -f '%e %U %S %M' -o time.txt \
        "$program" -mode="$mode" -command_list="$name.txt" -output=out.txt >console.txt 2>&1 </dev/null) || true
    read -r seconds user system kilobytes <"$scratch/time.txt"
    tail -1 "$scratch/console.txt"
    awk -v n="$name" -v c="$commands" -v s="$seconds" -v u="$user" -v y="$system" -v k="$kilobytes" 'BEGIN {
        printf "%-15s %9d commands %7.2f s %9.0f a second (%9.0f a CPU second) %6.0f MB peak %5.0f bytes a command\n",
               n, c, s, c / s, c / (u + y), k / 1024, k * 1024 / c }'
    rm -f "$scratch/out.txt"
}

run rmap_loop rcs "$count" ""
run rmap_flat rcs "$flat" ""
run spacewire_loop scs $((count / 2)) "far_end=loopback"
