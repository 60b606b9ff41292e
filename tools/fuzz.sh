#!/usr/bin/env bash
# Builds every libFuzzer target with clang in its own folder and fuzzes them side by side on
# their committed seed corpora, FUZZ_SECONDS (default 45) of wall-clock time in all. New
# inputs go to a scratch folder, never into the repository. An input that breaks a property
# is copied to tests/fuzz/regressions/<target>/, where the ordinary test run replays it once it
# is committed, and the stage fails.
set -euo pipefail
cd "$(dirname "$0")/.."

build=build/fuzz
budget="${FUZZ_SECONDS:-45}"
targets=(json state_chunk preset_file base64 target_file typed_value update_state)
# Needs the whole plug-in built by clang, engine included; the parsers themselves never do. It
# runs when it builds, and the summary says so when it does not.
whole_plugin=(plugin_state)

# The libraries are instrumented too, so the fuzzers see coverage inside them.
flags="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" \
  -DMORVELLAN_FUZZ=ON -DMORVELLAN_TESTS=OFF -DMORVELLAN_BENCH=OFF >/dev/null
cmake --build "$build" -j "$(nproc)" --target "${targets[@]/%/_fuzz}"
not_built=()
for t in "${whole_plugin[@]}"; do
  if cmake --build "$build" -j "$(nproc)" --target "${t}_fuzz" >"$build/${t}_fuzz-build.log" 2>&1; then
    targets+=("$t")
  else
    not_built+=("$t")
  fi
done

scratch_base=/tmp
[ -d /dev/shm ] && [ -w /dev/shm ] && scratch_base=/dev/shm
scratch="$(mktemp -d "$scratch_base/morvellan-fuzz.XXXXXX")"
trap 'rm -rf "$scratch"' EXIT
# Files the targets write (presets, targets, the update state) stay in memory and in the scratch folder.
export TMPDIR="$scratch/tmp" XDG_DATA_HOME="$scratch/data" XDG_CONFIG_HOME="$scratch/config"
export HALVORSTED_UPDATES_URL="http://127.0.0.1:9/updates.json"
# A small quarantine and no fill of fresh blocks: several times the inputs per second, while
# overflows and uses after free are still caught.
export ASAN_OPTIONS="detect_leaks=1:quarantine_size_mb=16:max_malloc_fill_size=0"
export LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp"
mkdir -p "$TMPDIR"

# As many targets at once as there are cores; each gets its share of the budget.
slots=$(nproc)
(( slots > ${#targets[@]} )) && slots=${#targets[@]}
rounds=$(( (${#targets[@]} + slots - 1) / slots ))
seconds=$(( budget / rounds ))
(( seconds < 5 )) && seconds=5
echo "=== fuzzing ${#targets[@]} targets, $slots at a time, ${seconds}s each"

run() {
  local t=$1 status=0
  mkdir -p "$scratch/corpus/$t" "$scratch/artifacts/$t"
  "$build/tests/fuzz/${t}_fuzz" -max_total_time="$seconds" -max_len=8192 -timeout=10 -rss_limit_mb=2048 \
    -artifact_prefix="$scratch/artifacts/$t/" -print_final_stats=1 \
    "$scratch/corpus/$t" "tests/fuzz/corpus/$t" >"$scratch/$t.log" 2>&1 || status=$?
  echo "$status" >"$scratch/$t.status"
}

for t in "${targets[@]}"; do
  while (( $(jobs -rp | wc -l) >= slots )); do sleep 1; done
  run "$t" &
done
wait

failed=()
for t in "${targets[@]}"; do
  status=$(cat "$scratch/$t.status")
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$scratch/$t.log" | tail -1)
  if [ "$status" != 0 ]; then
    failed+=("$t")
    mkdir -p "tests/fuzz/regressions/$t"
    cp "$scratch/artifacts/$t"/* "tests/fuzz/regressions/$t/" 2>/dev/null || true
    echo "--- $t FAILED (exit $status); its input is in tests/fuzz/regressions/$t/"
    grep -v -E '^#[0-9]+' "$scratch/$t.log" | tail -40
  else
    echo "--- $t: ${runs:-?} inputs, no property broken"
  fi
done

for t in "${not_built[@]}"; do
  echo "--- $t: NOT FUZZED, clang could not build it ($build/${t}_fuzz-build.log):"
  grep -m 3 'error:' "$build/${t}_fuzz-build.log" || tail -3 "$build/${t}_fuzz-build.log"
done

if (( ${#failed[@]} > 0 )); then
  echo "fuzzing broke properties of: ${failed[*]}"
  exit 1
fi
