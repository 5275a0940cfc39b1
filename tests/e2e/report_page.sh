#!/usr/bin/env bash
# End to end: result files written by the console itself (in-process against
# the simulated store, by make_result_files), turned by vekton-report into
# pages and a CSV table; the pages rendered in Debian's headless Chromium
# (every chart drawn, nothing fetched from anywhere, nothing wider than a
# phone's screen), the table read back with Python's csv module and compared
# with the summary lines of the same files.
# Usage: report_page.sh <build dir>. With REPORT_PNG_DIR set, the rendered
# pages are kept there as PNG files.
set -u

source "$(dirname "$0")/report_setup.bash"
report_setup "${1:-}" report
PY=/usr/bin/python3  # Debian's, which has python3-selenium and python3-pil

# --- result files ---------------------------------------------------------
# One series of weekly runs on a store that gets slower: a quarter of an
# hour, a day, a run stopped within its first minute (no climate line yet),
# four of an hour; and the day's run as if killed after 400 lines (every line
# on disk whole).
make_runs() {  # DIR COUNT HOURS FIRST
  mkdir -p "$1" && "$MAKER" "$@" >>make.log 2>&1 || fail "make_result_files $*: $(tail -n 3 make.log)"
}
make_runs short 1 0.25 0
make_runs day 1 24 1
make_runs tiny 1 0.01 2
make_runs series 4 1 3
mv short/1234_00.spf short.spf && mv day/1234_01.spf day.spf && mv tiny/1234_02.spf tiny.spf
head -n 400 day.spf >cut.spf
grep -q '^Total Accesses:' day.spf || fail "the day's result file has no summary"
grep -q '^Total Accesses:' cut.spf && fail "the cut file still has its summary"

# --- pages and the table --------------------------------------------------
for run in short day tiny cut; do
  "$REPORT" "$run.spf" >"$run.out" 2>"$run.err" || fail "vekton-report $run.spf: exit $?: $(cat "$run.err")"
  [[ -s $run.html ]] || fail "no page beside $run.spf"
done
grep -q 'incomplete' cut.err || fail "vekton-report did not call the cut file incomplete: $(cat cut.err)"
inputs=(short.spf day.spf tiny.spf cut.spf series/*.spf)
"$REPORT" -o all.html --csv all.csv "${inputs[@]}" >all.out 2>all.err ||
  fail "vekton-report on ${#inputs[@]} files: $(cat all.err)"

# --- in the browser -------------------------------------------------------
mkdir -p png
"$PY" "$HERE/report_page_check.py" png \
  short.html:hist=1,climate=1 day.html:hist=1,climate=1 tiny.html:hist=1 cut.html:climate=1 \
  all.html:trend=1,hist=7,climate=7 >browser.log 2>&1
status=$?
if [[ -n ${REPORT_PNG_DIR:-} ]]; then
  mkdir -p "$REPORT_PNG_DIR" && cp png/*.png "$REPORT_PNG_DIR"/
fi
if [[ $status -ne 0 ]]; then
  grep -v '^ok: ' browser.log >&2
  fail "the browser check failed"
fi

# --- the table, read back --------------------------------------------------
"$PY" - all.csv "${inputs[@]}" <<'EOF' || fail "the CSV does not match the result files"
import csv, io, re, sys

path, spfs = sys.argv[1], sys.argv[2:]
raw = open(path, "rb").read()
bad = []
if not raw.startswith(b"\xef\xbb\xbf"):
    bad.append("no UTF-8 byte order mark")
if raw.count(b"\n") != raw.count(b"\r\n"):
    bad.append("a line end that is not CR LF")
rows = list(csv.DictReader(io.StringIO(raw.decode("utf-8-sig"), newline="")))
first = ["file", "serial", "date", "time", "firmware", "operator", "complete", "total_accesses", "car_pos_errors",
         "access_mean_s", "access_min_s", "access_max_s", "load_mean_s", "unload_mean_s", "climate_lines"]
header = next(csv.reader(io.StringIO(raw.decode("utf-8-sig"), newline="")))
if header[:len(first)] != first:
    bad.append("header starts %r" % header[:len(first)])
if [r["file"] for r in rows] != spfs:
    bad.append("files %r, given %r" % ([r["file"] for r in rows], spfs))

def ready(lines, label):
    """The Ready figure of a summary time line, '' when missing or the reset value."""
    for l in lines:
        if l.startswith(label):
            v = l[len(label):].split("PR")[0].strip()
            return "" if v == "21474836.5" else v
    return ""

def counter(lines, label):
    for l in lines:
        if l.startswith(label):
            return l[len(label):].strip()
    return ""

for row, spf in zip(rows, spfs):
    lines = open(spf, encoding="cp437").read().split("\n")
    climate, inside = 0, False
    for l in lines:
        if l == "Temp  Hmd   CO2   Opt":
            inside = True
        elif inside and re.fullmatch(r"( *-?\d+\.\d){4}", l) and len(l) == 20:
            climate += 1
        elif inside:
            inside = False
    d = re.match(r"Quendal AG +(\d\d)-(\d\d)-(\d\d)$", lines[1])
    want = {
        "serial": re.match(r"SNr\. # (\d+)", lines[7]).group(1),
        "date": "20%s-%s-%s" % (d.group(3), d.group(2), d.group(1)),
        "time": lines[2].split()[-1],
        "operator": lines[2][:lines[2].rfind(" ", 0, len(lines[2]) - 8)].rstrip(),
        "complete": "yes" if any(l.startswith("Mean UnLoad Time:") for l in lines) else "no",
        "total_accesses": counter(lines, "Total Accesses:"),
        "car_pos_errors": counter(lines, "Car. Pos. Errs"),
        "access_mean_s": ready(lines, "Mean Access Time:"),
        "access_min_s": ready(lines, "Min. Access Time:"),
        "access_max_s": ready(lines, "Max. Access Time:"),
        "load_mean_s": ready(lines, "Mean Load Time:"),
        "unload_mean_s": ready(lines, "Mean UnLoad Time:"),
        "climate_lines": str(climate),
    }
    for k, v in want.items():
        if row[k] != v:
            bad.append("%s: %s is %r, the file says %r" % (spf, k, row[k], v))
    for k, v in row.items():
        # Times to a tenth as the file has them; counts of seconds whole.
        whole = k in ("duration_s", "interval_s")
        if k.endswith("_s") and v and not re.fullmatch(r"\d+" if whole else r"-?\d+\.\d", v):
            bad.append("%s: %s is not a plain decimal: %r" % (spf, k, v))
for b in bad:
    print(b, file=sys.stderr)
print("CSV: %d rows checked" % len(rows))
sys.exit(1 if bad else 0)
EOF

pages=$(grep -c '^checked: ' browser.log)
echo "PASS: report page ($pages pages rendered, $(wc -c <all.html) bytes for ${#inputs[@]} runs)"
