#!/usr/bin/env bash
# End to end: result files written by the console itself (make_result_files),
# judged by vekton-report against a limits file that has every table, the
# pages printed by Debian's headless Chromium as a user's "Print to PDF"
# would, and the PDFs read back with poppler: A4 portrait, the number of
# sheets the protocol takes, the verdict, every criterion's row, the serial
# number and the block to sign in the text, and each sheet rendered to PNG.
# Usage: acceptance_print.sh <build dir>. With PROTOCOL_PNG_DIR set, the
# rendered sheets are kept there.
set -u

source "$(dirname "$0")/report_setup.bash"
report_setup "${1:-}" print

# --- result files and limits -----------------------------------------------
# A night's run of 8 hours, which meets every limit, and a run of an hour,
# which is too short and counts too few accesses.
mkdir night hour
"$MAKER" night 1 8 0 >>make.log 2>&1 && "$MAKER" hour 1 1 1 >>make.log 2>&1 ||
  fail "make_result_files: $(tail -n 3 make.log)"
mv night/1234_00.spf night.spf && mv hour/1234_01.spf hour.spf

cp "$HERE/acceptance_limits.toml" limits.toml || fail "no limits file beside the script"

# NAME WANTED-STATUS FILE...: the page NAME.html, judged.
judge() {
  local name=$1 want=$2
  shift 2
  "$REPORT" --limits limits.toml -o "$name.html" "$@" >"$name.out" 2>"$name.err"
  local status=$?
  [[ $status -eq $want ]] || fail "vekton-report --limits on $*: status $status, wanted $want: $(cat "$name.err")"
}
judge accepted 0 night.spf
judge refused 3 hour.spf
judge both 3 night.spf hour.spf

# --- printed ------------------------------------------------------------------
# NAME SHEETS: NAME.html printed, A4 portrait, SHEETS sheets: the protocol's
# first, the run's figures and its histogram, the climate and the lines to
# sign; a comparison adds its own sheet before the runs.
print_page() {
  local name=$1 sheets=$2
  timeout 30 chromium --headless --no-sandbox --disable-gpu --no-pdf-header-footer \
    --print-to-pdf="$TMP/$name.pdf" "file://$TMP/$name.html" >"$name.chromium" 2>&1
  [[ -s $name.pdf ]] || fail "Chromium printed no $name.pdf: $(tail -n 3 "$name.chromium")"
  local info size pages
  info=$(pdfinfo "$name.pdf") || fail "pdfinfo cannot read $name.pdf"
  size=$(sed -n 's/^Page size: *\([0-9.]*\) x \([0-9.]*\) pts.*/\1 \2/p' <<<"$info")
  pages=$(sed -n 's/^Pages: *//p' <<<"$info")
  awk -v s="$size" 'BEGIN { split(s, a, " "); exit !(a[1] > 594 && a[1] < 596 && a[2] > 841 && a[2] < 843) }' ||
    fail "$name.pdf is not A4 portrait: $size pts"
  [[ $pages -eq $sheets ]] || fail "$name.pdf has $pages pages, wanted $sheets"
  pdftotext -layout "$name.pdf" "$name.txt" || fail "pdftotext cannot read $name.pdf"
  pdftotext -layout -f 1 -l 1 "$name.pdf" "$name.first.txt"
  pdftoppm -png -r 50 "$name.pdf" "png-$name" || fail "pdftoppm cannot render $name.pdf"
}
print_page accepted 3
print_page refused 3
print_page both 7

# --- read back -----------------------------------------------------------------
# TEXT-FILE WORDS...: every one is in the text.
has() {
  local file=$1
  shift
  for words in "$@"; do
    grep -qF -- "$words" "$file" || fail "$file lacks \"$words\""
  done
}
# The criteria the limits ask for, as their rows begin; each row on the first
# sheet with its limit and its result.
criteria=(
  "Run complete, with its test summary" "Length of the run" "Accesses counted" "Carousel position errors"
  "Accesses in the histogram but not counted"
)
for p in "" PlateReady; do
  for g in "all accesses" loads unloads; do
    name=${p:-Ready}
    criteria+=("Mean $name time of $g" "Maximum $name time of $g" "95th percentile of $name time of $g")
  done
done
for v in "Temperature inside 26.0" "Temperature outside 26.0" "Humidity inside 60.0" "Humidity outside 60.0" \
  "CO2 inside 1.5" "CO2 outside 1.5" "Times the line to the store was lost" "Time the line was down, in all"; do
  criteria+=("$v")
done
[[ ${#criteria[@]} -eq 31 ]] || fail "the check lists ${#criteria[@]} criteria, not 31"

for name in accepted refused; do
  has "$name.first.txt" "${criteria[@]}" "Serial number" "1234" "Klinikum Nord & Partner" "SA-2026-0412" \
    "Gebäude B" "limits.toml" "$([[ $name == accepted ]] && echo night.spf || echo hour.spf)"
  # A criterion's row is one line: what is asked, the limit, the figure, the
  # margin and the result.
  rows=$(grep -cE '(at (most|least) [0-9.]+|required) .* (passed|failed|not judged)' "$name.first.txt")
  [[ $rows -eq 31 ]] || fail "$name: $rows criterion rows with limit and result on the first sheet, not 31"
  has "$name.txt" "Signatures" "Technician" "Customer" "Date" "Place" "Handling times" "Climate"
  grep -q "Handling times" "$name.first.txt" && fail "$name: the charts begin on the first sheet"
done
has accepted.first.txt "ACCEPTED" "31 of 31 criteria passed"
grep -q "NOT ACCEPTED" accepted.txt && fail "the night's run is printed NOT ACCEPTED"
has refused.first.txt "NOT ACCEPTED" "29 of 31 criteria passed"
[[ $(grep -cE '(Length of the run|Accesses counted) .* failed' refused.first.txt) -eq 2 ]] ||
  fail "the hour's run does not fail its length and its count"
has both.first.txt "Comparison of 2 runs" "Acceptance" "accepted" "NOT accepted"
[[ $(grep -c "Technician" both.txt) -eq 1 ]] || fail "the comparison's protocol is not signed once"

if [[ -n ${PROTOCOL_PNG_DIR:-} ]]; then
  mkdir -p "$PROTOCOL_PNG_DIR" && cp png-*.png "$PROTOCOL_PNG_DIR"/
fi
echo "PASS: acceptance protocol printed (accepted 3, not accepted 3, comparison 7 A4 pages; $(ls png-*.png | wc -l) sheets rendered)"
