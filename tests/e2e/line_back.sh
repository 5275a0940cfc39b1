#!/usr/bin/env bash
# End to end: the random-access test of the real vekton in tmux against
# vekton-sim, whose port vanishes in the middle of the run and comes back at
# the same link a few seconds later (a new pseudo-terminal). Row 1 says
# "Line lost" meanwhile; the run goes on without a key; the store's access
# record shows loads and unloads in turn (no access made twice) and the
# summary's count agrees with it; after the summary one line says the line
# was lost once, and the result file says nothing of it. The console's
# trace holds one LOST and one BACK, each timed within the loss as the
# script made it, and the bytes on the line before and after it as the
# simulator saw them.
#
# With "tcp" the console's line is the simulator's raw TCP port
# (VEKTON_COM1=tcp://...): the vanish closes the connection and stops the
# listening, coming back listens again on the same port (a device server
# rebooted; the store behind it, unlike a restarted simulator, keeps its
# plates and the movement under way).
# Usage: line_back.sh <build dir> [pty|tcp]
set -u

source "$(dirname "$0")/../harness.bash"
TRANSPORT=${2:-pty}
harness_init "$1" "lineback-$TRANSPORT"
source "$(dirname "$0")/trace_check.bash"
WORK=$TMP/work
mkdir -p "$WORK"
RESULT=$WORK/1234_00.spf
harness_diagnostics() {
  echo "--- accesses ---"
  cat "$ACCESSES"
  echo "--- simulator ---"
  cat "$TMP/sim.out"
}

if [[ $TRANSPORT == tcp ]]; then
  start_sim --speed 10 --listen 127.0.0.1:0
  PORT=tcp://$TCP_ADDR  # VEKTON_COM1 of start_console
  port_back() { [[ $(grep -c '^TCP [0-9]' "$TMP/sim.out") -ge 2 ]]; }
else
  start_sim --speed 10
  port_back() { [[ $(grep -c '^PTY /' "$TMP/sim.out") -ge 2 ]]; }
fi
start_console "$WORK"
to_menu
start_standard_random_access 1
wait_until 60 accesses_at_least 4 || fail "fewer than 4 accesses within a minute"

T_VANISH=$(date +%s%6N)
echo "fault vanish" >"$CONTROL"
wait_until 10 row_matches 1 '^Vekton  # 1234    ComPort  1       Line lost [0-9]{2}:[0-9]{2}:[0-9]{2} +[0-9]{2}:[0-9]{2}:[0-9]{2}$' \
  || fail "row 1 does not say since when the line is lost"
LOST_SHOWN=$(row 1 | grep -oE 'Line lost [0-9:]{8}' | cut -d' ' -f3)
sleep 3
T_NONE=$(date +%s%6N)
echo "fault none" >"$CONTROL"
wait_until 10 port_back || fail "the simulator's port did not come back"
n=$(performed)
wait_until 60 accesses_at_least $((n + 4)) || fail "the run did not go on once the line was back"
T_ON=$(date +%s%6N)
row_matches 1 'Line lost' && fail "row 1 still says the line is lost"

quit_random_access
wait_until 5 screen_matches '^The line was lost once, for [0-9]+ s in all\. *$' \
  || fail "no line about the loss after the summary"

# Loads (1905) and unloads (1904) in turn, each once: a command whose answer
# was lost was not sent again.
relays=$(grep ' ok$' "$ACCESSES" | awk '{ print $2 }' | tr '\n' ' ')
awk -v r="$relays" 'BEGIN { n = split(r, a, " "); for (i = 1; i <= n; i++) if (a[i] != (i % 2 ? 1905 : 1904)) exit 1 }' \
  || fail "an access was made twice or left out: $relays"
total=$(total_accesses "$RESULT")
finished=$(performed)
[[ -n $total ]] && (( total == finished - 1 || total == finished - 2 )) \
  || fail "Total Accesses $total does not fit the $finished accesses the store performed"
grep -q 'line was lost' "$RESULT" && fail "the result file speaks of the loss"
# Beside it the console's note, which the report page shows.
[[ $(head -n 1 "$WORK/1234_00.line.txt" 2>/dev/null) == "Line lost: 1" ]] || fail "no line note beside the result file"
wait_until 10 grep -q 'Line lost</span>The line to the store was lost once' "$WORK/1234_00.html" \
  || fail "the report page does not show the loss"
[[ $(tail -n 1 "$RESULT") == "Mean UnLoad Time:"* ]] || fail "the result file does not end with the summary"

keys " "
wait_until 10 menu_ready || fail "no menu after the summary's key"
leave_with_choice_0
stop_sim  # its record complete

# --- the trace: the loss, timed, and the line's bytes around it -------------------------
mapfile -t lost < <(records LOST)
mapfile -t back < <(records BACK)
[[ ${#lost[@]} -eq 1 && ${lost[0]} =~ ^COM1\ code\ [0-9]+$ ]] || fail "not one LOST COM1 with its code: ${lost[*]}"
[[ ${#back[@]} -eq 1 && ${back[0]} == COM1 ]] || fail "not one BACK COM1: ${back[*]}"
at() { date -d "$(grep -m1 " $1 COM1" $(console_traces) | cut -d' ' -f1)" +%s%6N; }
t_lost=$(at LOST)
t_back=$(at BACK)
(( T_VANISH <= t_lost && t_lost <= T_NONE )) || fail "LOST at $t_lost us, outside the loss ($T_VANISH..$T_NONE)"
(( T_NONE <= t_back && t_back <= T_ON )) || fail "BACK at $t_back us, not between the port's return ($T_NONE) and the run going on ($T_ON)"
# Row 1's time of the loss is the record's, to the second: the clock is read
# for the screen a moment after the record is stamped, so it may be the next
# second when the loss falls at the end of one.
lost_clock=$(date -d "@$((t_lost / 1000000))" +%T)
lost_next=$(date -d "@$((t_lost / 1000000 + 1))" +%T)
[[ $LOST_SHOWN == "$lost_clock" || $LOST_SHOWN == "$lost_next" ]] \
  || fail "row 1 said the line was lost at $LOST_SHOWN, the trace $lost_clock"
same_bytes lineback "$TRACE"
vt --stats
# The records' microseconds give the loss; --stats prints it to the
# millisecond, which may round the other way than this sum: one
# millisecond either side is the same loss.
secs=$(awk -v a="$t_lost" -v b="$t_back" 'BEGIN { printf "%.6f", (b - a) / 1e6 }')
awk -v want="$secs" '
  /^Line losses:/ { found = 1
    ok = $3 == "1," && $9 == $4 && $4 - want < 0.0015 && want - $4 < 0.0015 }
  END { exit !(found && ok) }' "$TMP/vt.out" \
  || fail "--stats does not count the one loss of $secs s: $(cat "$TMP/vt.out")"
echo "PASS: line_back over $TRANSPORT ($total accesses counted, $finished performed, line lost once)"
