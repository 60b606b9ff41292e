#include "EngineHarness.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>

using namespace morvellan;
using namespace morvellan::test;

namespace {

std::complex<double> Response(const BiquadCoefficients& c, double f, double fs)
{
  const std::complex<double> z1 = std::polar(1.0, -2.0 * M_PI * f / fs);
  return (c.b0 + c.b1 * z1 + c.b2 * z1 * z1) / (1.0 + c.a1 * z1 + c.a2 * z1 * z1);
}

} // namespace

TEST(ToneEngineSetup, TimeConstantsInControlSteps)
{
  ToneEngine engine;
  engine.Prepare(48000.0);
  EXPECT_EQ(engine.lookback, 75); // 50 ms
  EXPECT_EQ(engine.guard, 23);    // 15 ms
  engine.Prepare(44100.0);
  EXPECT_EQ(engine.lookback, 69);
  EXPECT_EQ(engine.guard, 21);
  engine.Prepare(8000.0);
  EXPECT_EQ(engine.lookback, 13);
  EXPECT_EQ(engine.guard, 4);
  engine.Prepare(768000.0);
  EXPECT_EQ(engine.lookback, 511); // the history holds 512 rows
}

// The matrix must undo the interaction of the 12 peaks: A·M = I, with A evaluated here from the
// transfer function of each +6 dB peak rather than from the engine's own magnitude routine.
TEST(ToneEngineSetup, CorrectionMatrixInvertsThePeakInteraction)
{
  for (double fs : {44100.0, 48000.0, 32000.0, 96000.0})
  {
    ToneEngine engine;
    engine.Prepare(fs);
    double a[kNumBands][kNumBands];
    for (int i = 0; i < kNumBands; ++i)
      for (int j = 0; j < kNumBands; ++j)
      {
        if (engine.bandEnabled[i] && engine.bandEnabled[j])
        {
          const auto c = DesignPeaking(kBandCentresHz[j], 6.0, kBandQ, fs);
          a[i][j] = 20.0 * std::log10(std::abs(Response(c, kBandCentresHz[i], fs))) / 6.0;
        }
        else
          a[i][j] = i == j ? 1.0 : 0.0;
      }
    for (int i = 0; i < kNumBands; ++i)
      for (int j = 0; j < kNumBands; ++j)
      {
        double sum = 0.0;
        for (int k = 0; k < kNumBands; ++k)
          sum += a[i][k] * engine.correctionMatrix[k][j];
        EXPECT_NEAR(sum, i == j ? 1.0 : 0.0, 1e-9) << fs << " " << i << "," << j;
      }
  }
}

// Pink noise (power density 1/f) must read the same level, 0 dB, in every band. Integrate it here
// on a linear frequency grid with the transfer function, independently of the engine's log grid.
TEST(ToneEngineSetup, CalibrationMakesPinkNoiseReadZeroDb)
{
  const double fs = 48000.0;
  ToneEngine engine;
  engine.Prepare(fs);
  for (int k : {0, 4, 9, 11})
  {
    const auto h = DesignBandPass(kBandCentresHz[k], kBandQ, fs);
    double sum = 0.0;
    const double lo = 10.0, hi = 0.499 * fs, df = 0.25;
    for (double f = lo + df / 2; f < hi; f += df)
      sum += std::pow(std::norm(Response(h, f, fs)), 2) / f * df;
    EXPECT_NEAR(engine.bandCalibrationDb[k], 10.0 * std::log10(sum), 0.01) << k;
  }
}

TEST(ToneEngineSetup, DisabledBandsAtLowRates)
{
  ToneEngine engine;
  engine.Prepare(48000.0);
  const BiquadSection before = engine.analysisStage1[11];
  ToneEngineSettings s;
  s.hpOn = true;
  s.hpFreqHz = 200.0;
  s.lpOn = true;
  s.lpFreqHz = 3000.0;
  s.preEqBands[3].gainDb = 6.0;
  engine.ApplySettings(s);
  engine.Prepare(32000.0);
  EXPECT_FALSE(engine.bandEnabled[11]);
  EXPECT_TRUE(engine.bandEnabled[10]);
  EXPECT_EQ(engine.analysisStage1[11].b0, before.b0); // keeps the old design
  EXPECT_EQ(engine.analysisStage1[11].a1, before.a1);
  EXPECT_EQ(engine.bandCalibrationDb[11], 0.0);
  EXPECT_EQ(engine.desiredCompensated[11], engine.desiredCurve[11]);
  EXPECT_LT(engine.desiredCompensated[10], engine.desiredCurve[10] - 6.0); // the low-pass is compensated
  for (int j = 0; j < kNumBands; ++j)
  {
    EXPECT_EQ(engine.correctionMatrix[11][j], j == 11 ? 1.0 : 0.0);
    EXPECT_EQ(engine.correctionMatrix[j][11], j == 11 ? 1.0 : 0.0);
  }
}

TEST(ToneEngineSetup, CalibrationIsComputedOncePerRate)
{
  ToneEngine engine;
  engine.Prepare(48000.0);
  const double real = engine.bandCalibrationDb[3];
  engine.bandCalibrationDb[3] = 42.0;
  engine.Prepare(48000.0);
  EXPECT_EQ(engine.bandCalibrationDb[3], 42.0);
  engine.Prepare(44100.0);
  engine.Prepare(48000.0);
  EXPECT_EQ(engine.bandCalibrationDb[3], real);
}

TEST(ToneEngineSetup, CornersAreLimitedToTheUsableRange)
{
  ToneEngine engine;
  engine.Prepare(44100.0);
  ToneEngineSettings s;
  s.hpFreqHz = 5.0;
  s.lpFreqHz = 25000.0;
  s.preEqBands[1].freqHz = 30000.0;
  s.preEqBands[1].q = 50.0;
  s.preEqBands[2].q = 0.01;
  engine.ApplySettings(s);
  EXPECT_EQ(engine.hpTargetHz, 10.0);
  EXPECT_EQ(engine.lpTargetHz, 0.45 * 44100.0);
  EXPECT_EQ(engine.preEqTarget[1].freqHz, 0.45 * 44100.0);
  EXPECT_EQ(engine.preEqTarget[1].q, 20.0);
  EXPECT_EQ(engine.preEqTarget[2].q, 0.1);
}

TEST(ToneEngineSetup, DesiredCurveFollowsTiltTargetBandsAndCompensation)
{
  const double fs = 48000.0;
  ToneEngine engine;
  engine.Prepare(fs);
  ToneEngineSettings s;
  s.tiltDbPerOct = 1.5;
  s.targetBands[2].gainDb = 6.0; // 3 kHz
  s.targetBands[0].on = false;   // 120 Hz switched off
  s.respect = 0.0;
  s.preEqBands[1].gainDb = 9.0;
  engine.ApplySettings(s);
  for (int i = 0; i < kNumBands; ++i)
  {
    const double c = kBandCentresHz[i];
    const double oct = std::log2(c / 3000.0);
    EXPECT_NEAR(engine.desiredCurve[i], 1.5 * std::log2(c / 1000.0) + 6.0 * std::exp(-oct * oct / 0.98), 1e-12);
    EXPECT_EQ(engine.desiredCompensated[i], engine.desiredCurve[i]); // respect 0: no pre-EQ response
    const double off = std::log2(c / 120.0);
    EXPECT_NEAR(engine.exclusionWeight[i], 1.0 - std::exp(-off * off / 0.605), 1e-12);
  }
  EXPECT_LT(engine.exclusionWeight[0], 0.15);
  EXPECT_GT(engine.exclusionWeight[6], 0.999);

  // Full respect: the pre-EQ peak at 400 Hz is added to the compensated curve at its own centre.
  s.respect = 1.0;
  engine.ApplySettings(s);
  EXPECT_NEAR(engine.desiredCompensated[3] - engine.desiredCurve[3], 9.0, 0.05);
  // A band that is off has no gain and contributes nothing.
  s.preEqBands[1].on = false;
  engine.ApplySettings(s);
  EXPECT_EQ(engine.preEqTarget[1].gainDb, 0.0);
  EXPECT_EQ(engine.desiredCompensated[3], engine.desiredCurve[3]);
}

TEST(ToneEngineSetup, ShelfSwitchForcesAPreEqRedesign)
{
  ToneEngine engine;
  engine.Prepare(48000.0);
  ToneEngineSettings s;
  s.preEqBands[0].gainDb = 6.0;
  engine.ApplySettings(s);
  const Channels input = {PinkNoise(4800, 0.3, 1)};
  RunEngine(engine, input, {4800});
  const BiquadCoefficients shelf = engine.preEq[0][0].Coefficients();
  EXPECT_EQ(shelf.b0, DesignShelf(false, 100.0, 6.0, 0.707, 48000.0).b0);
  s.preEqBands[0].shelf = false;
  engine.ApplySettings(s);
  EXPECT_TRUE(engine.preEqForceRedesign);
  RunEngine(engine, {std::vector<double>(32, 0.0)}, {32});
  EXPECT_FALSE(engine.preEqForceRedesign);
  EXPECT_EQ(engine.preEq[0][0].b0, DesignPeaking(100.0, 6.0, 0.707, 48000.0).b0);
  EXPECT_EQ(engine.preEq[1][0].b0, engine.preEq[0][0].b0);
}

TEST(ToneEngineSetup, CornersAndPreEqGlideGeometricallyToTheirTargets)
{
  const double fs = 48000.0;
  ToneEngine engine;
  ToneEngineSettings s;
  s.hpOn = true;
  s.hpFreqHz = 50.0;
  engine.ApplySettings(s);
  engine.Prepare(fs);
  EXPECT_EQ(engine.hpCurrentHz, 50.0); // Prepare designs at the target without a glide
  s.hpFreqHz = 800.0;
  s.preEqBands[2].gainDb = 10.0;
  engine.ApplySettings(s);
  RunEngine(engine, {std::vector<double>(32 * 60, 0.0)}, {32});
  // 60 steps of a 5 % geometric step cover about 95 % of the octaves.
  const double covered = std::log2(engine.hpCurrentHz / 50.0) / std::log2(800.0 / 50.0);
  EXPECT_NEAR(covered, 1.0 - std::pow(0.95, 60), 0.001);
  EXPECT_NEAR(engine.preEqCurrent[2].gainDb, 10.0 * (1.0 - std::pow(0.95, 60)), 0.001);
  RunEngine(engine, {std::vector<double>(32 * 200, 0.0)}, {32});
  EXPECT_EQ(engine.hpCurrentHz, 800.0);
  EXPECT_EQ(engine.preEqCurrent[2].gainDb, 10.0);
  EXPECT_EQ(engine.highPass[1].b0, DesignHighPass(800.0, fs).b0);
}

TEST(ToneEngineSetup, ResetKeepsTheTargetAndClearsTheMeasurement)
{
  ToneEngine engine;
  engine.Prepare(48000.0);
  BandBalance t{};
  t[0] = 3.0;
  t[11] = -2.0;
  engine.SetTargetBalance(t);
  engine.StartLearning();
  RunEngine(engine, BassyPinkStereo(9600, 48000.0), {512});
  engine.Prepare(48000.0);
  EXPECT_TRUE(engine.hasTarget);
  EXPECT_EQ(engine.targetAbsolute, t);
  EXPECT_FALSE(engine.learning);
  EXPECT_EQ(engine.measuredBalance[4], -1000.0);
  EXPECT_EQ(engine.smoothedBandPower[4], -1.0);
  EXPECT_EQ(engine.bandPower[4], 0.0);
  EXPECT_EQ(engine.sampleCounter, 0);
}

// Configure keeps per-band curves between calls; whatever came before, the result must be what a
// fresh engine computes from the same settings.
TEST(ToneEngineSetup, ConfigureDependsOnlyOnTheCurrentSettings)
{
  ToneEngine engine;
  engine.Prepare(44100.0);
  ToneEngineSettings s;
  Noise noise(77);
  for (int i = 0; i < 60; ++i)
  {
    if (i == 30)
      engine.Prepare(48000.0);
    const double r = noise.Next();
    switch (i % 6)
    {
    case 0:
      s.targetBands[i % 4].freqHz = 150.0 * std::pow(2.0, 3.0 * (r + 1.0));
      s.targetBands[(i + 1) % 4].on = r > 0.0;
      break;
    case 1:
      s.rangeLowHz = 40.0 * (r + 2.0);
      s.rangeHighHz = 9000.0 * (r + 1.5);
      break;
    case 2:
      s.hpOn = r > -0.5;
      s.hpFreqHz = 100.0 * (r + 1.2);
      s.lpOn = r < 0.5;
      s.lpFreqHz = 12000.0 * (r + 1.1);
      break;
    case 3:
      s.preEqBands[i % 4].gainDb = 10.0 * r;
      s.preEqBands[i % 4].freqHz = 1000.0 * (r + 1.1);
      s.preEqBands[i % 4].q = 2.0 + r;
      break;
    case 4:
      s.preEqBands[0].shelf = r > 0.0;
      s.preEqBands[3].shelf = r < 0.3;
      s.preEqBands[(i / 6) % 4].on = r > -0.3;
      s.respect = (r + 1.0) / 2.0;
      break;
    default:
      s.tiltDbPerOct = 4.0 * r;
      s.targetBands[(i / 6) % 4].gainDb = 12.0 * r;
      break;
    }
    engine.ApplySettings(s);
  }
  ToneEngine fresh;
  fresh.ApplySettings(s);
  fresh.Prepare(48000.0);
  EXPECT_EQ(engine.desiredCurve, fresh.desiredCurve);
  EXPECT_EQ(engine.desiredCompensated, fresh.desiredCompensated);
  EXPECT_EQ(engine.exclusionWeight, fresh.exclusionWeight);
  EXPECT_EQ(engine.rangeWeight, fresh.rangeWeight);
  EXPECT_NE(engine.desiredCompensated, engine.desiredCurve); // filters were compensated
}

TEST(ToneEngineSetup, PrepareAtANewRateRedesignsEveryFilter)
{
  ToneEngineSettings s;
  s.hpOn = s.lpOn = true;
  s.hpFreqHz = 80.0;
  s.lpFreqHz = 9000.0;
  s.preEqBands[1].gainDb = 4.0;
  s.preEqBands[3].gainDb = -3.0;
  ToneEngine engine;
  engine.ApplySettings(s);
  engine.Prepare(48000.0);
  engine.Prepare(44100.0);
  auto same = [](const BiquadSection& section, const BiquadCoefficients& c) {
    return section.b0 == c.b0 && section.b1 == c.b1 && section.b2 == c.b2 && section.a1 == c.a1 && section.a2 == c.a2;
  };
  for (int c = 0; c < 2; ++c)
  {
    EXPECT_TRUE(same(engine.highPass[c], DesignHighPass(80.0, 44100.0)));
    EXPECT_TRUE(same(engine.lowPass[c], DesignLowPass(9000.0, 44100.0)));
    EXPECT_TRUE(same(engine.preEq[c][1], DesignPeaking(400.0, 4.0, 1.0, 44100.0)));
    EXPECT_TRUE(same(engine.preEq[c][3], DesignShelf(true, 8000.0, -3.0, 0.707, 44100.0)));
    EXPECT_TRUE(same(engine.preEq[c][0], DesignShelf(false, 100.0, 0.0, 0.707, 44100.0)));
  }
}

// Time constants written as seconds and turned into per-sample and per-step coefficients here.
TEST(ToneEngineSetup, SpeedAndRateSetTheTimeConstants)
{
  const double fs = 48000.0;
  auto perStep = [&](double seconds) { return 1.0 - std::exp(-kControlInterval / (fs * seconds)); };
  auto perSample = [&](double seconds) { return 1.0 - std::exp(-1.0 / (fs * seconds)); };
  struct Case
  {
    double speed, analysisS, attackS, releaseS;
  };
  const double half = 1.0 / std::sqrt(35.0); // speed 0.5
  for (const Case& c : {Case{0.0, 0.4, 5.6, 0.56}, Case{1.0, 0.05, 0.16, 0.1}, Case{1.5, 0.05, 0.16, 0.1},
                        Case{-1.0, 0.4, 5.6, 0.56}, Case{0.5, 1.12 * half, 5.6 * half, 0.1}})
  {
    ToneEngine engine;
    ToneEngineSettings s;
    s.speed = c.speed;
    engine.ApplySettings(s);
    engine.Prepare(fs);
    EXPECT_NEAR(engine.analysisCoef / perStep(c.analysisS), 1.0, 1e-12) << c.speed;
    EXPECT_NEAR(engine.attackCoef / perStep(c.attackS), 1.0, 1e-12) << c.speed;
    EXPECT_NEAR(engine.releaseCoef / perStep(c.releaseS), 1.0, 1e-12) << c.speed;
    EXPECT_NEAR(engine.inputPowerCoef / perSample(0.01), 1.0, 1e-12);
    EXPECT_NEAR(engine.bandPowerCoef / perSample(0.015), 1.0, 1e-12);
    EXPECT_NEAR(engine.outputGainCoef / perSample(0.01), 1.0, 1e-12);
    EXPECT_NEAR(engine.noiseFloorCoef / perStep(2.0), 1.0, 1e-12);
  }
}
