#!/usr/bin/env bash
# Checks that a Windows build recorded the adapter's calling convention for the Python package:
# BXA-7.call holds exactly the expected word in the build's bin/ and in bin/ of an install.
# Usage: check_call_file.sh BUILD-DIR stdcall|cdecl
set -euo pipefail
build=$1 expected=$2

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
status=0
cmake --install "$build" --prefix "$tmp" >/dev/null
for file in "$build/bin/BXA-7.call" "$tmp/bin/BXA-7.call"; do
    if [ ! -f "$file" ]; then
        echo "FAIL: no $file"
        status=1
    elif [ "$(cat "$file")" != "$expected" ] || [ "$(wc -l < "$file")" -ne 1 ]; then
        echo "FAIL: $file holds '$(cat "$file")', not the line '$expected'"
        status=1
    fi
done
[ "$status" -ne 0 ] || echo "BXA-7.call: $expected, in the build and installed"
exit "$status"
