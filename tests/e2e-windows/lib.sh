# Shared by the Windows end-to-end tests (sourced, not run): the Linux and
# the Windows console in tmux (80 x 25) against vekton-sim on a
# pseudo-terminal, the Windows one under Wine with its COM ports linked to
# the simulator, and the tools to compare what the two show and send.
#
# The caller sets BUILD (Linux build dir, with vekton and sim/vekton-sim) and
# BUILD_WIN (Windows build dir, with vekton.exe) before sourcing, and may set
# VEKTON_WINEPREFIX to a prepared Wine prefix (see prepare_wine); otherwise
# a fresh one is made in the test's temp dir.

HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
VEKTON=$BUILD/vekton
SIM=$BUILD/sim/vekton-sim
VEKTON_EXE=$BUILD_WIN/vekton.exe

for bin in "$VEKTON" "$SIM" "$VEKTON_EXE"; do
  if [[ ! -f $bin ]]; then
    echo "FAIL: $bin is missing (build vekton and vekton-sim in $BUILD, vekton.exe in $BUILD_WIN)" >&2
    exit 1
  fi
done
for tool in tmux wine wineserver gcc g++; do
  command -v "$tool" >/dev/null || { echo "FAIL: $tool is not installed" >&2; exit 1; }
done

TMP=$(mktemp -d "${TMPDIR:-/tmp}/vekton-e2e-win.XXXXXX")
SOCK=vekton-e2e-win-$$-$RANDOM  # a tmux server of our own: nothing else is touched
LINKS=$TMP/links                # where the simulator leaves its pty links
mkdir -p "$LINKS"
SIM_PID=
SIM_LINK=
SESSION=
TRACE=
OWN_PREFIX=0

cleanup() {
  tmux -L "$SOCK" kill-server 2>/dev/null
  stop_sim
  if [[ -n ${WINEPREFIX:-} ]]; then
    WINEPREFIX=$WINEPREFIX wineserver -k 2>/dev/null
  fi
  if [[ ${KEEP_TMP:-0} == 1 ]]; then
    echo "kept $TMP" >&2
  else
    rm -rf "$TMP"
  fi
}
trap cleanup EXIT
trap 'exit 2' INT TERM HUP

# --- Wine ---------------------------------------------------------------------------
# A prefix for these tests: booted fresh, Windows 10 reported (the console
# picks its colours by the system version, and the Linux build reports 10),
# COM1 and COM12 mapped to the simulator's links. Wine makes its dosdevices
# com links itself at start, from the serial devices it finds and from these
# registry entries; a link made by hand would be replaced.
prepare_wine() {
  if [[ -n ${VEKTON_WINEPREFIX:-} ]]; then
    export WINEPREFIX=$VEKTON_WINEPREFIX
  else
    export WINEPREFIX=$TMP/wineprefix
    OWN_PREFIX=1
  fi
  export WINEDEBUG=-all WINEARCH=win64
  if [[ ! -f $WINEPREFIX/system.reg ]]; then
    wineboot -i >"$TMP/wineboot.log" 2>&1 || { cat "$TMP/wineboot.log" >&2; fail_plain "wineboot failed"; }
  fi
  cat >"$TMP/vekton.reg" <<EOF
REGEDIT4

[HKEY_CURRENT_USER\\Software\\Wine]
"Version"="win10"

[HKEY_LOCAL_MACHINE\\Software\\Wine\\Ports]
"COM1"="$LINKS/com1"
"COM12"="$LINKS/com12"
EOF
  local reg=$TMP/vekton.reg
  wine regedit /S "Z:${reg//\//\\}" >>"$TMP/wineboot.log" 2>&1 \
    || { cat "$TMP/wineboot.log" >&2; fail_plain "registry set-up failed"; }
  # The com links are made when Wine starts its services again.
  wineserver -w
  # A pseudo-terminal keeps no parity; see pty_parity_shim.c.
  gcc -shared -fPIC -O2 -o "$TMP/pty_parity_shim.so" "$HERE/pty_parity_shim.c" -ldl \
    || fail_plain "cannot build the pty shim"
}

# --- the simulated store -----------------------------------------------------------
# start_sim LINKNAME [options...]: a new simulator whose pty is linked at
# $LINKS/LINKNAME, its trace in $TRACE.
start_sim() {
  local name=$1
  shift
  stop_sim
  TRACE=$TMP/trace-$name-$RANDOM.log
  SIM_LINK=$LINKS/$name
  "$SIM" --link "$LINKS/$name" --trace "$TRACE" "$@" >"$TMP/sim.out" 2>&1 &
  SIM_PID=$!
  wait_until 10 grep -q '^PTY ' "$TMP/sim.out" || fail "vekton-sim did not announce its PTY"
  wait_until 5 test -e "$LINKS/$name" || fail "vekton-sim left no link at $LINKS/$name"
}

stop_sim() {
  if [[ -n $SIM_PID ]]; then
    kill "$SIM_PID" 2>/dev/null
    wait "$SIM_PID" 2>/dev/null
  fi
  SIM_PID=
}

# --- the console in tmux -------------------------------------------------------------
# start_console linux|windows NAME: the console in a new tmux session NAME
# of CONSOLE_COLS x CONSOLE_ROWS (default 80 x 25); its exit code lands in
# $TMP/NAME.exit. The Linux console takes the last
# simulator's link as COM1; the Windows one has COM1 and COM12 mapped.
# CONSOLE_ENV, when set, adds NAME=VALUE words to either console's
# environment (VEKTON_COM1=tcp://... for a port across the network).
start_console() {
  local kind=$1
  SESSION=$2
  rm -f "$TMP/$SESSION.exit"
  local cmd
  # tmux-256color has no back-colour erase, so ncurses writes every blank in
  # its colours, as the Windows console does, and the captures see them.
  if [[ $kind == linux ]]; then
    cmd="env TERM=tmux-256color LANG=C.UTF-8 VEKTON_COM1=$SIM_LINK ${CONSOLE_ENV:-} $VEKTON"
  else
    cmd="env TERM=tmux-256color LANG=C.UTF-8 WINEPREFIX=$WINEPREFIX WINEDEBUG=-all ${CONSOLE_ENV:-}"
    cmd+=" LD_PRELOAD=$TMP/pty_parity_shim.so wine $VEKTON_EXE 2>>$TMP/wine-$SESSION.err"
  fi
  tmux -L "$SOCK" new-session -d -s "$SESSION" -x "${CONSOLE_COLS:-80}" -y "${CONSOLE_ROWS:-25}" \
    "$cmd; echo EXIT=\$? > $TMP/$SESSION.exit; sleep 600" || fail "tmux could not start"
}

screen() { tmux -L "$SOCK" capture-pane -t "$SESSION" -p 2>/dev/null; }
screen_has() { screen | grep -qF -- "$1"; }
keys() { tmux -L "$SOCK" send-keys -t "$SESSION" -l -- "$1"; }
key() { tmux -L "$SOCK" send-keys -t "$SESSION" "$1"; }
# The port prompt on the screen and the keys going to the program. Wine's
# console draws the program's first screen before it takes the terminal
# into raw mode: keys typed in between are echoed by the terminal itself and
# an Enter arrives as a line feed, which the program never sees as Enter.
keys_raw() {
  local tty
  tty=$(tmux -L "$SOCK" display -p -t "$SESSION" '#{pane_tty}' 2>/dev/null) || return 1
  stty -a -F "$tty" 2>/dev/null | grep -qw -- '-icanon'
}
port_prompt_ready() { screen_has "Enter Port Number to Vekton" && keys_raw; }
# The menu drawn afresh, ready for a choice.
menu_ready() { screen_has "Enter [0..6]" && ! screen_has "Open Comport   ->"; }
exited() { test -s "$TMP/$SESSION.exit"; }
exit_code() { sed 's/^EXIT=//' "$TMP/$SESSION.exit"; }

# capture FILE: the screen cell by cell (text and colours), see screen_cells.cpp.
capture() {
  tmux -L "$SOCK" capture-pane -t "$SESSION" -p -e -N >"$1.raw" 2>/dev/null
  "$TMP/screen_cells" <"$1.raw" >"$1"
}

# Polls until a command succeeds or the deadline (seconds) passes.
wait_until() {
  local deadline=$(($(date +%s%N) + ${1} * 1000000000))
  shift
  until "$@"; do
    (($(date +%s%N) > deadline)) && return 1
    sleep 0.05
  done
}

fail_plain() {
  echo "FAIL: $*" >&2
  exit 1
}

fail() {
  echo "FAIL: $*" >&2
  if [[ -n $SESSION ]]; then
    echo "--- screen ($SESSION) ---" >&2
    screen >&2
  fi
  if [[ -n $TRACE ]]; then
    echo "--- trace (last 30 lines) ---" >&2
    tail -n 30 "$TRACE" >&2 2>/dev/null
  fi
  echo "--- simulator output ---" >&2
  cat "$TMP/sim.out" >&2 2>/dev/null
  for f in "$TMP"/wine-*.err; do
    [[ -s $f ]] || continue
    echo "--- $(basename "$f") (last 20 lines) ---" >&2
    tail -n 20 "$f" >&2
  done
  exit 1
}

# --- the wire ------------------------------------------------------------------------
# Everything the simulator received, one command line per output line (the
# trace escapes CR as \r).
received_lines() {
  awk '$2 == "RX" { sub(/^[^ ]+ RX /, ""); printf "%s", $0 }' "$1" 2>/dev/null |
    sed 's/\\r/\n/g'
}
count_received() { received_lines "$TRACE" | grep -cxF -- "$1"; }
received_at_least() { (($(count_received "$1") >= $2)); }

# The commands without what depends on timing: the status polls (DM200 and
# relay 1915, also the Ready waits) are dropped, as are the empty lines the
# polls' second CR makes, and a command repeated while waiting counts once.
wire_commands() {
  received_lines "$1" | grep -vxE 'RD DM200|RD 1915|' | uniq
}

# Built once per test run.
build_tools() {
  g++ -std=c++20 -O1 -o "$TMP/screen_cells" "$HERE/screen_cells.cpp" || fail_plain "cannot build screen_cells"
}
