#!/usr/bin/env bash
# Makes the manual's picture of the archive's page, docs/images/archive-fleet.png:
# the fleet of a dozen stores that the page's end-to-end test builds (result
# files the console wrote in-process, one store's newest run a fifth slower,
# a few service events), its page rendered by headless Chromium 1200 pixels
# wide, and its top (the fleet and the first store's trend) scaled to 900.
# Usage: tools/archive_picture.sh [build dir]   (default: build)
set -euo pipefail

REPO=$(cd "$(dirname "$0")/.." && pwd)
BUILD=$(cd "${1:-$REPO/build}" && pwd)
OUT=$REPO/docs/images/archive-fleet.png
TMP=$(mktemp -d "${TMPDIR:-/tmp}/vekton-picture.XXXXXX")
trap 'rm -rf "$TMP"' EXIT
# The test renders the page at 1200 px and keeps the PNG when asked to.
REPORT_PNG_DIR=$TMP bash "$REPO/tests/e2e/archive_page.sh" "$BUILD" >"$TMP/e2e.log" 2>&1 ||
  { cat "$TMP/e2e.log" >&2; exit 1; }
mkdir -p "$(dirname "$OUT")"
/usr/bin/python3 - "$TMP/fleet.png" "$OUT" <<'EOF'
import sys
from PIL import Image
page = Image.open(sys.argv[1]).convert("RGB")
top = page.crop((0, 0, page.width, min(page.height, 1820)))
top = top.resize((900, round(top.height * 900 / top.width)), Image.Resampling.LANCZOS)
top.quantize(colors=64, method=Image.Quantize.MEDIANCUT).save(sys.argv[2], optimize=True)
print("%s: %d x %d pixels" % (sys.argv[2], top.width, top.height))
EOF
echo "$(stat -c %s "$OUT") bytes"
