#!/usr/bin/env bash
# Installs the build tree into a temporary prefix, then builds the C example against the
# installed tree twice, with find_package(QVX3) and with pkg-config, and runs both programs.
# Usage: check_install.sh <build dir> <example source dir> <libdir> <adapter dir> [flags]
#   libdir      the installed library directory, relative to the prefix
#   adapter dir where the adapter library is found while it is not installed with the rest
#               (empty once it is)
#   flags       extra compile and link flags for the example (the sanitizers of the build)
set -euo pipefail
build=$1 example=$2 libdir=$3 adapter=$4 flags=${5:-}

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
prefix=$tmp/prefix

cmake --install "$build" --prefix "$prefix" > "$tmp/install.log"

# The device library needs the adapter library at link time (-rpath-link) and at load time.
link_flags=$flags
library_path=$prefix/$libdir
if [ -n "$adapter" ]; then
    link_flags+=" -Wl,-rpath-link,$adapter"
    library_path+=:$adapter
fi
export LD_LIBRARY_PATH=$library_path
expected='^QVX-3 1\.00$'

echo "== find_package(QVX3)"
cmake -S "$example" -B "$tmp/cmake" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" \
    -DCMAKE_C_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS="$link_flags" > "$tmp/configure.log" ||
    { cat "$tmp/configure.log"; exit 1; }
cmake --build "$tmp/cmake"
"$tmp/cmake/qvx3_example" | tee "$tmp/cmake.out"
grep -q "$expected" "$tmp/cmake.out"

echo "== pkg-config qvx3"
export PKG_CONFIG_PATH="$prefix/$libdir/pkgconfig"
cc_flags=$(pkg-config --cflags qvx3)
ld_flags=$(pkg-config --libs qvx3)
# shellcheck disable=SC2086 # the flags are lists of words
cc -std=c11 -Wall -Wextra -pedantic -Werror $flags $cc_flags "$example/example.c" \
    -o "$tmp/pkg-config-example" $link_flags $ld_flags
"$tmp/pkg-config-example" | tee "$tmp/pkg-config.out"
grep -q "$expected" "$tmp/pkg-config.out"
