#include "PresetFile.h"
#include "TargetFile.h"
#include "TempFolder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <sstream>

using namespace morvellan::offline;

namespace {

// The value of the last "state=" line, split into lines as the reader does.
std::string LastStateValue(const std::string& text)
{
  std::istringstream in(text);
  std::string line, value;
  while (std::getline(in, line))
  {
    if (!line.empty() && line.back() == '\r')
      line.pop_back();
    if (line.rfind("state=", 0) == 0)
      value = line.substr(6);
  }
  return value;
}

int SextetOf(char c)
{
  static const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  return static_cast<int>(alphabet.find(c));
}

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
    // The first round always holds a padded group with non-zero spare bits.
    std::string text = round == 0 ? "Morvellan preset 1\nstate=YWJjZh==\n" : "";
    const int count = round == 0 ? 0 : std::uniform_int_distribution<int>(0, 24)(random);
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
      // What was accepted encodes back to the last state line, except for the spare
      // low bits of a padded last group, which decoding ignores and encoding clears.
      const std::string line = LastStateValue(text);
      const std::string again = Base64Encode(preset.state);
      ASSERT_EQ(again.size(), line.size()) << round;
      const std::size_t pad = line.size() - line.find_last_not_of('=') - 1;
      const std::size_t spareAt = line.size() - pad - 1;
      for (std::size_t i = 0; i < line.size(); ++i)
      {
        if (pad > 0 && i == spareAt)
        {
          const int spareBits = 2 * static_cast<int>(pad);
          EXPECT_EQ(SextetOf(again[i]) >> spareBits, SextetOf(line[i]) >> spareBits) << round;
          EXPECT_EQ(SextetOf(again[i]) & ((1 << spareBits) - 1), 0) << round;
        }
        else
        {
          EXPECT_EQ(again[i], line[i]) << round << " at " << i;
        }
      }
      if (round == 0)
      {
        EXPECT_EQ(again, "YWJjZg==");
      }
    }

    std::vector<uint8_t> decoded;
    if (Base64Decode(text, decoded))
    {
      EXPECT_EQ(Base64Encode(decoded).size(), text.size());
    }
  }
}

} // namespace
