#include "AudioFileWriter.h"
#include "ReferenceFileReader.h"
#include "ReferenceLearner.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <cmath>
#include <random>

using namespace morvellan;
using morvellan::testing::PinkNoise;
using morvellan::testing::ScratchFolder;
using morvellan::testing::WriteSoundFile;

namespace {

struct Outcome
{
  bool ok = false;
  BandBalance balance{};
  std::string error;
};

Outcome TwoSteps(const std::string& path)
{
  Outcome r;
  AudioData audio;
  r.ok = LoadAudioFile(path, audio, r.error, kReferenceMaxSeconds) &&
         LearnTargetFromSamples(audio.samples, audio.sampleRate, r.balance, r.error);
  return r;
}

Outcome WhileDecoding(const std::string& path)
{
  Outcome r;
  r.ok = LearnTargetFromFile(path, r.balance, r.error);
  return r;
}

void ExpectSameOutcome(const std::string& path, const char* what)
{
  const Outcome expected = TwoSteps(path);
  const Outcome got = WhileDecoding(path);
  ASSERT_EQ(got.ok, expected.ok) << what << ": " << got.error << " / " << expected.error;
  EXPECT_EQ(got.error, expected.error) << what;
  for (int k = 0; k < kNumBands && expected.ok; ++k)
    EXPECT_NEAR(got.balance[std::size_t(k)], expected.balance[std::size_t(k)], 1e-9) << what << " band " << k;
}

std::vector<float> Scaled(std::vector<float> v, double db)
{
  const float gain = float(std::pow(10.0, db / 20.0));
  for (float& x : v)
    x *= gain;
  return v;
}

std::vector<float> WhiteNoise(std::size_t n, double db)
{
  std::mt19937 rng(5);
  std::uniform_real_distribution<float> u(-1.0f, 1.0f);
  std::vector<float> v(n);
  for (float& x : v)
    x = u(rng);
  return Scaled(v, db);
}

std::vector<float> Joined(std::vector<float> a, const std::vector<float>& b)
{
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

} // namespace

// The two halves of learning run side by side here: whatever the file, the answer is the one the
// whole buffer gives.
TEST(LearnWhileDecoding, AgreesWithLearningFromTheWholeBuffer)
{
  ScratchFolder dir;
  const int fs = 48000;
  const std::vector<float> pink = PinkNoise(std::size_t(fs) * 20, 3);
  // Level steps through the file: every step is judged against a moving estimate of the gate.
  std::vector<float> stepped = pink;
  for (std::size_t i = 0; i < stepped.size(); ++i)
    stepped[i] *= float(std::pow(10.0, -6.0 * double(i / std::size_t(fs * 2) % 4) / 20.0));
  WriteSoundFile(dir.Path("stepped.wav"), SF_FORMAT_WAV | SF_FORMAT_FLOAT, fs, 1, stepped);
  WriteSoundFile(dir.Path("stepped.flac"), SF_FORMAT_FLAC | SF_FORMAT_PCM_16, fs, 1, stepped);
  WriteSoundFile(dir.Path("stepped.mp3"), SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III, fs, 1, stepped);
  ExpectSameOutcome(dir.Path("stepped.wav"), "stepped wav");
  ExpectSameOutcome(dir.Path("stepped.flac"), "stepped flac");
  ExpectSameOutcome(dir.Path("stepped.mp3"), "stepped mp3");
  // Stereo FLAC: the decoder's own mix-down, written under the lock frame by frame.
  std::vector<float> stereo;
  for (std::size_t i = 0; i < stepped.size(); ++i)
    stereo.insert(stereo.end(), {stepped[i], 0.5f * stepped[(i + 7) % stepped.size()]});
  WriteSoundFile(dir.Path("stereo.flac"), SF_FORMAT_FLAC | SF_FORMAT_PCM_24, fs, 2, stereo);
  ExpectSameOutcome(dir.Path("stereo.flac"), "stereo flac");

  // A long quiet white-noise intro, 30 dB under the pink music after it. Judged by the intro alone
  // it is loud; the whole file's gate puts it below. Counting it would lift the top bands by
  // decibels.
  WriteSoundFile(dir.Path("intro.wav"), SF_FORMAT_WAV | SF_FORMAT_FLOAT, fs, 1,
                 Joined(WhiteNoise(std::size_t(fs) * 12, -40.0), PinkNoise(std::size_t(fs) * 8, 4)));
  ExpectSameOutcome(dir.Path("intro.wav"), "quiet intro");
  // And the other way round: a loud start too short to set the whole file's gate, then a long
  // quiet tail that the estimate from the start calls quiet and the whole file calls loud.
  WriteSoundFile(dir.Path("tail.wav"), SF_FORMAT_WAV | SF_FORMAT_FLOAT, fs, 1,
                 Joined(PinkNoise(std::size_t(fs * 1.5), 6), WhiteNoise(std::size_t(fs * 18.5), -34.0)));
  ExpectSameOutcome(dir.Path("tail.wav"), "loud start");
}

TEST(LearnWhileDecoding, FailsWithTheSameReasons)
{
  ScratchFolder dir;
  const int fs = 44100;
  WriteSoundFile(dir.Path("short.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, fs, 2,
                 PinkNoise(std::size_t(fs * 1.9) * 2, 7));
  WriteSoundFile(dir.Path("silent.wav"), SF_FORMAT_WAV | SF_FORMAT_FLOAT, fs, 1,
                 std::vector<float>(std::size_t(fs) * 5, 0.0f));
  // Loud for one second after a silent start: not two seconds above the gate.
  WriteSoundFile(dir.Path("brief.wav"), SF_FORMAT_WAV | SF_FORMAT_FLOAT, fs, 1,
                 Joined(std::vector<float>(std::size_t(fs) * 4, 0.0f), PinkNoise(std::size_t(fs), 8)));
  WriteSoundFile(dir.Path("song.ogg"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, fs, 1, PinkNoise(std::size_t(fs) * 3, 9));
  for (const char* name : {"short.wav", "silent.wav", "brief.wav", "song.ogg", "missing.flac"})
    ExpectSameOutcome(dir.Path(name), name);
  EXPECT_EQ(WhileDecoding(dir.Path("brief.wav")).error,
            "less than two seconds of the file was loud enough to learn from");
}
