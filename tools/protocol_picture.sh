#!/usr/bin/env bash
# Makes the manual's picture of a printed acceptance protocol,
# docs/images/acceptance-protocol.png: the first sheet of the protocol of a
# night's run on the simulated store, written by the console in-process
# (make_result_files), judged by vekton-report against the limits file with
# every table, printed to PDF by vekton-report --pdf and turned into a PNG about
# 800 pixels wide.
# Usage: tools/protocol_picture.sh [build dir]   (default: build)
set -euo pipefail

REPO=$(cd "$(dirname "$0")/.." && pwd)
BUILD=$(cd "${1:-$REPO/build}" && pwd)
OUT=$REPO/docs/images/acceptance-protocol.png
for bin in "$BUILD/vekton-report" "$BUILD/bench/make_result_files"; do
  [[ -x $bin ]] || { echo "protocol_picture.sh: $bin is missing (build it first)" >&2; exit 1; }
done
bash "$REPO/tools/ensure_deps.sh" page >/dev/null

TMP=$(mktemp -d "${TMPDIR:-/tmp}/vekton-picture.XXXXXX")
trap 'rm -rf "$TMP"' EXIT
cd "$TMP"
mkdir runs
"$BUILD/bench/make_result_files" runs 1 8 0 >make.log
mv runs/1234_00.spf 1234_00.spf
cp "$REPO/tests/e2e/acceptance_limits.toml" limits.toml
"$BUILD/vekton-report" --limits limits.toml --pdf protocol.pdf 1234_00.spf >report.log
# A4 is 8.27 in wide: 97 dots an inch give about 800 pixels. A palette of
# 48 colours (Pillow, which the page's checks install) keeps the text sharp
# and the file a fraction of its size.
pdftoppm -png -r 97 -f 1 -l 1 -singlefile protocol.pdf page
mkdir -p "$(dirname "$OUT")"
/usr/bin/python3 - page.png "$OUT" <<'EOF'
import sys
from PIL import Image
page = Image.open(sys.argv[1]).convert("RGB")
page.quantize(colors=48, method=Image.Quantize.MEDIANCUT).save(sys.argv[2], optimize=True)
print("%s: %d x %d pixels" % (sys.argv[2], page.width, page.height))
EOF
if command -v optipng >/dev/null; then optipng -quiet -o5 "$OUT"; fi
echo "$(stat -c %s "$OUT") bytes"
