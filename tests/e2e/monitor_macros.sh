#!/usr/bin/env bash
# End to end: the flag monitor (choice 2) and the macros screen (choice 3) of
# the real vekton in tmux (80 x 25) against vekton-sim on a pseudo-terminal.
# Usage: monitor_macros.sh <build dir>
set -u

source "$(dirname "$0")/../harness.bash"
harness_init "$1" monmac

# The simulator's latest answer to a command line, without its CR LF.
answer_of() {
  awk -v want="$1" '
    $2 == "RX" { p = $0; sub(/^[^ ]+ RX /, "", p); cur = cur p
                 if (cur ~ /\\r$/) { last = substr(cur, 1, length(cur) - 2); cur = "" } }
    $2 == "TX" { p = $0; sub(/^[^ ]+ TX /, "", p); sub(/\\r\\n$/, "", p); if (last == want) ans = p }
    END { printf "%s", ans }' "$TRACE"
}

# --- the simulated store and the console -----------------------------------------
start_sim
start_console

log_on
wait_until 10 screen_has "Enter [0..6]" || fail "no main menu"

# --- choice 2: the flag monitor ----------------------------------------------------
# The menu leaves the banner's window (columns 10 to 70): the monitor's column
# n is the screen's column n + 9.
keys 2
key Enter
wait_until 15 row_matches 20 '^ {9}Rot\.Pos\. DM01 [0-9]+  Accs\. DM00 [0-9]+  AccV\. DM02 [0-9]+ *$' \
  || fail "the monitor did not finish a pass"
# A second pass, so that the screen holds answers the trace has logged.
passes=$(count_received 'RD DM2\r')
wait_until 15 received_at_least 'RD DM2\r' $((passes + 1)) || fail "the monitor stopped after one pass"
sleep 0.2

expect_row() {
  local n=$1 text=$2
  [[ $(row "$n" | sed 's/ *$//') == "$(printf '%9s' '')$text" ]] \
    || fail "monitor row $n: expected '$text', got '$(row "$n")'"
}
expect_row 2 "P0     0000 $(answer_of 'RD 0')   Rot.EN   0500 $(answer_of 'RD 500')"
expect_row 8 "SW 2E0 0006 $(answer_of 'RD 6')"
expect_row 15 "ShBk   0013 $(answer_of 'RD 13')   Ready    1915 $(answer_of 'RD 1915')"
expect_row 17 "z-Init 0013 $(answer_of 'RD 15')"
expect_row 19 "Set.Spd. DM91 $(answer_of 'RD DM91')  aSlpe.DM92 $(answer_of 'RD DM92')  bSlpe.DM93 $(answer_of 'RD DM93')"
[[ -n $(answer_of 'RD DM92') ]] || fail "the simulator never answered RD DM92"

# One pass in command order: right relay before left, DM1 eight times.
received | grep -qF 'RD 500\rRD 0\rRD 501\rRD 1\r' || fail "row reads are not right-then-left"
received | grep -qF 'RD DM93\rRD DM1\rRD DM1\rRD DM1\rRD DM1\rRD DM1\rRD DM1\rRD DM1\rRD DM1\rRD DM0\rRD DM2\r' \
  || fail "the DM block of a pass is not DM91..93, DM1 x8, DM0, DM2"

keys "RD 1915"
key Enter
wait_until 15 received_at_least 'RD DM2\rRD 1915\r' 1 || fail "the typed command was not sent after a pass"
ready=$(answer_of 'RD 1915')
wait_until 10 row_matches 22 "^ {9}RD 1915 {7}${ready} {0,5}\$" \
  || fail "the answer to the typed command is not in column 15 of row 22"
received | grep -qF 'RD 1915\r\r' && fail "the typed command went out with two CRs"

key Escape
wait_until 15 screen_has "Enter [0..6]" || fail "Esc did not bring the menu back"
[[ $(count_received 'CQ\r') -eq 2 ]] || fail "the monitor's bracket did not end with CQ"

# --- choice 3: macros ----------------------------------------------------------------
keys 3
key Enter
wait_until 10 screen_has "Please Select ->" || fail "the macros screen did not open"
screen | grep -q '^Function           Command    Key *$' || fail "help table missing"
wait_until 5 row_matches 20 '^Ready      \[1915\] [01] *$' || fail "live flags missing"

for pair in "O ST 1901" "C ST 1902" "E ST 1903" "A ST 1801" "R ST 1900"; do
  k=${pair%% *}
  cmd=${pair#* }
  before=$(count_received "$cmd\\r")
  keys "$k"
  wait_until 10 received_at_least "$cmd\\r" $((before + 1)) || fail "key $k did not send $cmd"
  wait_until 5 row_matches 24 "^$k  $cmd $(answer_of "$cmd") *\$" || fail "key $k: row 24 is '$(row 24)'"
  if [[ $k == O ]]; then
    row_matches 23 '^31 *$' || fail "key O: echo row is '$(row 23)', not 31"
  fi
done

key Escape
wait_until 10 screen_has "Enter [0..6]" || fail "Esc did not leave the macros screen"
[[ $(count_received 'CQ\r') -eq 3 ]] || fail "the macros bracket did not end with CQ"

# --- quit ----------------------------------------------------------------------------
leave_with_choice_0

echo "PASS: monitor_macros"
