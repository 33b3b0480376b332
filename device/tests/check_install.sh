#!/usr/bin/env bash
# The installed package as a new user meets it.
#
# Without flags: runs the commands of the README's Installing section as written, in a scratch
# folder that holds the source's device/ and the build tree as build/normal, with a temporary
# HOME (so the prefix ~/qvx3 and the simulator's default state file are the test's own) and no
# loader variables. Left out: the two commands that build build/normal (this test is part of
# that build), and the line that names a real adapter's folder in LD_LIBRARY_PATH, which is run
# with the scripted adapter's folder in its place and must reach that adapter.
#
# With flags (the sanitizer build, whose libraries need the sanitizers in every program):
# installs into ~/qvx3 and builds the C example with find_package(QVX3) and with pkg-config,
# each with the flags, and runs both, again without loader variables.
#
# Usage: check_install.sh <source dir> <build dir> <libdir> <scripted adapter dir> [flags]
#   libdir   the installed library directory, relative to the prefix
set -euo pipefail
source=$1 build=$2 libdir=$3 scripted=$4 flags=${5:-}

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
work=$tmp/work
mkdir -p "$work/build" "$tmp/home"
ln -s "$source/device" "$work/device"
ln -s "$build" "$work/build/normal"
cd "$work"

# A new user's environment: nothing points at the package, and the simulator's state file goes
# to the temporary HOME.
unset LD_LIBRARY_PATH LD_PRELOAD PKG_CONFIG_PATH CMAKE_PREFIX_PATH
unset BXA7_SIM_STATE BXA7_SIM_FAIL BXA7_SIM_TRACE BXA7_SIM_VERSION XDG_STATE_HOME
export HOME=$tmp/home

found='QVX-3 found, firmware version 1-02'
fail() { echo "FAIL: $*"; exit 1; }
expect() { # expect LOG COUNT TEXT: TEXT appears COUNT times as a line of LOG
    local n
    n=$(grep -cxF "$3" "$1" || true)
    [ "$n" -eq "$2" ] || fail "\"$3\" printed $n times, not $2"
}

if [ -z "$flags" ]; then
    # The section's indented lines, a command continued with a backslash kept together.
    awk '/^## / { on = ($0 == "## Installing") } on && /^    / { print substr($0, 5) }' \
        "$source/README.md" > "$tmp/section"
    [ -s "$tmp/section" ] || fail "no commands in the README's Installing section"
    grep -v -e '^cmake -S \. -B build/normal' -e '^cmake --build build/normal' \
        -e '^LD_LIBRARY_PATH=' "$tmp/section" > "$tmp/commands.sh"
    echo "== the README's installing commands"
    cat "$tmp/commands.sh"
    echo "=="
    bash -euo pipefail "$tmp/commands.sh" > "$tmp/log" 2>&1 || { cat "$tmp/log"; fail "a command failed"; }
    cat "$tmp/log"
    expect "$tmp/log" 1 "Firmware version: 1-02"
    expect "$tmp/log" 2 "$found"

    # A program that loads the installed device library by its full path, as Python's ctypes
    # does, finds the adapter library beside it.
    cc -std=c11 -x c - -o load-by-path -ldl <<'PROGRAM'
#include <dlfcn.h>
#include <stdio.h>
int main(int argc, char **argv) {
    void *library = argc > 1 ? dlopen(argv[1], RTLD_NOW) : NULL;
    if (!library) { printf("%s\n", dlerror()); return 1; }
    printf("loaded\n");
    return 0;
}
PROGRAM
    ./load-by-path "$HOME/qvx3/$libdir/libQVX-3.so" || fail "libQVX-3.so loaded by its path"

    # A real adapter library named in LD_LIBRARY_PATH comes before the run path.
    real=$(grep '^LD_LIBRARY_PATH=' "$tmp/section") || fail "no LD_LIBRARY_PATH line"
    folder=${real#LD_LIBRARY_PATH=}
    folder=${folder%% *}
    echo "== $real, with $scripted for $folder"
    printf 'v\033' | bash -c "${real/"$folder"/"$scripted"}" > "$tmp/real" 2>&1 || true
    cat "$tmp/real"
    grep -q '^Error at QVX_3_FW_Ver: ' "$tmp/real" ||
        fail "the console did not use the adapter library named in LD_LIBRARY_PATH"
    exit 0
fi

prefix=$HOME/qvx3
cmake --install "$build" --prefix "$prefix" > "$tmp/install.log"

echo "== find_package(QVX3)"
cmake -S device/tests/c_example -B build/example -G Ninja -DCMAKE_PREFIX_PATH="$prefix" \
    -DCMAKE_C_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS="$flags" > "$tmp/configure.log" ||
    { cat "$tmp/configure.log"; exit 1; }
cmake --build build/example
build/example/qvx3_example | tee "$tmp/log"

echo "== pkg-config qvx3"
export PKG_CONFIG_PATH=$prefix/$libdir/pkgconfig
# shellcheck disable=SC2046,SC2086 # the flags are lists of words
cc -std=c11 -Wall -Wextra -pedantic -Werror $flags $(pkg-config --cflags qvx3) \
    device/tests/c_example/example.c -o pkg-config-example \
    $(pkg-config --libs qvx3) -Wl,-rpath,"$(pkg-config --variable=libdir qvx3)"
./pkg-config-example | tee -a "$tmp/log"
expect "$tmp/log" 2 "$found"
