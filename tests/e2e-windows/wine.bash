# The Windows layer of tests/harness.bash (sourced, not run): vekton.exe
# under Wine next to the Linux vekton, with a Wine prefix whose COM1 and
# COM12 are the simulator's links $TMP/com1 and $TMP/com12, and the tools to
# compare what the two consoles show and send. Start the Windows console
# with start_console --windows.
#
# windows_init <linux build dir> <windows build dir> <name> sets BUILD_WIN
# and VEKTON_EXE besides what harness_init sets. VEKTON_WINEPREFIX may name
# a prepared Wine prefix (see prepare_wine); otherwise a fresh one is made
# in the test's temp dir.

WINE_HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$WINE_HERE/../harness.bash"

windows_init() {
  if [[ -z $1 || -z $2 ]]; then
    echo "usage: $0 <linux build dir> <windows build dir>" >&2
    exit 2
  fi
  harness_init "$1" "$3"
  BUILD_WIN=$(cd "$2" && pwd)
  VEKTON_EXE=$BUILD_WIN/vekton.exe
  [[ -f $VEKTON_EXE ]] || { echo "FAIL: $VEKTON_EXE is missing (build vekton.exe in $BUILD_WIN)" >&2; exit 1; }
  local tool
  for tool in wine wineserver gcc g++; do
    command -v "$tool" >/dev/null || { echo "FAIL: $tool is not installed" >&2; exit 1; }
  done
  # tmux-256color has no back-colour erase, so ncurses writes every blank in
  # its colours, as the Windows console does, and the captures see them.
  CONSOLE_TERM=tmux-256color
}

harness_cleanup_more() {
  if [[ -n ${WINEPREFIX:-} ]]; then
    WINEPREFIX=$WINEPREFIX wineserver -k 2>/dev/null
  fi
}

layer_diagnostics() {
  local f
  for f in "$TMP"/wine-*.err; do
    [[ -s $f ]] || continue
    echo "--- $(basename "$f") (last 20 lines) ---"
    tail -n 20 "$f"
  done
}

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
  fi
  export WINEDEBUG=-all WINEARCH=win64
  if [[ ! -f $WINEPREFIX/system.reg ]]; then
    wineboot -i >"$TMP/wineboot.log" 2>&1 || { cat "$TMP/wineboot.log" >&2; fail "wineboot failed"; }
  fi
  cat >"$TMP/vekton.reg" <<REG
REGEDIT4

[HKEY_CURRENT_USER\\Software\\Wine]
"Version"="win10"

[HKEY_LOCAL_MACHINE\\Software\\Wine\\Ports]
"COM1"="$TMP/com1"
"COM12"="$TMP/com12"
REG
  local reg=$TMP/vekton.reg
  wine regedit /S "Z:${reg//\//\\}" >>"$TMP/wineboot.log" 2>&1 \
    || { cat "$TMP/wineboot.log" >&2; fail "registry set-up failed"; }
  # The com links are made when Wine starts its services again.
  wineserver -w
  # A pseudo-terminal keeps no parity; see pty_parity_shim.c.
  gcc -shared -fPIC -O2 -o "$TMP/pty_parity_shim.so" "$WINE_HERE/pty_parity_shim.c" -ldl \
    || fail "cannot build the pty shim"
}

# The environment words start_console --windows gives wine.
wine_console_env() { echo "WINEPREFIX=$WINEPREFIX WINEDEBUG=-all LD_PRELOAD=$TMP/pty_parity_shim.so"; }

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

# capture FILE: the screen cell by cell (text and colours), see screen_cells.cpp.
capture() {
  tmux -L "$SOCK" capture-pane -t "$SESSION" -p -e -N >"$1.raw" 2>/dev/null
  "$TMP/screen_cells" <"$1.raw" >"$1"
}

# The commands without what depends on timing: the status polls (DM200 and
# relay 1915, also the Ready waits) are dropped, as are the empty lines the
# polls' second CR makes, and a command repeated while waiting counts once.
wire_commands() {
  received_lines "$1" | grep -vxE 'RD DM200|RD 1915|' | uniq
}

# Built once per test run.
build_tools() {
  g++ -std=c++20 -O1 -o "$TMP/screen_cells" "$WINE_HERE/screen_cells.cpp" || fail "cannot build screen_cells"
}
