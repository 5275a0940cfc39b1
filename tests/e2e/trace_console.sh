#!/usr/bin/env bash
# End to end: the console's trace of its line, against vekton-sim's own
# record of the same line. The real vekton in tmux on a pseudo-terminal
# (speed 10): start-up, direct commands (one answered OK, one with a value,
# one with E0 for a device that does not exist), Esc, the component test's
# error counters, the shortest random-access run (two accesses), choice 0.
# Then:
# - the trace's TX payloads, joined, are the bytes the simulator received,
#   and its RX payloads the bytes it sent: in order, none missing, none extra;
# - every record is one (vekton-trace reads the run with status 0), and
#   --exchanges pairs each typed command with the simulator's answer;
# - the events: HEAD, the port's OPEN with code 0, a CHOICE for each choice,
#   TEST start and end around the component test and the run, RESULT open
#   and close of the result file, in that order;
# - --stats counts the E0 and --list names the run.
# Usage: trace_console.sh <build dir>
set -u

HERE=$(cd "$(dirname "$0")" && pwd)
source "$HERE/../harness.bash"
harness_init "$1" tracecon
source "$HERE/trace_check.bash"
WORK=$TMP/work
mkdir -p "$WORK"
RESULT=$WORK/1234_00.spf
harness_diagnostics() {
  echo "--- console trace (last 30 records) ---"
  local files
  mapfile -t files < <(console_traces)
  (( ${#files[@]} )) && tail -n 30 "${files[@]}"
}

start_sim --speed 10
start_console "$WORK"
to_menu

# --- direct commands ----------------------------------------------------------------
keys 1
key Enter
wait_until 10 screen_has "Enter direct commands to KV-PLC, press esc to quit" || fail "no direct commands"
typed() {
  keys "$1"
  key Enter
  wait_until 5 answer_shown "$1" "$2" || fail "no answer to $1 on the screen"
}
typed "WR DM300 42" '^ *OK *$'
typed "RD DM300" '^ *00042 *$'
typed "RD DM10000" '^ *E0 *$'
key Escape
wait_until 10 menu_ready || fail "no menu after Esc"

# --- a component test: the error counters, left without a reset ---------------------
keys 5
key Enter
wait_until 10 screen_has "Select now" || fail "no component test menu"
keys 8
wait_until 10 screen_has "Reset Counter [Y/N]" || fail "no error counters"
keys n
wait_until 10 screen_has "Select now" || fail "no component test menu after N"
key Escape
wait_until 10 menu_ready || fail "no menu after the component test"

# --- the shortest random-access run ---------------------------------------------------
start_standard_random_access 1
wait_until 10 test -s "$RESULT" || fail "no result file"
wait_until 60 accesses_at_least 2 || fail "fewer than 2 accesses within a minute"
quit_random_access
keys " "
wait_until 10 menu_ready || fail "no menu after the summary"
leave_with_choice_0
stop_sim  # its record complete

# --- the bytes: both ends of the line agree ------------------------------------------
mapfile -t FILES < <(console_traces)
(( ${#FILES[@]} == 1 )) || fail "not one trace file for the run: ${FILES[*]}"
same_bytes run "$TRACE"

# --- the reader ------------------------------------------------------------------------
vt
[[ $(wc -l <"$TMP/vt.out") -eq $(wc -l <"${FILES[0]}") ]] || fail "vekton-trace printed another number of records than the file holds"
vt --exchanges
exchange() {
  grep -qP -- "^[^\t]+\t\Q$1\E\t$2\t[0-9.]+" "$TMP/vt.out" \
    || fail "--exchanges does not pair '$1' with its answer: $(grep -F -- "$1" "$TMP/vt.out" | head -n 3)"
}
exchange "WR DM300 42" OK
exchange "RD DM300" 00042
exchange "RD DM10000" E0
exchange "CR" CC
vt --stats
grep -q 'E0' "$TMP/vt.out" || fail "--stats does not count the E0: $(cat "$TMP/vt.out")"
vt --list
[[ $(wc -l <"$TMP/vt.out") -ge 1 ]] && grep -qF "$(basename "${FILES[0]}" .trace)" "$TMP/vt.out" \
  || fail "--list does not name the run: $(cat "$TMP/vt.out")"

# --- the events, in order ---------------------------------------------------------------
awk '$3 != "TX" && $3 != "RX" && $3 != "PURGE" { w = $3; sub(/^[^ ]+ [^ ]+ [^ ]+ ?/, ""); print w " " $0 }' \
  "${FILES[0]}" >"$TMP/events"
head -n 1 "$TMP/events" | grep -q '^HEAD vekton [^ ]* part=1 host=[^ ]* port=1 line=[^ ]*com1 operator=Default User$' \
  || fail "the first record is not the run's header: $(head -n 1 "$TMP/events")"
grep -qE '^OPEN COM1 [^ ]*com1 9600 8E1 code 0$' "$TMP/events" || fail "no OPEN of COM1 with code 0"
want=(
  "CHOICE 1 Direct Commands"
  "CHOICE 5 Component Test / Error Cntrs"
  "TEST start Error Counters"
  "TEST end Error Counters"
  "CHOICE 7 Test Sequence Random Access"
  "TEST start Test Sequence Random Access"
  "RESULT open 1234_00.spf"
  "RESULT close 1234_00.spf"
  "TEST end Test Sequence Random Access"
  "CHOICE 0 Quit"
)
at=0
for w in "${want[@]}"; do
  n=$(tail -n +"$((at + 1))" "$TMP/events" | grep -nxF -- "$w" | head -n 1 | cut -d: -f1)
  [[ -n $n ]] || fail "no '$w' after line $at of the events: $(cat "$TMP/events")"
  at=$((at + n))
done

echo "PASS: trace_console ($(wc -c <"$TMP/run.tx") bytes written, $(wc -c <"$TMP/run.rx") read, as the simulator saw them)"
