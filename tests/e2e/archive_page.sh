#!/usr/bin/env bash
# End to end: a fleet of a dozen stores made of result files the console
# itself wrote (make_result_files, the serial number rewritten in copies),
# imported into an archive by vekton-archive with a few service events,
# and its page rendered in Debian's headless Chromium at 1200 and 390 px:
# every store's trend and sparkline drawn, nothing fetched from anywhere,
# nothing wider than a phone's screen.
# Usage: archive_page.sh <build dir>. With REPORT_PNG_DIR set, the rendered
# page is kept there as PNG files.
set -u

source "$(dirname "$0")/report_setup.bash"
report_setup "${1:-}" archive
ARCHIVE=$BUILD/vekton-archive
[[ -x $ARCHIVE ]] || fail "$ARCHIVE is missing (build the vekton-archive target)"
PY=/usr/bin/python3

# --- the fleet --------------------------------------------------------------
# Six weekly runs of a store that wears, and one run fourteen weeks on,
# slower by a fifth: the store that has it after its first five drifts.
mkdir -p series late
"$MAKER" series 6 0.2 0 >>make.log 2>&1 || fail "make_result_files: $(tail -n 3 make.log)"
"$MAKER" late 1 0.2 14 >>make.log 2>&1 || fail "make_result_files: $(tail -n 3 make.log)"
stores=12
files=()
for i in $(seq 1 $stores); do
  serial=$((2000 + i))
  mkdir -p "s$serial"
  # Stores of one to six runs; the last store's newest run is the late one.
  n=$((1 + (i - 1) % 6))
  for f in $(ls series/*.spf | head -n "$n"); do
    sed "s/SNr\. # 1234/SNr. # $serial/" "$f" >"s$serial/$(basename "$f")"
    files+=("s$serial/$(basename "$f")")
  done
done
last=s$((2000 + stores))
sed "s/SNr\. # 1234/SNr. # $((2000 + stores))/" late/1234_14.spf >"$last/1234_14.spf"
files+=("$last/1234_14.spf")

cp "$HERE/archive_limits.toml" limits.toml
"$ARCHIVE" fleet.db add "${files[@]}" >add.out 2>add.err || fail "vekton-archive add: $(tail -n 3 add.err)"
"$ARCHIVE" fleet.db event 2006 2026-01-20 "gripper replaced" >>ev.out 2>&1 || fail "event: $(cat ev.out)"
"$ARCHIVE" fleet.db event 2006 "2026-01-27 14:30" "firmware 7.1.21" --note >>ev.out 2>&1 || fail "event: $(cat ev.out)"
"$ARCHIVE" fleet.db event 2012 2026-01-06 "carousel re-taught" >>ev.out 2>&1 || fail "event: $(cat ev.out)"
"$ARCHIVE" fleet.db event 2001 2026-01-06 '<script>alert(1)</script> & "x"' >>ev.out 2>&1 || fail "event: $(cat ev.out)"
"$ARCHIVE" fleet.db page -o fleet.html --limits limits.toml >page.out 2>page.err ||
  fail "vekton-archive page: exit $?: $(cat page.err)"
[[ -s fleet.html ]] || fail "no page written"
grep -q '<script' fleet.html && fail "an event's text reached the page as markup"
grep -q '&lt;script&gt;alert(1)&lt;/script&gt; &amp; &quot;x&quot;' fleet.html || fail "the event's text is not on the page"
grep -q "<h1>Store archive: $stores stores, $((${#files[@]})) runs</h1>" fleet.html || fail "the heading: $(grep -o '<h1>[^<]*' fleet.html)"
# Every store's last run is judged: the slow one fails, the others pass.
ok=$(grep -o 'class="acc ok"' fleet.html | wc -l)
bad=$(grep -o 'class="acc bad"' fleet.html | wc -l)
((ok == stores - 1 && bad == 1)) || fail "acceptance: $ok accepted and $bad not, want $((stores - 1)) and 1"
# The drifting store leads the fleet.
first=$(grep -o 'href="#store-[0-9]*"' fleet.html | head -n 1)
[[ $first == "href=\"#store-$((2000 + stores))\"" ]] || fail "the fleet starts with $first, not the drifting store"

# --- in the browser ---------------------------------------------------------
mkdir -p png
"$PY" "$HERE/archive_page_check.py" png fleet.html "$stores" >browser.log 2>&1
status=$?
if [[ -n ${REPORT_PNG_DIR:-} ]]; then
  mkdir -p "$REPORT_PNG_DIR" && cp png/*.png "$REPORT_PNG_DIR"/
fi
if [[ $status -ne 0 ]]; then
  cat browser.log >&2
  fail "the browser check failed"
fi
echo "PASS: archive page ($stores stores, ${#files[@]} runs, $(wc -c <fleet.html) bytes)"
