#!/usr/bin/env bash
# End to end: the all-slots test in the real vekton (tmux, 80 x 25) against
# vekton-sim on a pseudo-terminal. Choice 6, the quick standard test runs one
# whole cycle over the store, Esc and Q bring the menu back, 0 exits with 0.
# Usage: all_slots.sh <build dir>
set -u

source "$(dirname "$0")/../harness.bash"
harness_init "$1" allslots
harness_diagnostics() {
  echo "--- accesses (first 3, last 5 and any that went wrong) ---"
  head -n 3 "$ACCESSES"
  tail -n 5 "$ACCESSES"
  awk '!/^#/ && $NF != "ok"' "$ACCESSES"
}

# Accesses the store finished well, and those that went wrong.
# (The record starts with a comment line naming its columns.)
accesses_ok() { awk '!/^#/ && $NF == "ok"' "$ACCESSES" 2>/dev/null | wc -l; }
accesses_bad() { awk '!/^#/ && $NF != "ok" && $NF != "aborted"' "$ACCESSES" 2>/dev/null | wc -l; }

# --- the simulated store: 9 cassettes, firmware 7120 (negative DM0, each
# cassette's own level count; cassettes 3 and 7 have 11 levels, the rest 22).
# The mechanics run fast; the console still waits for every Ready.
start_sim --speed 20
start_console

to_menu

# --- choice 6: geometry, warning, the first question ---------------------------------
keys 6
key Enter
wait_until 15 screen_has "Standard Test [Y/Q/N]" || fail "no set-up question"
geo=$(screen)
for c in 1 2 4 5 6 8 9; do
  grep -qE "^ $c 22 *$" <<<"$geo" || fail "cassette $c's level count missing"
done
grep -qE '^ 3 11 *$' <<<"$geo" && grep -qE '^ 7 11 *$' <<<"$geo" || fail "short cassettes not listed"
grep -q '^Plates 176 *$' <<<"$geo" || fail "no 'Plates 176'"
grep -q '^! Remove all Plates from Cassettes except one ! *$' <<<"$geo" || fail "no warning"
grep -q '^Detected Levels: 22            CarPos: 9 *$' <<<"$geo" || fail "no geometry line"

keys q
wait_until 5 screen_has "Inverse Mode [Y/N]" || fail "no inverse question"
keys n
wait_until 20 screen_has "Cyc   1  Lvl  1  Pos -1  Laod" || fail "the quick test did not start"

# One cycle over the nine cassettes is 36 accesses after the pick from 1,1;
# the first line of the second cycle shows it is complete.
wait_until 200 screen_has "Cyc   2  Lvl  1  Pos -1  Laod" || fail "the first cycle did not complete"
run=$(screen)
grep -qE '^Cyc   1  Lvl 22  Pos -9  Laod   OK OK OK   Unload   OK OK OK *$' <<<"$run" \
  || fail "last line of the first cycle missing"

key Escape
wait_until 15 screen_has "Quit/Term ?" || fail "Esc did not ask Quit/Term"
keys q
wait_until 30 menu_ready || fail "Q did not bring the menu back"

# What the store did: the pick and the whole cycle went well, nothing failed.
(( $(accesses_ok) >= 37 )) || fail "the store finished only $(accesses_ok) accesses"
(( $(accesses_bad) == 0 )) || fail "$(accesses_bad) accesses went wrong"
received | grep -qF 'RD DM108\rRD DM251\r' || fail "per-cassette levels not read from DM251 on"
received | grep -qF 'ST 1801\r' || fail "carousel not activated"
received | grep -qF 'WR DM0 1\rWR DM5 1\rST 1908\r' || fail "no pick from 1,1"
received | grep -qF 'WR DM0 65527\rWR DM5 22\rST 1909\r' || fail "cassette 9's top level not loaded by negative DM0"

# --- quit ------------------------------------------------------------------------------
leave_with_choice_0

echo "PASS: all_slots ($(accesses_ok) accesses)"
