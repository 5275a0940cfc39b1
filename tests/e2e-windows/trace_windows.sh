#!/usr/bin/env bash
# End to end under Wine: vekton.exe records its line. Started with --trace
# and a folder written the Windows way and not in ASCII (Z:\...\Jürg\traces,
# as a user's %LOCALAPPDATA% may be), against vekton-sim on COM1, in a time
# zone half an hour off the hour (Asia/Kolkata, +05:30): start-up, two typed
# commands in choice 1, Esc, 0. Then
#   - the run's one file is named vekton-YYYYMMDD-HHMMSS-PID.trace by the
#     run's local start, and its records' wall clocks are the UTC of the run
#     with +05:30;
#   - vekton-trace.exe --trace DIR --exchanges lists both typed commands
#     with the answers the simulator gave, also while vekton.exe is still
#     writing the file;
#   - the TX bytes of the trace are byte for byte what the simulator
#     received, and its RX bytes what the simulator sent, in order.
# Last, a run without --trace records under %LOCALAPPDATA%\Vekton\trace,
# where vekton-trace.exe finds it without --trace too.
#
# Usage: trace_windows.sh <linux build dir> <windows build dir>
set -u
source "$(dirname "$0")/wine.bash"
windows_init "${1:-}" "${2:-}" trace-win
TRACE_EXE=$BUILD_WIN/vekton-trace.exe
[[ -f $TRACE_EXE ]] || fail "$TRACE_EXE is missing (build vekton-trace.exe in $BUILD_WIN)"
command -v python3 >/dev/null || fail "python3 is not installed"

prepare_wine
ZONE=Asia/Kolkata
FOLDER=$TMP/Jürg/traces
WIN_FOLDER="Z:${FOLDER//\//\\}"
CONSOLE_EXE=$VEKTON_EXE

# vekton-trace.exe ARGS...: its standard output without the console's CRs;
# its status is the program's.
vekton_trace() {
  local rc
  WINEDEBUG=-all wine "$TRACE_EXE" "$@" >"$TMP/vt.out" 2>"$TMP/vt.err"
  rc=$?
  tr -d '\r' <"$TMP/vt.out"
  return $rc
}

# session NAME [OPTIONS]: start-up on port 1 and the menu; vekton.exe given
# OPTIONS (no blanks in them: start_console makes one shell line of it).
session() {
  local name=$1
  shift
  VEKTON_EXE="$CONSOLE_EXE${*:+ $*}"
  start_console --windows --session "$name"
  wait_until 40 port_prompt_ready || fail "$name: no port prompt"
  keys 1
  key Enter
  wait_until 10 screen_has "Enter Operator Name" || fail "$name: no operator prompt"
  keys Anna
  key Enter
  wait_until 15 screen_has " Closed" || fail "$name: start-up did not reach the controller"
  wait_until 10 menu_ready || fail "$name: no main menu"
}
leave() {
  leave_with_choice_0 "$1"
  tmux -L "$SOCK" kill-session -t "$1" 2>/dev/null
}

start_sim
CONSOLE_ENV="TZ=$ZONE"
t0=$(date +%s)
session traced --trace "\"$WIN_FOLDER\""
keys 1
key Enter
wait_until 10 screen_has "Enter direct commands to KV-PLC, press esc to quit" || fail "direct commands did not open"
for cmd in "RD DM0" "RD DM1"; do
  keys "$cmd"
  key Enter
  wait_until 10 received_lines_at_least "$cmd" 1 || fail "$cmd did not arrive"
  wait_until 5 answer_shown "$cmd" || fail "answer to $cmd not shown"
done

# While the console writes the file: readable, and both commands in it.
vekton_trace --trace "$WIN_FOLDER" --exchanges >"$TMP/live.exchanges" \
  || fail "vekton-trace.exe could not read the file being written: $(cat "$TMP/vt.err")"
grep -q $'\tRD DM1\t[0-9]\\{5\\}\t' "$TMP/live.exchanges" \
  || { cat "$TMP/live.exchanges" >&2; fail "the file being written lacks RD DM1 and its answer"; }

key Escape
wait_until 10 menu_ready || fail "menu did not come back after Esc"
leave traced
t1=$(date +%s)
stop_sim

# --- the file -----------------------------------------------------------------------
mapfile -t files < <(ls "$FOLDER")
[[ ${#files[@]} == 1 ]] || fail "the folder holds ${#files[@]} files, not the run's one: ${files[*]}"
name=${files[0]}
[[ $name =~ ^vekton-([0-9]{8})-([0-9]{6})-[0-9]+\.trace$ ]] || fail "file name $name"
d=${BASH_REMATCH[1]} t=${BASH_REMATCH[2]}
named=$(TZ=$ZONE date -d "${d:0:4}-${d:4:2}-${d:6:2} ${t:0:2}:${t:2:2}:${t:4:2}" +%s) \
  || fail "file name $name holds no date"
((named >= t0 - 1 && named <= t1)) || fail "file name $name is not the run's local start (+05:30)"

# Every record's wall clock: +05:30, and within the run.
python3 - "$FOLDER/$name" "$t0" "$t1" <<'PY' || fail "the records' wall clocks are not the run's"
import datetime, sys
path, t0, t1 = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
n = 0
for line in open(path, encoding="ascii"):
    stamp = line.split(" ", 1)[0]
    if not stamp.endswith("+05:30"):
        sys.exit(f"{stamp}: not +05:30")
    at = datetime.datetime.fromisoformat(stamp).timestamp()
    if not t0 - 1 <= at <= t1 + 1:
        sys.exit(f"{stamp}: outside the run")
    n += 1
print(f"{n} records, wall clocks +05:30 within the run")
PY

# --- the exchanges ------------------------------------------------------------------
vekton_trace --trace "$WIN_FOLDER" --exchanges >"$TMP/exchanges" || fail "vekton-trace.exe: $(cat "$TMP/vt.err")"
for cmd in "RD DM0" "RD DM1"; do
  line=$(grep -P "^[^\t]+\t$cmd\t" "$TMP/exchanges") || { cat "$TMP/exchanges" >&2; fail "$cmd not among the exchanges"; }
  answer=$(cut -f3 <<<"$line")
  [[ $answer =~ ^[0-9]{5}$ ]] || fail "$cmd: answer '$answer'"
  # The simulator's answer to the command, as it sent it.
  grep -qxF -- "$answer" <(awk '$2 == "TX" { print $3 }' "$TRACE" | sed 's/\\r\\n$//') \
    || fail "$cmd: answer $answer is none the simulator sent"
  echo "exchange: $line"
done

# --- the bytes ----------------------------------------------------------------------
python3 - "$FOLDER/$name" "$TRACE" <<'PY' || fail "the trace's bytes are not those on the wire"
import re, sys
names = ["NUL", "SOH", "STX", "ETX", "EOT", "ENQ", "ACK", "BEL", "BS", "HT", "LF", "VT", "FF", "CR", "SO",
         "SI", "DLE", "DC1", "DC2", "DC3", "DC4", "NAK", "SYN", "ETB", "CAN", "EM", "SUB", "ESC", "FS", "GS",
         "RS", "US"]
code = {n: i for i, n in enumerate(names)}
code["DEL"] = 127
def console(text):  # a record's payload
    return re.sub(r"<([A-Z0-9]+)>|\\x([0-9A-Fa-f]{2})",
                  lambda m: chr(code[m[1]]) if m[1] else chr(int(m[2], 16)), text)
def sim(text):  # vekton-sim's trace
    return re.sub(r"\\(r|n|\\|x[0-9A-Fa-f]{2})",
                  lambda m: {"r": "\r", "n": "\n", "\\": "\\"}.get(m[1]) or chr(int(m[1][1:], 16)), text)
ours = {"TX": "", "RX": ""}
for line in open(sys.argv[1], encoding="ascii"):
    f = line.rstrip("\n").split(" ", 3)
    if f[2] in ours:
        ours[f[2]] += console(f[3] if len(f) > 3 else "")
wire = {"RX": "", "TX": ""}
for line in open(sys.argv[2], encoding="ascii"):
    f = line.rstrip("\n").split(" ", 2)
    if f[1] in wire:
        wire[f[1]] += sim(f[2] if len(f) > 2 else "")
if ours["TX"] != wire["RX"]:
    sys.exit(f"TX {len(ours['TX'])} bytes, the simulator received {len(wire['RX'])}")
# The console may leave the last answer unread when it closes the port.
if not wire["TX"].startswith(ours["RX"]) or len(wire["TX"]) - len(ours["RX"]) > 64:
    sys.exit(f"RX {len(ours['RX'])} bytes are not what the simulator sent ({len(wire['TX'])})")
print(f"TX {len(ours['TX'])} bytes as received, RX {len(ours['RX'])} bytes as sent")
PY

# --- the default folder -------------------------------------------------------------
CONSOLE_ENV=
touch "$TMP/before-default"
start_sim
session default
leave default
stop_sim
made=$(find "$WINEPREFIX/drive_c/users" -newer "$TMP/before-default" -type f \
  -ipath '*/AppData/Local/Vekton/trace/vekton-*.trace')
[[ $(grep -c . <<<"$made") == 1 ]] || fail "a run without --trace made no file (or several) under %LOCALAPPDATA%\\Vekton\\trace: $made"
vekton_trace --list >"$TMP/list" || fail "vekton-trace.exe --list: $(cat "$TMP/vt.err")"
grep -qF -- "$(basename "$made")" "$TMP/list" \
  || { cat "$TMP/list" >&2; fail "vekton-trace.exe without --trace does not list $(basename "$made")"; }
echo "default folder: ${made#"$WINEPREFIX/"}"
echo "PASS: trace_windows"
