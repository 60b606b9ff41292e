// Every stored input of every fuzz target, replayed in the ordinary test run: the seed corpora
// and the inputs that once broke a property. A broken property aborts the run; the last
// "replaying" line names the input.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "FuzzTargets.h"

namespace {

namespace fs = std::filesystem;
using Target = int (*)(const std::uint8_t*, std::size_t);

const fs::path kInputs = FUZZ_INPUTS_DIR;

std::vector<fs::path> FilesIn(const fs::path& folder)
{
  std::vector<fs::path> files;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(folder, ec))
    if (entry.is_regular_file())
      files.push_back(entry.path());
  std::sort(files.begin(), files.end());
  return files;
}

// Returns how many inputs were replayed.
int Replay(const char* name, Target target)
{
  int count = 0;
  for (const char* kind : {"corpus", "regressions"})
  {
    for (const fs::path& file : FilesIn(kInputs / kind / name))
    {
      std::ifstream in(file, std::ios::binary);
      const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      std::fprintf(stderr, "replaying %s\n", file.c_str());
      EXPECT_EQ(target(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()), 0) << file;
      ++count;
    }
  }
  return count;
}

} // namespace

TEST(FuzzInputs, StateChunk) { EXPECT_GT(Replay("state_chunk", fuzz::StateChunk), 0); }
TEST(FuzzInputs, PluginState) { EXPECT_GT(Replay("plugin_state", fuzz::PluginState), 0); }
TEST(FuzzInputs, PresetFile) { EXPECT_GT(Replay("preset_file", fuzz::PresetFile), 0); }
TEST(FuzzInputs, Base64) { EXPECT_GT(Replay("base64", fuzz::Base64), 0); }
TEST(FuzzInputs, TargetFile) { EXPECT_GT(Replay("target_file", fuzz::TargetFile), 0); }
TEST(FuzzInputs, TypedValue) { EXPECT_GT(Replay("typed_value", fuzz::TypedValue), 0); }
TEST(FuzzInputs, UpdateState) { EXPECT_GT(Replay("update_state", fuzz::UpdateState), 0); }
TEST(FuzzInputs, Json) { EXPECT_GT(Replay("json", fuzz::Json), 0); }
