#!/usr/bin/env bash
# Installs the build tree (cmake --install, or the Debian package unpacked with
# dpkg -x), moves the result elsewhere and runs the installed programs from
# there, so that they must find their libraries through their relative RPATH
# and not in the build tree.
#
# usage: installed_tree_test.sh prefix|package BUILD_DIR MAJOR.MINOR VERSION BINDIR LIBDIR INCLUDEDIR MANDIR DOCDIR
set -euo pipefail
kind=$1 build=$2 banner_version=$3 version=$4 bindir=$5 libdir=$6 includedir=$7 mandir=$8 docdir=$9
export LC_ALL=C
unset LD_LIBRARY_PATH VANTOR_SIM

if [ "$kind" = package ] && ! command -v dpkg-deb >/dev/null 2>&1; then
    echo "SKIPPED: dpkg-deb is not installed, so the Debian package cannot be built (scripts/install_deps.sh installs it)."
    exit 77
fi

scratch=$(mktemp -d "${TMPDIR:-/tmp}/zark_install.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
fail() {
    echo "FAILED: $*"
    exit 1
}

if [ "$kind" = prefix ]; then
    cmake --install "$build" --prefix "$scratch/first" >/dev/null
    mv "$scratch/first" "$scratch/moved"
    root=$scratch/moved
else
    cpack -G DEB --config "$build/CPackConfig.cmake" -B "$scratch/package" >"$scratch/cpack.log" 2>&1 ||
        { cat "$scratch/cpack.log"; fail "cpack -G DEB"; }
    debs=("$scratch"/package/*.deb)
    [ ${#debs[@]} = 1 ] && [ -f "${debs[0]}" ] || fail "expected one .deb, found: ${debs[*]}"
    deb=${debs[0]}
    echo "package $(basename "$deb"): $(stat -c %s "$deb") bytes"
    dpkg-deb --field "$deb" Package Version Maintainer Depends Description > "$scratch/fields"
    cat "$scratch/fields"
    grep -qx "Package: spacewire-zark-software" "$scratch/fields" || fail "package name"
    grep -qx "Version: $version" "$scratch/fields" || fail "package version"
    grep -q "^Maintainer: .* <.*>$" "$scratch/fields" || fail "maintainer"
    for dependency in libc6 libstdc++6 libgcc-s1; do
        grep -q "^Depends:.*\b$dependency\b" "$scratch/fields" || fail "no dependency on $dependency"
    done
    grep -q "^Description: .*SpaceWire" "$scratch/fields" || fail "description"
    dpkg -x "$deb" "$scratch/unpacked"
    mv "$scratch/unpacked" "$scratch/elsewhere"
    root=$scratch/elsewhere/usr
fi

for file in "$bindir/spacewire_zark_software" "$bindir/spacewire_zark_node" \
    "$libdir/libVantorAPI.so" "$libdir/libquill_rmap.so" \
    "$includedir/spacewire_zark/vantor_api.h" "$includedir/spacewire_zark/quill_rmap.h" \
    "$mandir/man1/spacewire_zark_software.1.gz" "$mandir/man1/spacewire_zark_node.1.gz" \
    "$docdir/examples/rmap_walkthrough.txt" "$docdir/README.md" "$docdir/command-lists.md" \
    "$docdir/capture.md" "$docdir/wireshark/spacewire.lua"; do
    [ -f "$root/$file" ] || fail "$file is not installed"
done
program=$root/$bindir/spacewire_zark_software
node=$root/$bindir/spacewire_zark_node

# Every run-time search path must be relative to the file itself.
for file in "$program" "$node" "$root/$libdir/libVantorAPI.so"; do
    paths=$(readelf -d "$file" | sed -n 's/.*(R\(UN\)\{0,1\}PATH).*\[\(.*\)\]/\2/p')
    [ -n "$paths" ] || fail "$file has no RPATH"
    for path in ${paths//:/ }; do
        case $path in '$ORIGIN'*) ;; *) fail "$file searches $path" ;; esac
    done
done
for file in "$program" "$node"; do
    ldd "$file" > "$scratch/ldd"
    ! grep -q "not found" "$scratch/ldd" || { cat "$scratch/ldd"; fail "$file misses a library"; }
    ! grep -qF "$build" "$scratch/ldd" || { cat "$scratch/ldd"; fail "$file uses the build tree"; }
done
for library in libVantorAPI.so libquill_rmap.so; do
    found=$(ldd "$program" | awk -v name="$library" '$1 == name { print $3 }')
    [ -n "$found" ] && [ "$(readlink -f "$found")" = "$(readlink -f "$root/$libdir/$library")" ] ||
        fail "the program loads $library from '$found', not from the installed tree"
done

"$program" -help </dev/null > "$scratch/help"
# The banner shows the version as a number with two decimals, as printf does.
grep -q "SpaceWire ZARK Software Version $(printf %1.2f "$banner_version")\$" "$scratch/help" || fail "banner version"
grep -q "^SYNOPSIS" "$scratch/help" || fail "-help prints no manual"
[ "$("$node" --version)" = "spacewire_zark_node $version" ] || fail "node --version"
zcat "$root/$mandir/man1/spacewire_zark_software.1.gz" | grep -q "^\.Os SpaceWire ZARK Software $version\$" ||
    fail "manual page version"

# A write and a read back against the simulated target of the default device 0.
cd "$scratch"
printf '%s\n' 'w;' 'DestinationAddress: FE;' 'SourceAddress: 20;' 'VerifyBeforeWrite: true;' \
    'Acknowledge: true;' 'IncrementTarget: true;' 'DestinationKey: 0;' 'TransactionIdentifier: 1;' \
    'ReadWriteAddress: 2000;' 'ExtendedReadWriteAddress: 0;' 'Data: 12 34;' '' \
    'r;' 'TransactionIdentifier: 2;' > list.txt
status=0
"$program" -strict -mode=rcs -command_list=list.txt -output=out.txt -timeout=1 </dev/null > console.txt || status=$?
[ $status = 0 ] || { cat console.txt out.txt; fail "the RMAP list ended with status $status"; }
grep -q "^Data: 12 34 *$" out.txt || { cat out.txt; fail "the read did not return the written bytes"; }
echo "PASSED: the installed tree runs from $root"
