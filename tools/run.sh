#!/usr/bin/env bash
# Builds the plug-in in release, installs the bundle into ~/.vst3 and runs its
# main job: 20 seconds of bass-heavy stereo pink noise through the installed
# plug-in in the project's own VST3 host, with the 12 band levels before and
# after the correction side by side.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh
cmake --preset release >/dev/null
cmake --build --preset release -j "$(nproc)"
cmake --install build/release >/dev/null
./build/release/tools/vst3host/mvhost render "$HOME/.vst3/Morvellan.vst3" --set Amount=100
