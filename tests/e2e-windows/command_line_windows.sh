#!/usr/bin/env bash
# vekton.exe and vekton-report.exe under Wine: --help and --version print
# what the Linux programs print (line ends aside) and end with 0, a wrong
# argument is one line on standard error and status 2; vekton.exe with its
# input or output not a console (< /dev/null; > file in a pseudo-terminal
# made by script(1)) says so in one line and ends with 2, drawing nothing
# into the file. The version in the file properties is the build's.
#
# Usage: command_line_windows.sh <linux build dir> <windows build dir>
set -u
BUILD=$(cd "${1:?usage: $0 <linux build dir> <windows build dir>}" && pwd)
BUILD_WIN=$(cd "${2:?usage: $0 <linux build dir> <windows build dir>}" && pwd)
for bin in "$BUILD/vekton" "$BUILD/vekton-report" "$BUILD_WIN/vekton.exe" "$BUILD_WIN/vekton-report.exe"; do
  [[ -f $bin ]] || { echo "FAIL: $bin is missing" >&2; exit 1; }
done
TMP=$(mktemp -d "${TMPDIR:-/tmp}/vekton-e2e-cmdline-win.XXXXXX")
cleanup() {
  [[ -z ${VEKTON_WINEPREFIX:-} ]] && wineserver -k 2>/dev/null
  rm -rf "$TMP"
}
trap cleanup EXIT
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
if [[ -n ${VEKTON_WINEPREFIX:-} ]]; then
  export WINEPREFIX=$VEKTON_WINEPREFIX
else
  export WINEPREFIX=$TMP/prefix WINEARCH=win64
  wineboot -i >/dev/null 2>&1 || { echo "FAIL: wineboot" >&2; exit 1; }
fi
FAILS=0
fail() { echo "FAIL $*"; FAILS=$((FAILS + 1)); }
ok() { echo "ok   $*"; }

# win NAME EXE ARGS...: the program under Wine, standard input /dev/null;
# its output with CR LF as LF.
win() {
  local name=$1 exe=$2
  shift 2
  wine "$BUILD_WIN/$exe.exe" "$@" </dev/null >"$TMP/$name.raw" 2>"$TMP/$name.err.raw"
  echo $? >"$TMP/$name.rc"
  tr -d '\r' <"$TMP/$name.raw" >"$TMP/$name.out"
  tr -d '\r' <"$TMP/$name.err.raw" >"$TMP/$name.err"
}

for prog in vekton vekton-report; do
  for arg in --help --version; do
    name=$prog$arg
    win "$name" "$prog" "$arg"
    "$BUILD/$prog" "$arg" >"$TMP/$name.linux" 2>/dev/null
    if [[ $(cat "$TMP/$name.rc") != 0 ]]; then
      fail "$prog.exe $arg: status $(cat "$TMP/$name.rc"), want 0"
    elif ! cmp -s "$TMP/$name.out" "$TMP/$name.linux"; then
      fail "$prog.exe $arg: not what $prog $arg prints"
      diff "$TMP/$name.linux" "$TMP/$name.out" | head -20
    else
      ok "$prog.exe $arg: status 0, $(head -n 1 "$TMP/$name.out")"
    fi
  done
  win "$prog-bad" "$prog" --no-such-option
  if [[ $(cat "$TMP/$prog-bad.rc") == 2 && ! -s $TMP/$prog-bad.out && $(wc -l <"$TMP/$prog-bad.err") == 1 ]]; then
    ok "$prog.exe --no-such-option: status 2, $(cat "$TMP/$prog-bad.err")"
  else
    fail "$prog.exe --no-such-option: status $(cat "$TMP/$prog-bad.rc"), out '$(cat "$TMP/$prog-bad.out")', err '$(cat "$TMP/$prog-bad.err")'"
  fi
done

# The same version in the programs' file properties (UTF-16 strings of the
# version resource).
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$BUILD_WIN/CMakeCache.txt")
for prog in vekton vekton-report; do
  props=$(strings -el "$BUILD_WIN/$prog.exe" | grep -A1 -xE 'FileVersion|ProductVersion' | grep -vxE 'FileVersion|ProductVersion|--' | sort -u)
  [[ $props == "$version" ]] && ok "$prog.exe file properties: version $version" \
    || fail "$prog.exe file properties: version '$props', want '$version'"
done

want="vekton: cannot start: standard input is not a console (see --help)"
win stdin-null vekton
if [[ $(cat "$TMP/stdin-null.rc") == 2 && $(cat "$TMP/stdin-null.err") == "$want" && ! -s $TMP/stdin-null.out ]]; then
  ok "vekton.exe < /dev/null: status 2, $want"
else
  fail "vekton.exe < /dev/null: status $(cat "$TMP/stdin-null.rc"), err '$(cat "$TMP/stdin-null.err")', want '$want'"
fi

# Standard output a file, standard input the pseudo-terminal: Wine gives the
# program a console for its input and its standard error, whose text Wine
# draws with cursor movements; the words are compared without them.
want="vekton: cannot start: standard output is not a console (see --help)"
SHELL=/bin/sh timeout 60 script -qec "stty cols 80 rows 25; TERM=xterm-256color wine $BUILD_WIN/vekton.exe \
  >$TMP/stdout-file.out; echo \$? >$TMP/stdout-file.rc" /dev/null </dev/null >"$TMP/stdout-file.tty" 2>&1
said=$(sed 's/\x1b\[[0-9;?]*[a-zA-Z]//g' "$TMP/stdout-file.tty" | tr -d '\r\n ')
if [[ $(cat "$TMP/stdout-file.rc" 2>/dev/null) == 2 && $said == "${want// /}" && ! -s $TMP/stdout-file.out ]]; then
  ok "vekton.exe > file: status 2, $want"
else
  fail "vekton.exe > file: status $(cat "$TMP/stdout-file.rc" 2>/dev/null), said '$said', file $(wc -c <"$TMP/stdout-file.out" 2>/dev/null) bytes"
fi

if ((FAILS > 0)); then
  echo "command_line_windows: $FAILS failed"
  exit 1
fi
echo "command_line_windows: all passed"
