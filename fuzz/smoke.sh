#!/usr/bin/env bash
# Builds the libFuzzer harnesses with clang (address and undefined-behaviour
# sanitizers) and runs each for a few seconds from its seed corpus. A crash,
# a sanitizer report or a failed check of a harness fails the script.
#   FUZZ_SECONDS  time per harness (default 5)
#   FUZZ_BUILD    build folder (default build-fuzz)
#   FUZZ_CXX      clang's C++ compiler (default clang++)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${FUZZ_SECONDS:-5}
build=${FUZZ_BUILD:-build-fuzz}
cxx=${FUZZ_CXX:-clang++}
harnesses=(store_file store_memory reg_export value_decoders)

cmake -S . -B "$build" -DCMAKE_CXX_COMPILER="$cxx" -DCORVAN_FUZZ=ON -DCORVAN_BENCH=OFF \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j2 --target "${harnesses[@]/#/fuzz_}"

for harness in "${harnesses[@]}"; do
  corpus=$(mktemp -d)
  log=$(mktemp)
  # The first folder takes what the run finds; the seeds are only read.
  if "$build/fuzz_$harness" -max_total_time="$seconds" -max_len=65536 -timeout=10 -rss_limit_mb=2048 \
      -print_final_stats=1 "$corpus" "fuzz/seeds/$harness" >"$log" 2>&1; then
    echo "fuzz_$harness: $(grep -m1 '^stat::number_of_executed_units' "$log" | sed 's/.*: *//') runs in ${seconds}s"
    rm -rf "$corpus" "$log"
  else
    tail -n 60 "$log" >&2
    echo "fuzz_$harness failed; the input that failed is in the folder the log names" >&2
    exit 1
  fi
done
echo "Fuzz smoke run: OK"
