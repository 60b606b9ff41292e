#include "Listing.h"
#include "PresetFile.h"
#include "TempFolder.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace morvellan::offline;
namespace fs = std::filesystem;

namespace {

const std::string kTwelve = "1 2 3 4 5 6 7 8 9 10 11 12";

void Preset(const fs::path& file, const std::string& name)
{
  WriteBytes(file, "Morvellan preset 1\nname=" + name + "\nstate=YWJj\n");
}

TEST(Listing, MissingFolderIsEmptyAndNotCreated)
{
  TempFolder tmp;
  fs::path folder = tmp.Path() / "Morvellan" / "Presets";
  EXPECT_TRUE(ListPresetFiles(kPresetFormat, folder).empty());
  EXPECT_TRUE(ListTargetFiles(folder).empty());
  EXPECT_FALSE(fs::exists(tmp.Path() / "Morvellan"));
  // A file in place of the folder lists as empty too.
  WriteBytes(tmp.Path() / "file", "x");
  EXPECT_TRUE(ListFilesWithExtension(tmp.Path() / "file", ".mvpreset").empty());
}

TEST(Listing, OnlyReadableRegularFilesWithExactExtension)
{
  TempFolder tmp;
  const fs::path& dir = tmp.Path();
  Preset(dir / "Good.mvpreset", "Good");
  Preset(dir / "Caps.MVPRESET", "Caps");
  Preset(dir / "Temp.mvpreset.partial", "Temp");
  WriteBytes(dir / "Bad.mvpreset", "Morvellan preset 1\nname=Bad\n");
  WriteBytes(dir / "Wrong.mvpreset", "Morvellan target 1\nname=Wrong\nstate=YWJj\n");
  fs::create_directory(dir / "Folder.mvpreset");
  fs::create_directory(dir / "sub");
  Preset(dir / "sub" / "Deep.mvpreset", "Deep");
  fs::create_symlink(dir / "Good.mvpreset", dir / "Link.mvpreset");
  fs::create_symlink(dir / "nowhere", dir / "Dangling.mvpreset");

  auto presets = ListPresetFiles(kPresetFormat, dir);
  ASSERT_EQ(presets.size(), 2u);
  EXPECT_EQ(presets[0].name, "Good");
  EXPECT_EQ(presets[1].name, "Good");
  EXPECT_NE(presets[0].path, presets[1].path);
  EXPECT_EQ(presets[0].state, (std::vector<uint8_t>{'a', 'b', 'c'}));
}

TEST(Listing, ExtensionRunsFromTheLastFullStop)
{
  TempFolder tmp;
  const fs::path& dir = tmp.Path();
  // A name that is only the extension still has it.
  Preset(dir / ".mvpreset", "Hidden");
  Preset(dir / "mvpreset", "NoDot");
  Preset(dir / "Two.dots.mvpreset", "TwoDots");
  Preset(dir / "Warm.mvpreset.bak", "Backup");
  auto files = ListFilesWithExtension(dir, ".mvpreset");
  std::vector<std::string> names;
  for (const auto& f : files)
    names.push_back(f.filename().string());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{".mvpreset", "Two.dots.mvpreset"}));
}

TEST(Listing, SortsByBytes)
{
  TempFolder tmp;
  const fs::path& dir = tmp.Path();
  const std::vector<std::string> names = {"\xC3\xA9t\xC3\xA9", "beta", "Zeta", "Alpha", "Al", "alpha", "Alpha"};
  int n = 0;
  for (const auto& name : names)
    Preset(dir / (std::to_string(n++) + ".mvpreset"), name);
  auto presets = ListPresetFiles(kPresetFormat, dir);
  std::vector<std::string> got;
  for (const auto& p : presets)
    got.push_back(p.name);
  EXPECT_EQ(got, (std::vector<std::string>{"Al", "Alpha", "Alpha", "Zeta", "alpha", "beta", "\xC3\xA9t\xC3\xA9"}));
}

TEST(Listing, TargetsUseStemWhenUnnamedAndSkipBroken)
{
  TempFolder tmp;
  const fs::path& dir = tmp.Path();
  WriteBytes(dir / "Unnamed.mvtarget", "Morvellan target 1\nbalance=" + kTwelve + "\n");
  WriteBytes(dir / "Named.mvtarget", "Morvellan target 1\nname=Bright\nsource=input\nbalance=" + kTwelve + "\n");
  WriteBytes(dir / "Short.mvtarget", "Morvellan target 1\nname=Short\nbalance=1 2 3\n");
  WriteBytes(dir / "Preset.mvpreset", "Morvellan preset 1\nstate=YWJj\n");
  auto targets = ListTargetFiles(dir);
  ASSERT_EQ(targets.size(), 2u);
  EXPECT_EQ(targets[0].name, "Bright");
  EXPECT_EQ(targets[0].source, "input");
  EXPECT_EQ(targets[0].path, dir / "Named.mvtarget");
  EXPECT_EQ(targets[1].name, "Unnamed");
  EXPECT_FALSE(targets[1].factory);
}

} // namespace
