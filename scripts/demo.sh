#!/usr/bin/env bash
# Installs what tarmig needs, builds it and lists the bundled example store.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DTARMIG_TESTS=OFF
cmake --build build/release
mkdir -p build/demo
cd build/demo
../release/tarmig -path ../../examples/store -primaryDomain example.com
