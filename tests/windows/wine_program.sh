#!/usr/bin/env bash
# Runs a Windows program under Wine as the transcript harness runs a Linux one:
#   wine_program.sh WINE PROGRAM.exe ARGS...
# Standard input passes through; standard output comes back with Linux line ends and the
# degree sign in UTF-8, the two ways in which the Windows program's output differs by design.
set -o pipefail
wine=$1 program=$2
shift 2
"$wine" "$program" "$@" | LC_ALL=C sed -e 's/\r$//' -e 's/\xf8/\xc2\xb0/g'
