#!/usr/bin/env bash
# End to end: the real vekton in tmux (80 x 25) against vekton-sim. Choice 4
# teaches the carousel and shows one row per position; choice 5, key 8, lists
# the nine error counters and resets them; "s" and the password in lower case
# open the statistics with the simulator's figures; 0 ends the program.
# Usage: teach_components.sh <build dir>
set -u

source "$(dirname "$0")/../harness.bash"
harness_init "$1" teach

# The last answer the simulator gave to a command (CR LF stripped).
answer_to() {
  awk -v cmd="$1\\\\r" '
    $2 == "RX" { line = $0; sub(/^[^ ]+ RX /, "", line); want = (line == cmd); next }
    $2 == "TX" && want { a = $0; sub(/^[^ ]+ TX /, "", a); sub(/\\r\\n$/, "", a); last = a; want = 0 }
    END { print last }' "$TRACE" 2>/dev/null
}
dec() { echo $((10#$1)); }

# --- the simulated store, its error counters set from the control file ------
for i in 1 2 3 4 5 6 7 8 9; do echo "exec WR DM21$i $((i + 2))"; done >"$CONTROL"
start_sim --speed 2
start_console

wait_until 10 screen_has "Enter Port Number to Vekton" || fail "no port prompt"
keys 1
key Enter
wait_until 5 screen_has "Enter Operator Name" || fail "no operator prompt"
keys "Teach E2E"
key Enter
wait_until 15 menu_ready || fail "no main menu"

# --- 4: teach --------------------------------------------------------------------------
keys 4
key Enter
wait_until 90 screen_has "ZEZ Positioning Times:" || fail "the teach did not reach its report"
wait_until 5 screen_has "Pos 8 " || fail "the report has no row for position 8"
report=$(screen)
rows=$(grep -cE '^ {19}Pos [0-9]+ +[0-9]+\.[0-9] s *$' <<<"$report")
[[ $rows -eq 9 ]] || fail "the report has $rows rows, not one per position (9)"
for i in 0 1 2 3 4 5 6 7 8; do
  grep -qE "^ {19}Pos $i +[0-9]+\.[0-9] s *\$" <<<"$report" || fail "no report row for position $i"
done
# Times grow with the distance (position 0 is no move at all).
awk '/^ {19}Pos [0-9]+ / { t = $3 + 0; if ($2 > 1 && t < last) bad = 1; if ($2 > 0 && t <= 0) bad = 1; last = t }
     END { exit bad }' <<<"$report" || fail "taught times do not grow with the distance"
# The moves went out in pairs: to position 1, then to the position taught.
pairs=""
for p in 1 2 3 4 5 6 7 8 9; do pairs+="WR DM0 1\\rWR DM0 $p\\r"; done
received | sed 's/RD DM200\\r//g; s/RD 1915\\r//g; s/\\r\\r/\\r/g' | grep -qF "RD 3012\\rST 1801\\r$pairs" \
  || fail "the teach did not send its moves in order"
keys x
wait_until 10 menu_ready || fail "menu did not come back after the teach"

# --- 5, 8: error counters ----------------------------------------------------------
keys 5
key Enter
wait_until 10 screen_has "Select now" || fail "no component test menu"
screen_has "Error Counters      8" || fail "component test menu has no error counters line"
keys 8
wait_until 10 screen_has "Reset Counter [Y/N]" || fail "no reset question"
counters=$(screen)
for i in 1 2 3 4 5 6 7 8 9; do
  grep -qF "DM21$i $(printf '%05d' $((i + 2)))" <<<"$counters" || fail "counter DM21$i not shown as the simulator holds it"
done
keys y
wait_until 10 screen_has "Reset DM219 OK" || fail "the counters were not reset"
wait_until 10 screen_has "Select now" || fail "component test menu did not come back after the reset"
for i in 1 2 3 4 5 6 7 8 9; do
  received | grep -qF "WR DM21$i 0\\r" || fail "no reset of DM21$i sent"
done
# A second look shows what the simulator holds now.
keys 8
wait_until 10 screen_has "Reset Counter [Y/N]" || fail "no second counter screen"
again=$(screen)
for i in 1 2 3 4 5 6 7 8 9; do
  grep -qF "DM21$i 00000" <<<"$again" || fail "DM21$i is not 0 in the simulator after the reset"
done
keys n
wait_until 10 screen_has "Select now" || fail "component test menu did not come back after N"
key Escape
wait_until 10 menu_ready || fail "Esc did not leave the component test menu"

# --- s: statistics ---------------------------------------------------------------------
keys s
key Enter
wait_until 10 screen_has "Enter Passord" || fail "no password prompt"
keys qzrb
key Enter
wait_until 10 screen_has "System Hobs [hours]" || fail "the password in lower case did not open the statistics"
wait_until 5 screen_has "On Time [s]" || fail "statistics incomplete"
stats=$(screen)
h=$(dec "$(answer_to 'RD DM110')")
g=$(( $(dec "$(answer_to 'RD DM112')") * 65535 + $(dec "$(answer_to 'RD DM111')") ))
on=$(( $(dec "$(answer_to 'RD DM118')") * 65535 + $(dec "$(answer_to 'RD DM117')") ))
total=$(( $(dec "$(answer_to 'RD DM120')") * 65535 + $(dec "$(answer_to 'RD DM119')") ))
(( h > 0 && g > 0 && on > 0 && total > 0 )) || fail "the simulator's statistics words were not read ($h $g $on $total)"
grep -qF "System Hobs [hours]   $(printf '%5d' "$h")" <<<"$stats" || fail "hours are not the simulator's $h"
grep -qF "Total Gate Cycles     $(printf '%5d' "$g")" <<<"$stats" || fail "gate cycles are not $g"
grep -qF "On Time [s]        $(printf '%8d' "$on")" <<<"$stats" || fail "on time is not $on"
grep -qF "Avrg Acs/hour         $(awk -v g="$g" -v h="$h" 'BEGIN { printf "%5.1f", g / h }')" <<<"$stats" \
  || fail "accesses per hour are not $g / $h"
grep -qF "On Percent. [%]       $(awk -v o="$on" -v t="$total" 'BEGIN { printf "%5.1f", o / t * 100 }')" <<<"$stats" \
  || fail "on percentage is not $on / $total"
keys x
wait_until 10 menu_ready || fail "menu did not come back after the statistics"

# --- 0: quit -------------------------------------------------------------------------------
leave_with_choice_0

echo "PASS: teach_components"
