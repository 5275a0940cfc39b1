#!/usr/bin/env bash
# Fault injection end to end: every main-menu choice (and each test of the
# component menu) of the real vekton in tmux against vekton-sim, with the
# store silent from the start, and silent, answering with line noise,
# answering in split pieces or with its port vanishing in the middle of the
# work. Each case must bring the operator back to the main menu within 2 s of
# his Esc (Q at the quit question, a key at a result screen), without the
# console spinning a core, and the console must end with choice 0 and the
# terminal restored. The rows run side by side, each with its own simulator
# and tmux server (tests/faults/row.sh). Every row runs over the
# pseudo-terminal; the rows in FX_NET_ROWS (tests/faults/screens.sh) run
# over raw TCP (vekton-sim --listen) and RFC 2217 through ser2net as well,
# each transport a line of the table of its own.
#
# Usage: tools/test_faults.sh [-j jobs] [--table FILE] [build dir] [rows...]
#   build dir  default: build (the vekton and vekton-sim targets are built)
#   rows       default: all (1 2 3 3B 4 5.1 ... 8 S, see tests/faults/screens.sh)
#   -j         rows run at once (default: the number of processors, at least 2)
#   --table    also write the table as Markdown to FILE
# Environment: FX_MENU_LIMIT_MS (2000), FX_CPU_LIMIT (percent, 20),
# FX_CPU_SECONDS (1.2), FX_NET_ROWS (rows also run over tcp and rfc2217,
# "all" for every row, "" for none; default: 1 2 5.4 7).
# Exit status 1 when any case failed.
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
if [[ -v FX_NET_ROWS && $(declare -p FX_NET_ROWS) != *"-a"* ]]; then
  # From the environment: a list in a string.
  read -ra FX_NET_ROWS <<<"$FX_NET_ROWS"
fi
[[ ${FX_NET_ROWS[0]:-} == all ]] && FX_NET_ROWS=("${FX_ROWS[@]}")
# The jobs, "ROW TRANSPORT": the network ones first, so that no long row
# starts last.
JOBS_LIST=()
for row in "${ROWS[@]}"; do
  for net in "${FX_NET_ROWS[@]}"; do
    [[ $net == "$row" ]] && JOBS_LIST+=("$row tcp" "$row rfc2217")
  done
done
NET_JOBS=${#JOBS_LIST[@]}
for row in "${ROWS[@]}"; do JOBS_LIST+=("$row pty"); done
if (( NET_JOBS )) && ! command -v ser2net >/dev/null && [[ ! -x /usr/sbin/ser2net ]]; then
  bash tools/ensure_deps.sh net || { echo "FAIL: ser2net could not be installed" >&2; exit 1; }
fi
COLUMNS_SHOWN=(none silent@entry silent garbage split vanish back exit)

if [[ ! -f $BUILD/CMakeCache.txt ]]; then
  cmake -S . -B "$BUILD" -G Ninja >/dev/null || exit 1
fi
cmake --build "$BUILD" --target vekton vekton-sim >"${TMPDIR:-/tmp}/vekton-build.$$.log" 2>&1 \
  || { cat "${TMPDIR:-/tmp}/vekton-build.$$.log" >&2; echo "FAIL: build" >&2; exit 1; }
rm -f "${TMPDIR:-/tmp}/vekton-build.$$.log"

OUT=$(mktemp -d "${TMPDIR:-/tmp}/vekton-faults.XXXXXX")
trap 'rm -rf "$OUT"' EXIT
START=$(date +%s)
printf '%s\n' "${JOBS_LIST[@]}" |
  xargs -P "$JOBS" -L1 sh -c 'FX_TRANSPORT=$5 bash "$1/tests/faults/row.sh" "$2" "$4" >"$3/$4.$5.out" 2>"$3/$4.$5.err"' _ \
    "$ROOT" "$BUILD" "$OUT"
SECONDS_TAKEN=$(( $(date +%s) - START ))

# The table: one line per screen and transport (the line the console talks
# over: pty, tcp, rfc2217), one column per fault; a cell is PASS or FAIL and
# the time from the Esc to the menu; the last columns are the highest
# processor use seen in the row and the terminal check at the end.
cell() {  # job fault -> "PASS 412 ms"
  awk -F'\t' -v f="$2" '$2 == f { if ($4 == "-") print $3; else print $3 " " $4 " ms" }' "$OUT/$1.out"
}
cpu_max() {
  awk -F'\t' '$5 != "-" && $5 + 0 > m { m = $5 + 0 } END { printf "%.1f %%", m }' "$OUT/$1.out"
}
FAILS=0
MD="| Choice | Screen | Line | healthy | silent from entry | silent | garbage | split | vanish | line lost and back | CPU max | exit, terminal |
|---|---|---|---|---|---|---|---|---|---|---|---|"
FMT='%-4s %-27s %-7s %-13s %-13s %-13s %-13s %-13s %-13s %-13s %-7s %s\n'
printf "$FMT" Row Screen Line healthy "silent@entry" silent garbage split vanish back CPU exit
for row in "${ROWS[@]}"; do
  fx_row "$row"
  for transport in pty tcp rfc2217; do
    job="$row.$transport"
    [[ " ${JOBS_LIST[*]/ /.} " == *" $job "* ]] || continue
    cells=()
    for col in "${COLUMNS_SHOWN[@]}"; do
      c=$(cell "$job" "$col")
      [[ -z $c ]] && c="not run"
      [[ $c == PASS* ]] || FAILS=$((FAILS + 1))
      cells+=("$c")
    done
    cpu=$(cpu_max "$job")
    printf "$FMT" "$row" "$R_TITLE" "$transport" "${cells[@]:0:7}" "$cpu" "${cells[7]}"
    MD+=$'\n'"| $row | $R_TITLE | $transport | ${cells[0]} | ${cells[1]} | ${cells[2]} | ${cells[3]} | ${cells[4]} | ${cells[5]} | ${cells[6]} | $cpu | ${cells[7]} |"
  done
done
echo "Time to menu: from the Esc to the menu drawn again, with Q and the result screens' keys typed as soon as asked."
echo "Line: pty, the simulator's pseudo-terminal; tcp, its raw TCP port; rfc2217, ser2net's RFC 2217 accepter in front of the pseudo-terminal."
echo "${#ROWS[@]} rows, ${#JOBS_LIST[@]} row-transport runs in ${SECONDS_TAKEN} s with $JOBS at once; failed cells: $FAILS"
if (( FAILS )); then
  for entry in "${JOBS_LIST[@]}"; do
    job=${entry/ /.}
    if grep -qv $'\tPASS\t' "$OUT/$job.out" 2>/dev/null || [[ ! -s $OUT/$job.out ]]; then
      echo "--- row $entry ---"
      grep -v $'\tPASS\t' "$OUT/$job.out" 2>/dev/null
      cat "$OUT/$job.err" 2>/dev/null | head -n 60
    fi
  done
fi
if [[ -n $TABLE ]]; then
  printf '%s\n' "$MD" >"$TABLE"
fi
(( FAILS == 0 ))
