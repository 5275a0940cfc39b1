#!/usr/bin/env bash
# End to end: the all-slots test in the real vekton (tmux, 80 x 25) against
# vekton-sim on a pseudo-terminal. Choice 6, the quick standard test runs one
# whole cycle over the store, Esc and Q bring the menu back, 0 exits with 0.
# Usage: all_slots.sh <build dir>
set -u

BUILD=$(cd "${1:?usage: $0 <build dir>}" && pwd)
VEKTON=$BUILD/vekton
SIM=$BUILD/sim/vekton-sim

for bin in "$VEKTON" "$SIM"; do
  if [[ ! -x $bin ]]; then
    echo "FAIL: $bin is missing (build the vekton and vekton-sim targets)" >&2
    exit 1
  fi
done
command -v tmux >/dev/null || { echo "FAIL: tmux is not installed" >&2; exit 1; }

TMP=$(mktemp -d "${TMPDIR:-/tmp}/vekton-allslots.XXXXXX")
SOCK=vekton-allslots-$$-$RANDOM  # a tmux server of our own: nothing else is touched
SESSION=allslots
LINK=$TMP/com1
TRACE=$TMP/trace.log
ACCESSES=$TMP/accesses.log
SIM_PID=

cleanup() {
  tmux -L "$SOCK" kill-server 2>/dev/null
  if [[ -n $SIM_PID ]]; then
    kill "$SIM_PID" 2>/dev/null
    wait "$SIM_PID" 2>/dev/null
  fi
  rm -rf "$TMP"
}
trap cleanup EXIT
trap 'exit 2' INT TERM HUP

screen() { tmux -L "$SOCK" capture-pane -t "$SESSION" -p 2>/dev/null; }

fail() {
  echo "FAIL: $*" >&2
  echo "--- screen ---" >&2
  screen >&2
  echo "--- trace (last 40 lines) ---" >&2
  tail -n 40 "$TRACE" >&2 2>/dev/null
  echo "--- accesses (first 3, last 5 and any that went wrong) ---" >&2
  head -n 3 "$ACCESSES" >&2 2>/dev/null
  tail -n 5 "$ACCESSES" >&2 2>/dev/null
  awk '!/^#/ && $NF != "ok"' "$ACCESSES" >&2 2>/dev/null
  echo "--- simulator output ---" >&2
  cat "$TMP/sim.out" >&2 2>/dev/null
  exit 1
}

# Polls until a command succeeds or the deadline (seconds) passes.
wait_until() {
  local deadline=$(( $(date +%s%N) + ${1} * 1000000000 ))
  shift
  until "$@"; do
    (( $(date +%s%N) > deadline )) && return 1
    sleep 0.1
  done
}

screen_has() { screen | grep -qF -- "$1"; }
screen_matches() { screen | grep -qE -- "$1"; }
menu_ready() { screen_has "Enter [0..6]" && ! screen_has "Open Comport   ->"; }
keys() { tmux -L "$SOCK" send-keys -t "$SESSION" -l -- "$1"; }
key() { tmux -L "$SOCK" send-keys -t "$SESSION" "$1"; }

received() { awk '$2 == "RX" { sub(/^[^ ]+ RX /, ""); printf "%s", $0 }' "$TRACE" 2>/dev/null; }
count_received() { received | grep -oF -- "$1" | wc -l; }
received_at_least() { (( $(count_received "$1") >= $2 )); }
# Accesses the store finished well, and those that went wrong.
# (The record starts with a comment line naming its columns.)
accesses_ok() { awk '!/^#/ && $NF == "ok"' "$ACCESSES" 2>/dev/null | wc -l; }
accesses_bad() { awk '!/^#/ && $NF != "ok" && $NF != "aborted"' "$ACCESSES" 2>/dev/null | wc -l; }

# --- the simulated store: 9 cassettes, firmware 7120 (negative DM0, each
# cassette's own level count; cassettes 3 and 7 have 11 levels, the rest 22).
# The mechanics run fast; the console still waits for every Ready.
"$SIM" --link "$LINK" --trace "$TRACE" --accesses "$ACCESSES" --speed 20 >"$TMP/sim.out" 2>&1 &
SIM_PID=$!
wait_until 10 grep -q '^PTY ' "$TMP/sim.out" || fail "vekton-sim did not announce its PTY"
wait_until 5 test -e "$LINK" || fail "vekton-sim left no link at $LINK"

# --- the console ------------------------------------------------------------------
tmux -L "$SOCK" new-session -d -s "$SESSION" -x 80 -y 25 \
  "env TERM=xterm-256color LANG=C.UTF-8 VEKTON_COM1=$LINK $VEKTON; echo EXIT=\$? > $TMP/exit; sleep 600" \
  || fail "tmux could not start"

wait_until 10 screen_has "Enter Port Number to Vekton" || fail "no port prompt"
keys 1
key Enter
wait_until 5 screen_has "Enter Operator Name" || fail "no operator prompt"
key Enter
wait_until 10 menu_ready || fail "no main menu"

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
keys 0
key Enter
wait_until 10 test -s "$TMP/exit" || fail "vekton did not exit after choice 0"
[[ $(cat "$TMP/exit") == "EXIT=0" ]] || fail "exit code: $(cat "$TMP/exit")"

echo "PASS: all_slots ($(accesses_ok) accesses)"
