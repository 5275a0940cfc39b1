#!/usr/bin/env bash
# End to end: the real vekton in tmux (80 x 25) against vekton-sim on a
# pseudo-terminal. Start-up, one menu choice above "3", direct commands, and
# the exit with choice 0. Usage: console_basic.sh <build dir>
set -u

source "$(dirname "$0")/../harness.bash"
harness_init "$1" console

# Status polls as "<secs> <device>" from the trace.
polls() { awk '$2 == "RX" && $3 == "RD" && $4 ~ /^(DM200|1915)\\r/ { print $1, $4 }' "$TRACE" 2>/dev/null; }
polls_at_least() { (( $(polls | wc -l) >= $1 )); }

start_sim
start_console

log_on

# The start-up result stays for half a second before the menu.
wait_until 10 screen_has " Closed" || fail "start-up did not reach the controller"
start=$(screen)
grep -q '^Enter Port Number to Vekton  1 *$' <<<"$start" || fail "port line missing"
grep -q '^Open Comport 0 *$' <<<"$start" || fail "no 'Open Comport 0' line"
grep -q '^Communication Request to Hardware CC *$' <<<"$start" || fail "no 'CC' line"
grep -q '^CF Closed' <<<"$start" || fail "no 'CF Closed' line"

wait_until 10 menu_ready || fail "no main menu"
menu=$(screen)
for line in "Direct Commands                 1" "Monitor Flags                   2" \
  "Macros                          3" "Teach Positioning Times         4" \
  "Component Test / Error Cntrs    5" "Test Sequence all Slots         6" \
  "Test Sequence Random Access     7" "Test 3-Plate Squence            8" \
  "Quit                            0"; do
  # Column 11 of the banner window (from column 10) is screen column 20.
  grep -qF -- "$(printf '%19s' '')$line" <<<"$menu" || fail "menu line '$line' missing or misplaced"
done
[[ $(count_received 'CQ\r') -eq 1 ]] || fail "start-up should end with one CQ"

# --- a choice above "3": the geometry is read inside its bracket --------------------
# "9" names no screen, so the bracket is all that runs (the screens behind 4
# to 8 move the store and have tests of their own).
keys 9
key Enter
wait_until 10 received_at_least 'CQ\r' 2 || fail "choice 9 did not end with CQ"
wait_until 10 menu_ready || fail "menu did not come back after choice 9"
received | grep -qF 'CQ\rCR\rRD DM109\rWR DM123 0\rRD DM25\rRD DM29\rRD DM46\rRD DM47\rRD DM23\rRD DM22\rRD DM20\rRD 1703\rCQ\r' \
  || fail "choice 9 did not run its bracket with the configuration reads in order"

# --- direct commands ----------------------------------------------------------------
keys 1
key Enter
wait_until 10 screen_has "Enter direct commands to KV-PLC, press esc to quit" \
  || fail "direct command console did not open"
screen | head -n 1 | grep -q '^Vekton  # ' || fail "status line is not on row 1"
keys "RD DM0"
key Enter
wait_until 5 received_at_least 'RD DM0\r' 1 || fail "typed command did not arrive"
wait_until 5 answer_shown "RD DM0" || fail "answer to RD DM0 not shown"

# Let the idle console poll for a few seconds.
wait_until 15 polls_at_least 10 || fail "too few status polls"
key Escape
wait_until 10 received_at_least 'CQ\r' 3 || fail "Esc did not end the console with CQ"
wait_until 10 menu_ready || fail "menu did not come back after Esc"

[[ $(count_received 'RD DM0\r') -eq 1 ]] || fail "RD DM0 was sent $(count_received 'RD DM0\r') times"
received | grep -qF 'RD DM0\r\r' && fail "the typed command carried two CRs"
received | grep -qF 'RD DM200\r\r' || fail "no DM200 poll with its two CRs"
received | grep -qF 'RD 1915\r\r' || fail "no 1915 poll with its two CRs"

# Polls alternate and come about twice a second. The first DM200 is the
# console's own status refresh on entry, right before the paced polls start.
polls >"$TMP/polls"
awk '
  { name = ($2 ~ /^DM200/) ? "DM200" : "1915" }
  NR > 1 && name == last { print "two " name " polls in a row at " $1; bad = 1 }
  { last = name; n = NR }
  NR == 2 { first = $1 }
  NR >= 2 { final = $1 }
  END {
    if (n < 6) { print "only " n " polls"; exit 1 }
    rate = (n - 2) / (final - first)
    printf "status polls: %d, %.2f per second\n", n, rate
    if (bad || rate < 1.5 || rate > 2.5) exit 1
  }' "$TMP/polls" || fail "status polls do not alternate about twice a second"

# --- quit ------------------------------------------------------------------------------
leave_with_choice_0
wait_until 5 test -s "$TMP/$SESSION.stty" || fail "no terminal state after exit"
grep -Eq '(^| )icanon( |$)' "$TMP/$SESSION.stty" && grep -Eq '(^| )echo( |$)' "$TMP/$SESSION.stty" \
  || fail "terminal left in raw mode: $(cat "$TMP/$SESSION.stty")"
[[ $(tmux -L "$SOCK" display-message -p -t "$SESSION" '#{alternate_on}') == 0 ]] \
  || fail "terminal left on the alternate screen"
[[ $(count_received 'CQ\r') -eq 4 ]] || fail "choice 0 should end with its own CQ"

echo "PASS: console_basic"
