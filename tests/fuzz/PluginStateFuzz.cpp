// Raw bytes handed to the plug-in as a host's saved state: the parameters and the learned
// target only ever hold finite values in range, a refused state changes nothing, and whatever
// was taken saves, restores and saves again to the same bytes.

#include "FuzzCheck.h"
#include "FuzzTargets.h"

#include "AccentColours.h"
#include "IByteChunk.h"
#include "Morvellan.h"
#include "StateChunk.h"

#include <cstdlib>
#include <filesystem>
#include <vector>

namespace {

// One instance for the whole run, as a host keeps one; never destroyed, so no worker thread
// is joined while the fuzzer exits.
Morvellan& Instance()
{
  static Morvellan* plug = [] {
    // The update check polls a closed local port, and its files go to a private folder.
    setenv("HALVORSTED_UPDATES_URL", "http://127.0.0.1:9/updates.json", 1);
    if (!std::getenv("XDG_DATA_HOME"))
    {
      const std::filesystem::path home = std::filesystem::temp_directory_path() / "morvellan-fuzz-home";
      setenv("XDG_DATA_HOME", (home / "data").c_str(), 0);
      setenv("XDG_CONFIG_HOME", (home / "config").c_str(), 0);
    }
    return new Morvellan(iplug::InstanceInfo{});
  }();
  return *plug;
}

std::vector<std::uint8_t> Save(Morvellan& plug)
{
  iplug::IByteChunk chunk;
  FUZZ_CHECK(plug.SerializeState(chunk));
  return {chunk.GetData(), chunk.GetData() + chunk.Size()};
}

int Load(Morvellan& plug, const std::vector<std::uint8_t>& bytes)
{
  iplug::IByteChunk chunk;
  if (!bytes.empty())
    chunk.PutBytes(bytes.data(), int(bytes.size()));
  return plug.UnserializeState(chunk, 0);
}

void CheckSane(Morvellan& plug)
{
  for (int i = 0; i < kNumParams; ++i)
  {
    const iplug::IParam* param = plug.GetParam(i);
    const double v = param->Value();
    FUZZ_CHECK(std::isfinite(v));
    FUZZ_CHECK(v >= param->GetMin() && v <= param->GetMax());
  }
  morvellan::BalanceCopy target;
  FUZZ_CHECK(plug.TryReadLearnedTarget(target));
  if (target.valid)
    FUZZ_CHECK(fuzz::AllFinite(target.relative) && fuzz::AllFinite(target.absolute));
  const int accent = plug.mAccentIndex.load();
  FUZZ_CHECK(accent >= 0 && accent < int(morvellan::AccentColourTable.size()));
  FUZZ_CHECK(plug.GetEditorWidth() >= 0 && plug.GetEditorHeight() >= 0);
}

} // namespace

namespace fuzz {

int PluginState(const std::uint8_t* data, std::size_t size)
{
  Morvellan& plug = Instance();
  const std::vector<std::uint8_t> input(data, data + size);

  // Refused outright: a damaged header, or a plain run too short for every parameter. A chunk
  // cut short past its header restores what it holds and still answers -1.
  morvellan::state::RestoredState restored;
  const auto outcome = morvellan::state::ReadStateChunk(input, 0, restored);
  const bool refused = outcome == morvellan::state::ReadOutcome::kRejected ||
                       (outcome == morvellan::state::ReadOutcome::kPlain && size < kNumParams * sizeof(double));

  const std::vector<std::uint8_t> before = Save(plug);
  const int end = Load(plug, input);
  CheckSane(plug);
  FUZZ_CHECK(end >= -1 && end <= int(size));
  if (refused)
  {
    FUZZ_CHECK(end == -1);
    FUZZ_CHECK(Save(plug) == before);
    return 0;
  }
  // The plug-in answers where the reader stopped, or after the plain run of values.
  if (outcome == morvellan::state::ReadOutcome::kRestored)
    FUZZ_CHECK(end == restored.endPos);
  else
    FUZZ_CHECK(end == int(kNumParams * sizeof(double)));

  const std::vector<std::uint8_t> saved = Save(plug);
  FUZZ_CHECK(Load(plug, saved) == int(saved.size()));
  CheckSane(plug);
  FUZZ_CHECK(Save(plug) == saved);
  return 0;
}

} // namespace fuzz

FUZZ_ENTRY_POINT(fuzz::PluginState)
