#!/usr/bin/env bash
# Installs the Debian packages tarmig needs to build, test, fuzz and benchmark.
# clang's sanitizer and libFuzzer runtimes come in libclang-rt-dev.
set -euo pipefail
packages=(g++ cmake ninja-build pkg-config libssl-dev libgtest-dev nlohmann-json3-dev python3 openssl ca-certificates clang libclang-rt-dev "$@")
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
SUDO=; [ "$(id -u)" = 0 ] || SUDO=sudo
$SUDO apt-get update
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends "${missing[@]}"
