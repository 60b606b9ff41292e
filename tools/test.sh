#!/usr/bin/env bash
# Builds everything and runs the whole test suite, then again under ASan + UBSan.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh

jobs=$(nproc)
# A short fuzz run of the JSON reader first, so the last line printed is the test summary.
bash tools/fuzz-json.sh

for preset in debug asan; do
  echo "=== $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  ctest --preset "$preset"
done
