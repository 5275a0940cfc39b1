#!/usr/bin/env bash
# End to end: the real vekton with --archive in tmux (80 x 25) against
# vekton-sim at ten times the store's speed. An archive that cannot be opened
# stops the start with one line; one that can is made at the start. A short
# random-access run, Esc, Q: under the line naming the report page,
# "Archived in DB", and vekton-archive lists the run. A second run while
# another program holds the archive's write lock: the console waits for it
# until Esc gives the wait up, "Not archived: ..." under its page, the
# console goes on, and the result file, complete on the disk, is imported
# afterwards.
# Usage: archive_console.sh <build dir>
set -u

source "$(dirname "$0")/../harness.bash"
harness_init "$1" archiveconsole
ARCHIVE=$BUILD/vekton-archive
[[ -x $ARCHIVE ]] || fail "$ARCHIVE is missing (build the vekton-archive target)"
WORK=$TMP/work  # the console's folder: the result files
DB=$TMP/fleet.db
mkdir -p "$WORK"
harness_diagnostics() {
  echo "--- files ---"
  ls -l "$WORK" "$TMP"
  echo "--- vekton-archive runs ---"
  "$ARCHIVE" "$DB" runs
}

# --- an archive that cannot be opened: one line, status 2, before the terminal ----
echo "no database at all" >"$TMP/broken.db"
err=$(cd "$WORK" && "$VEKTON" --archive "$TMP/broken.db" </dev/null 2>&1 >/dev/null)
status=$?
(( status == 2 )) || fail "an archive that cannot be opened ends with $status, not 2"
[[ $err == "vekton: $TMP/broken.db: "* && $(wc -l <<<"$err") == 1 ]] || fail "not one line naming the archive: '$err'"

# --- a run into the archive -------------------------------------------------------
start_sim --speed 10
VEKTON="$VEKTON --archive $DB"
start_console "$WORK"
to_menu
[[ -s $DB ]] || fail "the archive was not made at the start"

start_standard_random_access 1
wait_until 60 accesses_at_least 6 || fail "fewer than 6 accesses within a minute"
quit_random_access
wait_until 30 screen_has "Archived in $DB" || fail "no 'Archived in $DB' under the summary"
first=$(screen)
echo "--- the first run's screen ---"
printf '%s\n' "$first"
[[ $(grep -A1 -F "Report page: 1234_00.html" <<<"$first" | tail -n 1) == "Archived in $DB" ]] \
  || fail "the archive's line is not the one under the report page's"
check_result_file "$WORK/1234_00.spf"
runs=$("$ARCHIVE" "$DB" runs) || fail "vekton-archive runs failed: $runs"
echo "$runs"
[[ $(grep -c "1234_00.spf" <<<"$runs") == 1 ]] || fail "vekton-archive does not list the run once"
[[ $(grep -cE '^ *[0-9]+ +1234 ' <<<"$runs") == 1 ]] || fail "not one run of store 1234 in the archive"
keys " "
wait_until 10 menu_ready || fail "no menu after the summary's key"
leave_with_choice_0

# --- a second console's run on a fresh store while another program holds the archive ---
if command -v sqlite3 >/dev/null; then
  # sqlite3 holds the write lock until it is stopped; it ends by itself at
  # the end of its input too, once every program that inherited the pipe's
  # end (the tmux server, the simulator) is gone.
  mkfifo "$TMP/lock"
  sqlite3 "$DB" <"$TMP/lock" >/dev/null 2>&1 &
  LOCK_PID=$!
  exec 7>"$TMP/lock"
  echo "BEGIN EXCLUSIVE;" >&7
  locked() { ! sqlite3 -cmd ".timeout 0" "$DB" "BEGIN IMMEDIATE;" >/dev/null 2>&1; }
  wait_until 5 locked || fail "the archive could not be locked for the test"
  start_sim --as com2 --speed 10
  start_console --session archiveconsole2 "$WORK"
  to_menu
  start_standard_random_access 1
  wait_until 60 accesses_at_least 6 || fail "fewer than 6 accesses in the second run"
  quit_random_access
  now_ms; quit_ms=$NOW_MS
  wait_until 10 screen_has "Report page: 1234_01.html" || fail "the second summary does not name its page"
  # The console waits for the lock (its time-out is 30 s) and Esc gives the
  # wait up at once.
  sleep 3
  screen_has "Not archived: " && fail "the busy archive was given up before its time-out: $(screen)"
  key Escape
  wait_until 5 screen_has "given up with Esc" ||
    fail "Esc did not end the wait for a busy archive: $(screen)"
  now_ms; echo "the busy archive was given up $(( (NOW_MS - quit_ms) / 1000 )) s after the quit"
  printf '%s\n' "$(screen)"
  check_result_file "$WORK/1234_01.spf"
  keys " "
  wait_until 10 menu_ready || fail "no menu after the second summary's key"
  leave_with_choice_0
  exec 7>&-
  kill "$LOCK_PID"
  wait "$LOCK_PID" 2>/dev/null
  locked && fail "the lock was not let go"
  "$ARCHIVE" "$DB" add "$WORK/1234_01.spf" || fail "the second run's file was not imported afterwards"
  [[ $("$ARCHIVE" "$DB" runs | grep -cE '^ *[0-9]+ +1234 ') == 2 ]] || fail "not two runs in the archive"
else
  echo "sqlite3 is not installed: the busy archive is not tried"
fi

echo "PASS: archive_console (a refused archive stops the start; a run archived, a busy archive's run on the disk and imported after)"
