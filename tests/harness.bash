# The one harness of the end-to-end, Windows and fault scripts (sourced, not
# run): vekton-sim on a pseudo-terminal with its control FIFO, the console
# (vekton, or vekton.exe under Wine) in tmux against it, on a temporary
# directory and a tmux server of their own so that nothing else is touched
# and any number of scripts can run side by side.
#
# A script sources this file, calls harness_init with its build dir and a
# short name, then start_sim and start_console. tests/e2e-windows/wine.bash
# adds the Wine prefix, tests/faults/fault.bash the fault table's
# transports and processor measurement. A script may define
# harness_diagnostics to add its own material to a failure report, and may
# define fail itself (it gets the same calls).
#
# Names it sets: BUILD, VEKTON, SIM, TMP, SOCK, SESSION (the tmux session
# the screen and key helpers talk to), LINK (the simulator's pty link),
# PORT (what VEKTON_COM1 names; the link unless set otherwise), TRACE,
# ACCESSES, CONTROL, SIM_PID; it exports XDG_STATE_HOME, so the console's
# own trace is in $TMP/state/vekton/trace. KEEP_TMP=1 keeps the directory
# for a look.

harness_init() {
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
  export XDG_STATE_HOME=$TMP/state  # the console's default trace folder: never the user's own
  SOCK=vekton-e2e-$2-$$-$RANDOM
  SESSION=$2
  LINK=$TMP/com1
  PORT=
  TRACE=$TMP/trace.log
  ACCESSES=$TMP/accesses.log
  CONTROL=$TMP/control
  SIM_PID=
  SIM_PIDS=()
  SIM_COUNT=0
  SIM_OUT=$TMP/sim.out
  POLL=${POLL:-0.05}
  trap harness_cleanup EXIT
  trap 'exit 2' INT TERM HUP
}

harness_cleanup() {
  tmux -L "$SOCK" kill-server 2>/dev/null
  if declare -F harness_cleanup_more >/dev/null; then harness_cleanup_more; fi
  stop_sim all
  if [[ ${KEEP_TMP:-0} == 1 ]]; then
    echo "kept $TMP" >&2
  else
    rm -rf "$TMP"
  fi
}

# --- waiting -------------------------------------------------------------------------
# Milliseconds of wall time into NOW_MS, from the shell itself (no process
# to start: loops that watch the screen call it all the time).
now_ms() { NOW_MS=$(( ${EPOCHREALTIME//[!0-9]/} / 1000 )); }

# Polls (every POLL seconds) until a command succeeds or the deadline
# (seconds, may be a fraction) passes.
wait_until() {
  local us
  if [[ $1 == *.* ]]; then
    us=$(awk -v s="$1" 'BEGIN { printf "%.0f", s * 1000000 }')
  else
    us=$(( $1 * 1000000 ))
  fi
  local deadline=$(( ${EPOCHREALTIME//[!0-9]/} + us ))
  shift
  until "$@"; do
    (( ${EPOCHREALTIME//[!0-9]/} > deadline )) && return 1
    sleep "$POLL"
  done
}

# --- failing -------------------------------------------------------------------------
# What there is to see: the screen, the trace's end, the simulator's output
# and whatever the script and the layers add.
dump() {
  echo "--- screen ($SESSION) ---"
  screen
  echo "--- trace (last 40 lines) ---"
  tail -n 40 "$TRACE" 2>/dev/null
  if declare -F harness_diagnostics >/dev/null; then harness_diagnostics 2>/dev/null; fi
  if declare -F layer_diagnostics >/dev/null; then layer_diagnostics 2>/dev/null; fi
  echo "--- simulator output ---"
  cat "$SIM_OUT" "${SIM_OUT%.out}.err" 2>/dev/null
}

fail() {
  echo "FAIL: $*" >&2
  dump >&2
  exit 1
}

# --- the simulated store ---------------------------------------------------------------
# start_sim [--as NAME] [--also] [options...]: a new simulator with its pty
# linked at $TMP/NAME (default com1), in LINK; the last one is stopped
# first, unless --also keeps it running beside the new one. Its output goes
# to SIM_OUT ($TMP/sim.out, or sim-NAME.out), its trace to TRACE
# ($TMP/trace.log, or trace-NAME.log; a new file when that one is taken),
# its record of accesses to ACCESSES ($TMP/accesses.log, or
# accesses-NAME.log), and it reads commands from its
# control FIFO CONTROL ($TMP/control, or control-NAME; a regular file
# written there beforehand is read from its start). The options go to
# vekton-sim. With --listen among them, waits for its TCP port too and sets
# TCP_ADDR. PORT becomes the link.
start_sim() {
  local name=com1 also=0
  while [[ ${1:-} == --as || ${1:-} == --also ]]; do
    if [[ $1 == --as ]]; then
      name=$2
      shift 2
    else
      also=1
      shift
    fi
  done
  (( also )) || stop_sim
  SIM_COUNT=$((SIM_COUNT + 1))
  local suffix=
  [[ $name == com1 ]] || suffix=-$name
  TRACE=$TMP/trace$suffix.log
  [[ -e $TRACE ]] && TRACE=$TMP/trace$suffix-$SIM_COUNT.log
  SIM_OUT=$TMP/sim$suffix.out
  ACCESSES=$TMP/accesses$suffix.log
  CONTROL=$TMP/control$suffix
  LINK=$TMP/$name
  PORT=$LINK
  "$SIM" --link "$LINK" --trace "$TRACE" --accesses "$ACCESSES" --control "$CONTROL" "$@" \
    >"$SIM_OUT" 2>"${SIM_OUT%.out}.err" &
  SIM_PID=$!
  SIM_PIDS+=("$SIM_PID")
  wait_until 10 grep -qs '^PTY ' "$SIM_OUT" || fail "vekton-sim did not announce its PTY"
  wait_until 5 test -e "$LINK" || fail "vekton-sim left no link at $LINK"
  wait_until 5 test -e "$CONTROL" || fail "vekton-sim made no control FIFO"
  TCP_ADDR=
  if [[ " $* " == *" --listen "* ]]; then
    wait_until 10 grep -qs '^TCP [0-9]' "$SIM_OUT" || fail "vekton-sim did not announce its TCP port"
    TCP_ADDR=$(sed -n 's/^TCP //p' "$SIM_OUT" | head -n 1)
  fi
}

# Stops the last simulator; stop_sim all: every one still running.
stop_sim() {
  local pid pids=("${SIM_PID:-}")
  [[ ${1:-} == all ]] && pids=("${SIM_PIDS[@]}")
  for pid in "${pids[@]}"; do
    [[ -n $pid ]] || continue
    kill "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
  done
  SIM_PID=
}

# A command to the simulator through its control FIFO.
control() { echo "$1" >"$CONTROL"; }

# --- the console in tmux -------------------------------------------------------------
# start_console [--windows] [--session NAME] [--port PORT] [DIR]: the
# console in a new tmux session (SESSION becomes NAME; default: the one it
# is) of CONSOLE_COLS x CONSOLE_ROWS (default 80 x 25), in DIR (default the
# temporary one). The Linux console gets VEKTON_COM1=PORT (default $PORT,
# the last simulator's link); the Windows one under Wine (see wine.bash)
# finds its COM ports in the prefix and gets VEKTON_COM1 only when --port
# is given. CONSOLE_ENV adds NAME=VALUE words to the environment,
# CONSOLE_TERM sets TERM (default xterm-256color). The pane notes the
# process id in $TMP/SESSION.pid, the terminal settings before (stty -g) in
# SESSION.stty-before, after it ended in SESSION.stty (stty -a) and
# SESSION.stty-after (stty -g), and last the exit code in SESSION.exit.
start_console() {
  local windows=0 port=${PORT:-$LINK} port_given=0 dir=$TMP
  while (( $# )); do
    case $1 in
      --windows) windows=1; shift ;;
      --linux) windows=0; shift ;;
      --session) SESSION=$2; shift 2 ;;
      --port) port=$2; port_given=1; shift 2 ;;
      *) dir=$1; shift ;;
    esac
  done
  local s=$TMP/$SESSION
  rm -f "$s.pid" "$s.exit" "$s.exit.tmp" "$s.stty" "$s.stty-before" "$s.stty-after"
  local cmd="env TERM=${CONSOLE_TERM:-xterm-256color} LANG=C.UTF-8"
  if (( windows )); then
    (( port_given )) && cmd+=" VEKTON_COM1=$port"
    cmd+=" $(wine_console_env) ${CONSOLE_ENV:-} wine $VEKTON_EXE 2>>$TMP/wine-$SESSION.err"
  else
    cmd+=" VEKTON_COM1=$port ${CONSOLE_ENV:-} $VEKTON"
  fi
  tmux -L "$SOCK" new-session -d -s "$SESSION" -x "${CONSOLE_COLS:-80}" -y "${CONSOLE_ROWS:-25}" \
    "cd $dir && stty -g > $s.stty-before && sh -c 'echo \$\$ > $s.pid; exec $cmd'; echo EXIT=\$? > $s.exit.tmp; stty -a > $s.stty 2>&1; stty -g > $s.stty-after; mv $s.exit.tmp $s.exit; sleep 600" \
    || fail "tmux could not start"
}

console_pid() { cat "$TMP/$SESSION.pid" 2>/dev/null; }
exited() { test -s "$TMP/$SESSION.exit"; }
exit_code() { sed 's/^EXIT=//' "$TMP/$SESSION.exit" 2>/dev/null; }
console_alive() { local p; p=$(console_pid); [[ -n $p && -d /proc/$p ]] && ! exited; }

# log_on [WHO]: the start-up's two questions answered, port 1 and no
# operator name; WHO, when given, begins a failure's message.
log_on() {
  local who=${1:+$1: }
  wait_until 10 screen_has "Enter Port Number to Vekton" || fail "${who}no port prompt"
  keys 1
  key Enter
  wait_until 5 screen_has "Enter Operator Name" || fail "${who}no operator prompt"
  key Enter
}

# The standard start-up: port 1, no operator name, the main menu.
to_menu() {
  log_on
  wait_until 10 menu_ready || fail "no main menu"
}

# --- the screen and the keys ---------------------------------------------------------
screen() { tmux -L "$SOCK" capture-pane -t "$SESSION" -p 2>/dev/null; }
row() { screen | sed -n "${1}p"; }
screen_has() { screen | grep -qF -- "$1"; }
screen_matches() { screen | grep -qE -- "$1"; }
row_matches() { row "$1" | grep -Eq -- "$2"; }
# The cursor's row, 1-based like the screen's own rows.
cursor_row() { echo $(( $(tmux -L "$SOCK" display -p -t "$SESSION" '#{cursor_y}' 2>/dev/null || echo -1) + 1 )); }
# A text on the row the cursor is on: the program waits right behind it.
prompt_is() {
  local r
  r=$(cursor_row)
  (( r >= 1 )) || return 1
  screen | sed -n "${r}p" | grep -qF -- "$1"
}
# The menu drawn afresh: its prompt, and no bracket line left over from the
# last choice. The screen is only brought up to date when the program waits
# for a key, so keys typed from now on reach the menu's line input.
menu_ready() {
  local s
  s=$(screen)
  grep -qF "Enter [0..6]" <<<"$s" && ! grep -qF "Open Comport   ->" <<<"$s"
}
keys() { tmux -L "$SOCK" send-keys -t "$SESSION" -l -- "$1"; }
key() { tmux -L "$SOCK" send-keys -t "$SESSION" "$1"; }
# Keys written as text with <Enter> and <Esc> for those two.
type_keys() {
  local rest=$1 chunk
  while [[ -n $rest ]]; do
    case $rest in
      "<Enter>"*) key Enter; rest=${rest#<Enter>} ;;
      "<Esc>"*) key Escape; rest=${rest#<Esc>} ;;
      *)
        chunk=${rest%%<*}
        [[ -z $chunk ]] && chunk=${rest:0:1}
        keys "$chunk"
        rest=${rest#"$chunk"}
        ;;
    esac
  done
}
# answer_shown CMD [REGEX]: the row below the typed command CMD holds its
# answer, as the extended REGEX says (default: five digits).
answer_shown() {
  local want='^ *[0-9]{5} *$'
  [[ -n ${2:-} ]] && want=$2
  screen | grep -A1 "$1 *\$" | tail -n 1 | grep -Eq -- "$want"
}
alternate_on() { tmux -L "$SOCK" display -p -t "$SESSION" '#{alternate_on}' 2>/dev/null; }

# After the console has ended: the terminal is as it was before, and the
# alternate screen is off. Prints what is wrong, if anything.
terminal_restored() {
  local ok=0 s=$TMP/$SESSION
  if ! cmp -s "$s.stty-before" "$s.stty-after"; then
    echo "terminal settings differ: $(cat "$s.stty-before") -> $(cat "$s.stty-after")"
    ok=1
  fi
  if [[ $(alternate_on) != 0 ]]; then
    echo "the alternate screen is still on"
    ok=1
  fi
  return $ok
}

# leave_with_choice_0 [WHO]: choice 0 from the menu, and the console ends
# with exit code 0; WHO, when given, begins a failure's message.
leave_with_choice_0() {
  local who=${1:+$1: }
  keys 0
  key Enter
  wait_until 10 test -s "$TMP/$SESSION.exit" || fail "${who}vekton did not exit after choice 0"
  [[ $(cat "$TMP/$SESSION.exit") == "EXIT=0" ]] || fail "${who}exit code: $(cat "$TMP/$SESSION.exit")"
}

# Choice 0 from the menu: exit code 0 and the terminal restored. Prints
# what is wrong, if anything.
quit_console() {
  keys 0
  key Enter
  wait_until 10 exited || { echo "vekton did not exit after choice 0"; return 1; }
  [[ $(exit_code) == 0 ]] || { echo "exit code: $(exit_code)"; return 1; }
  terminal_restored
}

# --- the wire ------------------------------------------------------------------------
# Everything the simulator received (from $TRACE or the given trace), in
# order, as one escaped stream (CR as \r): independent of how the trace
# splits it into lines.
received() { awk '$2 == "RX" { sub(/^[^ ]+ RX /, ""); printf "%s", $0 }' "${1:-$TRACE}" 2>/dev/null; }
count_received() { received | grep -oF -- "$1" | wc -l; }
received_at_least() { (( $(count_received "$1") >= $2 )); }
# The same one command line per output line, and counted as whole lines.
received_lines() { received "${1:-$TRACE}" | sed 's/\\r/\n/g'; }
count_received_lines() { received_lines | grep -cxF -- "$1"; }
received_lines_at_least() { (( $(count_received_lines "$1") >= $2 )); }

# --- the store's record and the result file ------------------------------------------
# Accesses the store has finished, from its record (comment lines left out).
performed() { grep -c ' ok$' "$ACCESSES" 2>/dev/null; }
accesses_at_least() { (( $(performed) >= $1 )); }
# The console's process: the file among its open files?
holds_open() { ls -l "/proc/$(console_pid)/fd" 2>/dev/null | grep -qF -- "$1"; }
# A result file that is whole: the report header first, each section, and
# the summary's last line at its end.
check_result_file() {
  [[ $(head -n 1 "$1") == "_______________________________________________________" ]] \
    || fail "the file does not start with the report header"
  grep -qF 'System Data Summary' "$1" || fail "no 'System Data Summary' section"
  grep -qF 'Climate Logging Data (Interal = 60s' "$1" || fail "no climate section"
  grep -qF 'Handling Times Statistics' "$1" || fail "no statistics section"
  grep -qF 'Complete Test Summary' "$1" || fail "no summary section"
  local last
  last=$(tail -n 1 "$1")
  [[ $last == "Mean UnLoad Time:"* ]] || fail "the file does not end with the summary: '$last'"
}
# The count on a result file's "Total Accesses:" line.
total_accesses() { sed -n 's/^Total Accesses: *\([0-9][0-9]*\)$/\1/p' "$1"; }

# --- common screens ------------------------------------------------------------------
# start_standard_random_access INTERVAL [SECONDS]: menu choice 7, the
# standard random-access test with the given interval in seconds, not
# inverted; its first question is waited for SECONDS (default 15). The run
# begins after the last answer.
start_standard_random_access() {
  keys 7
  key Enter
  wait_until "${2:-15}" screen_has "Standard Test [Y/N]" || fail "no 'Standard Test' question"
  keys Y
  wait_until 5 screen_has "Enter Interval Time (>1sec)" || fail "no interval prompt"
  keys "$1"
  key Enter
  wait_until 5 screen_has "Invers. Mode [Y/N]" || fail "no inverse-mode question"
  keys N
}

# quit_random_access [SECONDS]: Esc and Q in a random-access run, and its
# summary on the screen; the quit question is waited for SECONDS (default 10).
quit_random_access() {
  key Escape
  wait_until "${1:-10}" screen_has "Quit/Term ?" || fail "Esc did not ask 'Quit/Term ?'"
  keys Q
  wait_until 30 screen_has "Mean UnLoad Time:" || fail "no summary after Q"
}
