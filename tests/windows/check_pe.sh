#!/usr/bin/env bash
# Checks the Windows files of a build: the two DLLs export exactly the functions that their
# public headers declare and their .def files list, under plain names; every program and DLL
# imports only from the system and from QVX-3.dll and BXA-7.dll (no compiler runtime DLL), and
# imports those two libraries' functions by their plain names.
# Usage: check_pe.sh OBJDUMP BIN-DIR SOURCE-DIR
set -euo pipefail
objdump=$1 bin=$2 source=$3

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
status=0
fail() { echo "FAIL: $*"; status=1; }

# The names in a file's export table.
exports() {
    "$objdump" -p "$1" | awk '/^\[Ordinal\/Name Pointer\] Table/ { on = 1; next }
                              on && NF == 0 { on = 0 }
                              on { print $NF }' | sort
}

# "DLL function" for every import of a file, the DLL in lower case.
imports() {
    "$objdump" -p "$1" | awk '/^\tDLL Name: / { dll = tolower($3); next }
                              NF == 0 { dll = "" }
                              dll != "" && $1 ~ /^[0-9a-f]+$/ && $2 ~ /^[0-9]+$/ {
                                  print dll, $3
                              }' |
        sort -u
}

check_dll() {
    local dll=$1 header=$2 macro=$3 def=$4 count=$5
    [ -f "$dll" ] || { fail "$dll missing"; return; }
    local before=$status
    status=0
    exports "$dll" > "$tmp/exported"
    grep -o "${macro} [A-Za-z0-9_]*(" "$header" | sed "s/^${macro} //; s/($//" |
        sort > "$tmp/declared"
    awk 'listing && NF { print $1 } /^EXPORTS/ { listing = 1 }' "$def" | sort > "$tmp/listed"
    if ! diff -u "$tmp/declared" "$tmp/exported"; then
        fail "$(basename "$dll") exports differ from the header (- declared, + exported)"
    fi
    if ! diff -u "$tmp/declared" "$tmp/listed"; then
        fail "$(basename "$def") differs from the header (- declared, + listed)"
    fi
    local n
    n=$(wc -l < "$tmp/exported")
    [ "$n" -eq "$count" ] || fail "$(basename "$dll") exports $n functions, not $count"
    grep -q '@' "$tmp/exported" && fail "$(basename "$dll") exports decorated names"
    [ "$status" -ne 0 ] ||
        echo "$(basename "$dll"): $n functions exported under plain names, as declared and listed"
    [ "$before" -eq 0 ] || status=$before
}

check_dll "$bin/QVX-3.dll" "$source/device/include/qvx3.h" QVX_3_CALL "$source/device/QVX-3.def" 33
check_dll "$bin/BXA-7.dll" "$source/adapter/include/bxa7.h" "BXA_7_CALL" \
    "$source/adapter/sim/BXA-7.def" 11

# DLLs that every Windows since Vista has.
system='^(kernel32|msvcrt|user32|advapi32|winmm|shell32|ws2_32|ole32|oleaut32|gdi32|ntdll)\.dll$'
for file in "$bin"/*.exe "$bin"/*.dll; do
    [ -f "$file" ] || continue
    imports "$file" > "$tmp/imports"
    while read -r dll function; do
        case $dll in
        qvx-3.dll | bxa-7.dll)
            [[ $function != *@* ]] || fail "$(basename "$file") imports $function from $dll" ;;
        *)
            [[ $dll =~ $system ]] || fail "$(basename "$file") needs $dll" ;;
        esac
    done < "$tmp/imports"
    [ -s "$tmp/imports" ] || fail "$(basename "$file"): no imports found"
done
[ "$status" -eq 0 ] && echo "all files import only system DLLs, QVX-3.dll and BXA-7.dll"
exit "$status"
