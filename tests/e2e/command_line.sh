#!/usr/bin/env bash
# The command line of every program: --help and --version print to standard
# output (here a pipe, not a terminal) and end with status 0, the version
# being the build's one; a wrong argument is one line on standard error and
# status 2. And the console started where it cannot work: standard input or
# output not a terminal, or a terminal type that cannot move the cursor
# (TERM=dumb, an unknown type, none): one line on standard error, status 2,
# nothing drawn. The terminal cases run in a pseudo-terminal made by script(1).
# Usage: command_line.sh <build dir>. Needs no terminal; takes a second.
set -u
BUILD=$(cd "${1:?usage: command_line.sh <build dir>}" && pwd)
VEKTON=$BUILD/vekton
SIM=$BUILD/sim/vekton-sim
REPORT=$BUILD/vekton-report
for bin in "$VEKTON" "$SIM" "$REPORT"; do
  [[ -x $bin ]] || { echo "FAIL: $bin is missing"; exit 1; }
done
VERSION=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$BUILD/CMakeCache.txt")
[[ -n $VERSION ]] || { echo "FAIL: no project version in $BUILD/CMakeCache.txt"; exit 1; }
TMP=$(mktemp -d "${TMPDIR:-/tmp}/vekton-cmdline.XXXXXX")
trap 'rm -rf "$TMP"' EXIT

FAILS=0
fail() { echo "FAIL $*"; FAILS=$((FAILS + 1)); }
ok() { echo "ok   $*"; }

# run NAME CMD...: status, standard output and standard error of CMD, its
# standard input /dev/null.
run() {
  local name=$1
  shift
  "$@" </dev/null >"$TMP/$name.out" 2>"$TMP/$name.err"
  echo $? >"$TMP/$name.rc"
}
rc() { cat "$TMP/$1.rc"; }
lines() { wc -l <"$TMP/$1.$2"; }

# expect_ok NAME PROGRAM ARG: status 0, nothing on standard error.
expect_ok() {
  local name=$1 prog=$2 arg=$3
  run "$name" "$prog" "$arg"
  if [[ $(rc "$name") != 0 ]]; then
    fail "$(basename "$prog") $arg: status $(rc "$name"), want 0"
  elif [[ -s $TMP/$name.err ]]; then
    fail "$(basename "$prog") $arg: wrote to standard error: $(head -c 200 "$TMP/$name.err")"
  else
    ok "$(basename "$prog") $arg: status 0"
  fi
}

# expect_usage PROGRAM ARG...: status 2, nothing on standard output, one line
# on standard error naming the program and pointing to --help.
expect_usage() {
  local prog=$1 name
  shift
  name=usage-$RANDOM
  run "$name" "$prog" "$@"
  local what="$(basename "$prog") $*"
  if [[ $(rc "$name") != 2 ]]; then
    fail "$what: status $(rc "$name"), want 2"
  elif [[ -s $TMP/$name.out ]]; then
    fail "$what: wrote to standard output"
  elif [[ $(lines "$name" err) != 1 ]]; then
    fail "$what: $(lines "$name" err) lines on standard error, want 1: $(cat "$TMP/$name.err")"
  elif ! grep -q "^$(basename "$prog"): .*--help" "$TMP/$name.err"; then
    fail "$what: the line does not name the program and --help: $(cat "$TMP/$name.err")"
  else
    ok "$what: status 2, $(cat "$TMP/$name.err")"
  fi
}

for prog in "$VEKTON" "$SIM" "$REPORT"; do
  base=$(basename "$prog")
  expect_ok "$base-help" "$prog" --help
  grep -q "^Usage: $base" "$TMP/$base-help.out" || fail "$base --help: no 'Usage: $base' line"
  grep -q -- "--version" "$TMP/$base-help.out" || fail "$base --help: --version not named"
  expect_ok "$base-h" "$prog" -h
  cmp -s "$TMP/$base-help.out" "$TMP/$base-h.out" || fail "$base -h: not the text of --help"
  expect_ok "$base-version" "$prog" --version
  got=$(cat "$TMP/$base-version.out")
  [[ $got == "$base $VERSION" ]] && ok "$base --version: $got" || fail "$base --version: '$got', want '$base $VERSION'"
  expect_usage "$prog" --no-such-option
  expect_usage "$prog" -x
done
expect_usage "$VEKTON" COM1
expect_usage "$VEKTON" --version-please
expect_usage "$VEKTON" ""
expect_usage "$VEKTON" --trace
expect_usage "$VEKTON" --trace-max 0
expect_usage "$VEKTON" --no-trace extra

# The console's help names the port mapping and the manual.
for want in 'VEKTON_COM<n>' 'tcp://HOST:PORT' 'rfc2217://HOST:PORT' '/dev/ttyS<n-1>' 'COMn' \
  '/usr/share/doc/vekton/MANUAL.md' 'man vekton' '--trace DIR' '--trace-max MB' '--no-trace'; do
  grep -qF -- "$want" "$TMP/vekton-help.out" && ok "vekton --help names $want" || fail "vekton --help does not name $want"
done
# Nothing of a terminal in the help: plain text for a pipe.
if LC_ALL=C grep -q $'\x1b' "$TMP/vekton-help.out"; then fail "vekton --help holds escape sequences"; fi

# --- the console where it cannot work -----------------------------------------------
# expect_refusal WHAT REASON OUTPUT: OUTPUT (all the console wrote, line
# ends as given) is one line naming REASON, and the status file says 2.
expect_refusal() {
  local what=$1 reason=$2 output=$3 status=$4
  local want="vekton: cannot start: $reason (see --help)"
  if [[ $status != 2 ]]; then
    fail "$what: status $status, want 2 (output: $output)"
  elif [[ $output != "$want" ]]; then
    fail "$what: wrote '$output', want '$want' alone"
  else
    ok "$what: status 2, $want"
  fi
}

# Standard input not a terminal (no terminal at all, as here).
run stdin-null "$VEKTON"
expect_refusal "vekton < /dev/null" "standard input is not a terminal" "$(cat "$TMP/stdin-null.err")" "$(rc stdin-null)"
[[ -s $TMP/stdin-null.out ]] && fail "vekton < /dev/null: wrote to standard output"

command -v script >/dev/null || { echo "FAIL: script(1) is missing (util-linux)"; exit 1; }
# in_pty NAME COMMAND: COMMAND (a shell line) in a new pseudo-terminal of
# 80 x 25; what reached the terminal in $TMP/NAME.tty (CR LF as LF), its
# status in $TMP/NAME.rc.
in_pty() {
  local name=$1 cmd=$2
  SHELL=/bin/sh timeout 10 script -qec "stty cols 80 rows 25; $cmd; echo \$? >$TMP/$name.rc" /dev/null \
    </dev/null >"$TMP/$name.raw" 2>&1
  tr -d '\r' <"$TMP/$name.raw" >"$TMP/$name.tty"
}

in_pty stdout-file "TERM=xterm-256color $VEKTON >$TMP/stdout-file.out"
expect_refusal "vekton > file" "standard output is not a terminal" "$(cat "$TMP/stdout-file.tty")" "$(rc stdout-file)"
[[ -s $TMP/stdout-file.out ]] && fail "vekton > file: the file is not empty ($(wc -c <"$TMP/stdout-file.out") bytes)"

in_pty dumb "TERM=dumb $VEKTON"
expect_refusal "TERM=dumb vekton" 'terminal type "dumb" cannot move the cursor' "$(cat "$TMP/dumb.tty")" "$(rc dumb)"

in_pty unknown "TERM=no-such-terminal $VEKTON"
expect_refusal "TERM=no-such-terminal vekton" 'terminal type "no-such-terminal" is unknown to terminfo or too generic' \
  "$(cat "$TMP/unknown.tty")" "$(rc unknown)"

in_pty unset "env -u TERM $VEKTON"
expect_refusal "vekton without TERM" "TERM is not set" "$(cat "$TMP/unset.tty")" "$(rc unset)"

# --help and --version in a terminal too print only their text.
in_pty version-tty "TERM=xterm-256color $VEKTON --version"
[[ $(cat "$TMP/version-tty.tty") == "vekton $VERSION" && $(rc version-tty) == 0 ]] \
  && ok "vekton --version in a terminal: its line only" \
  || fail "vekton --version in a terminal: '$(cat "$TMP/version-tty.tty")', status $(rc version-tty)"

# That a terminal that works still starts the console, every other
# end-to-end test shows (tmux).

echo
if ((FAILS > 0)); then
  echo "command_line: $FAILS failed"
  exit 1
fi
echo "command_line: all passed"
