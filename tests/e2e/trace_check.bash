# What the trace scripts share (sourced after harness.bash): where the
# console's trace is, the line's bytes from both of its ends, and the reader.
#
# The console keeps its trace in the folder the harness's XDG_STATE_HOME
# gives it; vekton-sim's own record ($TRACE, one per simulator) is the other
# end of the same line.

TRACE_DIR=$XDG_STATE_HOME/vekton/trace
VEKTON_TRACE=$BUILD/vekton-trace
TRACE_BYTES=$(dirname "${BASH_SOURCE[0]}")/trace_bytes.py
command -v python3 >/dev/null || { echo "FAIL: python3 is missing (trace_bytes.py)" >&2; exit 1; }

# The console's trace files, the run's first one first (its continuations,
# NAME.2.trace and on, after it).
console_traces() {
  ls "$TRACE_DIR"/*.trace 2>/dev/null | sort -t . -k 2n
}

# vekton-trace on the console's folder, its output in $TMP/vt.out, its
# errors in $TMP/vt.err; fails on any status but 0.
vt() {
  [[ -x $VEKTON_TRACE ]] || fail "$VEKTON_TRACE is missing (build the vekton-trace target)"
  "$VEKTON_TRACE" --trace "${VT_DIR:-$TRACE_DIR}" "$@" >"$TMP/vt.out" 2>"$TMP/vt.err" \
    || fail "vekton-trace $* ended with status $?: $(head -c 600 "$TMP/vt.err")"
}

# same_bytes NAME SIM_TRACE [CONSOLE_FILES...]: what the simulator received
# is what the console's trace says it wrote (TX), and what it sent is what
# the trace says the console read (RX): the same bytes, in the same order,
# none missing and none extra. The four streams are kept as
# $TMP/NAME.{tx,rx,sim-rx,sim-tx}.
same_bytes() {
  local name=$1 sim=$2
  shift 2
  local files=("$@")
  (( ${#files[@]} )) || mapfile -t files < <(console_traces)
  (( ${#files[@]} )) || fail "$name: the console left no trace file in $TRACE_DIR"
  python3 "$TRACE_BYTES" console TX "${files[@]}" >"$TMP/$name.tx" || fail "$name: the console's trace does not read"
  python3 "$TRACE_BYTES" console RX "${files[@]}" >"$TMP/$name.rx" || fail "$name: the console's trace does not read"
  python3 "$TRACE_BYTES" sim RX "$sim" >"$TMP/$name.sim-rx" || fail "$name: the simulator's trace does not read"
  python3 "$TRACE_BYTES" sim TX "$sim" >"$TMP/$name.sim-tx" || fail "$name: the simulator's trace does not read"
  [[ -s $TMP/$name.tx && -s $TMP/$name.rx ]] || fail "$name: the console's trace holds no TX or no RX"
  cmp "$TMP/$name.sim-rx" "$TMP/$name.tx" >&2 \
    || fail "$name: the trace's TX ($(wc -c <"$TMP/$name.tx") bytes) is not what the simulator received ($(wc -c <"$TMP/$name.sim-rx"))"
  cmp "$TMP/$name.sim-tx" "$TMP/$name.rx" >&2 \
    || fail "$name: the trace's RX ($(wc -c <"$TMP/$name.rx") bytes) is not what the simulator sent ($(wc -c <"$TMP/$name.sim-tx"))"
}

# The trace files in the folder that are not among the given ones: the
# run (or runs) since that listing.
new_traces() {
  console_traces | grep -vxF -f <(printf '%s\n' "$@")
}

# The records with a word, their payloads one a line, from the given files
# (default: the console's run).
records() {
  local word=$1
  shift
  local files=("$@")
  (( ${#files[@]} )) || mapfile -t files < <(console_traces)
  awk -v w="$word" '$3 == w { sub(/^[^ ]+ [^ ]+ [^ ]+ ?/, ""); print }' "${files[@]}"
}
has_record() { records "$1" | grep -qxF -- "$2"; }
