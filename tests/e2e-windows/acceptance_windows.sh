#!/usr/bin/env bash
# End to end under Wine: vekton.exe judges its random-access run by the
# limits.toml in its folder. A --limits file with a typo stops the start
# with one line naming its line, status 2, and so does --archive (the
# archive is not in the Windows build); then, with limits.toml beside
# it, vekton.exe on COM1 against vekton-sim: a short run, Esc, Q, and under
# the line naming the report page the verdict, the page beside the result
# file saying it too; any key, 0, status 0. A second run, on a fresh store, with the file
# made stricter while it runs: NOT accepted, the line wider than the
# console window going on in the next row.
#
# Usage: acceptance_windows.sh <linux build dir> <windows build dir>
set -u
source "$(dirname "$0")/wine.bash"
windows_init "${1:-}" "${2:-}" acceptance-win
WORK=$TMP/work  # vekton.exe's folder: the result files and limits.toml
mkdir -p "$WORK"

prepare_wine

printf '[run]\r\nmin_hours = 0.1\r\nmax_not_countd = 1\r\n' >"$WORK/typo.toml"
(cd "$WORK" && WINEDEBUG=-all wine "$VEKTON_EXE" --limits typo.toml </dev/null >"$TMP/typo.out" 2>"$TMP/typo.err")
status=$?
err=$(tr -d '\r' <"$TMP/typo.err" | grep -v '^[0-9a-f]*:\(err\|fixme\)')
(( status == 2 )) || fail "a refused --limits file ends with $status, not 2 ($err)"
[[ $err == "vekton: typo.toml:3: "* && $(wc -l <<<"$err") == 1 ]] || fail "not one line with the file's line: '$err'"
rm "$WORK/typo.toml"

# The archive is not in the Windows build: --archive is refused at the start.
(cd "$WORK" && WINEDEBUG=-all wine "$VEKTON_EXE" --archive fleet.db </dev/null >"$TMP/arch.out" 2>"$TMP/arch.err")
status=$?
err=$(tr -d '\r' <"$TMP/arch.err" | grep -v '^[0-9a-f]*:\(err\|fixme\)')
(( status == 2 )) || fail "--archive ends with $status, not 2 ($err)"
[[ $err == "vekton: --archive: the archive is not part of this build; "* ]] || fail "--archive: '$err'"
[[ -e $WORK/fleet.db ]] && fail "--archive made a file in a build without the archive"

# Windows line ends, as Notepad writes them.
printf '[run]\r\nmin_accesses = 3\r\n\r\n[ready]\r\nmax_max_s = 60.0\r\n' >"$WORK/limits.toml"
# session NAME: vekton.exe in the work folder, start-up on port 1, the menu.
session() {
  start_console --windows --session "$1" "$WORK"
  wait_until 40 port_prompt_ready || fail "$1: no port prompt"
  keys 1
  key Enter
  wait_until 10 screen_has "Enter Operator Name" || fail "$1: no operator prompt"
  key Enter
  wait_until 15 menu_ready || fail "$1: no main menu"
}
# leave NAME: any key after the summary, 0, status 0.
leave() {
  keys " "
  wait_until 10 menu_ready || fail "$1: no menu after the summary's key"
  keys 0
  key Enter
  wait_until 15 exited || fail "$1: did not exit after choice 0"
  [[ $(exit_code) == 0 ]] || fail "$1: exit code $(exit_code)"
  tmux -L "$SOCK" kill-session -t "$1" 2>/dev/null
}

start_sim --speed 10
session accepted
start_standard_random_access 1
wait_until 60 accesses_at_least 6 || fail "fewer than 6 accesses within a minute"
quit_random_access
wait_until 10 screen_has "Report page: 1234_00.html" || fail "the summary does not name the report page"
summary=$(screen)
echo "--- the summary's screen ---"
printf '%s\n' "$summary"
[[ $(grep -A1 -F "Report page: 1234_00.html" <<<"$summary" | tail -n 1) == "Acceptance: accepted (3 of 3 criteria)" ]] \
  || fail "no verdict 'accepted (3 of 3 criteria)' under the report page's line"
grep -q 'ACCEPTED' "$WORK/1234_00.html" || fail "the page beside the result file does not say ACCEPTED"
leave accepted

start_sim --as com1 --speed 10
session failed
start_standard_random_access 1
wait_until 60 accesses_at_least 3 || fail "fewer than 3 accesses in the second run within a minute"
printf '[ready]\r\nmax_mean_s = 0.1\r\n' >"$WORK/limits.toml"
wait_until 60 accesses_at_least 6 || fail "fewer than 6 accesses in the second run within a minute"
quit_random_access
wait_until 10 screen_has "Report page: 1234_01.html" || fail "the second summary does not name its page"
summary=$(screen)
echo "--- the second summary's screen ---"
printf '%s\n' "$summary"
verdict=$(grep -A2 -F "Report page: 1234_01.html" <<<"$summary" | tail -n +2 | awk '{ printf "%-80s", $0 }' | sed 's/ *$//')
[[ $verdict == "Acceptance: NOT accepted: Mean Ready time of all accesses "*" s (limit: at most 0.1 s)" ]] \
  || fail "not the failed criterion with its figure and limit: '$verdict'"
grep -q 'NOT ACCEPTED' "$WORK/1234_01.html" || fail "the second page does not say NOT ACCEPTED"
leave failed
echo "PASS: acceptance_windows (a --limits typo and --archive refused at the start; a run accepted, one not, by limits.toml)"
