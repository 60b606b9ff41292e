#include "AudioFileWriter.h"
#include "ExactToneEngine.h"
#include "ReferenceFileReader.h"
#include "ReferenceLearner.h"
#include "ToneEngine.h"
#include "ToneEngineSettings.h"
#include "VectorMath.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <numeric>

using namespace morvellan;
using morvellan::testing::PinkNoise;
using morvellan::testing::ScratchFolder;
using morvellan::testing::WriteSoundFile;

namespace {

struct Learned
{
  bool ok = false;
  BandBalance balance{};
  std::string error;
};

Learned Learn(const std::vector<float>& samples, double fs)
{
  Learned r;
  r.balance.fill(12345.0); // must be overwritten on success, left alone on failure
  r.ok = LearnTargetFromSamples(samples, fs, r.balance, r.error);
  return r;
}

bool EnabledAt(int k, double fs) { return 0.45 * fs > kBandCentresHz[std::size_t(k)]; }

double MiddleMean(const BandBalance& b, double fs)
{
  double sum = 0;
  int n = 0;
  for (int k = 2; k <= 8; ++k)
    if (EnabledAt(k, fs))
    {
      sum += b[std::size_t(k)];
      ++n;
    }
  return sum / n;
}

// White noise: power per unit of ln f grows with f, so each band reads 10·log10(centre) above a
// common offset. Returns the balance that implies, relative to the enabled middle bands.
BandBalance WhiteNoiseBalance(double fs)
{
  BandBalance expected{};
  double mean = 0;
  int n = 0;
  for (int k = 2; k <= 8; ++k)
    if (EnabledAt(k, fs))
    {
      mean += 10.0 * std::log10(kBandCentresHz[std::size_t(k)]);
      ++n;
    }
  mean /= n;
  for (int k = 0; k < kNumBands; ++k)
    expected[std::size_t(k)] = EnabledAt(k, fs) ? 10.0 * std::log10(kBandCentresHz[std::size_t(k)]) - mean : 0.0;
  return expected;
}

std::vector<float> WhiteNoise(std::size_t n, std::uint32_t seed, double amplitude)
{
  std::vector<float> v(n);
  std::uint32_t s = seed;
  for (auto& x : v)
  {
    s = s * 1664525u + 1013904223u;
    x = float(amplitude * (double(s) / 2147483648.0 - 1.0));
  }
  return v;
}

} // namespace

TEST(ReferenceLearner, PinkNoiseLearnsAFlatBalance)
{
  for (double fs : {44100.0, 48000.0, 96000.0})
  {
    const Learned r = Learn(PinkNoise(std::size_t(fs * 12), 7), fs);
    ASSERT_TRUE(r.ok) << r.error;
    for (int k = 0; k < kNumBands; ++k)
      EXPECT_NEAR(r.balance[std::size_t(k)], 0.0, 1.0) << "band " << k << " at " << fs;
    EXPECT_NEAR(MiddleMean(r.balance, fs), 0.0, 1e-9);
  }
}

TEST(ReferenceLearner, WhiteNoiseRisesThreeDecibelsPerOctave)
{
  const double fs = 48000.0;
  const Learned r = Learn(WhiteNoise(std::size_t(fs * 10), 3, 0.3), fs);
  ASSERT_TRUE(r.ok) << r.error;
  const BandBalance expected = WhiteNoiseBalance(fs);
  for (int k = 0; k < kNumBands; ++k)
    EXPECT_NEAR(r.balance[std::size_t(k)], expected[std::size_t(k)], 1.0) << "band " << k;
}

TEST(ReferenceLearner, BandsALowRateCannotCarryStayAtZeroAndOutOfTheMean)
{
  // 32 kHz: band 11 is disabled. 8 kHz: bands 8 to 11, so the middle mean covers bands 2 to 7.
  for (double fs : {32000.0, 8000.0})
  {
    const Learned pink = Learn(PinkNoise(std::size_t(fs * 12), 11), fs);
    ASSERT_TRUE(pink.ok) << pink.error;
    const Learned white = Learn(WhiteNoise(std::size_t(fs * 12), 5, 0.3), fs);
    ASSERT_TRUE(white.ok) << white.error;
    const BandBalance expected = WhiteNoiseBalance(fs);
    for (int k = 0; k < kNumBands; ++k)
    {
      if (EnabledAt(k, fs))
      {
        EXPECT_NEAR(pink.balance[std::size_t(k)], 0.0, 1.0) << "band " << k << " at " << fs;
        EXPECT_NEAR(white.balance[std::size_t(k)], expected[std::size_t(k)], 1.0) << "band " << k << " at " << fs;
      }
      else
      {
        EXPECT_EQ(pink.balance[std::size_t(k)], 0.0) << "band " << k << " at " << fs;
        EXPECT_EQ(white.balance[std::size_t(k)], 0.0) << "band " << k << " at " << fs;
      }
    }
    EXPECT_NEAR(MiddleMean(white.balance, fs), 0.0, 1e-9);
  }
}

TEST(ReferenceLearner, TooShortAtAnyRate)
{
  for (double fs : {8000.0, 44100.0, 96000.0})
  {
    const Learned r = Learn(PinkNoise(std::size_t(fs * 1.9), 1), fs);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.error, "the file is too short to learn from");
    EXPECT_EQ(r.balance[0], 12345.0);
  }
  EXPECT_EQ(Learn({}, 48000.0).error, "the file is too short to learn from");
}

TEST(ReferenceLearner, SilenceAndNearSilenceAreRefused)
{
  const double fs = 48000.0;
  EXPECT_EQ(Learn(std::vector<float>(std::size_t(fs * 5), 0.0f), fs).error,
            "the file is silent or too quiet to learn from");
  // Noise at about -95 dB RMS.
  EXPECT_EQ(Learn(WhiteNoise(std::size_t(fs * 5), 9, 3e-5), fs).error,
            "the file is silent or too quiet to learn from");
}

TEST(ReferenceLearner, LoudnessMustLastTwoSecondsAfterTheWarmUp)
{
  const double fs = 48000.0;
  auto silenceWithNoise = [&](double seconds, double from, double length) {
    std::vector<float> v(std::size_t(fs * seconds), 0.0f);
    const std::vector<float> noise = PinkNoise(std::size_t(fs * length), 2);
    std::copy(noise.begin(), noise.end(), v.begin() + std::ptrdiff_t(fs * from));
    return v;
  };
  // Loud in the first half second only (more than a tenth of the file, so not "silent"): the warm-up
  // skips it. Then loud for 1.5 s and for 3 s later in the file.
  EXPECT_EQ(Learn(silenceWithNoise(4.0, 0.0, 0.5), fs).error,
            "less than two seconds of the file was loud enough to learn from");
  EXPECT_EQ(Learn(silenceWithNoise(4.0, 1.0, 1.5), fs).error,
            "less than two seconds of the file was loud enough to learn from");
  EXPECT_TRUE(Learn(silenceWithNoise(6.0, 1.0, 3.0), fs).ok);
}

TEST(ReferenceLearner, NonFiniteSamplesCountAsSilence)
{
  const double fs = 48000.0;
  std::vector<float> pink = PinkNoise(std::size_t(fs * 8), 21);
  for (std::size_t i = 1000; i < pink.size(); i += 4801)
    pink[i] = (i % 2) ? std::numeric_limits<float>::quiet_NaN() : std::numeric_limits<float>::infinity();
  const Learned r = Learn(pink, fs);
  ASSERT_TRUE(r.ok) << r.error;
  for (int k = 0; k < kNumBands; ++k)
  {
    ASSERT_TRUE(std::isfinite(r.balance[std::size_t(k)]));
    EXPECT_NEAR(r.balance[std::size_t(k)], 0.0, 1.5) << "band " << k;
  }
  EXPECT_EQ(Learn(pink, std::nan("")).error, "the file's sample rate is not usable");
  EXPECT_EQ(Learn(pink, 0.0).error, "the file's sample rate is not usable");
}

TEST(ReferenceLearner, LowRateFilesLearnWithTheirOwnBands)
{
  ScratchFolder dir;
  struct Case
  {
    const char* name;
    int format;
    int rate;
  };
  for (const Case& c : {Case{"low.mp3", SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III, 32000},
                        Case{"phone.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 8000}})
  {
    const std::vector<float> pink = PinkNoise(std::size_t(c.rate) * 8, 23);
    WriteSoundFile(dir.Path(c.name), c.format, c.rate, 1, pink);
    AudioData audio;
    std::string error;
    ASSERT_TRUE(LoadAudioFile(dir.Path(c.name), audio, error, kReferenceMaxSeconds)) << error;
    EXPECT_EQ(audio.sampleRate, double(c.rate));
    const Learned r = Learn(audio.samples, audio.sampleRate);
    ASSERT_TRUE(r.ok) << c.name << ": " << r.error;
    for (int k = 0; k < kNumBands; ++k)
    {
      if (!EnabledAt(k, c.rate))
      {
        EXPECT_EQ(r.balance[std::size_t(k)], 0.0) << c.name << " band " << k;
      }
      else if (kBandCentresHz[std::size_t(k)] < 0.3 * c.rate) // below where lossy coding trims
      {
        EXPECT_NEAR(r.balance[std::size_t(k)], 0.0, 1.0) << c.name << " band " << k;
      }
    }
    EXPECT_NEAR(MiddleMean(r.balance, c.rate), 0.0, 1e-9);
  }
}

namespace {

// The gate: 20 dB below the 90th percentile of the 50 ms block levels.
double GateDb(const std::vector<float>& x, double fs)
{
  const std::size_t b = std::size_t(fs * 0.05);
  std::vector<double> levels;
  for (std::size_t j = 0; (j + 1) * b <= x.size(); ++j)
  {
    double sum = 0;
    for (std::size_t i = j * b; i < (j + 1) * b; ++i)
      sum += double(x[i]) * double(x[i]);
    levels.push_back(10.0 * std::log10(sum / double(b) + 1e-30));
  }
  std::sort(levels.begin(), levels.end());
  return levels[levels.size() * 9 / 10] - 20.0;
}

// The learning rule run step by step on a fresh engine with nothing left out: 50 ms block levels,
// their 90th percentile, a gate 20 dB below it, 32-sample steps after a half-second warm-up, and
// the mean power of the engine's calibrated band levels over the gated steps.
BandBalance LearnDirectly(const std::vector<float>& x, double fs)
{
  auto engine = std::make_unique<ToneEngine>();
  engine->Prepare(fs);
  ToneEngineSettings settings;
  settings.amount = 0.0;
  settings.thresholdDb = GateDb(x, fs);
  engine->ApplySettings(settings);
  std::array<double, kNumBands> sums{};
  float out[32];
  for (std::size_t pos = 0; pos + 32 <= x.size(); pos += 32)
  {
    const float* in[1] = {x.data() + pos};
    float* outs[1] = {out};
    engine->ProcessSamples(in, outs, 1, 32);
    if (pos >= std::size_t(fs * 0.5) && engine->aboveThreshold)
      for (int k = 0; k < kNumBands; ++k)
        sums[std::size_t(k)] += engine->latestBandPower[std::size_t(k)];
  }
  return ComputeBalance(sums, engine->bandEnabled);
}

} // namespace

TEST(ReferenceLearner, MatchesTheRuleRunStepByStepOnAFreshEngine)
{
  // Bursts of shaped noise between quiet gaps, so that the gate, the warm-up and the percentile
  // all decide something; 32 kHz leaves the top band out.
  for (double fs : {32000.0, 48000.0})
  {
    std::vector<float> x = WhiteNoise(std::size_t(fs * 9), 17, 0.4);
    double low = 0;
    for (std::size_t t = 0; t < x.size(); ++t)
    {
      low += (double(x[t]) - low) * 0.03;
      const bool gap = (t / std::size_t(fs * 0.7)) % 3 == 1;
      x[t] = float((gap ? 0.002 : 1.0) * (0.5 * x[t] + 3.0 * low));
    }
    const Learned r = Learn(x, fs);
    ASSERT_TRUE(r.ok) << r.error;
    // The same arithmetic in the same order: equal to the last bit.
    const BandBalance expected = LearnDirectly(x, fs);
    for (int k = 0; k < kNumBands; ++k)
      EXPECT_EQ(r.balance[std::size_t(k)], expected[std::size_t(k)]) << "band " << k << " at " << fs;
  }
}

// The learned balance against the same rule run on the one-rounding engine with the C library's
// log10 and pow: the fused and vectorised arithmetic moves it by far less than a billionth of a dB.
TEST(ReferenceLearner, StaysWithinABillionthOfADecibelOfTheOneRoundingArithmetic)
{
  for (double fs : {44100.0, 48000.0})
  {
    const std::vector<float> x = PinkNoise(std::size_t(fs * 9), 31);
    const Learned r = Learn(x, fs);
    ASSERT_TRUE(r.ok) << r.error;

    auto engine = std::make_unique<exact::ToneEngine>();
    engine->Prepare(fs);
    ToneEngineSettings settings;
    settings.amount = 0.0;
    settings.thresholdDb = GateDb(x, fs);
    engine->ApplySettings(settings);
    std::array<double, kNumBands> sums{};
    float out[32];
    for (std::size_t pos = 0; pos + 32 <= x.size(); pos += 32)
    {
      const float* in[1] = {x.data() + pos};
      float* outs[1] = {out};
      engine->ProcessSamples(in, outs, 1, 32);
      if (pos >= std::size_t(fs * 0.5) && engine->aboveThreshold)
        for (int k = 0; k < kNumBands; ++k)
          sums[std::size_t(k)] += std::pow(10.0, engine->latestBandDb[std::size_t(k)] / 10.0);
    }
    const BandBalance expected = exact::ComputeBalance(sums, engine->bandEnabled);
    for (int k = 0; k < kNumBands; ++k)
      EXPECT_NEAR(r.balance[std::size_t(k)], expected[std::size_t(k)], 1e-9) << "band " << k << " at " << fs;
  }
}
