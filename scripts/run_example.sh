#!/usr/bin/env bash
# Builds the program and runs it against the simulated adapter.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install_deps.sh
cmake -S . -B build/normal -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/normal -j"$(nproc)" --target spacewire_zark_software
exec build/normal/spacewire_zark_software "$@"
