#!/usr/bin/env bash
# Builds the program and runs the example RMAP command list against the
# simulated adapter, without asking anything.  The read data of the list is
# appended to build/example/walkthrough.bin, which is shown at the end.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install_deps.sh
cmake -S . -B build/normal -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/normal -j"$(nproc)" --target spacewire_zark_software

mkdir -p build/example
cd build/example
rm -f walkthrough.bin
../normal/spacewire_zark_software -mode=rcs -command_list=../../examples/rmap_walkthrough.txt \
    -output= -timeout=1 "$@" </dev/null
if [ -f walkthrough.bin ]; then
    echo
    echo "Read data appended to build/example/walkthrough.bin:"
    od -An -tx1 walkthrough.bin
fi
