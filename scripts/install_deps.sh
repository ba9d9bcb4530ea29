#!/usr/bin/env bash
# Installs what the build and the tests need and a fresh machine may lack.
set -euo pipefail

missing=()
command -v cmake >/dev/null 2>&1 || missing+=(cmake)
command -v g++ >/dev/null 2>&1 || missing+=(g++)
command -v make >/dev/null 2>&1 || missing+=(make)
[ -f /usr/include/gtest/gtest.h ] || missing+=(libgtest-dev)
[ -f /usr/include/gmock/gmock.h ] || missing+=(libgmock-dev)
[ -f /usr/include/benchmark/benchmark.h ] || missing+=(libbenchmark-dev)
# The JSON library the JSON Lines writer is measured against.
[ -f /usr/include/nlohmann/json.hpp ] || missing+=(nlohmann-json3-dev)
# The manual pages are linted, and the Debian package is built and unpacked.
command -v mandoc >/dev/null 2>&1 || missing+=(mandoc)
command -v gzip >/dev/null 2>&1 || missing+=(gzip)
command -v dpkg-deb >/dev/null 2>&1 || missing+=(dpkg)
command -v dpkg-shlibdeps >/dev/null 2>&1 || missing+=(dpkg-dev)
command -v file >/dev/null 2>&1 || missing+=(file)
command -v readelf >/dev/null 2>&1 || missing+=(binutils)
# Captures are read back through the Wireshark dissector, by a Python script.
command -v python3 >/dev/null 2>&1 || missing+=(python3)
command -v tshark >/dev/null 2>&1 || missing+=(tshark)
if [ "${ZARK_WITH_FUZZ:-0}" = 1 ]; then
    command -v clang++ >/dev/null 2>&1 || missing+=(clang)
    ls /usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a >/dev/null 2>&1 || missing+=(libclang-rt-dev)
fi

if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    sudo_cmd=()
    [ "$(id -u)" = 0 ] || sudo_cmd=(sudo)
    export DEBIAN_FRONTEND=noninteractive
    # tshark asks whether users may capture; the tests only read files.
    echo "wireshark-common wireshark-common/install-setuid boolean false" |
        "${sudo_cmd[@]}" debconf-set-selections 2>/dev/null || true
    "${sudo_cmd[@]}" apt-get update -qq
    "${sudo_cmd[@]}" apt-get install -y -qq "${missing[@]}"
fi
