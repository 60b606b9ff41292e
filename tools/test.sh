#!/usr/bin/env bash
# Builds everything and runs the whole test suite, then again under ASan + UBSan.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh

jobs=$(nproc)
for preset in debug asan; do
  echo "=== $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  ctest --preset "$preset"
done
bash tools/fuzz-json.sh
