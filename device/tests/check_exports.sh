#!/usr/bin/env bash
# Checks the device library's dynamic interface: it exports exactly the functions that its
# public header declares and its Windows export list names, and it loads the adapter library
# by its plain file name, so that any adapter library of that name can take its place.
# Usage: check_exports.sh <shared object> <public header> <.def file>
set -euo pipefail
library=$1 header=$2 def=$3

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

nm -D --defined-only "$library" | awk '{ print $NF }' | sort > "$tmp/exported"
grep -o 'QVX_3_CALL QVX_3_[A-Za-z0-9_]*' "$header" | awk '{ print $2 }' | sort > "$tmp/declared"
awk 'listing && NF { print $1 } /^EXPORTS/ { listing = 1 }' "$def" | sort > "$tmp/listed"

status=0
if ! diff -u "$tmp/declared" "$tmp/exported"; then
    echo "FAIL: exports differ from the header's declarations (- declared, + exported)"
    status=1
fi
if ! diff -u "$tmp/declared" "$tmp/listed"; then
    echo "FAIL: the .def list differs from the header's declarations (- declared, + listed)"
    status=1
fi
if ! readelf -d "$library" | grep -q 'NEEDED.*\[libBXA-7\.so\]'; then
    echo "FAIL: the adapter library is not needed as libBXA-7.so:"
    readelf -d "$library" | grep NEEDED
    status=1
fi
[ "$status" -eq 0 ] && echo "$(wc -l < "$tmp/exported") functions exported, as declared and listed"
exit "$status"
