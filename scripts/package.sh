#!/usr/bin/env bash
# Builds the Debian package of tarmig (Release, no tests) in build/package;
# prints the path of the .deb on its last line.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh dpkg-dev
cmake -S . -B build/package -G Ninja -DCMAKE_BUILD_TYPE=Release -DTARMIG_TESTS=OFF >/dev/null
cmake --build build/package
(cd build/package && cpack >/dev/null)
ls -t build/package/tarmig_*.deb | head -n 1
