#!/usr/bin/env bash
# End to end: the console killed (SIGKILL) in the middle of a random-access
# run against vekton-sim (speed 10), at a moment the script does not choose
# (a random delay after the second access). Nothing is held back in the
# recorder, so its trace ends with the last exchange before the kill:
# - every line of it is a whole record, and vekton-trace reads the run
#   plainly and with --exchanges with status 0;
# - its TX is what the simulator received, but for at most the one command
#   whose record the kill came before (written to the line, not yet to the
#   trace); its RX is what the simulator sent, but for at most the answer
#   to the last command (sent after the console's last read);
# - so the trace's last TX is answered in it, or the kill came between the
#   command and its answer: the PASS line says which.
# Usage: trace_kill.sh <build dir>
set -u

HERE=$(cd "$(dirname "$0")" && pwd)
source "$HERE/../harness.bash"
harness_init "$1" tracekill
source "$HERE/trace_check.bash"
WORK=$TMP/work
mkdir -p "$WORK"

start_sim --speed 10
start_console "$WORK"
to_menu
start_standard_random_access 1
wait_until 60 accesses_at_least 2 || fail "fewer than 2 accesses within a minute"
sleep "0.$((RANDOM % 1000))"
pid=$(console_pid)
kill -KILL "$pid" || fail "the console was not there to kill"
wait_until 10 exited || fail "the killed console's pane did not end"
[[ $(exit_code) == 137 ]] || fail "the killed console ended with $(exit_code), not 137"
sleep 0.5  # the simulator's answer to a last command, if one was on its way
stop_sim

mapfile -t FILES < <(console_traces)
(( ${#FILES[@]} == 1 )) || fail "not one trace file for the run: ${FILES[*]}"
[[ $(tail -c 1 "${FILES[0]}" | od -An -c | tr -d ' ') == '\n' ]] || fail "the trace's last line is cut"
vt
vt --exchanges
last_exchange=$(tail -n 1 "$TMP/vt.out")

# The bytes at both ends, as far as the trace got; what the simulator has
# beyond it must be the one command and the one answer the kill cut off.
python3 "$TRACE_BYTES" console TX "${FILES[@]}" >"$TMP/tx" || fail "the trace's TX does not read"
python3 "$TRACE_BYTES" console RX "${FILES[@]}" >"$TMP/rx" || fail "the trace's RX does not read"
python3 "$TRACE_BYTES" sim RX "$TRACE" >"$TMP/sim-rx" || fail "the simulator's record does not read"
python3 "$TRACE_BYTES" sim TX "$TRACE" >"$TMP/sim-tx" || fail "the simulator's record does not read"
# rest SHORT LONG OUT: LONG's bytes after SHORT into OUT, when LONG begins
# with SHORT.
rest() {
  local n
  n=$(wc -c <"$1")
  cmp -s -n "$n" "$1" "$2" || return 1
  tail -c +"$((n + 1))" "$2" >"$3"
}
rest "$TMP/tx" "$TMP/sim-rx" "$TMP/tx-rest" || fail "the trace's TX is not what the simulator received up to the kill"
rest "$TMP/rx" "$TMP/sim-tx" "$TMP/rx-rest" || fail "the trace's RX is not what the simulator sent up to the kill"
count() { tr -cd "$1" <"$2" | wc -c; }
shown() { sed -e 's/\r/<CR>/g' "$1" | tr '\n' '~' | sed 's/~/<LF>/g'; }
tx_rest=$(shown "$TMP/tx-rest")
rx_rest=$(shown "$TMP/rx-rest")
# At most one command beyond the trace (one CR, its last byte) and one
# answer or the rest of one (one LF, its last byte).
[[ -z $tx_rest || ( $(count '\r' "$TMP/tx-rest") -eq 1 && $tx_rest == *"<CR>" ) ]] \
  || fail "the simulator received more than one command after the trace's last TX: $tx_rest"
[[ -z $rx_rest || ( $(count '\n' "$TMP/rx-rest") -eq 1 && $rx_rest == *"<LF>" ) ]] \
  || fail "the simulator sent more than one answer after the trace's last RX: $rx_rest"

# Where the kill came, as the trace's last exchange shows it.
last_word=$(grep -E '^[^ ]+ [^ ]+ (TX|RX) ' "${FILES[0]}" | tail -n 1 | cut -d' ' -f3)
answered=$([[ $(tail -c 1 "$TMP/rx" | od -An -c | tr -d ' ') == '\n' ]] && echo 1 || echo 0)
if [[ -n $tx_rest ]]; then
  [[ $last_word == RX && $answered == 1 ]] || fail "a command the trace lacks went out, yet its last exchange is not whole"
  where="after a command went out, before its record (the command $tx_rest, its answer ${rx_rest:-none})"
elif [[ $last_word == TX ]]; then
  [[ $last_exchange == *$'\t'"no answer"* ]] || fail "--exchanges does not end with the unanswered command: $last_exchange"
  where="between the last command and its answer (${rx_rest:-none} sent after the kill)"
elif (( ! answered )); then
  [[ -n $rx_rest ]] || fail "the trace ends in the middle of an answer the simulator did not finish"
  where="in the middle of the last answer (its rest $rx_rest unread)"
else
  [[ -z $rx_rest ]] || fail "the trace ends on a whole answer, yet the simulator sent more: $rx_rest"
  [[ $last_exchange != *$'\t'"no answer"* ]] || fail "the last exchange is unanswered though its answer is in the trace: $last_exchange"
  where="after the last answer was read (the last exchange whole)"
fi

echo "PASS: trace_kill (killed $where; last exchange: ${last_exchange//$'\t'/ | })"
