# The fault table's layer of tests/harness.bash (sourced, not run): the
# console's line to the store over another transport, faults switched on
# through the simulator's control FIFO, and the console's processor use.
# Start the store with fault_start_sim, the console with the harness's
# start_console "$WORK" and to_menu.
#
# FX_TRANSPORT picks the console's line to the store: "pty" (default), the
# simulator's pseudo-terminal itself; "tcp", the simulator's raw TCP port
# (vekton-sim --listen, VEKTON_COM1=tcp://...); "rfc2217", ser2net's Telnet
# accepter with RFC 2217 in front of the pseudo-terminal
# (VEKTON_COM1=rfc2217://...). Loopback only. FX_SPEED is the store's speed
# (default 10). With FX_KEEP=1 (or KEEP_TMP=1) the directory (trace, access
# record, result files) stays for a look afterwards.

FAULT_HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$FAULT_HERE/../harness.bash"

# fault_init <build dir> <name>: harness_init, the console's working
# directory WORK (result files), the tmux session "fx", the transport.
fault_init() {
  [[ -n ${FX_KEEP:-} ]] && KEEP_TMP=1
  POLL=0.02
  harness_init "$1" "${2:?name}"
  WORK=$TMP/work
  mkdir -p "$WORK"
  SESSION=fx
  FX_TRANSPORT=${FX_TRANSPORT:-pty}
  case $FX_TRANSPORT in
    pty|tcp|rfc2217) ;;
    *) echo "FAIL: no transport '$FX_TRANSPORT' (pty tcp rfc2217)" >&2; exit 1 ;;
  esac
  S2N=$(command -v ser2net || echo /usr/sbin/ser2net)
  if [[ $FX_TRANSPORT == rfc2217 && ! -x $S2N ]]; then
    echo "FAIL: ser2net is not installed (bash tools/ensure_deps.sh net)" >&2
    exit 1
  fi
  S2N_PID=
  CLK_TCK=$(getconf CLK_TCK)
}

harness_cleanup_more() { stop_ser2net; }

layer_diagnostics() {
  if [[ $FX_TRANSPORT == rfc2217 ]]; then
    echo "--- ser2net ---"
    tail -n 20 "$TMP/ser2net.out" 2>/dev/null
  fi
}

# The simulated store at FX_SPEED times its speed, reached over
# FX_TRANSPORT: PORT is what the console's VEKTON_COM1 names. Extra
# arguments go to vekton-sim.
fault_start_sim() {
  local listen=()
  [[ $FX_TRANSPORT == tcp ]] && listen=(--listen 127.0.0.1:0)
  start_sim --speed "${FX_SPEED:-10}" "${listen[@]}" "$@"
  case $FX_TRANSPORT in
    pty) PORT=$LINK ;;
    tcp) PORT=tcp://$TCP_ADDR ;;
    rfc2217)
      S2N_PORT=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])') \
        || fail "no free port for ser2net"
      printf 'connection: &store\n  accepter: telnet(rfc2217),tcp,127.0.0.1,%s\n  connector: serialdev,%s,9600e81\n' \
        "$S2N_PORT" "$(sed -n 's/^PTY //p' "$SIM_OUT" | head -n 1)" >"$TMP/ser2net.yaml"
      PORT=rfc2217://127.0.0.1:$S2N_PORT
      start_ser2net || fail "ser2net did not start"
      ;;
  esac
}

# ser2net in front of the simulator's pseudo-terminal, listening.
s2n_listening() { ss -Hltn "sport = :$S2N_PORT" 2>/dev/null | grep -q .; }
start_ser2net() {
  "$S2N" -n -d -c "$TMP/ser2net.yaml" >>"$TMP/ser2net.out" 2>&1 &
  S2N_PID=$!
  wait_until 10 s2n_listening || { echo "ser2net does not listen on $S2N_PORT" >&2; return 1; }
}
stop_ser2net() {
  [[ -n ${S2N_PID:-} ]] || return 0
  { kill -KILL "$S2N_PID"; wait "$S2N_PID"; } 2>/dev/null
  S2N_PID=
}

# A fault switched on (or "none": off). The store's and the line's faults
# hold for every transport alike; "vanish" is the transport's own: the
# pseudo-terminal closed (pty), the connection closed and new ones refused
# (tcp: the simulator's listener goes with its pseudo-terminal), ser2net
# gone (rfc2217: the device server dies; the simulator's pseudo-terminal
# stays, as a serial line behind a dead server would). "none" brings
# ser2net back when it is gone.
inject_fault() {
  if [[ $FX_TRANSPORT == rfc2217 && $1 == vanish ]]; then
    stop_ser2net
    return
  fi
  control "fault $1"
  if [[ $FX_TRANSPORT == rfc2217 && $1 == none && -z $S2N_PID ]]; then
    start_ser2net
  fi
}

# The port is back after a vanish (the $1-th port of the run): the simulator
# has announced a new PTY and the link points at it; over tcp it listens
# again; over rfc2217 ser2net listens again.
port_back() {
  case $FX_TRANSPORT in
    rfc2217) [[ -n $S2N_PID ]] && s2n_listening ;;
    *)
      [[ $(grep -c '^PTY /' "$SIM_OUT") -ge ${1:-1} ]] && test -e "$LINK" || return 1
      [[ $FX_TRANSPORT == pty ]] || [[ $(grep -c '^TCP [0-9]' "$SIM_OUT") -ge ${1:-1} ]]
      ;;
  esac
}

# Processor time the console has used so far, in clock ticks.
cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$(console_pid)/stat" 2>/dev/null; }

# Processor use of the console over the next $1 seconds, in percent of one
# core (one decimal).
cpu_percent() {
  local t0 c0 t1 c1
  t0=$(date +%s%N)
  c0=$(cpu_ticks)
  sleep "$1"
  t1=$(date +%s%N)
  c1=$(cpu_ticks)
  [[ -n $c0 && -n $c1 ]] || { echo "-"; return 1; }
  awk -v c="$((c1 - c0))" -v hz="$CLK_TCK" -v ns="$((t1 - t0))" 'BEGIN { printf "%.1f", c / hz / (ns / 1e9) * 100 }'
}
