# Shared by the fault-injection scripts: one simulated store with a control
# FIFO, one console in its own tmux server (80 x 25), and the helpers that
# look at the screen, send keys, measure the console's processor use and
# check the terminal it leaves behind. Source it; nothing runs on its own.
#
# Every script that sources this gets a private temporary directory, tmux
# socket and simulator, so any number of them can run side by side. With
# FX_KEEP=1 the directory (trace, access record, result files) stays for a
# look afterwards.
#
# FX_TRANSPORT picks the console's line to the store: "pty" (default), the
# simulator's pseudo-terminal itself; "tcp", the simulator's raw TCP port
# (vekton-sim --listen, VEKTON_COM1=tcp://...); "rfc2217", ser2net's Telnet
# accepter with RFC 2217 in front of the pseudo-terminal
# (VEKTON_COM1=rfc2217://...). Loopback only.

fx_init() {
  FX_BUILD=$(cd "${1:?build dir}" && pwd)
  FX_NAME=${2:?name}
  FX_VEKTON=$FX_BUILD/vekton
  FX_SIM=$FX_BUILD/sim/vekton-sim
  local bin
  for bin in "$FX_VEKTON" "$FX_SIM"; do
    if [[ ! -x $bin ]]; then
      echo "FAIL: $bin is missing (build the vekton and vekton-sim targets)" >&2
      exit 1
    fi
  done
  command -v tmux >/dev/null || { echo "FAIL: tmux is not installed" >&2; exit 1; }
  FX_TMP=$(mktemp -d "${TMPDIR:-/tmp}/vekton-fault-$FX_NAME.XXXXXX")
  FX_WORK=$FX_TMP/work  # the console's working directory (result files)
  mkdir -p "$FX_WORK"
  FX_SOCK=vekton-fault-$FX_NAME-$$-$RANDOM
  FX_SESSION=fx
  FX_LINK=$FX_TMP/com1
  FX_CONTROL=$FX_TMP/control
  FX_TRACE=$FX_TMP/trace.log
  FX_ACCESSES=$FX_TMP/accesses.log
  FX_SIM_PID=
  FX_TRANSPORT=${FX_TRANSPORT:-pty}
  case $FX_TRANSPORT in
    pty|tcp|rfc2217) ;;
    *) echo "FAIL: no transport '$FX_TRANSPORT' (pty tcp rfc2217)" >&2; exit 1 ;;
  esac
  FX_S2N=$(command -v ser2net || echo /usr/sbin/ser2net)
  if [[ $FX_TRANSPORT == rfc2217 && ! -x $FX_S2N ]]; then
    echo "FAIL: ser2net is not installed (bash tools/ensure-deps.sh net)" >&2
    exit 1
  fi
  FX_S2N_PID=
  FX_PORT=  # what VEKTON_COM1 names
  FX_CLK_TCK=$(getconf CLK_TCK)
  trap fx_cleanup EXIT
  trap 'exit 2' INT TERM HUP
}

fx_cleanup() {
  tmux -L "$FX_SOCK" kill-server 2>/dev/null
  fx_stop_ser2net
  if [[ -n $FX_SIM_PID ]]; then
    kill "$FX_SIM_PID" 2>/dev/null
    wait "$FX_SIM_PID" 2>/dev/null
  fi
  [[ -n ${FX_KEEP:-} ]] || rm -rf "$FX_TMP"
}

# Milliseconds of wall time, from the shell itself (no process to start:
# the loops that watch the screen call it all the time).
fx_now_ms() { echo $(( ${EPOCHREALTIME//[!0-9]/} / 1000 )); }
# The same into NOW_MS, without even a subshell.
fx_now() { NOW_MS=$(( ${EPOCHREALTIME//[!0-9]/} / 1000 )); }

# Polls until a command succeeds or the deadline (seconds, may be a
# fraction) passes.
fx_wait_until() {
  local deadline=$(( $(date +%s%N) + $(awk -v s="$1" 'BEGIN { printf "%.0f", s * 1000000000 }') ))
  shift
  until "$@"; do
    (( $(date +%s%N) > deadline )) && return 1
    sleep 0.02
  done
}

fx_screen() { tmux -L "$FX_SOCK" capture-pane -t "$FX_SESSION" -p 2>/dev/null; }
fx_screen_has() { fx_screen | grep -qF -- "$1"; }
# The cursor's row, 1-based like the screen's own rows.
fx_cursor_row() { echo $(( $(tmux -L "$FX_SOCK" display -p -t "$FX_SESSION" '#{cursor_y}' 2>/dev/null || echo -1) + 1 )); }
fx_keys() { tmux -L "$FX_SOCK" send-keys -t "$FX_SESSION" -l -- "$1"; }
fx_key() { tmux -L "$FX_SOCK" send-keys -t "$FX_SESSION" "$1"; }
# Keys written as text with <Enter> and <Esc> for those two.
fx_type() {
  local rest=$1
  while [[ -n $rest ]]; do
    case $rest in
      "<Enter>"*) fx_key Enter; rest=${rest#<Enter>} ;;
      "<Esc>"*) fx_key Escape; rest=${rest#<Esc>} ;;
      *)
        local chunk=${rest%%<*}
        [[ -z $chunk ]] && { chunk=${rest:0:1}; }
        fx_keys "$chunk"
        rest=${rest#"$chunk"}
        ;;
    esac
  done
}

# The menu drawn afresh: its prompt, and no bracket line of the last choice.
fx_menu_ready() {
  local s
  s=$(fx_screen)
  grep -qF "Enter [0..6]" <<<"$s" && ! grep -qF "Open Comport   ->" <<<"$s"
}

# A text on the row the cursor is on: the program waits right behind it.
fx_prompt_is() {
  local row
  row=$(fx_cursor_row)
  (( row >= 1 )) || return 1
  fx_screen | sed -n "${row}p" | grep -qF -- "$1"
}

# The quit question waits: it is on row 1 and so is the cursor.
fx_quit_question() { fx_prompt_is "Quit/Term ?"; }

fx_control() { echo "$1" >"$FX_CONTROL"; }

fx_pid() { cat "$FX_TMP/pid" 2>/dev/null; }
fx_alive() { local p; p=$(fx_pid); [[ -n $p && -d /proc/$p ]] && ! [[ -s $FX_TMP/exit ]]; }
# Processor time the console has used so far, in clock ticks.
fx_cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$(fx_pid)/stat" 2>/dev/null; }

# Processor use of the console over the next $1 seconds, in percent of one
# core (one decimal).
fx_cpu_percent() {
  local t0 c0 t1 c1
  t0=$(date +%s%N)
  c0=$(fx_cpu_ticks)
  sleep "$1"
  t1=$(date +%s%N)
  c1=$(fx_cpu_ticks)
  [[ -n $c0 && -n $c1 ]] || { echo "-"; return 1; }
  awk -v c="$((c1 - c0))" -v hz="$FX_CLK_TCK" -v ns="$((t1 - t0))" 'BEGIN { printf "%.1f", c / hz / (ns / 1e9) * 100 }'
}

# The simulated store (FX_SPEED times its speed, default 10) with a control
# FIFO; extra
# arguments go to vekton-sim.
fx_start_sim() {
  local listen=()
  [[ $FX_TRANSPORT == tcp ]] && listen=(--listen 127.0.0.1:0)
  "$FX_SIM" --link "$FX_LINK" --trace "$FX_TRACE" --accesses "$FX_ACCESSES" --control "$FX_CONTROL" \
    --speed "${FX_SPEED:-10}" "${listen[@]}" "$@" >"$FX_TMP/sim.out" 2>"$FX_TMP/sim.err" &
  FX_SIM_PID=$!
  fx_wait_until 10 grep -q '^PTY ' "$FX_TMP/sim.out" || { echo "vekton-sim did not announce its PTY" >&2; return 1; }
  fx_wait_until 5 test -e "$FX_LINK" || { echo "vekton-sim left no link" >&2; return 1; }
  fx_wait_until 5 test -p "$FX_CONTROL" || { echo "vekton-sim made no control FIFO" >&2; return 1; }
  case $FX_TRANSPORT in
    pty) FX_PORT=$FX_LINK ;;
    tcp)
      fx_wait_until 5 grep -q '^TCP [0-9]' "$FX_TMP/sim.out" || { echo "vekton-sim did not announce its TCP port" >&2; return 1; }
      FX_PORT=tcp://$(sed -n 's/^TCP //p' "$FX_TMP/sim.out" | head -n 1)
      ;;
    rfc2217)
      FX_S2N_PORT=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])') \
        || { echo "no free port for ser2net" >&2; return 1; }
      printf 'connection: &store\n  accepter: telnet(rfc2217),tcp,127.0.0.1,%s\n  connector: serialdev,%s,9600e81\n' \
        "$FX_S2N_PORT" "$(sed -n 's/^PTY //p' "$FX_TMP/sim.out" | head -n 1)" >"$FX_TMP/ser2net.yaml"
      FX_PORT=rfc2217://127.0.0.1:$FX_S2N_PORT
      fx_start_ser2net
      ;;
  esac
}

# ser2net in front of the simulator's pseudo-terminal, listening.
fx_s2n_listening() { ss -Hltn "sport = :$FX_S2N_PORT" 2>/dev/null | grep -q .; }
fx_start_ser2net() {
  "$FX_S2N" -n -d -c "$FX_TMP/ser2net.yaml" >>"$FX_TMP/ser2net.out" 2>&1 &
  FX_S2N_PID=$!
  fx_wait_until 10 fx_s2n_listening || { echo "ser2net does not listen on $FX_S2N_PORT" >&2; return 1; }
}
fx_stop_ser2net() {
  [[ -n ${FX_S2N_PID:-} ]] || return 0
  { kill -KILL "$FX_S2N_PID"; wait "$FX_S2N_PID"; } 2>/dev/null
  FX_S2N_PID=
}

# A fault switched on (or "none": off). The store's and the line's faults
# hold for every transport alike; "vanish" is the transport's own: the
# pseudo-terminal closed (pty), the connection closed and new ones refused
# (tcp: the simulator's listener goes with its pseudo-terminal), ser2net
# gone (rfc2217: the device server dies; the simulator's pseudo-terminal
# stays, as a serial line behind a dead server would). "none" brings
# ser2net back when it is gone.
fx_fault() {
  if [[ $FX_TRANSPORT == rfc2217 && $1 == vanish ]]; then
    fx_stop_ser2net
    return
  fi
  fx_control "fault $1"
  if [[ $FX_TRANSPORT == rfc2217 && $1 == none && -z $FX_S2N_PID ]]; then
    fx_start_ser2net
  fi
}

# The port is back after a vanish (the $1-th port of the run): the simulator
# has announced a new PTY and the link points at it; over tcp it listens
# again; over rfc2217 ser2net listens again.
fx_port_back() {
  case $FX_TRANSPORT in
    rfc2217) [[ -n $FX_S2N_PID ]] && fx_s2n_listening ;;
    *)
      [[ $(grep -c '^PTY /' "$FX_TMP/sim.out") -ge ${1:-1} ]] && test -e "$FX_LINK" || return 1
      [[ $FX_TRANSPORT == pty ]] || [[ $(grep -c '^TCP [0-9]' "$FX_TMP/sim.out") -ge ${1:-1} ]]
      ;;
  esac
}

# The console in tmux session FX_SESSION, in its own working directory,
# started and taken through the start-up to the main menu. The pane notes
# the terminal settings before and after, the process id and the exit code.
fx_start_console() {
  rm -f "$FX_TMP/pid" "$FX_TMP/exit" "$FX_TMP/exit.tmp" "$FX_TMP/stty.before" "$FX_TMP/stty.after"
  tmux -L "$FX_SOCK" new-session -d -s "$FX_SESSION" -x 80 -y 25 \
    "cd $FX_WORK && stty -g > $FX_TMP/stty.before && sh -c 'echo \$\$ > $FX_TMP/pid; exec env TERM=xterm-256color LANG=C.UTF-8 VEKTON_COM1=$FX_PORT $FX_VEKTON'; echo EXIT=\$? > $FX_TMP/exit.tmp; stty -g > $FX_TMP/stty.after; mv $FX_TMP/exit.tmp $FX_TMP/exit; sleep 600" \
    || return 1
  fx_wait_until 10 fx_screen_has "Enter Port Number to Vekton" || { echo "no port prompt" >&2; return 1; }
  fx_keys 1
  fx_key Enter
  fx_wait_until 5 fx_screen_has "Enter Operator Name" || { echo "no operator prompt" >&2; return 1; }
  fx_key Enter
  fx_wait_until 10 fx_menu_ready || { echo "no main menu" >&2; return 1; }
}

fx_alternate_on() { tmux -L "$FX_SOCK" display -p -t "$FX_SESSION" '#{alternate_on}' 2>/dev/null; }

# After the console has ended: the terminal is as it was before, and the
# alternate screen is off. Prints what is wrong, if anything.
fx_terminal_restored() {
  local ok=0
  if ! cmp -s "$FX_TMP/stty.before" "$FX_TMP/stty.after"; then
    echo "terminal settings differ: $(cat "$FX_TMP/stty.before") -> $(cat "$FX_TMP/stty.after")"
    ok=1
  fi
  if [[ $(fx_alternate_on) != 0 ]]; then
    echo "the alternate screen is still on"
    ok=1
  fi
  return $ok
}

# Choice 0 from the menu: exit code 0 and the terminal restored.
fx_quit_console() {
  fx_keys 0
  fx_key Enter
  fx_wait_until 10 test -s "$FX_TMP/exit" || { echo "vekton did not exit after choice 0"; return 1; }
  [[ $(cat "$FX_TMP/exit") == "EXIT=0" ]] || { echo "exit code: $(cat "$FX_TMP/exit")"; return 1; }
  fx_terminal_restored
}

fx_dump() {
  echo "--- screen ---"
  fx_screen
  echo "--- trace (last 20 lines) ---"
  tail -n 20 "$FX_TRACE" 2>/dev/null
  echo "--- simulator ---"
  cat "$FX_TMP/sim.out" "$FX_TMP/sim.err" 2>/dev/null | tail -n 20
  if [[ $FX_TRANSPORT == rfc2217 ]]; then
    echo "--- ser2net ---"
    tail -n 20 "$FX_TMP/ser2net.out" 2>/dev/null
  fi
}
