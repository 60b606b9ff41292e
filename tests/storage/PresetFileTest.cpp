#include "PresetFile.h"
#include "StoredFiles.h"
#include "TempFolder.h"

#include <gtest/gtest.h>

using namespace morvellan::offline;
namespace fs = std::filesystem;

namespace {

std::vector<uint8_t> Bytes(const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); }

std::string Decoded(const std::string& text, bool& ok)
{
  std::vector<uint8_t> out;
  ok = Base64Decode(text, out);
  return std::string(out.begin(), out.end());
}

TEST(Base64, EncodesRfcVectors)
{
  EXPECT_EQ(Base64Encode(Bytes("")), "");
  EXPECT_EQ(Base64Encode(Bytes("f")), "Zg==");
  EXPECT_EQ(Base64Encode(Bytes("fo")), "Zm8=");
  EXPECT_EQ(Base64Encode(Bytes("abc")), "YWJj");
  EXPECT_EQ(Base64Encode(Bytes("foobar")), "Zm9vYmFy");
  EXPECT_EQ(Base64Encode({0xFB, 0xFF, 0xBF}), "+/+/");
}

TEST(Base64, DecodesAndRejects)
{
  bool ok = false;
  EXPECT_EQ(Decoded("Zm9vYg==", ok), "foob");
  EXPECT_TRUE(ok);
  EXPECT_EQ(Decoded("Zm9vYmE=", ok), "fooba");
  EXPECT_TRUE(ok);
  EXPECT_EQ(Decoded("", ok), "");
  EXPECT_TRUE(ok);
  // Spare bits of a padded group are not checked.
  EXPECT_EQ(Decoded("Zh==", ok), "f");
  EXPECT_TRUE(ok);

  for (const char* bad : {"Zm9", "Zm9vY", "Zg=a", "Z=gA", "Zg==Zg==", "Zm=v", "Zm9 ", "Zm9\n", "Zm-v", "Zm_v",
                          "Zm9\xC3"})
  {
    Decoded(bad, ok);
    EXPECT_FALSE(ok) << bad;
  }

  std::vector<uint8_t> all(256);
  for (int i = 0; i < 256; ++i)
    all[static_cast<size_t>(i)] = static_cast<uint8_t>(i);
  std::vector<uint8_t> back;
  ASSERT_TRUE(Base64Decode(Base64Encode(all), back));
  EXPECT_EQ(back, all);
}

TEST(PresetFile, WritesExactBytesAndReadsBack)
{
  TempFolder tmp;
  std::string error;
  std::vector<uint8_t> state{'1', 'S', 'V', 'M', 0, 0xFF, 10, 13};
  ASSERT_TRUE(WritePresetFile(kPresetFormat, tmp.Path(), "Warm\nPad", state, error)) << error;
  fs::path file = tmp.Path() / "Warm-Pad.mvpreset";
  EXPECT_EQ(ReadBytes(file), "Morvellan preset 1\nname=Warm Pad\nstate=MVNWTQD/Cg0=\n");

  PresetFile p;
  ASSERT_TRUE(ReadPresetFile(kPresetFormat, file, p, error)) << error;
  EXPECT_EQ(p.name, "Warm Pad");
  EXPECT_EQ(p.state, state);
  EXPECT_EQ(p.path, file);
}

TEST(PresetFile, ReaderRules)
{
  TempFolder tmp;
  fs::path f = tmp.Path() / "Stem.mvpreset";
  PresetFile p;
  std::string error;

  WriteBytes(f, "Morvellan preset 1\r\nstate=YWJj\r\n");
  ASSERT_TRUE(ReadPresetFile(kPresetFormat, f, p, error));
  EXPECT_EQ(p.name, "Stem");
  EXPECT_EQ(p.state, Bytes("abc"));

  for (const std::string bad : {"Morvellan preset 1 \nstate=YWJj\n", "Morvellan target 1\nstate=YWJj\n", ""})
  {
    WriteBytes(f, bad);
    EXPECT_FALSE(ReadPresetFile(kPresetFormat, f, p, error));
    EXPECT_EQ(error, "not an Morvellan preset: Stem.mvpreset");
  }
  EXPECT_FALSE(ReadPresetFile(kPresetFormat, tmp.Path() / "None.mvpreset", p, error));
  EXPECT_EQ(error, "not an Morvellan preset: None.mvpreset");

  for (const std::string bad : {"Morvellan preset 1\nname=n\nstate=\n", "Morvellan preset 1\nname=n\n",
                                "Morvellan preset 1\nstate=YWJj\nstate=YWJ\n", "Morvellan preset 1\nstate=YWJjZA\n"})
  {
    WriteBytes(f, bad);
    EXPECT_FALSE(ReadPresetFile(kPresetFormat, f, p, error)) << bad;
    EXPECT_EQ(error, "the preset has no readable state: Stem.mvpreset");
  }

  WriteBytes(f, "Morvellan preset 1\nstate=!!!!\nstate=YWJj\nname=Last\nname=Final\n");
  ASSERT_TRUE(ReadPresetFile(kPresetFormat, f, p, error));
  EXPECT_EQ(p.name, "Final");

  WriteBytes(f, "Morvellan preset 1\nstate=" + std::string(1 << 20, 'A') + "\n");
  EXPECT_FALSE(ReadPresetFile(kPresetFormat, f, p, error));
  EXPECT_EQ(error, "the file is larger than 1 MiB: Stem.mvpreset");
}

void StorePreset(const fs::path& file, const std::string& name)
{
  WriteBytes(file, "Morvellan preset 1\nname=" + name + "\nstate=YWJj\n");
}

TEST(PresetFilePath, FindsOwnFileOrFirstFreeNumber)
{
  TempFolder tmp;
  const fs::path& dir = tmp.Path();
  EXPECT_EQ(PresetFilePath(kPresetFormat, dir, "Warm"), dir / "Warm.mvpreset");

  StorePreset(dir / "Warm.mvpreset", "Warm");
  EXPECT_EQ(PresetFilePath(kPresetFormat, dir, "Warm"), dir / "Warm.mvpreset");

  StorePreset(dir / "Warm.mvpreset", "warm");
  EXPECT_EQ(PresetFilePath(kPresetFormat, dir, "Warm"), dir / "Warm-1.mvpreset");

  WriteBytes(dir / "Warm.mvpreset", "garbage");
  fs::create_directory(dir / "Warm-1.mvpreset");
  EXPECT_EQ(PresetFilePath(kPresetFormat, dir, "Warm"), dir / "Warm-2.mvpreset");

  // Its own file further down the numbering wins over an earlier gap.
  StorePreset(dir / "Warm-3.mvpreset", "Warm");
  EXPECT_EQ(PresetFilePath(kPresetFormat, dir, "Warm"), dir / "Warm-3.mvpreset");

  // A name with a line break is stored single-line and still finds its file.
  StorePreset(dir / "A-B.mvpreset", "A B");
  EXPECT_EQ(PresetFilePath(kPresetFormat, dir, "A\nB"), dir / "A-B.mvpreset");
}

TEST(PresetFilePath, RefusesWhenEveryNumberIsTaken)
{
  TempFolder tmp;
  const fs::path& dir = tmp.Path();
  StorePreset(dir / "Full.mvpreset", "other");
  for (int n = 1; n < 1000; ++n)
    fs::create_directory(dir / (std::string("Full-").append(std::to_string(n)) + ".mvpreset"));
  EXPECT_TRUE(PresetFilePath(kPresetFormat, dir, "Full").empty());
  std::string error;
  EXPECT_FALSE(WritePresetFile(kPresetFormat, dir, "Full", Bytes("abc"), error));
  EXPECT_EQ(error, "no free file name is left for the preset Full");
  EXPECT_NE(ReadBytes(dir / "Full.mvpreset").find("name=other"), std::string::npos);
}

TEST(PresetFile, SavingTwiceKeepsOneFilePerName)
{
  TempFolder tmp;
  std::string error;
  ASSERT_TRUE(WritePresetFile(kPresetFormat, tmp.Path(), "warm", Bytes("1"), error));
  ASSERT_TRUE(WritePresetFile(kPresetFormat, tmp.Path(), "Warm", Bytes("2"), error));
  ASSERT_TRUE(WritePresetFile(kPresetFormat, tmp.Path(), "Warm", Bytes("3"), error));
  PresetFile p;
  ASSERT_TRUE(ReadPresetFile(kPresetFormat, tmp.Path() / "Warm.mvpreset", p, error));
  EXPECT_EQ(p.state, Bytes("3"));
  ASSERT_TRUE(ReadPresetFile(kPresetFormat, tmp.Path() / "warm.mvpreset", p, error));
  EXPECT_EQ(p.state, Bytes("1"));
  EXPECT_FALSE(fs::exists(tmp.Path() / "Warm-1.mvpreset"));
}

} // namespace
