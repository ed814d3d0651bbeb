#!/usr/bin/env bash
# Installs what the benchmarks need, builds Release into build/bench, writes
# the corpora and prints the table. Options go to bench/run.py (--quick, --profile, --help).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh dovecot-imapd isync valgrind strace
cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DTARMIG_BENCH=ON -DTARMIG_TESTS=OFF
cmake --build build/bench
exec python3 bench/run.py --build build/bench "$@"
