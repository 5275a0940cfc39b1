#!/usr/bin/env bash
# End to end: the line's trace as Wireshark sees it. A trace is turned into
# pcapng by vekton-trace --pcapng and read by tshark with the host link's
# dissector (trace/vekton-hostlink.lua); every exchange's command, answer and
# answer time must be what vekton-trace --exchanges says. First a trace
# written here with every case of the pairing in it, then one the console
# records against vekton-sim, with an answer in two pieces and a command the
# store does not answer. Usage: trace_wireshark.sh <build dir>
set -u

source "$(dirname "$0")/../harness.bash"
harness_init "$1" tracewire
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
LUA=$ROOT/trace/vekton-hostlink.lua
READER=$BUILD/vekton-trace
[[ -x $READER ]] || fail "$READER is missing (build the vekton-trace target)"
bash "$ROOT/tools/ensure_deps.sh" trace >&2 || fail "tshark could not be installed"

# compare NAME TRACE... [-- CHECK OPTIONS]: the exchanges of the trace files
# by vekton-trace and by tshark over vekton-trace's pcapng, alike.
compare() {
  local name=$1 files=() opts=()
  shift
  while (($#)) && [[ $1 != -- ]]; do files+=("$1"); shift; done
  (($#)) && shift && opts=("$@")
  "$READER" --exchanges "${files[@]}" >"$TMP/$name.exchanges" 2>"$TMP/$name.err" \
    || fail "$name: vekton-trace --exchanges: $(cat "$TMP/$name.err")"
  "$READER" --pcapng "$TMP/$name.pcapng" "${files[@]}" >/dev/null 2>"$TMP/$name.err" \
    || fail "$name: vekton-trace --pcapng: $(cat "$TMP/$name.err")"
  # Two passes, so that a command knows the frame of its answer; the filter
  # gives the first pass a protocol tree, in which the events' comments are
  # read.
  tshark -2 -Y vekton -r "$TMP/$name.pcapng" -X lua_script:"$LUA" -T fields -E separator=/t \
    -e frame.number -e frame.time_epoch -e vekton.command -e vekton.response_in -e vekton.first_piece \
    -e vekton.answer -e vekton.request_in -e vekton.time >"$TMP/$name.fields" 2>"$TMP/$name.err" \
    || fail "$name: tshark: $(cat "$TMP/$name.err")"
  grep -i 'lua' "$TMP/$name.err" && fail "$name: the dissector failed"
  tshark -2 -r "$TMP/$name.pcapng" -X lua_script:"$LUA" -V 2>&1 | grep -F 'Lua Error' \
    && fail "$name: the dissector failed on a frame"
  python3 "$(dirname "$0")/trace_wireshark_check.py" "$TMP/$name.exchanges" "$TMP/$name.fields" "${opts[@]}" \
    >"$TMP/$name.check" || fail "$name: Wireshark and vekton-trace differ: $(cat "$TMP/$name.check")"
  echo "$name: $(cat "$TMP/$name.check")"
}

harness_diagnostics() {
  local f
  for f in "$TMP"/*.exchanges "$TMP"/*.fields; do
    echo "--- $f ---"
    cat "$f"
  done
}

# --- a trace of every case -----------------------------------------------------------
# A command typed in pieces, an answer in pieces, an answer with bytes no
# printable text has, a poll's empty line behind its command, a command cut
# by Esc, one whose answer the line lost half way, answer bytes no command
# waited for, a new OPEN and a last command with no answer at the end.
mkdir -p "$TMP/made"
MADE=$TMP/made/vekton-20261209-042000-4711.trace
cat >"$MADE" <<'EOF'
2026-12-09T04:20:00.000000+01:00 0.000000 HEAD vekton 1.0.0 part=1 host=lab port=1 line=/dev/pts/3 operator=Anna
2026-12-09T04:20:00.100000+01:00 0.100000 OPEN COM1 /dev/pts/3 9600 8E1 code 0
2026-12-09T04:20:00.200000+01:00 0.200000 PURGE
2026-12-09T04:20:00.201000+01:00 0.201000 TX CR<CR>
2026-12-09T04:20:00.212345+01:00 0.212345 RX CC<CR><LF>
2026-12-09T04:20:00.300000+01:00 0.300000 PURGE
2026-12-09T04:20:00.301000+01:00 0.301000 TX RD DM200<CR><CR>
2026-12-09T04:20:00.313350+01:00 0.313350 RX 001
2026-12-09T04:20:00.375000+01:00 0.375000 RX 23<CR><LF>
2026-12-09T04:20:00.400000+01:00 0.400000 CHOICE 1 Direct commands
2026-12-09T04:20:00.401000+01:00 0.401000 TX W
2026-12-09T04:20:00.402000+01:00 0.402000 TX R DM20 5<CR>
2026-12-09T04:20:00.420049+01:00 0.420049 RX OK<CR><LF>
2026-12-09T04:20:00.500000+01:00 0.500000 PURGE
2026-12-09T04:20:00.501000+01:00 0.501000 TX RD 1915<CR>
2026-12-09T04:20:01.500000+01:00 1.500000 ESC RD 1915
2026-12-09T04:20:01.600000+01:00 1.600000 PURGE 3 bytes unread
2026-12-09T04:20:01.601000+01:00 1.601000 TX ST 1904<CR>
2026-12-09T04:20:01.611000+01:00 1.611000 RX E1<CR><LF>
2026-12-09T04:20:01.701000+01:00 1.701000 TX RD T12<CR>
2026-12-09T04:20:01.711000+01:00 1.711000 RX 1,00012,00100<CR><LF>
2026-12-09T04:20:01.801000+01:00 1.801000 TX RD DM5<CR>
2026-12-09T04:20:01.815000+01:00 1.815000 RX \xE9<DEL>\x5C\x3C00012<CR><LF>
2026-12-09T04:20:01.901000+01:00 1.901000 TX RD DM1<CR>
2026-12-09T04:20:01.910000+01:00 1.910000 RX 000
2026-12-09T04:20:02.000000+01:00 2.000000 LOST COM1 code 20007
2026-12-09T04:20:02.100000+01:00 2.100000 RX 12<CR><LF>
2026-12-09T04:20:02.200000+01:00 2.200000 BACK COM1
2026-12-09T04:20:02.300000+01:00 2.300000 OPEN COM1 /dev/pts/3 9600 8E1 code 0
2026-12-09T04:20:02.301000+01:00 2.301000 TX RD 1915<CR><CR>
2026-12-09T04:20:02.311000+01:00 2.311000 RX 1<CR><LF>
2026-12-09T04:20:02.401000+01:00 2.401000 TX CQ<CR>
EOF
compare made "$MADE" -- --want-split --want-no-answer
# The list as a technician reads it: the answer's line names its command's
# frame and the time.
info=$(tshark -2 -r "$TMP/made.pcapng" -X lua_script:"$LUA" -T fields -e _ws.col.Info 2>/dev/null)
grep -qxF '00123 (answer to frame 7, 12.4 ms)' <<<"$info" || fail "no info line for the split answer: $info"
grep -qxF 'WR DM20 5' <<<"$info" || fail "the typed command is not joined: $info"
grep -qxF 'ESC RD 1915' <<<"$info" || fail "the Esc event is not shown: $info"

# --- a trace the console records ---------------------------------------------------
"$VEKTON" --help 2>&1 | grep -q -- '--trace DIR' || fail "vekton has no --trace option to record with"
start_sim
VEKTON="$VEKTON --trace $TMP/traces"
start_console
to_menu
keys 1
key Enter
wait_until 10 screen_has "Enter direct commands to KV-PLC, press esc to quit" || fail "no direct commands"
control "fault split 30"
keys "RD DM0"
key Enter
wait_until 5 answer_shown "RD DM0" || fail "no answer to RD DM0"
control "fault silent"
keys "RD DM1"
key Enter
sleep 2
control "fault none"
sleep 1
keys "RD DM2"
key Enter
wait_until 5 answer_shown "RD DM2" || fail "no answer to RD DM2"
key Escape
wait_until 10 menu_ready || fail "no menu after Esc"
quit_console >/dev/null || fail "the console did not end cleanly"
shopt -s nullglob
runs=("$TMP"/traces/vekton-*.trace)
((${#runs[@]})) || fail "the console wrote no trace in $TMP/traces"
compare console "${runs[@]}" -- --want-split --want-no-answer
grep -qP '\tRD DM0\t\d{5}\t' "$TMP/console.exchanges" || fail "RD DM0 and its answer are not an exchange"
grep -qP '\tRD DM1\tno answer\t-$' "$TMP/console.exchanges" || fail "RD DM1 is not without an answer"
echo "PASS"
