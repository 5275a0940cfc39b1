# Shared by the end-to-end scripts: the real vekton in tmux (80 x 25) against
# vekton-sim on a pseudo-terminal, on a tmux server of their own so nothing
# else is touched. A script sources this file, calls e2e_init with its build
# dir and a short name, then start_sim and start_console. A script may define
# e2e_diagnostics to add its own material to a failure report.

e2e_init() {
  BUILD=$(cd "${1:?usage: $0 <build dir>}" && pwd)
  VEKTON=$BUILD/vekton
  SIM=$BUILD/sim/vekton-sim
  local bin
  for bin in "$VEKTON" "$SIM"; do
    if [[ ! -x $bin ]]; then
      echo "FAIL: $bin is missing (build the vekton and vekton-sim targets)" >&2
      exit 1
    fi
  done
  command -v tmux >/dev/null || { echo "FAIL: tmux is not installed" >&2; exit 1; }
  TMP=$(mktemp -d "${TMPDIR:-/tmp}/vekton-e2e-$2.XXXXXX")
  SOCK=vekton-e2e-$2-$$-$RANDOM
  SESSION=$2
  LINK=$TMP/com1
  TRACE=$TMP/trace.log
  SIM_PID=
  trap e2e_cleanup EXIT
  trap 'exit 2' INT TERM HUP
}

e2e_cleanup() {
  tmux -L "$SOCK" kill-server 2>/dev/null
  if [[ -n $SIM_PID ]]; then
    kill "$SIM_PID" 2>/dev/null
    wait "$SIM_PID" 2>/dev/null
  fi
  [[ ${KEEP_TMP:-0} == 1 ]] || rm -rf "$TMP"  # KEEP_TMP=1 keeps it for a look
}

screen() { tmux -L "$SOCK" capture-pane -t "$SESSION" -p 2>/dev/null; }
row() { screen | sed -n "${1}p"; }

fail() {
  echo "FAIL: $*" >&2
  echo "--- screen ---" >&2
  screen >&2
  echo "--- trace (last 40 lines) ---" >&2
  tail -n 40 "$TRACE" >&2 2>/dev/null
  if declare -F e2e_diagnostics >/dev/null; then e2e_diagnostics >&2 2>/dev/null; fi
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
    sleep 0.05
  done
}

screen_has() { screen | grep -qF -- "$1"; }
screen_matches() { screen | grep -qE -- "$1"; }
row_matches() { row "$1" | grep -Eq -- "$2"; }
# The menu drawn afresh: its prompt, and no bracket line left over from the
# last choice. The screen is only brought up to date when the program waits
# for a key, so keys typed from now on reach the menu's line input.
menu_ready() { screen_has "Enter [0..6]" && ! screen_has "Open Comport   ->"; }
keys() { tmux -L "$SOCK" send-keys -t "$SESSION" -l -- "$1"; }
key() { tmux -L "$SOCK" send-keys -t "$SESSION" "$1"; }

# Everything the simulator received, in order, as one escaped stream (CR as
# \r): independent of how the trace splits it into lines.
received() { awk '$2 == "RX" { sub(/^[^ ]+ RX /, ""); printf "%s", $0 }' "$TRACE" 2>/dev/null; }
count_received() { received | grep -oF -- "$1" | wc -l; }
received_at_least() { (( $(count_received "$1") >= $2 )); }

# Starts the simulator with the given extra options and waits for its link.
start_sim() {
  "$SIM" --link "$LINK" --trace "$TRACE" "$@" >"$TMP/sim.out" 2>&1 &
  SIM_PID=$!
  wait_until 10 grep -q '^PTY ' "$TMP/sim.out" || fail "vekton-sim did not announce its PTY"
  wait_until 5 test -e "$LINK" || fail "vekton-sim left no link at $LINK"
}

# Starts the console in tmux, in the given working directory (default: the
# temporary one), on a terminal of CONSOLE_COLS x CONSOLE_ROWS (default
# 80 x 25). Its pid lands in $TMP/pid, its exit code in $TMP/exit and the
# terminal's settings after it ended in $TMP/stty.
start_console() {
  local dir=${1:-$TMP}
  tmux -L "$SOCK" new-session -d -s "$SESSION" -x "${CONSOLE_COLS:-80}" -y "${CONSOLE_ROWS:-25}" \
    "cd $dir && sh -c 'echo \$\$ > $TMP/pid; exec env TERM=xterm-256color LANG=C.UTF-8 VEKTON_COM1=$LINK $VEKTON'; echo EXIT=\$? > $TMP/exit; stty -a > $TMP/stty 2>&1; sleep 600" \
    || fail "tmux could not start"
}

# Menu choice 7, the standard random-access test with the given interval in
# seconds, not inverted: the run begins after the last answer.
start_standard_random_access() {
  keys 7
  key Enter
  wait_until 15 screen_has "Standard Test [Y/N]" || fail "no 'Standard Test' question"
  keys Y
  wait_until 5 screen_has "Enter Interval Time (>1sec)" || fail "no interval prompt"
  keys "$1"
  key Enter
  wait_until 5 screen_has "Invers. Mode [Y/N]" || fail "no inverse-mode question"
  keys N
}
