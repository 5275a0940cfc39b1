#!/usr/bin/env bash
# The packages, made and checked as a technician gets them (the `package`
# step of tools/test.sh):
#   - the Debian package from the Linux build (build/), by its `package`
#     target: its control fields and files listed, lintian run on it (no
#     error allowed; its warnings printed), then installed with dpkg -i and
#     the installed vekton --version, vekton-sim --version, vekton-report
#     --version, vekton-trace --version and man -w vekton run; purged again afterwards unless vekton
#     was installed before this step, so that the machine is left as found;
#   - the Windows archive from the cross build (build-win/), by its `package`
#     target: its files listed and checked.
# The `package` targets build what is not built yet: run after the linux and
# windows steps this only packs.
# Usage: tools/test_package.sh [LINUX_BUILD_DIR [WINDOWS_BUILD_DIR]]
#   (default build and build-win, the directories of the other steps)
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)
B=${1:-build}
BW=${2:-build-win}
bash tools/ensure_deps.sh
bash tools/ensure_deps.sh package
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# --- Debian package ------------------------------------------------------------------
cmake -S . -B "$B" -G Ninja >/dev/null
VERSION=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$B/CMakeCache.txt")
ARCH=$(dpkg --print-architecture)
DEB=$B/vekton_${VERSION}_${ARCH}.deb
rm -f "$DEB"
cmake --build "$B" --target package >"$B/package.log" 2>&1 || { cat "$B/package.log" >&2; fail "package target (Linux)"; }
[[ -f $DEB ]] || fail "$DEB was not made"
echo "--- $DEB ---"
dpkg-deb -I "$DEB"
dpkg-deb -c "$DEB"

want=(./usr/bin/vekton ./usr/bin/vekton-sim ./usr/bin/vekton-report ./usr/bin/vekton-trace ./usr/bin/vekton-archive
  ./usr/share/man/man1/vekton.1.gz ./usr/share/man/man1/vekton-sim.1.gz ./usr/share/man/man1/vekton-report.1.gz
  ./usr/share/man/man1/vekton-trace.1.gz ./usr/share/man/man1/vekton-archive.1.gz
  ./usr/share/doc/vekton/MANUAL.md ./usr/share/doc/vekton/README.md ./usr/share/doc/vekton/copyright
  ./usr/share/doc/vekton/changelog.gz)
want+=(./usr/share/vekton/wireshark/vekton-hostlink.lua)
want+=(./usr/share/doc/vekton/images/acceptance-protocol.png ./usr/share/doc/vekton/images/archive-fleet.png)
files=$(dpkg-deb -c "$DEB" | awk '{ print $6 }')
for f in "${want[@]}"; do
  grep -qxF -- "$f" <<<"$files" || fail "$DEB lacks $f"
done
depends=$(dpkg-deb -f "$DEB" Depends)
grep -q libncursesw6 <<<"$depends" || fail "$DEB does not depend on libncursesw6: $depends"
grep -q libsqlite3-0 <<<"$depends" || fail "$DEB does not depend on libsqlite3-0: $depends"

# lintian: errors fail the step, warnings are shown. (It says it would rather
# not run as root; CI is root.)
lintian --tag-display-limit 0 "$DEB" >"$B/lintian.log" 2>&1 || true
grep -v 'running with root privileges' "$B/lintian.log" || true
errors=$(grep -c '^E:' "$B/lintian.log" || true)
warnings=$(grep -c '^W:' "$B/lintian.log" || true)
echo "lintian: $errors errors, $warnings warnings"
((errors == 0)) || fail "lintian reports errors on $DEB"

# Installed on this machine, then run from the installed files.
was_installed=0
dpkg-query -W -f='${Status}' vekton 2>/dev/null | grep -q "install ok installed" && was_installed=1
$SUDO dpkg -i "$DEB" || fail "dpkg -i $DEB"
check_installed() {
  local got
  for prog in vekton vekton-sim vekton-report vekton-trace vekton-archive; do
    got=$("/usr/bin/$prog" --version) || { echo "FAIL: /usr/bin/$prog --version failed" >&2; return 1; }
    echo "/usr/bin/$prog --version: $got"
    [[ $got == "$prog $VERSION" ]] || { echo "FAIL: want '$prog $VERSION'" >&2; return 1; }
  done
  got=$(man -w vekton) || { echo "FAIL: man -w vekton found nothing" >&2; return 1; }
  echo "man -w vekton: $got"
  [[ $got == /usr/share/man/man1/vekton.1.gz ]] || { echo "FAIL: not the package's page" >&2; return 1; }
  for page in vekton-sim vekton-report vekton-trace vekton-archive; do
    man -w "$page" >/dev/null || { echo "FAIL: man -w $page found nothing" >&2; return 1; }
  done
  echo "man vekton, as shown:"
  MANWIDTH=80 man vekton 2>&1 | sed -n '1,8p'
  cmp -s docs/MANUAL.md /usr/share/doc/vekton/MANUAL.md || { echo "FAIL: installed MANUAL.md differs" >&2; return 1; }
  dpkg -L vekton | grep -c . | sed 's/^/dpkg -L vekton: /; s/$/ paths/'
}
installed_ok=0
check_installed && installed_ok=1
if ((was_installed)); then
  echo "vekton was installed before this step: left installed, now at $VERSION"
else
  $SUDO dpkg --purge vekton >/dev/null || fail "dpkg --purge vekton"
  ! dpkg-query -W vekton >/dev/null 2>&1 || fail "vekton still known to dpkg after the purge"
  [[ ! -e /usr/bin/vekton ]] || fail "/usr/bin/vekton left behind by the purge"
  echo "vekton purged again: the machine is as it was"
fi
((installed_ok)) || fail "the installed package does not work"

# --- Windows archive -------------------------------------------------------------------
need=()
for pkg in g++-mingw-w64-x86-64-posix mingw-w64-x86-64-dev googletest; do
  dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" || need+=("$pkg")
done
if [ ${#need[@]} -gt 0 ]; then
  echo "Installing: ${need[*]}"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${need[@]}"
fi
# Configured as tools/test_windows.sh configures it.
cmake -S . -B "$BW" -G Ninja --no-warn-unused-cli -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64.cmake" >/dev/null
ZIP=$BW/vekton-${VERSION}-win64.zip
rm -f "$ZIP"
cmake --build "$BW" --target package >"$BW/package.log" 2>&1 || { cat "$BW/package.log" >&2; fail "package target (Windows)"; }
[[ -f $ZIP ]] || fail "$ZIP was not made"
echo "--- $ZIP ---"
unzip -l "$ZIP"
top=vekton-${VERSION}-win64
want=("$top/vekton.exe" "$top/vekton-report.exe" "$top/vekton-trace.exe" "$top/MANUAL.md" "$top/README.txt")
want+=("$top/vekton-hostlink.lua")
# The manual's pictures beside it, with their folder's own entry.
want+=("$top/images/" "$top/images/acceptance-protocol.png" "$top/images/archive-fleet.png")
files=$(unzip -Z1 "$ZIP")
for f in "${want[@]}"; do
  grep -qxF -- "$f" <<<"$files" || fail "$ZIP lacks $f"
done
(($(grep -c . <<<"$files") == ${#want[@]})) || fail "$ZIP holds more than ${want[*]}"
unzip -p "$ZIP" "$top/README.txt" | grep -q $'\r$' || fail "README.txt in $ZIP has no CR LF line ends"
echo "Packages: $DEB ($(stat -c %s "$DEB") bytes), $ZIP ($(stat -c %s "$ZIP") bytes)"
