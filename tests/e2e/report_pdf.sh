#!/usr/bin/env bash
# End to end: vekton-report --limits --pdf on result files the console wrote
# (in-process against the simulated store, by make_result_files), printed by
# Debian's headless Chromium: the PDF is A4 and holds the run's serial number
# and the verdict the console line gives, under a name with a blank and a
# letter beyond ASCII, from a temporary folder named the same way, which is
# left empty; no browser process outlives the call. Without a Chromium in
# PATH the PDF is refused with a clear message and status 1, and the page
# is still written.
# Usage: report_pdf.sh <build dir>. With REPORT_PNG_DIR set, the PDF's pages
# are kept there as PNG files.
set -u

source "$(dirname "$0")/report_setup.bash"
report_setup "${1:-}" pdf
unset VEKTON_CHROMIUM

mkdir -p runs && "$MAKER" runs 2 0.5 0 >make.log 2>&1 || fail "make_result_files: $(tail -n 3 make.log)"
mv runs/1234_00.spf first.spf && mv runs/1234_01.spf second.spf
serial=$(sed -n 's/^SNr\. # *\([0-9]*\).*/\1/p' first.spf | head -n 1)
[[ -n $serial ]] || fail "no serial number in first.spf"
printf '[run]\nmin_accesses = 1\n' >lenient.toml
printf '[run]\nmin_accesses = 1000000\n' >strict.toml

# --- printed by Chromium ------------------------------------------------------
printing="$TMP/print tmp ü"
mkdir -p "$printing"
pdf_of() {  # LIMITS RUN EXPECTED-STATUS PDF
  local status
  TMPDIR=$printing "$REPORT" --limits "$1.toml" -o "$2.html" --pdf "$4" "$2.spf" >"$2.out" 2>"$2.err"
  status=$?
  [[ $status == "$3" ]] || fail "--limits $1 --pdf on $2.spf: status $status, not $3: $(cat "$2.err")"
  grep -qxF "PDF written: $4" "$2.out" || fail "no 'PDF written: $4' for $2.spf: $(cat "$2.out" "$2.err")"
  [[ -s $2.err ]] && fail "Chromium's messages reached the user for $2.spf: $(cat "$2.err")"
  [[ $(head -c 5 "$4") == %PDF- ]] || fail "$4 is no PDF"
  [[ -z $(ls -A "$printing") ]] && return 0
  fail "the print's temporary folder was left behind: $(ls -A "$printing")"
}
start=$SECONDS
pdf_of lenient first 0 "accepted ä 1.pdf"
pdf_of strict second 3 "not accepted ä 2.pdf"
took=$((SECONDS - start))
pgrep -f -- "--user-data-dir=$printing" >/dev/null && fail "a Chromium process outlived vekton-report"

check_pdf() {  # PDF VERDICT
  local info text
  info=$(pdfinfo "$1") || fail "pdfinfo cannot read $1"
  text=$(pdftotext -layout "$1" -) || fail "pdftotext cannot read $1"
  grep -q "$serial" <<<"$text" || fail "$1 does not hold the serial number $serial"
  grep -qE '^Page size: +59[45](\.[0-9]+)? x 84[12](\.[0-9]+)? pts \(A4\)' <<<"$info" \
    || fail "$1 is not A4: $(grep 'Page size' <<<"$info")"
  grep -q "$2" <<<"$text" || fail "$1 does not say $2"
  grep -q "NOT ACCEPTED" <<<"$text" && [[ $2 == ACCEPTED ]] && fail "$1 says NOT ACCEPTED"
  echo "ok: $1: $(grep -E '^Pages' <<<"$info" | tr -s ' ')"
}
check_pdf "accepted ä 1.pdf" ACCEPTED
check_pdf "not accepted ä 2.pdf" "NOT ACCEPTED"
grep -q "Acceptance: accepted" first.out || fail "the accepted run's verdict line: $(cat first.out)"
grep -q "Acceptance: NOT accepted" second.out || fail "the refused run's verdict line: $(cat second.out)"
if [[ -n ${REPORT_PNG_DIR:-} ]]; then
  mkdir -p "$REPORT_PNG_DIR" && pdftoppm -png -r 60 "not accepted ä 2.pdf" "$REPORT_PNG_DIR/protocol"
fi

# --- no Chromium ----------------------------------------------------------------
mkdir -p nobin
cp first.spf third.spf
out=$(PATH=$TMP/nobin "$REPORT" --pdf none.pdf third.spf 2>&1)
status=$?
[[ $status == 1 ]] || fail "without Chromium the status is $status, not 1: $out"
grep -qF "vekton-report: no Chromium found to print none.pdf (install chromium, or set VEKTON_CHROMIUM to its program); the page was written: third.html" <<<"$out" \
  || fail "without Chromium: $out"
[[ -s third.html && ! -e none.pdf ]] || fail "without Chromium the page is missing or a PDF appeared"

echo "PASS: report_pdf (two runs printed on A4 in ${took} s, the verdicts in them; no Chromium refused clearly)"
