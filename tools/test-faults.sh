#!/usr/bin/env bash
# Fault injection end to end: every main-menu choice (and each test of the
# component menu) of the real vekton in tmux against vekton-sim, with the
# store silent from the start, and silent, answering with line noise,
# answering in split pieces or with its port vanishing in the middle of the
# work. Each case must bring the operator back to the main menu within 2 s of
# his Esc (Q at the quit question, a key at a result screen), without the
# console spinning a core, and the console must end with choice 0 and the
# terminal restored. The rows run side by side, each with its own simulator
# and tmux server (tests/faults/row.sh).
#
# Usage: tools/test-faults.sh [-j jobs] [--table FILE] [build dir] [rows...]
#   build dir  default: build (the vekton and vekton-sim targets are built)
#   rows       default: all (1 2 3 3B 4 5.1 ... 8 S, see tests/faults/screens.sh)
#   -j         rows run at once (default: the number of processors, at least 2)
#   --table    also write the table as Markdown to FILE
# Environment: FX_MENU_LIMIT_MS (2000), FX_CPU_LIMIT (percent, 20),
# FX_CPU_SECONDS (1.2). Exit status 1 when any case failed.
set -u
cd "$(dirname "$0")/.."
ROOT=$(pwd)

JOBS=$(nproc 2>/dev/null || echo 2)
(( JOBS < 2 )) && JOBS=2
TABLE=
BUILD=
ROWS=()
while (( $# )); do
  case $1 in
    -j) JOBS=${2:?-j needs a number}; shift 2 ;;
    -j*) JOBS=${1#-j}; shift ;;
    --table) TABLE=${2:?--table needs a file}; shift 2 ;;
    -h|--help) sed -n '2,/^set -u/p' "$0" | sed '$d; s/^# \{0,1\}//'; exit 0 ;;
    *) if [[ -z $BUILD ]]; then BUILD=$1; else ROWS+=("$1"); fi; shift ;;
  esac
done
BUILD=${BUILD:-build}

source "$ROOT/tests/faults/screens.sh"
(( ${#ROWS[@]} )) || ROWS=("${FX_ROWS[@]}")
COLUMNS_SHOWN=(none silent@entry silent garbage split vanish exit)

if [[ ! -f $BUILD/CMakeCache.txt ]]; then
  cmake -S . -B "$BUILD" -G Ninja >/dev/null || exit 1
fi
cmake --build "$BUILD" --target vekton vekton-sim >"${TMPDIR:-/tmp}/vekton-build.$$.log" 2>&1 \
  || { cat "${TMPDIR:-/tmp}/vekton-build.$$.log" >&2; echo "FAIL: build" >&2; exit 1; }
rm -f "${TMPDIR:-/tmp}/vekton-build.$$.log"

OUT=$(mktemp -d "${TMPDIR:-/tmp}/vekton-faults.XXXXXX")
trap 'rm -rf "$OUT"' EXIT
START=$(date +%s)
printf '%s\n' "${ROWS[@]}" |
  xargs -P "$JOBS" -I{} sh -c 'bash "$1/tests/faults/row.sh" "$2" "$3" >"$4/$3.out" 2>"$4/$3.err"' _ \
    "$ROOT" "$BUILD" {} "$OUT"
SECONDS_TAKEN=$(( $(date +%s) - START ))

# The table: one row per screen, one column per fault; a cell is PASS or
# FAIL and the time from the Esc to the menu; the last columns are the
# highest processor use seen in the row and the terminal check at the end.
cell() {  # row fault -> "PASS 412 ms"
  awk -F'\t' -v f="$2" '$2 == f { if ($4 == "-") print $3; else print $3 " " $4 " ms" }' "$OUT/$1.out"
}
cpu_max() {
  awk -F'\t' '$5 != "-" && $5 + 0 > m { m = $5 + 0 } END { printf "%.1f %%", m }' "$OUT/$1.out"
}
FAILS=0
MD="| Choice | Screen | healthy | silent from entry | silent | garbage | split | vanish | CPU max | exit, terminal |
|---|---|---|---|---|---|---|---|---|---|"
printf '%-4s %-27s %-13s %-13s %-13s %-13s %-13s %-13s %-7s %s\n' Row Screen healthy "silent@entry" silent garbage split vanish CPU exit
for row in "${ROWS[@]}"; do
  fx_row "$row"
  cells=()
  for col in "${COLUMNS_SHOWN[@]}"; do
    c=$(cell "$row" "$col")
    [[ -z $c ]] && c="not run"
    [[ $c == PASS* ]] || FAILS=$((FAILS + 1))
    cells+=("$c")
  done
  cpu=$(cpu_max "$row")
  printf '%-4s %-27s %-13s %-13s %-13s %-13s %-13s %-13s %-7s %s\n' "$row" "$R_TITLE" "${cells[@]:0:6}" "$cpu" "${cells[6]}"
  MD+=$'\n'"| $row | $R_TITLE | ${cells[0]} | ${cells[1]} | ${cells[2]} | ${cells[3]} | ${cells[4]} | ${cells[5]} | $cpu | ${cells[6]} |"
done
echo "Time to menu: from the Esc to the menu drawn again, with Q and the result screens' keys typed as soon as asked."
echo "${#ROWS[@]} rows in ${SECONDS_TAKEN} s with $JOBS at once; failed cells: $FAILS"
if (( FAILS )); then
  for row in "${ROWS[@]}"; do
    if grep -qv $'\tPASS\t' "$OUT/$row.out" 2>/dev/null || [[ ! -s $OUT/$row.out ]]; then
      echo "--- row $row ---"
      grep -v $'\tPASS\t' "$OUT/$row.out" 2>/dev/null
      cat "$OUT/$row.err" 2>/dev/null | head -n 60
    fi
  done
fi
if [[ -n $TABLE ]]; then
  printf '%s\n' "$MD" >"$TABLE"
fi
(( FAILS == 0 ))
