#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when missing
# (sqlite3, the command-line program, holds an archive's lock in a test).
# With groups named, those groups' packages instead: "page", what the report
# page's browser check needs (headless Chromium driven by Selenium, the
# screenshot read with Pillow); "net", the serial device server the network
# end-to-end test puts in front of the simulator (ser2net); "package", what
# building and checking the packages needs (dpkg-shlibdeps from dpkg-dev, the
# man pages read by man-db and groff, the zip archive, lintian); "trace",
# what reads the line's trace as a capture (tshark, with its Lua).
# Usage: ensure_deps.sh [page] [net] [package] [trace]
set -euo pipefail
pkgs=(cmake ninja-build g++ libgtest-dev libncurses-dev libtomlplusplus-dev libsqlite3-dev sqlite3 tmux)
if [ $# -gt 0 ]; then
  pkgs=()
  for group in "$@"; do
    case $group in
      page) pkgs+=(chromium chromium-driver python3-selenium python3-pil poppler-utils) ;;
      net) pkgs+=(ser2net) ;;
      package) pkgs+=(dpkg-dev file man-db groff-base zip unzip lintian) ;;
      trace) pkgs+=(tshark) ;;
      *) echo "ensure_deps.sh: no group '$group' (page net package trace)" >&2; exit 2 ;;
    esac
  done
fi
need=()
for pkg in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" || need+=("$pkg")
done
if [ ${#need[@]} -gt 0 ]; then
  echo "Installing: ${need[*]}"
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${need[@]}"
fi
