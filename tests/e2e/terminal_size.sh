#!/usr/bin/env bash
# End to end: the real vekton in a tmux window of any size against
# vekton-sim at ten times the store's speed. Started at 70 x 20 it says the
# terminal is too small and waits; at 20 x 5 the message is wrapped; at
# 80 x 25 it shows the screen it was on, the same as a console started at
# 80 x 25; larger, the screen stays at the top left. Made small in the
# middle of the standard random-access test, the test goes on (the store
# keeps being accessed), Esc typed while small still stops it, and back at
# 80 x 25 the quit question is on the screen; the result file is whole.
# CAPTURES=DIR keeps the screens captured at each size there.
# Usage: terminal_size.sh <build dir>
set -u

source "$(dirname "$0")/../harness.bash"
harness_init "$1" termsize
WORK=$TMP/work  # the console's working directory: the result file lands here
mkdir -p "$WORK"
RESULT=$WORK/1234_00.spf
harness_diagnostics() {
  echo "--- accesses (last 10) ---"
  tail -n 10 "$ACCESSES"
  echo "--- result file ---"
  cat "$RESULT"
}

resize() { tmux -L "$SOCK" resize-window -t "$SESSION" -x "$1" -y "$2" || fail "tmux could not resize to $1 x $2"; }
size_is() { [[ $(tmux -L "$SOCK" display -p -t "$SESSION" '#{pane_width}x#{pane_height}') == "$1x$2" ]]; }
# The pane's text, trailing blanks of each line and blank lines at the end
# left out (tmux leaves them out inconsistently).
tidy() { sed 's/ *$//' | sed -e :a -e '/^\n*$/{$d;N;ba' -e '}'; }
capture() {
  screen | tidy >"$TMP/$1.txt"
  # With the colours, as tmux's grid holds them.
  tmux -L "$SOCK" capture-pane -t "$SESSION" -p -e >"$TMP/$1.cells" 2>/dev/null
  if [[ -n ${CAPTURES:-} ]]; then mkdir -p "$CAPTURES" && cp "$TMP/$1.txt" "$TMP/$1.cells" "$CAPTURES/"; fi
}
# What a person sees of a colour capture, cell by cell (screen_cells, see
# tests/e2e-windows/screen_cells.cpp), the foreground of blank cells left
# out: a terminal erasing a run of blanks keeps no foreground for them.
SCREEN_CELLS=$TMP/screen_cells
g++ -O2 -o "$SCREEN_CELLS" "$(dirname "$0")/../e2e-windows/screen_cells.cpp" || fail "cannot build screen_cells"
seen() {
  "$SCREEN_CELLS" <"$1" | python3 -c '
import sys
text = None
for line in sys.stdin.read().splitlines():
    if line.startswith("T"):
        text = line[4:]
        print(line)
    elif line.startswith("A") and text is not None:
        cells = line[4:]
        print(line[:4] + "".join(("-" if text[i] == " " else cells[2 * i]) + cells[2 * i + 1]
                                 for i in range(len(cells) // 2)))
'
}
alive() { kill -0 "$(console_pid)" 2>/dev/null; }
message() { echo "This program needs a terminal of 80 x 25; this one is $1 x $2."; }

start_sim --speed 10

# --- started at 70 x 20: the message, and it waits -----------------------------------------
CONSOLE_COLS=70 CONSOLE_ROWS=20 start_console "$WORK"
wait_until 10 screen_has "$(message 70 20)" || fail "no 'too small' message at 70 x 20"
capture 70x20
sleep 1
capture 70x20-later
cmp -s "$TMP/70x20.txt" "$TMP/70x20-later.txt" || fail "the screen changed while the terminal was small"
[[ $(cat "$TMP/70x20.txt") == "$(message 70 20)" ]] \
  || fail "more than the message at 70 x 20: $(cat "$TMP/70x20.txt")"
alive || fail "vekton did not wait at 70 x 20"

# The same screen at 80 x 25 from a console started there, to compare with.
MAIN=$SESSION
start_console --session reference
wait_until 10 screen_has "Enter Port Number to Vekton" || fail "the reference console shows no port prompt"
sleep 0.5
screen | tidy >"$TMP/reference.txt"
tmux -L "$SOCK" capture-pane -t reference -p -e >"$TMP/reference.cells"
tmux -L "$SOCK" kill-session -t reference
SESSION=$MAIN

# --- 80 x 25: the screen it was on, complete --------------------------------------------------
resize 80 25
wait_until 10 screen_has "Enter Port Number to Vekton" || fail "no port prompt at 80 x 25"
sleep 0.5
capture 80x25
cmp -s "$TMP/80x25.txt" "$TMP/reference.txt" \
  || fail "at 80 x 25 not the screen of a console started there: $(diff "$TMP/reference.txt" "$TMP/80x25.txt")"
[[ $(seen "$TMP/80x25.cells") == "$(seen "$TMP/reference.cells")" ]] \
  || fail "at 80 x 25 not the colours of a console started there: $(diff <(seen "$TMP/reference.cells") <(seen "$TMP/80x25.cells"))"

# --- at the main menu: 20 x 5, 1 x 1, larger, and back to 80 x 25 --------------------------
keys 1
key Enter
wait_until 5 screen_has "Enter Operator Name" || fail "no operator prompt"
key Enter
wait_until 10 menu_ready || fail "no main menu"
sleep 0.5
capture menu-80x25

resize 20 5
wait_until 10 screen_has "this one is 20 x 5." || fail "no 'too small' message at 20 x 5"
capture 20x5
[[ $(cat "$TMP/20x5.txt") == $'This program needs a\nterminal of 80 x 25;\nthis one is 20 x 5.' ]] \
  || fail "the message at 20 x 5 is not wrapped in the space there is: $(cat "$TMP/20x5.txt")"
resize 1 1
wait_until 5 size_is 1 1 || fail "tmux did not resize to 1 x 1"
sleep 0.5
capture 1x1
[[ $(cat "$TMP/1x1.txt") == T ]] || fail "at 1 x 1 not the message's first letter: $(cat "$TMP/1x1.txt")"
alive || fail "vekton ended at 1 x 1"
resize 80 25
wait_until 10 menu_ready || fail "no main menu back at 80 x 25"
sleep 0.5
capture menu-80x25-again
cmp -s "$TMP/menu-80x25-again.txt" "$TMP/menu-80x25.txt" \
  || fail "back at 80 x 25 not the whole menu: $(diff "$TMP/menu-80x25.txt" "$TMP/menu-80x25-again.txt")"
[[ $(seen "$TMP/menu-80x25-again.cells") == "$(seen "$TMP/menu-80x25.cells")" ]] \
  || fail "back at 80 x 25 the menu's colours differ: $(diff <(seen "$TMP/menu-80x25.cells") <(seen "$TMP/menu-80x25-again.cells"))"

# --- larger: the screen at the top left ---------------------------------------------------
resize 100 30
wait_until 5 size_is 100 30 || fail "tmux did not resize to 100 x 30"
sleep 0.5
capture menu-100x30
cmp -s "$TMP/menu-100x30.txt" "$TMP/menu-80x25.txt" \
  || fail "at 100 x 30 not the menu at the top left: $(diff "$TMP/menu-80x25.txt" "$TMP/menu-100x30.txt")"
resize 80 25
sleep 0.5

# --- the standard random-access test, made small in its middle -----------------------------
start_standard_random_access 1
wait_until 10 test -s "$RESULT" || fail "no result file $RESULT"
wait_until 60 accesses_at_least 4 || fail "fewer than 4 accesses within a minute"

resize 70 20
wait_until 5 screen_has "$(message 70 20)" || fail "no 'too small' message in the middle of the test"
small_from=$(performed)
wait_until 60 accesses_at_least $((small_from + 4)) \
  || fail "the test did not go on while the terminal was small ($small_from accesses, then $(performed))"
[[ $(screen | tidy) == "$(message 70 20)" ]] || fail "more than the message while small during the test"

resize 80 25
wait_until 5 screen_matches $'\xe2\x94\x82At ' || fail "the test's screen did not come back at 80 x 25"
capture 80x25-test
# Whole: the status line, and every access line from the first on, those
# drawn before the terminal was made small included.
head -n 1 "$TMP/80x25-test.txt" | grep -q '^Vekton  # 1234 .* [0-9][0-9]:[0-9][0-9]:[0-9][0-9]$' \
  || fail "no status line on the test's screen back at 80 x 25"
numbers=$(grep $'\xe2\x94\x82At ' "$TMP/80x25-test.txt" | awk '{ print $2 }' | tr '\n' ' ')
expected=$(seq 1 "$(grep -c $'\xe2\x94\x82At ' "$TMP/80x25-test.txt")" | tr '\n' ' ')
[[ $numbers == "$expected" ]] || fail "access lines missing back at 80 x 25: $numbers"
(( $(grep -c $'\xe2\x94\x82At ' "$TMP/80x25-test.txt") >= small_from + 2 )) \
  || fail "fewer access lines than accesses back at 80 x 25"

# Esc while small: the program still reads it and asks; shown when large.
resize 70 20
wait_until 5 screen_has "$(message 70 20)" || fail "no 'too small' message before the Esc"
key Escape
sleep 2
[[ $(screen | tidy) == "$(message 70 20)" ]] || fail "more than the message after the Esc while small"
resize 80 25
wait_until 10 screen_has "Quit/Term ?" || fail "Esc typed while small did not ask 'Quit/Term ?'"
keys Q
wait_until 30 screen_has "Mean UnLoad Time:" || fail "no summary after Q"
capture 80x25-summary

# --- the result file is whole ----------------------------------------------------------------------
check_result_file "$RESULT"
total=$(total_accesses "$RESULT")
finished=$(performed)
[[ -n $total ]] && (( total >= small_from + 2 && (total == finished - 1 || total == finished - 2) )) \
  || fail "Total Accesses $total does not fit the $finished accesses the store performed"

# --- any key: the menu; 0: the end ------------------------------------------------------------
keys " "
wait_until 10 menu_ready || fail "no menu after the summary's key"
leave_with_choice_0

echo "PASS: terminal_size ($total accesses counted, $((finished - small_from)) performed after the terminal was first made small)"
