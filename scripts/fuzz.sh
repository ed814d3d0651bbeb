#!/usr/bin/env bash
# Builds the fuzz targets with clang, libFuzzer, AddressSanitizer and UBSan,
# then runs each for SECONDS (default 60) from its seed corpus in tests/fuzz/.
# Fails when any target finds an input that crashes or breaks its property;
# the input is kept under build/fuzz/run/<target>/.
#   usage: scripts/fuzz.sh [SECONDS] [TARGET...]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(settings_parser mbox_reader imap_response)

scripts/install-deps.sh
cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
  -DTARMIG_FUZZ=ON -DTARMIG_TESTS=OFF
cmake --build build/fuzz --target "${targets[@]/#/fuzz_}"

run=build/fuzz/run
rm -rf "$run"
failed=()
for target in "${targets[@]}"; do
  mkdir -p "$run/$target/corpus" "$run/tmp"
  echo "== fuzz $target for ${seconds}s"
  # New inputs go to the first directory; the seeds are only read.
  if ! TMPDIR="$PWD/$run/tmp" \
      ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
      "build/fuzz/tests/fuzz/fuzz_$target" -max_total_time="$seconds" -timeout=30 -rss_limit_mb=4096 \
      -max_len=8192 -print_final_stats=1 -artifact_prefix="$run/$target/" \
      "$run/$target/corpus" "tests/fuzz/$target" >"$run/$target/log" 2>&1; then
    failed+=("$target")
    tail -n 60 "$run/$target/log"
  else
    grep -E '^(stat::number_of_executed_units|Done)' "$run/$target/log" || true
  fi
  rm -rf "$run/tmp"
done

if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzz: failed: ${failed[*]} (inputs under $run/<target>/)"
  exit 1
fi
echo "fuzz: ${#targets[@]} passed, 0 failed"
