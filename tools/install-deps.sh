#!/usr/bin/env bash
# Installs, from Debian's archive, whatever the build and the tests need and
# this machine lacks. Safe to run again: it does nothing when all is there.
# `install-deps.sh windows` installs what the Windows build and its checks
# need instead: mingw-w64 cross compilers, Wine, pefile, GoogleTest sources.
set -euo pipefail

if [ "${1:-}" = windows ]; then
  packages=(cmake make libeigen3-dev googletest g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix
            wine wine64 python3-pefile)
else
  packages=(cmake make g++ libgtest-dev libbenchmark-dev libeigen3-dev python3-matplotlib)
fi
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
