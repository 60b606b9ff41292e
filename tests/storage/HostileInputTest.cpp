#include "PresetFile.h"
#include "TargetFile.h"
#include "TempFolder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <sstream>

using namespace morvellan::offline;

namespace {

// Random bytes around the real formats: the readers must refuse or accept
// without crashing, and whatever they accept must be whole.
TEST(HostileInput, ReadersSurviveRandomBytes)
{
  std::mt19937 random(2024);
  const std::string pieces[] = {"Morvellan target 1\n", "Morvellan preset 1\n", "name=", "source=", "balance=",
                                "state=",               "=",                    "\r\n",  "\n",       "1.5 ",
                                "-1e308 ",              "nan ",                 "YWJj",  "====",     "\x80\xFF",
                                std::string(1, '\0')};
  TempFolder tmp;
  const auto file = tmp.Path() / "Fuzz.mvpreset";
  for (int round = 0; round < 1500; ++round)
  {
    std::string text;
    const int count = std::uniform_int_distribution<int>(0, 24)(random);
    for (int i = 0; i < count; ++i)
    {
      if (random() % 4 == 0)
        text += static_cast<char>(random() & 0xFF);
      else
        text += pieces[random() % std::size(pieces)];
    }

    std::istringstream in(text);
    SavedTarget target;
    std::string error;
    if (ParseTarget(in, target, error, "fuzz"))
    {
      EXPECT_FALSE(target.name.empty());
      for (double v : target.balance)
        EXPECT_TRUE(std::isfinite(v));
    }
    else
    {
      EXPECT_FALSE(error.empty());
    }

    WriteBytes(file, text);
    PresetFile preset;
    if (ReadPresetFile(kPresetFormat, file, preset, error))
    {
      EXPECT_FALSE(preset.state.empty());
      // What was accepted encodes back to a state line of the file.
      EXPECT_NE(text.find("state=" + Base64Encode(preset.state)), std::string::npos);
    }

    std::vector<uint8_t> decoded;
    if (Base64Decode(text, decoded))
    {
      EXPECT_EQ(Base64Encode(decoded).size(), text.size());
    }
  }
}

} // namespace
