#include "PresetFile.h"
#include "StateChunk.h"
#include "TempFolder.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <sys/wait.h>

using namespace morvellan::offline;
namespace fs = std::filesystem;

namespace {

struct HostRun
{
  int status = -1;
  std::string output;
};

// Runs mvhost with the per-user data folder in dataFolder.
HostRun Mvhost(const fs::path& dataFolder, const std::string& arguments)
{
  const std::string command = "XDG_DATA_HOME='" + dataFolder.string() + "' '" MVHOST_PATH "' render '" +
                              MORVELLAN_BUNDLE_PATH "' --seconds 0.5 " + arguments + " 2>&1";
  HostRun run;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe)
    return run;
  char buffer[4096];
  size_t n = 0;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0)
    run.output.append(buffer, n);
  const int status = pclose(pipe);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

double StoredAmount(const fs::path& presetFile)
{
  PresetFile preset;
  std::string error;
  EXPECT_TRUE(ReadPresetFile(kPresetFormat, presetFile, preset, error)) << error;
  morvellan::state::RestoredState restored;
  EXPECT_EQ(morvellan::state::ReadStateChunk(preset.state, 0, restored), morvellan::state::ReadOutcome::kRestored);
  return restored.params[kAmount];
}

TEST(HostPresets, LoadRenderAndSaveBackThroughThePlugIn)
{
  TempFolder data;
  const fs::path presets = data.Path() / "Morvellan" / "Presets";

  HostRun first = Mvhost(data.Path(), "--set Amount=33 --save-preset 'First take'");
  ASSERT_EQ(first.status, 0) << first.output;
  ASSERT_TRUE(fs::exists(presets / "First take.mvpreset")) << first.output;
  EXPECT_NE(first.output.find((presets / "First take.mvpreset").string()), std::string::npos);
  EXPECT_DOUBLE_EQ(StoredAmount(presets / "First take.mvpreset"), 33.0);

  // Loaded into a fresh instance, rendered, and saved back under another name.
  HostRun second = Mvhost(data.Path(), "--load-preset '" + (presets / "First take.mvpreset").string() +
                                       "' --save-preset Second");
  ASSERT_EQ(second.status, 0) << second.output;
  EXPECT_DOUBLE_EQ(StoredAmount(presets / "Second.mvpreset"), 33.0);
  PresetFile saved;
  std::string error;
  ASSERT_TRUE(ReadPresetFile(kPresetFormat, presets / "Second.mvpreset", saved, error));
  EXPECT_EQ(saved.name, "Second");
}

TEST(HostPresets, BrokenPresetIsRefusedWithTheReason)
{
  TempFolder data;
  const fs::path file = data.Path() / "Broken.mvpreset";
  WriteBytes(file, "Morvellan preset 1\nname=Broken\nstate=" + Base64Encode({'1', 'S', 'V', 'M', 5, 0}) + "\n");
  HostRun run = Mvhost(data.Path(), "--load-preset '" + file.string() + "'");
  EXPECT_NE(run.status, 0);
  EXPECT_NE(run.output.find("Could not load the preset: its state is damaged."), std::string::npos) << run.output;
}

} // namespace
