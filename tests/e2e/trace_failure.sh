#!/usr/bin/env bash
# End to end: a trace that cannot be written stops, and nothing else does.
# The real vekton in tmux against vekton-sim (speed 10), a short
# random-access run in each of two cases:
# - full: the trace's disk fills in the middle of the run. A tmpfs of
#   256 kB holds the trace folder and is filled up once the run has begun
#   (E28, no space); where no tmpfs can be mounted, the console's file-size
#   limit is lowered to its trace's size instead (E27, file too large; the
#   console must not die of SIGXFSZ) and raised again once the trace has
#   stopped. TRACE_FULL=limit takes that way where a mount would work.
# - denied: the trace folder is not the console's to write (the console
#   runs as nobody where setpriv is there, E13), else its path runs through
#   a regular file (E20; TRACE_DENIED=file takes that way where setpriv
#   would work).
# In both, the recorder lets go of its file, the run goes on to its
# summary, the result file is whole (vekton-report reads it with status 0)
# and the main menu's last line says "Trace stopped:" with the file and the
# code; what the trace holds up to the failure is read by vekton-trace.
# Usage: trace_failure.sh <build dir>
set -u

HERE=$(cd "$(dirname "$0")" && pwd)
source "$HERE/../harness.bash"
harness_init "$1" tracefail
source "$HERE/trace_check.bash"
REPORT=$BUILD/vekton-report
[[ -x $REPORT ]] || fail "$REPORT is missing (build the vekton-report target)"
MOUNTED=
harness_cleanup_more() { [[ -n $MOUNTED ]] && umount "$MOUNTED" 2>/dev/null; }

# The console's trace file that is open (the recorder's), or "".
open_trace() {
  ls -l "/proc/$(console_pid)/fd" 2>/dev/null | grep -o -- '-> .*\.trace$' | cut -c4-
}
trace_let_go() { [[ -z $(open_trace) ]]; }

# run_case NAME STATE_HOME CODE [MIDRUN]: the console with its trace folder
# under STATE_HOME, to the menu, a random-access run of a few accesses with
# MIDRUN called once two are done, the summary, the menu with its "Trace
# stopped" line as the pattern WANT says (set before, or by MIDRUN), the
# result file checked, choice 0.
run_case() {
  local name=$1 state=$2 midrun=${3:-}
  local work=$TMP/work-$name
  mkdir -p "$work"
  chmod 777 "$work"
  start_sim --speed 10
  chmod 666 "$(readlink -f "$LINK")"  # for a console that is not root's
  SESSION=$name
  CONSOLE_ENV="XDG_STATE_HOME=$state ${CONSOLE_AS:-}" start_console "$work"
  to_menu
  start_standard_random_access 1
  wait_until 60 accesses_at_least 2 || fail "$name: fewer than 2 accesses within a minute"
  [[ -n $midrun ]] && "$midrun"
  local n
  n=$(performed)
  wait_until 60 accesses_at_least $((n + 2)) || fail "$name: the run did not go on"
  console_alive || fail "$name: the console ended in the run (status $(exit_code))"
  quit_random_access
  keys " "
  wait_until 10 menu_ready || fail "$name: no menu after the summary"
  # A path too long for the window loses its start ("..."): the file's
  # name and the code always show. WANT is a pattern.
  local notice shown
  notice=$(screen | tail -n 3 | grep -oE 'Trace stopped: .*[^ ]')
  shown=${notice#Trace stopped: }
  # shellcheck disable=SC2053 # WANT is a pattern
  [[ $shown == $WANT || $shown == ...*/${WANT##*/} ]] \
    || fail "$name: the menu's last line is not 'Trace stopped: $WANT': '$notice'"
  check_result_file "$work/1234_00.spf"
  "$REPORT" -o "$TMP/$name.html" "$work/1234_00.spf" >"$TMP/$name.report" 2>&1 \
    || fail "$name: vekton-report does not read the result file: $(cat "$TMP/$name.report")"
  leave_with_choice_0 "$name"
}

# --- full: the disk fills, or the file-size limit is reached, in the run -----------
FULL_CODE=28
if [[ ${TRACE_FULL:-tmpfs} != limit ]] && mkdir -p "$TMP/full" \
  && mount -t tmpfs -o size=256k tmpfs "$TMP/full" 2>/dev/null; then
  MOUNTED=$TMP/full
  fill() {
    TRACE_FILE=$(open_trace)
    [[ $TRACE_FILE == "$TMP/full/"* ]] || fail "full: the console writes no trace on the tmpfs: $TRACE_FILE"
    WANT="$TRACE_FILE E$FULL_CODE"
    dd if=/dev/zero of="$TMP/full/filler" bs=4k 2>/dev/null
    wait_until 30 trace_let_go || fail "full: the recorder still holds its file on a full disk"
    console_alive || fail "full: the console died on the full disk (status $(exit_code))"
  }
else
  FULL_CODE=27
  fill() {
    TRACE_FILE=$(open_trace)
    [[ -n $TRACE_FILE ]] || fail "full: the console has no trace file open"
    WANT="$TRACE_FILE E$FULL_CODE"
    prlimit --pid "$(console_pid)" --fsize="$(stat -c %s "$TRACE_FILE")" || fail "full: prlimit failed"
    wait_until 30 trace_let_go || fail "full: the recorder still holds its file at the file-size limit"
    console_alive || fail "full: the console died at the file-size limit (status $(exit_code))"
    prlimit --pid "$(console_pid)" --fsize=unlimited
  }
fi
run_case full "$TMP/full" fill
# What was written up to the failure reads with status 0: whole records,
# and at most a last line the full disk cut, which the reader passes over.
vt "$TRACE_FILE"
grep -q ' CHOICE 7 ' "$TMP/vt.out" || fail "full: the trace up to the failure lacks the run's choice"
FULL_HOW=${MOUNTED:+a full tmpfs}
FULL_HOW=${FULL_HOW:-the file-size limit}
[[ -n $MOUNTED ]] && { umount "$MOUNTED"; MOUNTED=; }

# --- denied: a trace folder the console may not write ------------------------------
if [[ ${TRACE_DENIED:-nobody} != file ]] && command -v setpriv >/dev/null && setpriv --reuid=nobody --regid=nogroup --clear-groups true 2>/dev/null; then
  chmod 755 "$TMP"
  mkdir -p "$TMP/denied/vekton/trace"
  CONSOLE_AS="setpriv --reuid=nobody --regid=nogroup --clear-groups"
  DENIED_CODE=13
  WANT="$TMP/denied/vekton/trace/vekton-*.trace E13"
else
  : >"$TMP/denied"
  DENIED_CODE=20
  WANT="$TMP/denied/vekton/trace E20"
fi
run_case denied "$TMP/denied"
[[ -z $(ls "$TMP/denied/vekton/trace" 2>/dev/null) ]] || fail "denied: a trace file was made after all"

echo "PASS: trace_failure (full: E$FULL_CODE at $FULL_HOW, denied: E$DENIED_CODE)"
