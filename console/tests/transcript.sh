#!/usr/bin/env bash
# Runs one transcript case: QVX-3-Test on the simulated adapter with scripted standard input,
# comparing its exact standard output and exit status with the case's.
#
#   transcript.sh [--show] DATA-FILE CASE QVX-3-TEST BXA7-SIM BUILD-DATE-PROGRAM
#
# --show prints the program's output in the data notation instead of comparing, for writing
# a new case.
#
# Data files hold cases one after the other. Lines starting with '#' and blank lines are
# skipped; leading blanks are ignored everywhere.
#
#   case NAME            starts a case; NAME is unique across all data files
#   args WORD...         the program's arguments, split at blanks (no escapes)
#   argv0 WORD           the program's name as it sees it (no escapes); default: its path
#   env NAME=VALUE       an environment variable for the program only (no escapes)
#   sim ARGS             bxa7-sim run with ARGS (shell quoting) on the case's state file,
#                        before the program
#   stdin TEXT           standard input, escapes as below, no line end added; several
#                        stdin lines are joined
#   exit N               the exit status; -1 and -2 as main returns them (default 0)
#   |TEXT                one line of expected standard output; the line end is implied
#   use NAME             the lines of block NAME as expected standard output, in place
#
# A block holds | lines shared by several cases; a definition names a piece of text that |
# lines use as {NAME}. Both may stand in any data file beside this case's, outside cases:
#
#   block NAME
#   |TEXT ...
#   end
#   define NAME TEXT
#
# Escapes in stdin and | lines: \t tab, \e Esc, \r, \\ backslash, \xHH any byte, \n line end
# (stdin), and \c at the very end of the last | line: no line end follows. Characters that
# cannot be seen are refused as data: a literal tab or Esc, or a blank at the end of a
# | line (write \x20). UTF-8 text such as the degree sign stands as itself. {DATE} stands
# for the program's build date.
#
# Every case runs in a fresh temporary directory with its own adapter state file, the C.UTF-8
# locale and an instant bus (BXA7_SIM_BUS_HZ=0 unless the case sets it).
set -euo pipefail
shopt -u patsub_replacement 2>/dev/null || true # '&' in a replacement is plain text

show=0
if [ "${1:-}" = --show ]; then
    show=1
    shift
fi
if [ $# -ne 5 ]; then
    echo "usage: $0 [--show] DATA-FILE CASE QVX-3-TEST BXA7-SIM BUILD-DATE" >&2
    exit 2
fi
data=$1 wanted=$2 program=$3 sim=$4 date_program=$5

fail() { echo "transcript $wanted: $*" >&2; exit 1; }

# ---- Read the case --------------------------------------------------------------------------
# Sets $trimmed to $1 without its leading blanks.
trim() { trimmed=${1#"${1%%[![:space:]]*}"}; }

# Checks an output line for characters that cannot be seen.
check_output_line() {
    [[ $2 != *$'\t'* && $2 != *$'\e'* ]] || fail "$1: write a tab as \\t, Esc as \\e"
    [[ $2 != *' ' ]] || fail "$1: write a trailing blank as \\x20"
}

declare -A blocks=() defines=()
for file in "$(dirname "$data")"/*.transcript; do
    block='' lineno=0
    while IFS= read -r raw || [ -n "$raw" ]; do
        lineno=$((lineno + 1))
        trim "$raw"
        line=$trimmed
        if [ -z "$block" ]; then
            if [[ $line == define[[:space:]]* ]]; then
                trim "${line#define}"
                name=${trimmed%%[[:space:]]*}
                trim "${trimmed#"$name"}"
                [ -z "${defines[$name]+set}" ] || fail "$file:$lineno: $name defined twice"
                check_output_line "$file:$lineno" "$trimmed"
                defines[$name]=$trimmed
            elif [[ $line == block[[:space:]]* ]]; then
                trim "${line#block}"
                block=$trimmed
                [ -z "${blocks[$block]+set}" ] || fail "$file:$lineno: block $block defined twice"
                blocks[$block]=''
            fi
            continue
        fi
        case $line in
        end) block='' ;;
        '' | '#'*) ;;
        '|'*)
            check_output_line "$file:$lineno" "${line#|}"
            blocks[$block]+="${line#|}"$'\n'
            ;;
        *) fail "$file:$lineno: only | lines stand in a block" ;;
        esac
    done <"$file"
    [ -z "$block" ] || fail "$file: block $block has no end"
done

args=() envs=() sims=() argv0=$program stdin_text='' expected_lines=() exit_expected=0
found=0 in_case=0 in_block=0 lineno=0
while IFS= read -r raw || [ -n "$raw" ]; do
    lineno=$((lineno + 1))
    trim "$raw"
    line=$trimmed
    if [[ $line == block[[:space:]]* ]]; then
        in_block=1 in_case=0
        continue
    fi
    if [ $in_block -eq 1 ]; then
        [ "$line" != end ] || in_block=0
        continue
    fi
    if [[ $line == define[[:space:]]* ]]; then
        in_case=0
        continue
    fi
    if [[ $line == case[[:space:]]* ]]; then
        in_case=0
        trim "${line#case}"
        if [ "$trimmed" = "$wanted" ]; then
            [ $found -eq 0 ] || fail "defined twice in $data"
            found=1 in_case=1
        fi
        continue
    fi
    [ $in_case -eq 1 ] || continue
    case $line in
    '' | '#'*) continue ;;
    '|'*)
        check_output_line "$data:$lineno" "${line#|}"
        expected_lines+=("${line#|}")
        ;;
    use[[:space:]]*)
        trim "${line#use}"
        name=$trimmed
        [ -n "${blocks[$name]+set}" ] || fail "$data:$lineno: no block $name"
        mapfile -t block_lines < <(printf '%s' "${blocks[$name]}")
        expected_lines+=("${block_lines[@]}")
        ;;
    args[[:space:]]*) read -r -a words <<<"${line#args}"; args+=("${words[@]}") ;;
    argv0[[:space:]]*) trim "${line#argv0}"; argv0=$trimmed ;;
    env[[:space:]]*) trim "${line#env}"; envs+=("$trimmed") ;;
    sim[[:space:]]*) sims+=("${line#sim}") ;;
    stdin[[:space:]]*) trim "${line#stdin}"; stdin_text+=$trimmed ;;
    exit[[:space:]]*) trim "${line#exit}"; exit_expected=$trimmed ;;
    *) fail "$data:$lineno: not understood: $line" ;;
    esac
done <"$data"
[ $found -eq 1 ] || fail "no such case in $data"

for ((i = 0; i < ${#expected_lines[@]}; i++)); do
    text=${expected_lines[i]}
    if [[ $text == *'\c'* ]]; then
        [[ $i -eq $((${#expected_lines[@]} - 1)) && $text == *'\c' && ${text%'\c'} != *'\c'* ]] ||
            fail "\\c stands only at the end of the last output line"
    fi
done

# ---- Run it ---------------------------------------------------------------------------------
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT

# Writes the escaped text of $1 as bytes.
unescape() { printf '%b' "$1"; }

defines[DATE]=$("$date_program")
expected_source=''
for text in "${expected_lines[@]}"; do
    for name in "${!defines[@]}"; do
        text=${text//"{$name}"/"${defines[$name]}"}
    done
    [[ $text != *'{'[A-Z]*'}'* ]] || fail "undefined name in: $text"
    expected_source+="$text\\n"
done
unescape "$expected_source" >"$dir/expected"
unescape "$stdin_text" >"$dir/stdin"

unset BXA7_SIM_FAIL BXA7_SIM_VERSION BXA7_SIM_TRACE BXA7_SIM_BUS_HZ
export BXA7_SIM_STATE=$dir/state XDG_STATE_HOME=$dir/xdg LC_ALL=C.UTF-8
for command in "${sims[@]}"; do
    bash -c "exec \"\$0\" $command" "$sim" >"$dir/sim.out" 2>&1 || {
        cat "$dir/sim.out" >&2
        fail "setup failed: bxa7-sim $command"
    }
done

status=0
(
    export BXA7_SIM_BUS_HZ=0
    for assignment in "${envs[@]}"; do export "${assignment?}"; done
    cd "$dir"
    exec timeout -k 10 30 bash -c 'exec -a "$0" "$@"' "$argv0" "$program" "${args[@]}"
) <"$dir/stdin" >"$dir/actual" 2>"$dir/stderr" || status=$?

# Writes the bytes of file $1 in the data notation, as | lines. GNU sed keeps a missing
# final line end missing, so the \c lands on the last line.
notation() {
    LC_ALL=C sed -e 's/\\/\\\\/g' -e 's/\t/\\t/g' -e 's/\x1b/\\e/g' -e 's/\r/\\r/g' \
        -e 's/ $/\\x20/' -e 's/^/|/' "$1"
    if [ -s "$1" ] && [ "$(tail -c 1 "$1" | od -An -tx1 | tr -d ' ')" != 0a ]; then
        echo '\c'
    fi
}

if [ $show -eq 1 ]; then
    notation "$dir/actual"
    echo "exit $((status > 127 ? status - 256 : status))"
    exit 0
fi

ok=1
if ! cmp -s "$dir/expected" "$dir/actual"; then
    ok=0
    echo "standard output differs (- expected, + actual):"
    diff -u --label expected --label actual <(notation "$dir/expected") \
        <(notation "$dir/actual") || true
fi
if [ $((status & 255)) -ne $((exit_expected & 255)) ]; then
    ok=0
    echo "exit status $status, expected $exit_expected ($((exit_expected & 255)))"
fi
if [ -s "$dir/stderr" ]; then
    echo "standard error:"
    cat "$dir/stderr"
fi
[ $ok -eq 1 ] || exit 1
