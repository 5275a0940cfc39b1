#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when missing.
# With "page": those the report page's browser check needs instead (headless
# Chromium driven by Selenium, the screenshot read with Pillow).
set -euo pipefail
pkgs=(cmake ninja-build g++ libgtest-dev libncurses-dev tmux)
if [ "${1:-}" = page ]; then
  pkgs=(chromium chromium-driver python3-selenium python3-pil)
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
