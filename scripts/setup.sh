#!/usr/bin/env bash
# Installs what building and testing Velaro needs, only where it is missing:
# the compiler toolchain, Eigen, oneTBB, SLEEF and GoogleTest from Debian, then the
# module itself (with its test extras) from this checkout.
set -euo pipefail
cd "$(dirname "$0")/.."

need=()
for pkg in g++ cmake ninja-build ccache libeigen3-dev libtbb-dev libgtest-dev libsleef-dev; do
  dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" || need+=("$pkg")
done
# cmake and ninja may come from pip instead of Debian; accept either.
if command -v cmake >/dev/null 2>&1; then need=("${need[@]/cmake}"); fi
if command -v ninja >/dev/null 2>&1; then need=("${need[@]/ninja-build}"); fi
pkgs=()
for p in "${need[@]}"; do [ -n "$p" ] && pkgs+=("$p"); done
if [ ${#pkgs[@]} -gt 0 ]; then
  echo "setup: installing ${pkgs[*]}"
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${pkgs[@]}" >/dev/null
fi

python3 -m pip install --quiet --disable-pip-version-check ".[test,pandas,database]"
