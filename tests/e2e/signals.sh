#!/usr/bin/env bash
# End to end: SIGINT, SIGTERM and SIGHUP end the real vekton cleanly wherever
# it is (the main menu, the direct command console, a wait for a store that
# never gets ready, a random-access run), with 128 + the signal as exit code,
# the terminal as it was before and the alternate screen off. A random-access
# run ended by a signal ends as if the operator had quit: its result file
# ends with the histogram and the complete test summary, and is closed. A
# kill that allows no clean-up (SIGKILL) still leaves every line written
# before it on disk. SIGINT is also typed, as Ctrl-C.
# Usage: signals.sh <build dir>
set -u
source "$(dirname "$0")/../harness.bash"
harness_init "${1:?usage: $0 <build dir>}" signals
WORK=$TMP/work  # the console's working directory: the result files land here
mkdir -p "$WORK"
harness_diagnostics() {
  echo "--- result files ---"
  ls -l "$WORK"
  tail -n 5 "$WORK"/*.spf
}

start_sim --speed 10

CASE=0
# A fresh console in a session of its own, at the main menu, and the store
# as at the start: the run a signal ended may have left an access half done
# and the plate anywhere.
start() {
  control "exec ST 1900"
  control "plates one"
  CASE=$((CASE + 1))
  start_console --session "case$CASE" "$WORK"
  to_menu
}

# Sends the signal (or types Ctrl-C) and checks the clean end.
signal_and_check() {  # signal where
  local sig=$1 where=$2 want name=SIG$1
  [[ $sig == CTRL-C ]] && name="Ctrl-C (SIGINT)"
  case $sig in
    INT) want=130 ;; TERM) want=143 ;; HUP) want=129 ;; CTRL-C) want=130 ;;
  esac
  if [[ $sig == CTRL-C ]]; then
    tmux -L "$SOCK" send-keys -t "$SESSION" C-c  # SIGINT as the operator makes it
  else
    kill -"$sig" "$(console_pid)"
  fi
  wait_until 5 exited || fail "$name $where: vekton did not end within 5 s"
  [[ $(cat "$TMP/$SESSION.exit") == "EXIT=$want" ]] || fail "$name $where: $(cat "$TMP/$SESSION.exit"), not $want"
  local why
  why=$(terminal_restored) || fail "$name $where: $why"
  echo "ok: $name in $where: exit $want, terminal restored"
}

# --- the main menu, the direct command console ---------------------------------------
for sig in INT TERM HUP; do
  start
  signal_and_check "$sig" "the main menu"
  start
  keys 1
  key Enter
  wait_until 10 screen_has "Enter direct commands to KV-PLC" || fail "no direct command console"
  signal_and_check "$sig" "the direct command console"
done
start
keys 1
key Enter
wait_until 10 screen_has "Enter direct commands to KV-PLC" || fail "no direct command console"
signal_and_check CTRL-C "the direct command console"

# --- a wait for a store that never gets ready (the teach's first wait) -----------------
for sig in INT TERM HUP; do
  start
  control "fault notready"
  keys 4
  key Enter
  # The status line shows the store not ready while the teach waits for it.
  wait_until 10 screen_has "Ready 0" || fail "the teach does not wait for Ready"
  sleep 1
  screen_has "Activate Carousel" && fail "the teach went on without Ready"
  signal_and_check "$sig" "a wait for Ready"
  control "fault none"
done

# --- a random-access run ------------------------------------------------------------------
# Starts the standard test with a 1 s interval and waits until the store
# has done a few accesses of it. Prints the result file's name.
random_run() {
  local before=$1 file
  start_standard_random_access 1 10
  file=$(printf '%s/1234_%02d.spf' "$WORK" "$before")
  wait_until 10 test -s "$file" || fail "no result file $file"
  wait_until 10 holds_open "$file" || fail "the console does not hold $file open"
  local want=$(( $(performed) + 3 ))
  wait_until 60 accesses_at_least "$want" || fail "the run makes no accesses ($(performed) of $want after 60 s)"
  echo "$file"
}

# The file holds, in order, the climate section, the histogram and the
# summary, and ends with the summary's last line.
check_summary_file() {  # file where
  local file=$1 where=$2
  [[ $(head -n 1 "$file") == "_______________________________________________________" ]] \
    || fail "$where: $file does not start with the report header"
  local climate stats columns summary total
  climate=$(grep -nxF 'Temp  Hmd   CO2   Opt' "$file" | cut -d: -f1)
  stats=$(grep -nF 'Handling Times Statistics' "$file" | cut -d: -f1)
  columns=$(grep -nxF '[s]   Mean Min. Max.      Mean Min. Max.' "$file" | cut -d: -f1)
  summary=$(grep -nF 'Complete Test Summary' "$file" | cut -d: -f1)
  [[ -n $climate && -n $stats && -n $columns && -n $summary ]] || fail "$where: a section is missing from $file"
  (( climate < stats && stats < columns && columns < summary )) || fail "$where: the sections of $file are out of order"
  [[ $(tail -n 1 "$file") == "Mean UnLoad Time:"* ]] || fail "$where: $file does not end with the summary"
  total=$(total_accesses "$file")
  [[ -n $total ]] && (( total >= 2 )) || fail "$where: 'Total Accesses' is '$total'"
  echo "$total"
}

n=0
for sig in INT TERM HUP; do
  start
  done_before=$(performed)
  file=$(random_run $n) || exit 1
  n=$((n + 1))
  signal_and_check "$sig" "a random-access run"
  total=$(check_summary_file "$file" "SIG$sig") || exit 1
  done_now=$(( $(performed) - done_before ))
  # The fetch of the plate from 1,1 is no timed access, and the access the
  # signal came in may be counted or not yet finished.
  (( total >= done_now - 2 && total <= done_now + 1 )) \
    || fail "SIG$sig: Total Accesses $total does not fit the $done_now accesses the store made"
  echo "ok: SIG$sig in a random-access run: $file ends with the summary ($total accesses, $done_now made)"
done

# --- SIGKILL: no clean-up, yet every line written is on disk ---------------------------
start
file=$(random_run $n) || exit 1
kill -KILL "$(console_pid)"
wait_until 5 exited || fail "vekton did not die on SIGKILL"
[[ $(cat "$TMP/$SESSION.exit") == "EXIT=137" ]] || fail "SIGKILL: $(cat "$TMP/$SESSION.exit")"
[[ $(tail -c 1 "$file" | od -An -tx1 | tr -d ' ') == 0a ]] || fail "SIGKILL: the last line of $file is cut"
grep -qF 'Complete Test Summary' "$file" && fail "SIGKILL: a summary nobody could have written"
lines=$(wc -l <"$file")
# The two report headers (nine lines each), the blank line between them,
# the column line, and the climate lines of the minute or so the run lasted.
(( lines >= 20 && lines <= 22 )) || fail "SIGKILL: $file has $lines lines"
grep -qxF 'Temp  Hmd   CO2   Opt' "$file" || fail "SIGKILL: the climate header is not on disk"
echo "ok: SIGKILL in a random-access run: $file keeps its $lines lines"

echo "PASS: signals"
