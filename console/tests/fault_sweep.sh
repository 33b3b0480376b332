#!/usr/bin/env bash
# The fault sweep: for every key in the console's command table whose command calls the
# adapter, fails each of those calls in turn (BXA7_SIM_FAIL "operation#N") and checks what
# the user gets: exactly one error line naming the failed adapter function, the adapter
# flushed after the failure, the next command (v) working, no hang, exit status 0. Prints
# how many combinations it ran.
#
#   fault_sweep.sh COMMAND-LOOP-SOURCE QVX-3-TEST
#
# The keys come from the table in COMMAND-LOOP-SOURCE, so a new command is swept without a
# change here; only a command that asks questions needs its replies in the table below.
# Each reply goes on its own line after the key's line. The calls of a key come from a run
# without faults, as the difference of its adapter trace from the start-up's; a live monitor
# repeats its calls, so only its first pass is swept.
set -euo pipefail

if [ $# -ne 2 ]; then
    echo "usage: $0 COMMAND-LOOP-SOURCE QVX-3-TEST" >&2
    exit 2
fi
source_file=$1 program=$2

fail() { echo "fault sweep: $*" >&2; exit 1; }

# Replies for the commands that ask: a channel and a value in range.
declare -A replies=([O]="0" [A]="0 2" [S]="0 1" [L]="0 10" [H]="0 12" [T]="0 0.2" [M]="0 0.2")

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export BXA7_SIM_STATE=$work/state BXA7_SIM_BUS_HZ=0 LC_ALL=C.UTF-8
unset BXA7_SIM_FAIL BXA7_SIM_TRACE

# The keys of the table's entries, written {FOLDED, 'K', Function}.
mapfile -t keys < <(sed -n '/kCommands\[\] = {/,/^};/p' "$source_file" |
    grep -o "{\(true\|false\), '[^']'" | sed "s/.*'\(.\)'/\1/")
[ ${#keys[@]} -ge 10 ] || fail "only ${#keys[@]} keys found in the command table of $source_file"

# Runs the console with standard input $1 and fault rules $2: $status, $work/out, and the
# trace's calls without their results in the array `calls` (results in `results`).
run() {
    rm -f "$work/trace"
    # The console's own status: the writer of the pipe may meet its early end, which is
    # no failure.
    set +e
    printf '%s' "$1" | BXA7_SIM_FAIL=$2 BXA7_SIM_TRACE=$work/trace \
        timeout -k 10 60 "$program" >"$work/out" 2>&1
    status=${PIPESTATUS[1]}
    set -e
    if [ "$status" -eq 124 ] || [ "$status" -eq 137 ]; then
        fail "the console hung (input $(printf '%q' "$1"), faults '$2')"
    fi
    calls=() results=()
    [ -f "$work/trace" ] || return 0
    while IFS= read -r line; do
        calls+=("${line%% -> *}")
        results+=("${line#* -> }")
    done <"$work/trace"
}

# The rule word of an adapter function in the trace.
rule_of() {
    case $1 in
    BXA_7_Open) echo open ;;
    BXA_7_Flush_LPT) echo flush ;;
    BXA_7_GetSlot) echo getslot ;;
    BXA_7_SetSlot) echo setslot ;;
    BXA_7_Check) echo check ;;
    BXA_7_Send) echo send ;;
    BXA_7_Receive) echo receive ;;
    BXA_7_ReceiveString) echo receivestring ;;
    *) echo "" ;;
    esac
}

# The start-up and the end (nothing typed), and the following command alone.
run "" ""
base=("${calls[@]}")
run $'v\n' ""
grep -q "Firmware version: " "$work/out" || fail "v alone does not work: $(cat "$work/out")"
with_v=("${calls[@]}")
start=0
while [ $start -lt ${#base[@]} ] && [ "${base[$start]}" = "${with_v[$start]}" ]; do
    start=$((start + 1))
done
tail_calls=$((${#with_v[@]} - start)) # v's calls and those at the end

combinations=0 swept=0
for key in "${keys[@]}"; do
    input="$key"$'\n'
    for reply in ${replies[$key]:-}; do
        input+="$reply"$'\n'
    done
    # A live monitor takes every key but Esc; Esc there ends the monitor, not the run.
    run "$input"$'v\n' ""
    if ! grep -q "Firmware version: " "$work/out"; then
        input+=$'\e'
        run "$input"$'v\n' ""
        grep -q "Firmware version: " "$work/out" ||
            fail "key $key: v after it does not run even without faults: $(cat "$work/out")"
    fi
    own=$((${#calls[@]} - start - tail_calls))
    [ $own -ge 0 ] || fail "key $key: fewer adapter calls than v alone"
    key_calls=("${calls[@]:start:own}")
    all_calls=("${calls[@]}")
    # A monitor's calls repeat: the shortest period that the whole list follows.
    count=$own
    for ((period = 1; 2 * period <= own; period++)); do
        repeats=1
        for ((i = period; i < own; i++)); do
            [ "${key_calls[$i]}" = "${key_calls[$((i - period))]}" ] || { repeats=0; break; }
        done
        if [ $repeats -eq 1 ]; then count=$period; break; fi
    done
    [ $count -gt 0 ] || continue
    swept=$((swept + 1))
    echo "key $key: $count adapter call(s) to fail in turn"

    for ((n = 0; n < count; n++)); do
        function=${key_calls[$n]%% *}
        word=$(rule_of "$function")
        [ -n "$word" ] || fail "key $key: unknown adapter function $function"
        # The failing call's number among all calls of its function in the run.
        number=0
        for ((i = 0; i <= start + n; i++)); do
            [ "${all_calls[$i]%% *}" = "$function" ] && number=$((number + 1))
        done
        rule="$word#$number"
        what="key $key, $function (its call $((n + 1)) of $count), rule $rule"
        combinations=$((combinations + 1))
        run "$input"$'v\n' "$rule"

        [ "$status" -eq 0 ] || fail "$what: exit status $status"
        errors=$(grep -o "Error at " "$work/out" | wc -l)
        [ "$errors" -eq 1 ] || fail "$what: $errors error lines:"$'\n'"$(cat "$work/out")"
        grep -q "Error at .*$function failed: injected fault, I/O Error Message: simulated I/O error in $function" \
            "$work/out" || fail "$what: the error line does not name $function:"$'\n'"$(cat "$work/out")"
        grep -q "Firmware version: 1-02" "$work/out" ||
            fail "$what: the following command did not work:"$'\n'"$(cat "$work/out")"
        # The injected failure in the trace, then a flush after it.
        failed=-1 flushed=0
        for ((i = 0; i < ${#calls[@]}; i++)); do
            if [ $failed -lt 0 ] && [[ ${results[$i]} == 1[0-7]\ * ]]; then
                failed=$i
            elif [ $failed -ge 0 ] && [ "${calls[$i]}" = BXA_7_Flush_LPT ]; then
                flushed=1
                break
            fi
        done
        [ $failed -eq $((start + n)) ] || fail "$what: the trace shows the failure at call $failed"
        [ $flushed -eq 1 ] || fail "$what: the adapter was not flushed after the failure"
    done
done

[ $swept -ge 10 ] || fail "only $swept keys reach the adapter"
echo "fault sweep: $combinations combinations over $swept of ${#keys[@]} keys, all passed"
