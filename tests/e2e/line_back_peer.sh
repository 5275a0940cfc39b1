#!/usr/bin/env bash
# End to end without the simulator: the console's line is a pseudo-terminal
# held by a plain test peer (plain_peer.py), which closes it and, two seconds
# later, makes a new one at the same link. In the direct command console row
# 1 says "Line lost", the status polls go on by themselves once the line is
# back, and a command typed while the line was down reaches the peer once,
# whole, with its answer shown.
# Usage: line_back_peer.sh <build dir>
set -u

source "$(dirname "$0")/../harness.bash"
harness_init "$1" linepeer
PEER_LOG=$TMP/peer.log
PEER_CONTROL=$TMP/peer.control
harness_diagnostics() {
  echo "--- peer ---"
  cat "$PEER_LOG"
}
/usr/bin/python3 "$(dirname "$0")/plain_peer.py" "$LINK" "$PEER_CONTROL" "$PEER_LOG" &
PEER_PID=$!
trap 'kill $PEER_PID 2>/dev/null; harness_cleanup' EXIT
wait_until 10 test -e "$LINK" || fail "the peer made no link"
peer_lines() { sed -n 's/^RX //p' "$PEER_LOG"; }
count_lines() { peer_lines | grep -cxF -- "$1"; }
count_lines_at_least() { (( $(count_lines "$1") >= $2 )); }
opened_at_least() { (( $(grep -c '^OPEN' "$PEER_LOG") >= $1 )); }

start_console
to_menu
keys 1
key Enter
wait_until 10 screen_has "Enter direct commands to KV-PLC, press esc to quit" || fail "no direct command console"

echo close >"$PEER_CONTROL"
wait_until 10 row_matches 1 'Line lost [0-9]{2}:[0-9]{2}:[0-9]{2}' || fail "row 1 does not say the line is lost: $(row 1)"
# Typed while the line is down: it waits for the line.
keys "RD DM7"
key Enter
sleep 2
[[ $(count_lines 'RD DM7') == 0 ]] || fail "a command went out while the line was down"
echo open >"$PEER_CONTROL"
wait_until 10 opened_at_least 2 || fail "the peer did not open again"
wait_until 10 row_matches 1 'SysStat \$0000' || fail "the status line did not come back: $(row 1)"
wait_until 10 count_lines_at_least 'RD DM7' 1 \
  || fail "the command typed while the line was down never went out"
# (It went right behind the status poll that waited for the line, so its
# answer counts as the poll's, as with any command typed while a poll is due.)
sleep 1
[[ $(count_lines 'RD DM7') == 1 ]] || fail "RD DM7 reached the peer $(count_lines 'RD DM7') times"
keys "RD DM8"
key Enter
wait_until 10 answer_shown "RD DM8" '^ *00000 *$' \
  || fail "the answer to a command typed once the line was back is not shown"
key Escape
wait_until 10 menu_ready || fail "no menu after Esc"
leave_with_choice_0
echo "PASS: line_back_peer (peer closed and back, typed command sent once)"
