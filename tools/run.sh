#!/usr/bin/env bash
# Builds the plug-in in release and runs its main job.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh
cmake --preset release >/dev/null
cmake --build --preset release -j "$(nproc)"
./build/release/bench/engine_demo
