#!/usr/bin/env bash
# Fuzzes every parser for a short while, then builds and runs the whole test suite, again under
# ASan + UBSan, and the tests that run threads under TSan. The last line printed is a test summary.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh
echo "=== set-up done after ${SECONDS}s"

jobs=$(nproc)
bash tools/fuzz.sh

for preset in debug asan tsan; do
  echo "=== $preset, starting after ${SECONDS}s"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  ctest --preset "$preset"
done
