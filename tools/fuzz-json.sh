#!/usr/bin/env bash
# Builds the JSON reader's libFuzzer target with clang in its own folder and runs it briefly
# on the committed seed corpus. New inputs go to a scratch folder, never into the repository.
set -euo pipefail
cd "$(dirname "$0")/.."

build=build/fuzz-json
seconds="${FUZZ_SECONDS:-30}"

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DMORVELLAN_FUZZ=ON -DMORVELLAN_TESTS=OFF -DMORVELLAN_BENCH=OFF >/dev/null
cmake --build "$build" --target json_fuzz -j "$(nproc)"

scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
echo "=== fuzzing the JSON reader for ${seconds}s"
"$build/halvorsted/json_fuzz" -max_total_time="$seconds" -max_len=8192 -timeout=10 -rss_limit_mb=2048 \
  -artifact_prefix="$build/" -print_final_stats=1 "$scratch" tests/halvorsted/fuzz-corpus
