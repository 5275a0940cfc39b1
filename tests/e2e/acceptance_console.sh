#!/usr/bin/env bash
# End to end: the acceptance verdict of the real vekton in tmux (80 x 25)
# against vekton-sim at ten times the store's speed, started as the README
# says with a limits.toml in its folder. A short random-access run, Esc, Q:
# under the summary the line naming the report page, then the verdict; the
# page beside the result file holds it too. A second console's run, its limits
# made stricter while it runs, is judged by the file as it is at the run's
# end: NOT accepted, naming the criterion. A --limits file with a typo
# stops the start with its line.
# Usage: acceptance_console.sh <build dir>
set -u

source "$(dirname "$0")/../harness.bash"
harness_init "$1" acceptance
WORK=$TMP/work  # the console's folder: the result files and limits.toml
mkdir -p "$WORK"
harness_diagnostics() {
  echo "--- limits.toml ---"
  cat "$WORK/limits.toml"
  echo "--- files ---"
  ls -l "$WORK"
}

# --- a typo in a --limits file: one line, status 2, before the terminal --------
printf '[run]\nmin_hours = 0.1\nmax_not_countd = 1\n' >"$TMP/typo.toml"
err=$(cd "$WORK" && "$VEKTON" --limits "$TMP/typo.toml" </dev/null 2>&1 >/dev/null)
status=$?
(( status == 2 )) || fail "a refused --limits file ends with $status, not 2"
[[ $err == "vekton: $TMP/typo.toml:3: "* && $(wc -l <<<"$err") == 1 ]] || fail "not one line with the file's line: '$err'"

# --- the store and the console, limits.toml in the console's folder ------------------
cat >"$WORK/limits.toml" <<'TOML'
[run]
min_accesses = 3
max_car_pos_errors = 0

[ready]
max_max_s = 60.0
TOML
start_sim --speed 10
start_console "$WORK"
to_menu

start_standard_random_access 1
wait_until 60 accesses_at_least 6 || fail "fewer than 6 accesses within a minute"
quit_random_access
wait_until 10 screen_has "Report page: 1234_00.html" || fail "the summary does not name the report page"
first=$(screen)
echo "--- the first run's screen ---"
printf '%s\n' "$first"
grep -qxF "Acceptance: accepted (4 of 4 criteria)" <<<"$first" || fail "no verdict line 'accepted (4 of 4 criteria)'"
[[ $(grep -A1 -F "Report page: 1234_00.html" <<<"$first" | tail -n 1) == "Acceptance: accepted"* ]] \
  || fail "the verdict is not the line under the report page's"
[[ -s $WORK/1234_00.html ]] || fail "no page beside the result file"
check_result_file "$WORK/1234_00.spf"

keys " "
wait_until 10 menu_ready || fail "no menu after the summary's key"
leave_with_choice_0

# --- a second console on a fresh store, the limits made stricter during its run ----
start_sim --as com2 --speed 10
start_console --session acceptance2 "$WORK"
to_menu
start_standard_random_access 1
wait_until 60 accesses_at_least 3 || fail "fewer than 3 accesses in the second run within a minute"
printf '[ready]\nmax_mean_s = 0.1\n' >"$WORK/limits.toml"
wait_until 60 accesses_at_least 6 || fail "fewer than 6 accesses in the second run within a minute"
quit_random_access
wait_until 10 screen_has "Report page: 1234_01.html" || fail "the second summary does not name its page"
second=$(screen)
echo "--- the second run's screen ---"
printf '%s\n' "$second"
# 80 columns: a verdict wider than the screen goes on in the next row.
verdict=$(grep -A2 -F "Report page: 1234_01.html" <<<"$second" | tail -n +2 | awk '{ printf "%-80s", $0 }' | sed 's/ *$//')
[[ $verdict == "Acceptance: NOT accepted: Mean Ready time of all accesses "*" s (limit: at most 0.1 s)" ]] \
  || fail "not the failed criterion with its figure and limit: '$verdict'"

# The pages beside the result files carry the same verdicts.
grep -q 'ACCEPTED' "$WORK/1234_00.html" || fail "the first page does not say ACCEPTED"
grep -q 'NOT ACCEPTED' "$WORK/1234_00.html" && fail "the first page says NOT ACCEPTED"
grep -q 'NOT ACCEPTED' "$WORK/1234_01.html" || fail "the second page does not say NOT ACCEPTED"

keys " "
wait_until 10 menu_ready || fail "no menu after the second summary's key"
leave_with_choice_0

echo "PASS: acceptance_console (accepted, then NOT accepted by the file mended during the run, on the screen and on the pages)"
