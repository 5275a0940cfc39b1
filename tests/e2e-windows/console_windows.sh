#!/usr/bin/env bash
# End to end under Wine: vekton.exe in tmux (80 x 25), COM1 linked to
# vekton-sim's pseudo-terminal, and the Linux vekton the same way, given the
# same keys: start-up, the main menu, a choice above "3" (its configuration
# bracket), direct commands, a minute of the all-slots test (quick standard
# test), Esc and Q back to the menu, 0 to exit with code 0.
#
# The two must show the same screens (text and colours, cell by cell, with
# the clock masked) and send the same commands (the status polls, whose
# number follows the clock, left out). The all-slots run is stopped by Esc at
# a moment that differs between the runs, so there the commands must agree up
# to that moment, over at least one whole cycle through the store.
#
# Usage: console_windows.sh <linux build dir> <windows build dir>
set -u
source "$(dirname "$0")/wine.bash"
windows_init "${1:-}" "${2:-}" console-win

# How long the all-slots test runs (seconds), at least one whole cycle.
RUN_SECONDS=${VEKTON_ALLSLOTS_SECONDS:-60}
# An operator name beyond ASCII: code-page-437 letters and a box glyph.
OPERATOR="Jürg│Ω"
# The last access of the first cycle over the nine cassettes, complete.
CYCLE_DONE="Cyc   1  Lvl 22  Pos -9  Laod   OK OK OK   Unload   OK OK OK"

# Masks what follows the clock: times and dates anywhere, and the status
# line's poll direction arrow.
mask() {
  sed -E -e 's/[0-9]{2}:[0-9]{2}:[0-9]{2}/hh:mm:ss/g' -e 's/[0-9]{2}-[0-9]{2}-[0-9]{2}/dd-mm-yy/g' \
    -e '/^T01 Vekton/s/(<-|->)/~~/' "$1"
}

# flow linux|windows: the whole session; screens go to $TMP/<kind>/*.cells,
# the commands received to $TMP/<kind>.wire. The two run side by side, each
# with a simulator of its own (Wine's COM1 is mapped to the link "com1").
flow() {
  local kind=$1
  local out=$TMP/$kind
  mkdir -p "$out"
  trap 'tmux -L "$SOCK" kill-session -t "$SESSION" 2>/dev/null; stop_sim' EXIT
  start_sim --as "$([[ $kind == windows ]] && echo com1 || echo linux-com1)" --speed 20
  start_console --"$kind" --session "$kind"

  # Wine boots its services and console in a few seconds.
  wait_until 40 port_prompt_ready || fail "$kind: no port prompt"
  capture "$out/01-port.cells"
  keys 1
  key Enter
  wait_until 10 screen_has "Enter Operator Name" || fail "$kind: no operator prompt"
  # Typed as UTF-8 into the terminal, taken as code page 437 (129, 179, 234)
  # and shown again as those glyphs in the menu's banner.
  keys "$OPERATOR"
  key Enter
  # The start-up result stays for half a second before the menu.
  wait_until 10 screen_has " Closed" || fail "$kind: start-up did not reach the controller"
  capture "$out/02-startup.cells"
  grep -q '^T05 CF Closed' "$out/02-startup.cells" || fail "$kind: start-up screen incomplete"

  wait_until 10 menu_ready || fail "$kind: no main menu"
  capture "$out/03-menu.cells"
  grep -qF -- "$OPERATOR" "$out/03-menu.cells" || fail "$kind: operator name not shown as typed"

  # A choice above "3" that names no screen: only its bracket runs.
  keys 9
  key Enter
  wait_until 10 received_lines_at_least CQ 2 || fail "$kind: choice 9 did not end with CQ"
  wait_until 10 menu_ready || fail "$kind: menu did not come back after choice 9"

  # Direct commands: one typed command and its answer, then some polls.
  keys 1
  key Enter
  wait_until 10 screen_has "Enter direct commands to KV-PLC, press esc to quit" \
    || fail "$kind: direct command console did not open"
  keys "RD DM0"
  key Enter
  wait_until 10 received_lines_at_least "RD DM0" 1 || fail "$kind: typed command did not arrive"
  wait_until 5 screen_has "00000" || fail "$kind: answer to RD DM0 not shown"
  wait_until 10 received_lines_at_least "RD DM200" 4 || fail "$kind: too few status polls"
  capture "$out/04-direct.cells"
  key Escape
  wait_until 10 received_lines_at_least CQ 3 || fail "$kind: Esc did not end the console with CQ"
  wait_until 10 menu_ready || fail "$kind: menu did not come back after Esc"

  # The all-slots test, quick standard form.
  keys 6
  key Enter
  wait_until 20 screen_has "Standard Test [Y/Q/N]" || fail "$kind: no set-up question"
  capture "$out/05-allslots-setup.cells"
  keys q
  wait_until 10 screen_has "Inverse Mode [Y/N]" || fail "$kind: no inverse question"
  local started=$SECONDS
  keys n
  wait_until 30 screen_has "Cyc   1  Lvl  1  Pos -1  Laod" || fail "$kind: the quick test did not start"
  wait_until $((RUN_SECONDS + 120)) screen_has "$CYCLE_DONE" || fail "$kind: the first cycle did not complete"
  capture "$out/06-allslots-cycle.cells"
  local left=$((RUN_SECONDS - (SECONDS - started)))
  ((left > 0)) && sleep "$left"
  echo "$kind: all-slots test ran $((SECONDS - started)) s"
  key Escape
  wait_until 20 screen_has "Quit/Term ?" || fail "$kind: Esc did not ask Quit/Term"
  keys q
  wait_until 30 menu_ready || fail "$kind: Q did not bring the menu back"

  keys 0
  key Enter
  wait_until 15 exited || fail "$kind: vekton did not exit after choice 0"
  [[ $(exit_code) == 0 ]] || fail "$kind: exit code $(exit_code)"
  wire_commands "$TRACE" >"$TMP/$kind.wire"
}

# Rows first..last of a capture (text and colour lines).
rows() { awk -v a="$2" -v b="$3" '{ r = substr($1, 2) + 0 } r >= a && r <= b' "$1"; }
marker_row() { grep -nF -- "$2" "$1" | head -n 1 | cut -d: -f1 | awk '{ print ($1 + 1) / 2 }'; }

same_screen() {
  local name=$1
  if ! diff <(mask "$TMP/linux/$name.cells") <(mask "$TMP/windows/$name.cells") >"$TMP/$name.diff"; then
    echo "--- $name: Linux (<) and Windows (>) differ ---" >&2
    cat "$TMP/$name.diff" >&2
    fail "screen $name differs"
  fi
}

prepare_wine
build_tools
(flow windows) >"$TMP/flow-windows.log" 2>&1 &
windows_pid=$!
(flow linux) >"$TMP/flow-linux.log" 2>&1 &
linux_pid=$!
wait "$windows_pid"
windows_rc=$?
wait "$linux_pid"
linux_rc=$?
cat "$TMP/flow-windows.log" "$TMP/flow-linux.log"
((windows_rc == 0 && linux_rc == 0)) || fail "a session failed (Windows $windows_rc, Linux $linux_rc)"

# --- the screens ------------------------------------------------------------------
for name in 01-port 02-startup 03-menu 04-direct 05-allslots-setup; do
  same_screen "$name"
done
# The run screen scrolls on: the rows up to the cycle's last line, counted
# from that line upwards, as far as both captures reach (row 1, the status
# line, shows the store's state of the moment and is left out).
w=$(marker_row "$TMP/windows/06-allslots-cycle.cells" "$CYCLE_DONE")
l=$(marker_row "$TMP/linux/06-allslots-cycle.cells" "$CYCLE_DONE")
[[ -n $w && -n $l ]] || fail "cycle marker missing from a capture"
n=$((w < l ? w - 1 : l - 1))
rows "$TMP/windows/06-allslots-cycle.cells" $((w - n + 1)) "$w" | sed -E 's/^([TA])[0-9]+/\1/' >"$TMP/w6"
rows "$TMP/linux/06-allslots-cycle.cells" $((l - n + 1)) "$l" | sed -E 's/^([TA])[0-9]+/\1/' >"$TMP/l6"
diff "$TMP/l6" "$TMP/w6" >&2 || fail "the all-slots run screens differ (last $n rows up to the first cycle's end)"

# --- the wire ---------------------------------------------------------------------
# Split at each CQ: start-up, choice 9, direct commands, all-slots test,
# choice 0 (its bracket, then the exit).
split_wire() { awk -v dir="$2" 'BEGIN { n = 1 } { print > (dir "/seg" n) } $0 == "CQ" { n++ }' "$1"; }
mkdir -p "$TMP/wl" "$TMP/ww"
split_wire "$TMP/linux.wire" "$TMP/wl"
split_wire "$TMP/windows.wire" "$TMP/ww"
for seg in 1 2 3 5; do
  [[ -f $TMP/wl/seg$seg && -f $TMP/ww/seg$seg ]] || fail "part $seg of the commands is missing"
  diff "$TMP/wl/seg$seg" "$TMP/ww/seg$seg" >&2 || fail "commands of part $seg differ (Linux <, Windows >)"
done
[[ -f $TMP/wl/seg6 || -f $TMP/ww/seg6 ]] && fail "commands after the exit's CQ"
# The all-slots test: the same commands up to where the earlier Esc cut in.
common=$(awk 'NR == FNR { a[FNR] = $0; n = FNR; next }
  !done && (FNR > n || a[FNR] != $0) { print FNR - 1; done = 1 }
  END { if (!done) print (FNR < n ? FNR : n) }' "$TMP/wl/seg4" "$TMP/ww/seg4")
head -n "$common" "$TMP/wl/seg4" >"$TMP/common4"
accesses=$(grep -cE '^ST 190[89]$' "$TMP/common4")
# The pick from 1,1 and 36 accesses of the first cycle, each a load or an
# unload relay.
((accesses >= 37)) || {
  diff "$TMP/wl/seg4" "$TMP/ww/seg4" | head -n 40 >&2
  fail "the all-slots commands agree only over $accesses accesses"
}
echo "commands: start-up $(wc -l <"$TMP/wl/seg1"), choice 9 $(wc -l <"$TMP/wl/seg2"), direct $(wc -l <"$TMP/wl/seg3"), all-slots $common of $(wc -l <"$TMP/wl/seg4") / $(wc -l <"$TMP/ww/seg4") lines alike ($accesses accesses)"
echo "PASS: console_windows"
