#!/usr/bin/env bash
# The man pages as the package installs them: each formats without a warning
# (groff -ww, and man --warnings as lintian runs it), carries the build's
# version, names every option its program's --help names, and points to the
# technician's manual; the compressed copy is the page.
# Usage: man_pages.sh <build dir>. Needs groff and man-db (ensure_deps.sh package).
set -u
BUILD=$(cd "${1:?usage: man_pages.sh <build dir>}" && pwd)
VERSION=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$BUILD/CMakeCache.txt")
for tool in groff man; do
  command -v $tool >/dev/null || { echo "FAIL: $tool is missing (bash tools/ensure_deps.sh package)"; exit 1; }
done
TMP=$(mktemp -d "${TMPDIR:-/tmp}/vekton-man.XXXXXX")
trap 'rm -rf "$TMP"' EXIT
FAILS=0
fail() { echo "FAIL $*"; FAILS=$((FAILS + 1)); }
ok() { echo "ok   $*"; }

declare -A BIN=([vekton]=$BUILD/vekton [vekton-sim]=$BUILD/sim/vekton-sim [vekton-report]=$BUILD/vekton-report
  [vekton-trace]=$BUILD/vekton-trace [vekton-archive]=$BUILD/vekton-archive)
for page in vekton vekton-sim vekton-report vekton-trace vekton-archive; do
  src=$BUILD/man/$page.1
  [[ -f $src && -f $src.gz ]] || { fail "$page: $src or $src.gz is missing (build the vekton_docs target)"; continue; }
  groff -man -Tutf8 -ww -z "$src" 2>"$TMP/groff.err"
  [[ -s $TMP/groff.err ]] && fail "$page: groff -ww warns: $(cat "$TMP/groff.err")" || ok "$page: groff -man -ww quiet"
  LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z "$src" >/dev/null 2>"$TMP/man.err"
  [[ -s $TMP/man.err ]] && fail "$page: man --warnings: $(cat "$TMP/man.err")" || ok "$page: man --warnings quiet"
  zcat "$src.gz" | cmp -s - "$src" && ok "$page: $page.1.gz is the page" || fail "$page: $page.1.gz differs from $page.1"
  grep -q "^\.TH .* \"vekton $VERSION\"" "$src" && ok "$page: version $VERSION" || fail "$page: .TH does not say vekton $VERSION"
  # The page as a reader sees it, one line a paragraph.
  LC_ALL=C.UTF-8 MANWIDTH=1000 man -l "$src" 2>/dev/null | sed 's/‐/-/g' >"$TMP/$page.txt"
  grep -qF "/usr/share/doc/vekton/MANUAL.md" "$TMP/$page.txt" && ok "$page: points to the manual" \
    || fail "$page: no pointer to /usr/share/doc/vekton/MANUAL.md"
  # Every option of --help, by its long name (or -o), is in the page.
  missing=()
  for opt in $("${BIN[$page]}" --help | grep -oE '^ +(-[a-z]|--[a-z][a-z-]*)' | tr -d ' ' | sort -u); do
    grep -qE -- "(^|[^a-z-])$opt([^a-z-]|$)" "$TMP/$page.txt" || missing+=("$opt")
  done
  ((${#missing[@]} == 0)) && ok "$page: every option of --help in the page" || fail "$page: options not in the page: ${missing[*]}"
done
echo
if ((FAILS > 0)); then
  echo "man_pages: $FAILS failed"
  exit 1
fi
echo "man_pages: all passed"
