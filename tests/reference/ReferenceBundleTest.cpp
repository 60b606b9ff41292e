// Learn from a reference, then render: the built bundle, driven through the host's own code.

#include "AudioFileWriter.h"
#include "HostMessage.h"
#include "Module.h"
#include "PluginInstance.h"
#include "Render.h"
#include "Signal.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <memory>
#include <string>

using morvellan::testing::ScratchFolder;
using morvellan::testing::WriteSoundFile;

namespace {

// Bands 2 and 10 (252 Hz and 10.2 kHz): how much brighter the top is than the low middle.
constexpr std::size_t kLowBand = 2;
constexpr std::size_t kHighBand = 10;

enum class Colour { Pink, White };

// A stereo reference: pink noise reads flat, white noise rises 3 dB per octave (+16 dB from
// band 2 to band 10).
void WriteReference(const std::string& path, int format, Colour colour)
{
  const int rate = 44100;
  const std::vector<float> pink = morvellan::testing::PinkNoise(std::uint64_t(rate) * 6, 9);
  std::uint32_t s = 41;
  WriteSoundFile(path, format, rate, 2, pink.size(), [&](std::uint64_t t, float* f) {
    s = s * 1664525u + 1013904223u;
    const float white = float(0.3 * (double(s) / 2147483648.0 - 1.0));
    f[0] = f[1] = colour == Colour::Pink ? pink[t] : white;
  });
}

class LearnThenRender : public ::testing::Test
{
protected:
  static void SetUpTestSuite()
  {
    std::string error;
    sModule = mvhost::Module::Load(MORVELLAN_BUNDLE_PATH, error);
    ASSERT_NE(sModule, nullptr) << error;
  }
  static void TearDownTestSuite() { sModule.reset(); }

  std::unique_ptr<mvhost::PluginInstance> NewInstance()
  {
    std::string error;
    auto instance = sModule->CreateInstance(*sModule->FirstAudioClass(), error);
    EXPECT_NE(instance, nullptr) << error;
    return instance;
  }

  // Sends the learn message and waits for the worker; returns the error text, empty on success.
  static std::string Learn(mvhost::PluginInstance& instance, const std::string& path, std::string& source)
  {
    mvhost::AttributeList attributes;
    attributes.SetText("path", path);
    attributes.setInt("wait", 1);
    EXPECT_EQ(mvhost::SendMessage(instance, "MorvellanLearnReference", attributes), Steinberg::kResultOk);
    std::string error;
    attributes.GetText("error", error);
    attributes.GetText("source", source);
    return error;
  }

  // Renders 10 s of pink noise at full amount and returns (output tilt) − (input tilt) in dB.
  static double TiltChange(mvhost::PluginInstance& instance)
  {
    std::string error;
    for (const char* setting : {"Amount=100", "Max Boost=12", "Max Cut=18"})
      EXPECT_TRUE(mvhost::ApplySetting(instance, setting, error)) << error;
    const mvhost::Audio input = mvhost::MakePinkNoise(48000.0, 10.0, 2, 3);
    mvhost::Audio output;
    mvhost::RenderOptions options;
    EXPECT_TRUE(mvhost::Render(instance, input, options, output, error)) << error;
    const std::size_t begin = input.Frames() / 2;
    const auto in = mvhost::MeasureBandLevels(input, begin, input.Frames());
    const auto out = mvhost::MeasureBandLevels(output, begin, output.Frames());
    return (out[kHighBand] - out[kLowBand]) - (in[kHighBand] - in[kLowBand]);
  }

  static std::unique_ptr<mvhost::Module> sModule;
  ScratchFolder dir;
};

std::unique_ptr<mvhost::Module> LearnThenRender::sModule;

} // namespace

TEST_F(LearnThenRender, ABrightReferenceBrightensPinkNoiseInEveryFormat)
{
  struct Case
  {
    const char* name;
    int format;
  };
  for (const Case& c : {Case{"bright.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16},
                        Case{"bright mix.aif", SF_FORMAT_AIFF | SF_FORMAT_PCM_16},
                        Case{"bright – Ø.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16},
                        Case{"bright.mp3", SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III}})
  {
    WriteReference(dir.Path(c.name), c.format, Colour::White);
    auto instance = NewInstance();
    ASSERT_NE(instance, nullptr);
    std::string source;
    ASSERT_EQ(Learn(*instance, dir.Path(c.name), source), "") << c.name;
    EXPECT_EQ(source, c.name);
    // The correction has 30 dB of room (12 up, 18 down) for the 16 dB the reference asks for.
    EXPECT_GT(TiltChange(*instance), 10.0) << c.name;

    // The saved state carries the reference's name as the target's source.
    std::vector<std::uint8_t> state;
    std::string error;
    ASSERT_TRUE(instance->GetState(state, error)) << error;
    const std::string bytes(state.begin(), state.end());
    EXPECT_NE(bytes.find(c.name), std::string::npos) << c.name;
  }
}

TEST_F(LearnThenRender, AFlatReferenceLeavesPinkNoiseFlat)
{
  WriteReference(dir.Path("pink.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, Colour::Pink);
  auto instance = NewInstance();
  ASSERT_NE(instance, nullptr);
  std::string source;
  ASSERT_EQ(Learn(*instance, dir.Path("pink.wav"), source), "");
  EXPECT_NEAR(TiltChange(*instance), 0.0, 2.0);
}

TEST_F(LearnThenRender, AFailedLearnReportsWhyAndKeepsTheTarget)
{
  WriteReference(dir.Path("bright.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, Colour::White);
  WriteSoundFile(dir.Path("short.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 48000, 1, std::vector<float>(4800, 0.1f));
  auto instance = NewInstance();
  ASSERT_NE(instance, nullptr);
  std::string source;
  ASSERT_EQ(Learn(*instance, dir.Path("bright.wav"), source), "");

  EXPECT_EQ(Learn(*instance, dir.Path("short.wav"), source), "the file is too short to learn from");
  EXPECT_EQ(Learn(*instance, dir.Path("gone.flac"), source), "could not read gone.flac");
  EXPECT_EQ(Learn(*instance, dir.Path("notes.txt"), source), "unsupported file type .txt (WAV, AIFF, MP3 or FLAC)");
  // Still the bright target.
  EXPECT_GT(TiltChange(*instance), 10.0);
}
