#include "EngineHarness.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <memory>

using namespace morvellan;
using namespace morvellan::test;

namespace {

// Feeds a signal in control-step sized blocks, calling back after every step.
template <typename AfterStep>
void Steps(ToneEngine& engine, const Channels& input, AfterStep afterStep)
{
  const int n = static_cast<int>(input.size());
  std::vector<double> scratch(kControlInterval * n);
  for (std::size_t pos = 0; pos + kControlInterval <= input[0].size(); pos += kControlInterval)
  {
    const double* in[2] = {input[0].data() + pos, input[n - 1].data() + pos};
    double* out[2] = {scratch.data(), scratch.data() + kControlInterval * (n - 1)};
    engine.ProcessSamples(in, out, n, kControlInterval);
    if (!afterStep())
      return;
  }
}

void Feed(ToneEngine& engine, const Channels& input)
{
  Steps(engine, input, [] { return true; });
}

Channels Silence(std::size_t frames) { return {std::vector<double>(frames, 0.0), std::vector<double>(frames, 0.0)}; }

Channels PinkStereo(std::size_t frames, double amplitude = 0.3)
{
  return {PinkNoise(frames, amplitude, 21), PinkNoise(frames, amplitude, 22)};
}

ToneEngineSettings Correcting()
{
  ToneEngineSettings s;
  s.amount = 1.0;
  s.speed = 1.0;
  return s;
}

} // namespace

TEST(ToneEngineControl, ComputeBalanceIsRelativeToTheMiddleBands)
{
  std::array<double, kNumBands> powers{};
  std::array<bool, kNumBands> enabled{};
  const double levels[kNumBands] = {10, 4, 2, -2, 0, 1, -1, 3, -3, 7, 9, -50};
  for (int k = 0; k < kNumBands; ++k)
  {
    powers[k] = std::pow(10.0, levels[k] / 10.0);
    enabled[k] = k != 11;
  }
  const BandBalance b = ComputeBalance(powers, enabled);
  // Middle bands 2..8 average to 0 here, so every enabled band reads its own level.
  for (int k = 0; k < 11; ++k)
    EXPECT_NEAR(b[k], levels[k], 1e-12) << k;
  EXPECT_EQ(b[11], 0.0);
  powers.fill(0.0);
  const BandBalance silent = ComputeBalance(powers, enabled);
  EXPECT_NEAR(silent[0], 0.0, 1e-9); // all at the 1e-30 floor
}

// The gate qualifies a step once the input has been above the threshold for more than
// lookback + guard steps; learning then needs max(1, fs·3/32) qualifying steps.
TEST(ToneEngineControl, LearningCompletesAfterThreeSecondsOfQualifyingSteps)
{
  struct Case
  {
    double fs;
    int firstQualifying; // lookback + guard + 1
    int needed;          // ceil(fs · 3 / 32)
  };
  for (const Case& c : {Case{48000.0, 75 + 23 + 1, 4500}, Case{44100.0, 69 + 21 + 1, 4135}})
  {
    ToneEngine engine;
    ToneEngineSettings s;
    s.thresholdDb = -60.0;
    engine.ApplySettings(s);
    engine.Prepare(c.fs);
    engine.StartLearning();
    const Channels input = PinkStereo(static_cast<std::size_t>(c.firstQualifying + c.needed + 10) * kControlInterval);
    int step = 0;
    int completedAt = -1;
    Steps(engine, input, [&] {
      ++step;
      if (!engine.learning && completedAt < 0)
        completedAt = step;
      return completedAt < 0;
    });
    EXPECT_EQ(completedAt, c.firstQualifying + c.needed - 1) << c.fs;
    EXPECT_TRUE(engine.hasTarget);
    EXPECT_EQ(engine.learnsCompleted, 1u);
  }
}

TEST(ToneEngineControl, LearningDoesNotCountBelowTheThreshold)
{
  ToneEngine engine;
  engine.Prepare(48000.0);
  engine.StartLearning();
  Feed(engine, Silence(48000));
  Feed(engine, PinkStereo(48000, 0.0005)); // about -70 dB, below the -40 dB threshold
  EXPECT_TRUE(engine.learning);
  EXPECT_EQ(engine.learnCount, 0);
  EXPECT_FALSE(engine.hasTarget);
}

TEST(ToneEngineControl, PinkNoiseIsLearnedAsAFlatBalance)
{
  for (double fs : {44100.0, 48000.0})
  {
    ToneEngine engine;
    engine.Prepare(fs);
    engine.StartLearning();
    Feed(engine, PinkStereo(static_cast<std::size_t>(fs * 3.5)));
    ASSERT_TRUE(engine.hasTarget) << fs;
    for (int k = 0; k < kNumBands; ++k)
    {
      EXPECT_NEAR(engine.targetAbsolute[k], 0.0, 1.0) << fs << " band " << k;
      EXPECT_NEAR(engine.measuredBalance[k], 0.0, 2.0) << fs << " band " << k;
    }
  }
}

TEST(ToneEngineControl, CorrectionMovesTowardsTheTarget)
{
  const double fs = 48000.0;
  const Channels pink = PinkStereo(static_cast<std::size_t>(fs * 4));

  // A bass-heavy input is cut in the bass.
  {
    ToneEngine engine;
    engine.ApplySettings(Correcting());
    engine.Prepare(fs);
    Feed(engine, BassyPinkStereo(static_cast<std::size_t>(fs * 4), fs));
    EXPECT_LT(engine.designedGainDb[0], -2.0);
    EXPECT_LT(engine.designedGainDb[0], engine.designedGainDb[6] - 2.0);
    EXPECT_TRUE(engine.eqActive);
  }
  // A rising tilt on a flat input asks for treble and less bass.
  {
    ToneEngine engine;
    ToneEngineSettings s = Correcting();
    s.tiltDbPerOct = 3.0;
    engine.ApplySettings(s);
    engine.Prepare(fs);
    Feed(engine, pink);
    EXPECT_GT(engine.designedGainDb[10], 1.0);
    EXPECT_LT(engine.designedGainDb[0], -1.0);
    EXPECT_GT(engine.designedGainDb[9], engine.designedGainDb[3]);
  }
  // A Presence target lifts the bands around 3 kHz above their neighbours.
  {
    ToneEngine engine;
    ToneEngineSettings s = Correcting();
    s.targetBands[2].gainDb = 6.0;
    engine.ApplySettings(s);
    engine.Prepare(fs);
    Feed(engine, pink);
    EXPECT_GT(engine.designedGainDb[7], engine.designedGainDb[4] + 2.0);
    EXPECT_GT(engine.designedGainDb[7], engine.designedGainDb[11] + 2.0);
  }
  // A loaded target with more bass lifts the bass of a flat input; the two channels share gains.
  {
    ToneEngine engine;
    engine.ApplySettings(Correcting());
    engine.Prepare(fs);
    BandBalance t{};
    t[0] = t[1] = 5.0;
    engine.SetTargetBalance(t);
    Feed(engine, pink);
    EXPECT_GT(engine.designedGainDb[0], 2.0);
    for (int k = 0; k < kNumBands; ++k)
    {
      EXPECT_EQ(engine.correction[0][k].b0, engine.correction[1][k].b0);
      EXPECT_EQ(engine.correction[0][k].a2, engine.correction[1][k].a2);
    }
  }
}

TEST(ToneEngineControl, GainsSlewAtMostFiveHundredthsOfADbPerStepAndStayWithin24Db)
{
  const double fs = 48000.0;
  ToneEngine engine;
  ToneEngineSettings s = Correcting();
  s.tiltDbPerOct = 6.0;
  s.maxBoostDb = 60.0;
  s.maxCutDb = 60.0;
  engine.ApplySettings(s);
  engine.Prepare(fs);
  ToneEngine::Row previous = engine.currentGainDb;
  double largest = 0.0;
  double largestStep = 0.0;
  Steps(engine, BassyPinkStereo(static_cast<std::size_t>(fs * 6), fs), [&] {
    for (int k = 0; k < kNumBands; ++k)
    {
      largestStep = std::max(largestStep, std::fabs(engine.currentGainDb[k] - previous[k]));
      largest = std::max(largest, std::fabs(engine.currentGainDb[k]));
      EXPECT_LE(std::fabs(engine.designedGainDb[k] - engine.currentGainDb[k]), 0.01 + 1e-12);
    }
    previous = engine.currentGainDb;
    return true;
  });
  EXPECT_LE(largestStep, 0.05 + 1e-12);
  EXPECT_GT(largestStep, 0.049); // the slew limit was reached
  EXPECT_EQ(largest, kMaxBandGainDb);
}

TEST(ToneEngineControl, BandsDisabledAtLowRatesStayFlat)
{
  const double fs = 32000.0;
  ToneEngine engine;
  ToneEngineSettings s = Correcting();
  s.tiltDbPerOct = 4.0;
  engine.ApplySettings(s);
  engine.Prepare(fs);
  Feed(engine, PinkStereo(static_cast<std::size_t>(fs * 3)));
  EXPECT_GT(engine.designedGainDb[10], 1.0);
  EXPECT_EQ(engine.designedGainDb[11], 0.0);
  EXPECT_EQ(engine.currentGainDb[11], 0.0);
  EXPECT_EQ(engine.correction[0][11].b0, 1.0);
  EXPECT_EQ(engine.correction[1][11].a1, 0.0);
}

TEST(ToneEngineControl, AmountZeroReturnsToATransparentPath)
{
  const double fs = 48000.0;
  ToneEngine engine;
  engine.ApplySettings(Correcting());
  engine.Prepare(fs);
  Feed(engine, BassyPinkStereo(static_cast<std::size_t>(fs * 3), fs));
  ASSERT_TRUE(engine.eqActive);
  ToneEngineSettings s = Correcting();
  s.amount = 0.0;
  engine.ApplySettings(s);
  Feed(engine, BassyPinkStereo(static_cast<std::size_t>(fs * 3), fs));
  EXPECT_FALSE(engine.eqActive);
  for (int c = 0; c < 2; ++c)
    for (int k = 0; k < kNumBands; ++k)
    {
      EXPECT_EQ(engine.designedGainDb[k], 0.0);
      EXPECT_EQ(engine.correction[c][k].z1, 0.0);
      EXPECT_EQ(engine.correction[c][k].z2, 0.0);
    }
  const Channels more = PinkStereo(4800);
  const Channels out = RunEngine(engine, more, {100});
  EXPECT_EQ(out[0], more[0]);
  EXPECT_EQ(out[1], more[1]);
}

TEST(ToneEngineControl, ShortBurstsNeverReachTheAverages)
{
  const double fs = 48000.0;
  ToneEngine engine;
  engine.ApplySettings(Correcting());
  engine.Prepare(fs);
  // 20 steps of material about 10 dB over the threshold: with the 10 ms power average decaying
  // afterwards it stays above for well under lookback + guard = 98 steps.
  Channels burst = PinkStereo(20 * kControlInterval, 0.1);
  Channels quiet = Silence(fs);
  Feed(engine, quiet);
  Feed(engine, burst);
  Feed(engine, quiet);
  EXPECT_EQ(engine.measuredBalance[5], -1000.0);
  EXPECT_EQ(engine.smoothedBandDb[5], -1000.0);
  EXPECT_FALSE(engine.eqActive);
  // The same material for 300 steps does qualify.
  Feed(engine, PinkStereo(300 * kControlInterval, 0.1));
  EXPECT_GT(engine.measuredBalance[5], -1000.0);
  EXPECT_GT(engine.smoothedBandDb[5], -1000.0);
}

TEST(ToneEngineControl, BelowTheThresholdAveragesHoldAndTheNoiseFloorFollows)
{
  const double fs = 48000.0;
  ToneEngine engine;
  engine.ApplySettings(Correcting());
  engine.Prepare(fs);
  Feed(engine, PinkStereo(static_cast<std::size_t>(fs * 2)));
  EXPECT_EQ(engine.noiseFloorDb[4], -1000.0); // never below the threshold yet
  // Rows read 50 ms late still count while the gate holds during the first moments of quiet.
  const Channels quiet = {PinkNoise(static_cast<std::size_t>(fs * 6), 0.0003, 5),
                          PinkNoise(static_cast<std::size_t>(fs * 6), 0.0003, 6)};
  Feed(engine, {std::vector<double>(quiet[0].begin(), quiet[0].begin() + 9600),
                std::vector<double>(quiet[1].begin(), quiet[1].begin() + 9600)});
  const ToneEngine::Row measured = engine.measuredBalance;
  const ToneEngine::Row smoothed = engine.smoothedBandDb;
  Feed(engine, quiet);
  EXPECT_EQ(engine.measuredBalance, measured);
  EXPECT_EQ(engine.smoothedBandDb, smoothed);
  // With its 2 s time constant the floor has almost reached the quiet level, 60 dB under the loud one.
  EXPECT_LT(engine.noiseFloorDb[4], smoothed[4] - 50.0);
  EXPECT_GT(engine.noiseFloorDb[4], smoothed[4] - 70.0);
}

TEST(ToneEngineControl, NoBoostWithinSixDbOfTheNoiseFloorButCutsStillApply)
{
  const double fs = 48000.0;
  ToneEngine engine;
  ToneEngineSettings s = Correcting();
  s.tiltDbPerOct = 3.0;
  engine.ApplySettings(s);
  engine.Prepare(fs);
  const Channels input = BassyPinkStereo(static_cast<std::size_t>(fs * 3), fs);
  Feed(engine, input);
  ASSERT_GT(engine.designedGainDb[10], 0.5);
  ASSERT_LT(engine.designedGainDb[0], -1.0);
  // Pretend every band sits 3 dB above its noise floor; the floor does not move while loud.
  for (int k = 0; k < kNumBands; ++k)
    engine.noiseFloorDb[k] = engine.smoothedBandDb[k] - 3.0;
  Feed(engine, input);
  const double worstBoost = *std::max_element(engine.designedGainDb.begin(), engine.designedGainDb.end());
  // Only the matrix spill-over of neighbouring cuts may leave a band slightly positive.
  EXPECT_LT(worstBoost, 0.5);
  EXPECT_LT(engine.designedGainDb[10], engine.designedGainDb[6] + 0.5);
  EXPECT_LT(engine.designedGainDb[0], -1.0);
}

TEST(ToneEngineControl, TargetOperations)
{
  ToneEngine engine;
  ToneEngineSettings s;
  s.tiltDbPerOct = 2.0;
  engine.ApplySettings(s);
  engine.Prepare(32000.0);
  BandBalance t{};
  t.fill(1.5);
  engine.SetTargetBalance(t);
  EXPECT_TRUE(engine.hasTarget);
  EXPECT_EQ(engine.targetAbsolute, t);
  EXPECT_NEAR(engine.targetRelative[0], 1.5 - 2.0 * std::log2(0.1), 1e-12);
  EXPECT_EQ(engine.targetRelative[11], 0.0); // disabled at 32 kHz

  engine.StartLearning();
  BandBalance rel{}, abs{};
  rel[3] = 4.0;
  abs[3] = 5.0;
  engine.RestoreTarget(rel, abs);
  EXPECT_FALSE(engine.learning);
  EXPECT_EQ(engine.targetRelative, rel);
  EXPECT_EQ(engine.targetAbsolute, abs);
  EXPECT_EQ(engine.learnsCompleted, 0u);

  engine.ClearLearnedTarget();
  EXPECT_FALSE(engine.hasTarget);
  EXPECT_EQ(engine.targetRelative, BandBalance{});
  EXPECT_EQ(engine.targetAbsolute, BandBalance{});
}

// A cancel, a host reset or a restored target also end learning; only reaching the step count is a
// completed learn, which the owner tells by the completion counter.
TEST(ToneEngineControl, OnlyReachingTheLearnCountCompletesALearn)
{
  ToneEngine engine;
  ToneEngineSettings s;
  s.thresholdDb = -60.0;
  engine.ApplySettings(s);
  engine.Prepare(8000.0); // 750 qualifying steps
  BandBalance old{};
  old.fill(1.0);
  engine.SetTargetBalance(old);
  const Channels input = PinkStereo(8000);

  engine.StartLearning();
  Feed(engine, input);
  engine.StopLearning();
  engine.StartLearning();
  Feed(engine, input);
  engine.Prepare(8000.0);
  engine.StartLearning();
  Feed(engine, input);
  engine.RestoreTarget(old, old);
  EXPECT_FALSE(engine.learning);
  EXPECT_EQ(engine.learnsCompleted, 0u);
  EXPECT_EQ(engine.targetAbsolute, old);

  engine.StartLearning();
  int steps = 0;
  Steps(engine, PinkStereo(8000 * 4), [&] {
    ++steps;
    return engine.learning;
  });
  EXPECT_FALSE(engine.learning);
  EXPECT_EQ(engine.learnsCompleted, 1u);
  EXPECT_NE(engine.targetAbsolute, old);
  EXPECT_GE(steps, 750);
}

namespace {

constexpr double kFs = 48000.0;

double TransferDb(const BiquadCoefficients& c, double f)
{
  const std::complex<double> z1 = std::polar(1.0, -2.0 * M_PI * f / kFs);
  return 20.0 * std::log10(std::abs((c.b0 + c.b1 * z1 + c.b2 * z1 * z1) / (1.0 + c.a1 * z1 + c.a2 * z1 * z1)));
}

// Gains that bring the band errors w to zero: solves A·t = w, where A[i][j] is the response at
// centre i per dB of a +6 dB peak at centre j (all bands are enabled at 48 kHz).
ToneEngine::Row SolveForGains(const ToneEngine::Row& w)
{
  double a[kNumBands][kNumBands + 1];
  for (int i = 0; i < kNumBands; ++i)
  {
    for (int j = 0; j < kNumBands; ++j)
      a[i][j] = TransferDb(DesignPeaking(kBandCentresHz[j], 6.0, kBandQ, kFs), kBandCentresHz[i]) / 6.0;
    a[i][kNumBands] = w[i];
  }
  for (int k = 0; k < kNumBands; ++k) // diagonally dominant: no pivoting needed
    for (int i = 0; i < kNumBands; ++i)
      if (i != k)
      {
        const double f = a[i][k] / a[k][k];
        for (int j = k; j <= kNumBands; ++j)
          a[i][j] -= f * a[k][j];
      }
  ToneEngine::Row t{};
  for (int i = 0; i < kNumBands; ++i)
    t[i] = a[i][kNumBands] / a[i][i];
  return t;
}

double StepCoef(double seconds) { return 1.0 - std::exp(-kControlInterval / (kFs * seconds)); }

// One gain update: release while shrinking or changing sign, at most 0.05 dB, snapping when close.
double NextGain(double cur, double t, double attack, double release)
{
  const double coef = (std::fabs(cur) > std::fabs(t) || cur * t < 0.0) ? release : attack;
  const double next = cur + std::clamp(coef * (t - cur), -0.05, 0.05);
  return std::fabs(t - next) < 0.005 ? t : next;
}

} // namespace

// A measurement planted at the target, then the target bands and tilt move: one control step must
// aim at the whole shift of the desired curve (its mean over the middle bands included), limited
// per band, held back near the noise floor and weighted by the range and the switched-off band.
TEST(ToneEngineControl, OneStepAimsAtTheLimitedWeightedErrorThroughTheMatrix)
{
  auto engine = std::make_unique<ToneEngine>();
  ToneEngineSettings s;
  s.amount = 1.0;
  s.speed = 1.0; // attack 0.16 s, release 0.1 s
  s.maxCutDb = 4.0;
  s.rangeLowHz = 120.0;
  engine->ApplySettings(s);
  engine->Prepare(kFs);
  BandBalance target{};
  for (int k = 0; k < kNumBands; ++k)
    target[k] = 0.3 * k - 1.0;
  engine->SetTargetBalance(target);
  engine->measuredBalance = target;
  engine->smoothedBandDb.fill(-20.0);
  engine->noiseFloorDb[9] = -24.0;  // 4 dB above the floor: no boost at all
  engine->noiseFloorDb[10] = -32.0; // 12 dB above: half the largest boost

  s.targetBands[1].gainDb = 4.0; // Body, 300 Hz
  s.tiltDbPerOct = 1.5;
  s.targetBands[3].on = false; // Air, 10 kHz
  engine->ApplySettings(s);
  engine->ControlStep();

  ToneEngine::Row w{};
  for (int k = 0; k < kNumBands; ++k)
  {
    const double c = kBandCentresHz[k];
    const double body = std::log2(c / 300.0);
    const double shift = 4.0 * std::exp(-body * body / 0.98) + 1.5 * std::log2(c / 1000.0);
    double e = std::clamp(shift, -4.0, 6.0);
    if (k == 9)
      e = 0.0;
    if (k == 10)
      e = std::min(e, 3.0);
    const double air = std::log2(c / 10000.0);
    const double exclusion = 1.0 - std::exp(-air * air / 0.605);
    const double below = std::log2(120.0 / c); // octaves under the range's low edge
    const double range = below <= 0.0 ? 1.0 : (std::cos(below * 3.0 * M_PI) + 1.0) * 0.5;
    w[k] = e * exclusion * range;
  }
  ASSERT_LT(w[0], 0.0);
  ASSERT_GT(w[11], 0.0);
  const ToneEngine::Row t = SolveForGains(w);
  const double attack = StepCoef(0.16), release = StepCoef(0.1);
  for (int k = 0; k < kNumBands; ++k)
    EXPECT_NEAR(engine->currentGainDb[k], NextGain(0.0, t[k], attack, release), 1e-9) << k;

  // Second step from planted gains: larger than the aim, of the other sign, smaller, or almost there.
  ToneEngine::Row cur{};
  int slewLimited = 0;
  for (int k = 0; k < kNumBands; ++k)
  {
    const double factors[4] = {2.0, -3.0, 0.5, 1.0};
    cur[k] = t[k] * factors[k % 4] + (k % 4 == 3 ? 0.004 : 0.0);
    if (std::fabs(release * (t[k] - cur[k])) > 0.05)
      ++slewLimited;
  }
  ASSERT_GT(slewLimited, 0);
  engine->currentGainDb = cur;
  const ToneEngine::Row designedBefore = engine->designedGainDb;
  engine->ControlStep();
  int arrived = 0;
  for (int k = 0; k < kNumBands; ++k)
  {
    const double expected = NextGain(cur[k], t[k], attack, release);
    EXPECT_NEAR(engine->currentGainDb[k], expected, 1e-9) << k;
    // Sections follow a gain once it is 0.01 dB from their design, or exactly when it arrived.
    const double gain = engine->currentGainDb[k];
    const bool atAim = gain == t[k] || (k % 4 == 3);
    arrived += k % 4 == 3 && gain != designedBefore[k];
    if (std::fabs(gain - designedBefore[k]) > 0.0101 || (atAim && gain != designedBefore[k]))
    {
      EXPECT_EQ(engine->designedGainDb[k], gain) << k;
      EXPECT_DOUBLE_EQ(engine->correction[1][k].b0, DesignPeaking(kBandCentresHz[k], gain, kBandQ, kFs).b0) << k;
    }
    else if (std::fabs(gain - designedBefore[k]) < 0.0099)
    {
      EXPECT_EQ(engine->designedGainDb[k], designedBefore[k]) << k;
    }
  }
  EXPECT_GT(arrived, 0);
  EXPECT_TRUE(engine->eqActive);
}

// A learn that reaches its count: the sums take the delayed history row, and the target is stored
// both as the balance heard and relative to the compensated desired curve.
TEST(ToneEngineControl, CompletedLearnStoresTheBalanceWithoutTheFilterCompensation)
{
  auto engine = std::make_unique<ToneEngine>();
  ToneEngineSettings s;
  s.hpOn = true;
  s.hpFreqHz = 200.0;
  s.tiltDbPerOct = 1.0;
  s.preEqBands[2].gainDb = 5.0; // peak at 2500 Hz, q 1
  s.respect = 0.5;
  engine->ApplySettings(s);
  engine->Prepare(kFs);
  engine->StartLearning();
  ToneEngine::Row row{}, rowPower{}, sums{};
  for (int k = 0; k < kNumBands; ++k)
  {
    row[k] = -20.0 + 1.5 * k - (k == 4 ? 7.0 : 0.0);
    rowPower[k] = std::pow(10.0, row[k] / 10.0);
    sums[k] = std::pow(10.0, (k - 5) / 10.0);
  }
  engine->levelHistory.fill(row);
  engine->powerHistory.fill(rowPower);
  engine->learnSums = sums;
  engine->learnCount = 4499;                                  // one short of 3 s at 48 kHz
  engine->aboveCount = engine->lookback + engine->guard;      // the next step qualifies
  engine->inputPower = 1.0;                                   // 0 dB, above the -40 dB gate
  engine->ControlStep();

  ASSERT_FALSE(engine->learning);
  EXPECT_TRUE(engine->hasTarget);
  EXPECT_EQ(engine->learnsCompleted, 1u);
  double levels[kNumBands], mid = 0.0, midRow = 0.0;
  for (int k = 0; k < kNumBands; ++k)
  {
    levels[k] = 10.0 * std::log10(sums[k] + std::pow(10.0, row[k] / 10.0));
    if (k >= 2 && k <= 8)
    {
      mid += levels[k] / 7.0;
      midRow += row[k] / 7.0;
    }
  }
  const auto hp = DesignHighPass(200.0, kFs);
  const auto peak = DesignPeaking(2500.0, 5.0, 1.0, kFs);
  for (int k = 0; k < kNumBands; ++k)
  {
    const double c = kBandCentresHz[k];
    const double compensation = TransferDb(hp, c) + 0.5 * TransferDb(peak, c);
    const double heard = levels[k] - mid;
    EXPECT_NEAR(engine->targetAbsolute[k], heard - compensation, 1e-9) << k;
    EXPECT_NEAR(engine->targetRelative[k], heard - compensation - std::log2(c / 1000.0), 1e-9) << k;
    // First qualifying step: the averages start from the delayed row itself.
    EXPECT_EQ(engine->smoothedBandDb[k], row[k]);
    EXPECT_NEAR(engine->measuredBalance[k], row[k] - midRow, 1e-9) << k;
  }
}

// The gate opens only strictly above the threshold, measured on the mean-square input power.
TEST(ToneEngineControl, GateOpensOnlyAboveTheThreshold)
{
  auto engine = std::make_unique<ToneEngine>();
  ToneEngineSettings s;
  s.thresholdDb = -40.0;
  engine->ApplySettings(s);
  engine->Prepare(kFs);
  engine->inputPower = 1e-4; // exactly -40 dB
  engine->ControlStep();
  EXPECT_FALSE(engine->aboveThreshold);
  EXPECT_EQ(engine->belowCount, 1);
  engine->inputPower = 1.0001e-4;
  engine->ControlStep();
  EXPECT_TRUE(engine->aboveThreshold);
  EXPECT_EQ(engine->aboveCount, 1);
  EXPECT_EQ(engine->belowCount, 0);
}

// Weeks on one side of the threshold: the step counters stop at their largest value instead of
// wrapping negative, so loud input keeps qualifying and quiet input keeps feeding the noise floor.
TEST(ToneEngineControl, StepCountersSaturateInsteadOfWrapping)
{
  constexpr std::int32_t kMax = 2147483647;
  auto engine = std::make_unique<ToneEngine>();
  ToneEngineSettings s;
  s.thresholdDb = -40.0;
  engine->ApplySettings(s);
  engine->Prepare(kFs);

  engine->inputPower = 1.0; // 0 dB, above the gate
  engine->aboveCount = kMax - 1;
  engine->ControlStep();
  EXPECT_EQ(engine->aboveCount, kMax);
  EXPECT_GT(engine->measuredBalance[0], -1000.0);

  engine->measuredBalance.fill(-1000.0);
  engine->StartLearning();
  engine->learnCount = kMax;
  engine->ControlStep();
  EXPECT_EQ(engine->aboveCount, kMax);
  EXPECT_GT(engine->measuredBalance[0], -1000.0) << "still qualifies";
  EXPECT_EQ(engine->learnCount, kMax);
  EXPECT_TRUE(engine->hasTarget);
  EXPECT_FALSE(engine->learning);

  engine->inputPower = 0.0;
  engine->belowCount = kMax - 1;
  engine->ControlStep();
  EXPECT_EQ(engine->aboveCount, 0);
  EXPECT_EQ(engine->belowCount, kMax);
  engine->noiseFloorDb.fill(-1000.0);
  engine->ControlStep();
  EXPECT_EQ(engine->belowCount, kMax);
  EXPECT_GT(engine->noiseFloorDb[4], -1000.0) << "the noise floor still follows";
}
