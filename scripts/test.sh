#!/usr/bin/env bash
# Installs what the tests need, builds with AddressSanitizer and UBSan and runs every test, then
# builds with ThreadSanitizer and runs every test again: accounts migrated side by side (-jobs) share
# the run's output, reports and totals between threads, and a race shows there (the binary exits 66).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh dovecot-imapd parallel
cmake -S . -B build/asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTARMIG_SANITIZE=ON
cmake --build build/asan
ctest --test-dir build/asan --output-on-failure -j2 --timeout 600
cmake -S . -B build/tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTARMIG_SANITIZE=thread
cmake --build build/tsan
ctest --test-dir build/tsan --output-on-failure -j2 --timeout 600
