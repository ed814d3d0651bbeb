#!/usr/bin/env bash
# Installs what the tests need, builds with AddressSanitizer and UBSan, runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh dovecot-imapd parallel
cmake -S . -B build/asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTARMIG_SANITIZE=ON
cmake --build build/asan
ctest --test-dir build/asan --output-on-failure -j2 --timeout 600
