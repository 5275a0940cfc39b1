# The start the report's end-to-end scripts share: the build's vekton-report
# and make_result_files, the browser's and poppler's packages, and a
# temporary folder to work in, removed at the end.
# Usage (after `set -u`): source report_setup.bash; report_setup <build dir> NAME
# Sets BUILD, HERE, REPO, REPORT, MAKER and TMP, defines fail, and leaves the
# script in TMP.

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

report_setup() {
  BUILD=$(cd "${1:?usage: $0 <build dir>}" && pwd)
  HERE=$(cd "$(dirname "$0")" && pwd)
  REPO=$(cd "$HERE/../.." && pwd)
  REPORT=$BUILD/vekton-report
  MAKER=$BUILD/bench/make_result_files
  local bin
  for bin in "$REPORT" "$MAKER"; do
    [[ -x $bin ]] || fail "$bin is missing (build the vekton-report and make_result_files targets)"
  done
  bash "$REPO/tools/ensure_deps.sh" page >/dev/null || fail "Chromium, Selenium and poppler-utils could not be installed"
  TMP=$(mktemp -d "${TMPDIR:-/tmp}/vekton-e2e-$2.XXXXXX")
  trap 'rm -rf "$TMP"' EXIT
  trap 'exit 2' INT TERM HUP
  cd "$TMP" || fail "no temporary folder"
}
