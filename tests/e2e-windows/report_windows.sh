#!/usr/bin/env bash
# vekton-report.exe under Wine, beside the Linux vekton-report: the same
# result files (with CR LF line ends, as the Windows console writes them)
# give the same page and the same CSV, byte for byte; a single file gets its
# page beside it; the exit status tells a usage error (2), an input that is
# not there and a page that exists already (1) from success (0). With
# --limits (the files with CR LF, as Notepad saves them) the verdict line and
# the judged page are those of Linux, and the status is 0 for a run accepted
# and 3 for one that is not; a limits file with a mistake is named with its
# line (status 1). --pdf, with no Chromium under Wine, says so (status 1).
#
# Usage: report_windows.sh <linux build dir> <windows build dir>
set -u
BUILD=$(cd "${1:?usage: $0 <linux build dir> <windows build dir>}" && pwd)
BUILD_WIN=$(cd "${2:?usage: $0 <linux build dir> <windows build dir>}" && pwd)
REPORT=$BUILD/vekton-report
REPORT_EXE=$BUILD_WIN/vekton-report.exe
MAKE_FILES=$BUILD/bench/make_result_files
for bin in "$REPORT" "$REPORT_EXE" "$MAKE_FILES"; do
  [[ -f $bin ]] || { echo "FAIL: $bin is missing" >&2; exit 1; }
done

TMP=$(mktemp -d "${TMPDIR:-/tmp}/vekton-e2e-report-win.XXXXXX")
cleanup() {
  [[ -z ${VEKTON_WINEPREFIX:-} ]] && wineserver -k 2>/dev/null
  rm -rf "$TMP"
}
trap cleanup EXIT
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
if [[ -n ${VEKTON_WINEPREFIX:-} ]]; then
  export WINEPREFIX=$VEKTON_WINEPREFIX
else
  export WINEPREFIX=$TMP/prefix WINEARCH=win64
  wineboot -i >/dev/null 2>&1 || { echo "FAIL: wineboot" >&2; exit 1; }
fi
fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# --- the same runs for both programs ----------------------------------------------------
mkdir -p "$TMP/linux" "$TMP/windows"
"$MAKE_FILES" "$TMP/linux" 3 2 >/dev/null || fail "make_result_files"
files=$(cd "$TMP/linux" && ls *.spf)
[[ $(wc -w <<<"$files") == 3 ]] || fail "expected three result files, got: $files"
for f in $files; do
  sed 's/$/\r/' "$TMP/linux/$f" >"$TMP/windows/$f"
done
first=$(head -n 1 <<<"$files")

linux() { (cd "$TMP/linux" && "$REPORT" "$@"); }
windows() { (cd "$TMP/windows" && wine "$REPORT_EXE" "$@"); }

# shellcheck disable=SC2086
linux -o all.html --csv all.csv $files >/dev/null || fail "the Linux vekton-report failed"
# shellcheck disable=SC2086
out=$(windows -o all.html --csv all.csv $files 2>&1) || fail "vekton-report.exe failed: $out"
grep -q 'Page written: all.html' <<<"$out" || fail "vekton-report.exe did not say where the page is: $out"
cmp -s "$TMP/linux/all.html" "$TMP/windows/all.html" || fail "the pages differ"
cmp -s "$TMP/linux/all.csv" "$TMP/windows/all.csv" || fail "the CSV tables differ"
grep -q '<svg' "$TMP/windows/all.html" || fail "the page holds no chart"

# A pattern as typed at a Windows prompt: the program expands it itself.
rm -f "$TMP/windows/all.html"
out=$(windows -o all.html '*.spf' 2>&1) || fail "vekton-report.exe did not expand '*.spf': $out"
cmp -s "$TMP/linux/all.html" "$TMP/windows/all.html" || fail "the page from '*.spf' differs"

linux "$first" >/dev/null || fail "the Linux vekton-report failed on $first"
windows "$first" >/dev/null 2>&1 || fail "vekton-report.exe failed on $first"
page=${first%.spf}.html
cmp -s "$TMP/linux/$page" "$TMP/windows/$page" || fail "the single page $page differs"

# --- exit status -------------------------------------------------------------------------
version=$(windows --version 2>&1 | tr -d '\r')
[[ $version == "$("$REPORT" --version)" ]] || fail "--version says '$version'"
windows --bogus "$first" >/dev/null 2>&1
[[ $? == 2 ]] || fail "an unknown option did not give 2"
windows -o missing.html missing.spf >/dev/null 2>&1
[[ $? == 1 ]] || fail "a missing input did not give 1"
echo kept >"$TMP/windows/$page"
windows "$first" >/dev/null 2>&1
[[ $? == 1 ]] || fail "a page that exists already did not give 1"
[[ $(cat "$TMP/windows/$page") == kept ]] || fail "a page that existed was written over"
cmp -s "$TMP/linux/$first" <(tr -d '\r' <"$TMP/windows/$first") || fail "a result file was changed"

# --- acceptance ---------------------------------------------------------------------------
limits() {  # NAME TEXT: the same limits file for both, with the line ends of each
  printf '%b' "$2" >"$TMP/linux/$1"
  printf '%b' "$2" | sed 's/$/\r/' >"$TMP/windows/$1"
}
limits lenient.toml '[run]\nmin_accesses = 1\n'
limits strict.toml '[run]\nmin_accesses = 1000000\n'
limits typo.toml '[run]\nmin_accesses = 1\nmax_car_pos_error = 0\n'
judged() {  # LIMITS STATUS VERDICT
  local status out
  linux --limits "$1" -o "judged-$1.html" "$first" >/dev/null
  out=$(windows --limits "$1" -o "judged-$1.html" "$first" 2>&1)
  status=$?
  [[ $status == "$2" ]] || fail "--limits $1 gave status $status, not $2: $out"
  grep -qF "$first: $3" <<<"$out" || fail "--limits $1: no verdict line '$3': $out"
  cmp -s "$TMP/linux/judged-$1.html" "$TMP/windows/judged-$1.html" || fail "the pages judged by $1 differ"
}
judged lenient.toml 0 "Acceptance: accepted ("
judged strict.toml 3 "Acceptance: NOT accepted: "
grep -q 'NOT ACCEPTED' "$TMP/windows/judged-strict.toml.html" || fail "the judged page holds no verdict"
out=$(windows --limits typo.toml -o typo.html "$first" 2>&1)
status=$?
[[ $status == 1 ]] || fail "a limits file with a mistake gave status $status, not 1: $out"
grep -qF "typo.toml:3: " <<<"$out" || fail "the limits file's mistake is not named with its line: $out"
[[ -e $TMP/windows/typo.html ]] && fail "a page was written although the limits file was refused"

# No Chromium under Wine: the PDF is refused, clearly, and the page written.
rm -f "$TMP/windows/$page"
out=$(windows --pdf protocol.pdf "$first" 2>&1)
status=$?
[[ $status == 1 ]] || fail "--pdf without Chromium gave status $status, not 1: $out"
grep -qF "vekton-report: no Chromium found to print protocol.pdf (install chromium, or set VEKTON_CHROMIUM to its program); the page was written: $page" <<<"$out" \
  || fail "--pdf without Chromium: $out"
[[ -s $TMP/windows/$page && ! -e $TMP/windows/protocol.pdf ]] || fail "--pdf without Chromium: page missing or PDF there"

echo "PASS: report_windows (three runs, page $(stat -c %s "$TMP/windows/all.html") bytes, same as on Linux; judged alike; no Chromium said)"
