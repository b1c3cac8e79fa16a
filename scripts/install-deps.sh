#!/usr/bin/env bash
# Installs the Debian 12 packages the suite needs, and only those that are missing.
#   scripts/install-deps.sh [EXTRA_PACKAGE...]   (make fuzz adds clang and libFuzzer)
set -euo pipefail
# help2man makes the manual pages; dpkg-dev (dpkg-shlibdeps) finds the
# dependencies of the Debian packages.
packages=(cmake ninja-build g++ make pkg-config libgtest-dev libgmock-dev libbenchmark-dev
          qt6-base-dev libssl-dev openssl libengine-gost-openssl libsqlite3-dev zlib1g-dev
          help2man dpkg-dev "$@")
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "Installing: ${missing[*]}"
sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
  command -v sudo >/dev/null || { echo "error: need root or sudo to install ${missing[*]}" >&2; exit 1; }
  sudo_cmd=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq || true
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
