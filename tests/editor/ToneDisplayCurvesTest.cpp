// The display's curves against the filter formulas evaluated here, the correction curve's
// cache, and what a frame draws from default, flat and non-finite readings.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstring>
#include <limits>
#include <vector>

#include "ToneDisplayRig.h"

using Reading = ToneDisplayControl::Reading;

namespace
{

constexpr double kPi = 3.14159265358979323846;
const double kBandQ = std::sqrt(std::pow(2.0, 2.0 / 3.0)) / (std::pow(2.0, 2.0 / 3.0) - 1.0);
constexpr double kCentres[12] = {100,    158.74,  251.98,  400,     634.96, 1007.94,
                                 1600,   2539.84, 4031.75, 6400,    10159.4, 16127};

// Cookbook sections written out again here, as the response |H| in dB at f.
struct Section
{
  double b0, b1, b2, a0, a1, a2;
  double Db(double f, double fs) const
  {
    const std::complex<double> z1 = std::polar(1.0, -2.0 * kPi * f / fs);
    const std::complex<double> h = (b0 + b1 * z1 + b2 * z1 * z1) / (a0 + a1 * z1 + a2 * z1 * z1);
    return 20.0 * std::log10(std::abs(h));
  }
};

Section Peak(double f0, double gainDb, double q, double fs)
{
  const double w = 2.0 * kPi * f0 / fs, alpha = std::sin(w) / (2.0 * q), a = std::pow(10.0, gainDb / 40.0);
  return {1 + alpha * a, -2 * std::cos(w), 1 - alpha * a, 1 + alpha / a, -2 * std::cos(w), 1 - alpha / a};
}

Section HighPass(double f0, double fs)
{
  const double w = 2.0 * kPi * f0 / fs, alpha = std::sin(w) / std::sqrt(2.0), c = std::cos(w);
  return {(1 + c) / 2, -(1 + c), (1 + c) / 2, 1 + alpha, -2 * c, 1 - alpha};
}

Section LowShelf(double f0, double gainDb, double q, double fs)
{
  const double w = 2.0 * kPi * f0 / fs, alpha = std::sin(w) / (2.0 * q), a = std::pow(10.0, gainDb / 40.0);
  const double c = std::cos(w), t = 2.0 * std::sqrt(a) * alpha;
  return {a * ((a + 1) - (a - 1) * c + t), 2 * a * ((a - 1) - (a + 1) * c), a * ((a + 1) - (a - 1) * c - t),
          (a + 1) + (a - 1) * c + t,        -2 * ((a - 1) + (a + 1) * c),   (a + 1) + (a - 1) * c - t};
}

Section HighShelf(double f0, double gainDb, double q, double fs)
{
  const double w = 2.0 * kPi * f0 / fs, alpha = std::sin(w) / (2.0 * q), a = std::pow(10.0, gainDb / 40.0);
  const double c = std::cos(w), t = 2.0 * std::sqrt(a) * alpha;
  return {a * ((a + 1) + (a - 1) * c + t), -2 * a * ((a - 1) + (a + 1) * c), a * ((a + 1) + (a - 1) * c - t),
          (a + 1) - (a - 1) * c + t,        2 * ((a - 1) - (a + 1) * c),      (a + 1) - (a - 1) * c - t};
}

double F(int i)
{
  return 20.0 * std::pow(1000.0, i / 119.0);
}

TEST(ToneDisplayCorrectionCurve, SumsTheEngineSectionsWithItsFloorAndLimits)
{
  DisplayRig rig;
  ToneDisplayControl& d = *rig.display;

  Reading r;
  ASSERT_TRUE(d.UpdateCorrectionCurve(r));
  for (int i = 0; i < 120; ++i)
    ASSERT_EQ(d.CorrectionCurveDb()[i], 0.0) << i; // nothing active: flat on 0 dB

  // One band and the high-pass at 48 kHz.
  r.correctionDb[5] = 6.f;
  r.correctionDb[9] = -4.5f;
  r.hpOn = true;
  r.hpHz = 80.0;
  ASSERT_TRUE(d.UpdateCorrectionCurve(r));
  const Section p5 = Peak(kCentres[5], 6.0, kBandQ, 48000), p9 = Peak(kCentres[9], -4.5, kBandQ, 48000);
  const Section hp = HighPass(80.0, 48000);
  for (int i = 0; i < 120; ++i)
  {
    const double expected = std::max(-23.0, p5.Db(F(i), 48000) + p9.Db(F(i), 48000) + hp.Db(F(i), 48000));
    ASSERT_NEAR(d.CorrectionCurveDb()[i], expected, 1e-9) << i;
  }

  // A steep high-pass: a shelf at -23 dB below its corner.
  r = Reading();
  r.hpOn = true;
  r.hpHz = 1000.0;
  d.UpdateCorrectionCurve(r);
  EXPECT_EQ(d.CorrectionCurveDb()[0], -23.0);
  EXPECT_EQ(d.CorrectionCurveDb()[20], -23.0);
  EXPECT_GT(d.CorrectionCurveDb()[119], -0.01);

  // At 32 kHz the top band (16127 Hz) is left out and points above 15680 Hz repeat 15680 Hz.
  r = Reading();
  r.sampleRate = 32000.0;
  r.correctionDb[11] = 12.f;
  d.UpdateCorrectionCurve(r);
  for (int i = 0; i < 120; ++i)
    ASSERT_EQ(d.CorrectionCurveDb()[i], 0.0) << i;
  r.correctionDb[10] = 6.f;
  d.UpdateCorrectionCurve(r);
  const Section p10 = Peak(kCentres[10], 6.0, kBandQ, 32000);
  int repeated = 0;
  for (int i = 0; i < 120; ++i)
  {
    const double fe = std::min(F(i), 15680.0);
    ASSERT_NEAR(d.CorrectionCurveDb()[i], p10.Db(fe, 32000), 1e-9) << i;
    if (F(i) > 15680.0)
    {
      EXPECT_EQ(d.CorrectionCurveDb()[i], d.CorrectionCurveDb()[119]);
      ++repeated;
    }
  }
  EXPECT_EQ(repeated, 5); // 15.9k, 16.8k, 17.8k, 18.9k and 20k
}

TEST(ToneDisplayCorrectionCurve, IsRecomputedOnlyWhenItsInputsChange)
{
  DisplayRig rig;
  ToneDisplayControl& d = *rig.display;
  Reading r;
  r.correctionDb[4] = 2.f;
  r.hpOn = false;
  r.hpHz = 100.0;
  EXPECT_TRUE(d.UpdateCorrectionCurve(r));
  EXPECT_FALSE(d.UpdateCorrectionCurve(r));
  r.hpHz = 300.0; // the high-pass is off: its frequency is no input
  EXPECT_FALSE(d.UpdateCorrectionCurve(r));
  r.hpOn = true;
  EXPECT_TRUE(d.UpdateCorrectionCurve(r));
  r.lpHz = 9000.0;
  EXPECT_FALSE(d.UpdateCorrectionCurve(r));
  r.sampleRate = 44100.0;
  EXPECT_TRUE(d.UpdateCorrectionCurve(r));
  r.correctionDb[4] = 2.0001f;
  EXPECT_TRUE(d.UpdateCorrectionCurve(r));
  EXPECT_EQ(d.CorrectionCurveComputations(), 4);

  // Frames: a steady reading costs one computation, even with a NaN band or no sample rate,
  // which the display reads as "no correction" and 48 kHz.
  rig.reading = Reading();
  rig.reading.correctionDb[7] = -3.f;
  rig.reading.correctionDb[2] = std::numeric_limits<float>::quiet_NaN();
  rig.reading.sampleRate = 0.0;
  const int before = d.CorrectionCurveComputations();
  for (int frame = 0; frame < 5; ++frame)
    rig.g.OnFrame();
  EXPECT_EQ(rig.readings, 5);
  EXPECT_EQ(d.CorrectionCurveComputations(), before + 1);
  const Section p7 = Peak(kCentres[7], -3.0, kBandQ, 48000);
  EXPECT_NEAR(d.CorrectionCurveDb()[80], p7.Db(F(80), 48000), 1e-9);
}

TEST(ToneDisplayTargetCurve, IsTheTiltPlusTheGaussiansOfTheBandsThatAreOn)
{
  DisplayRig rig;
  ToneDisplayControl& d = *rig.display;
  double t[120];

  rig.dlg.Set(kTilt, 1.5);
  d.ComputeTargetCurve(t);
  for (int i = 0; i < 120; ++i)
    ASSERT_NEAR(t[i], 1.5 * std::log2(F(i) / 1000.0), 1e-12) << i;
  // A straight line through (1 kHz, 0 dB): +-1.5 dB one octave either side.
  EXPECT_NEAR(t[0], 1.5 * std::log2(0.02), 1e-12);

  rig.dlg.Set(kLowTarget, 4.0);
  rig.dlg.Set(kPresenceTarget, -3.0);
  rig.dlg.Set(kPresenceFreq, 2000.0);
  d.ComputeTargetCurve(t);
  for (int i = 0; i < 120; ++i)
  {
    const double lo = std::log2(F(i) / 120.0), pr = std::log2(F(i) / 2000.0);
    const double expected = 1.5 * std::log2(F(i) / 1000.0) + 4.0 * std::exp(-lo * lo / 0.98) - 3.0 * std::exp(-pr * pr / 0.98);
    ASSERT_NEAR(t[i], expected, 1e-12) << i;
  }

  rig.dlg.Set(kLowOn, 0.0);
  rig.dlg.Set(kPresenceOn, 0.0);
  d.ComputeTargetCurve(t);
  for (int i = 0; i < 120; ++i)
    ASSERT_NEAR(t[i], 1.5 * std::log2(F(i) / 1000.0), 1e-12) << i;
}

TEST(ToneDisplayPreEqResponse, SumsTheActiveBandsAsTheyAreDesigned)
{
  DisplayRig rig;
  ToneDisplayControl& d = *rig.display;
  double r[120];
  EXPECT_FALSE(d.ComputePreEqResponse(48000.0, r)); // all flat

  rig.dlg.Set(kPreEq1Gain, 6.0);  // low shelf at 100 Hz, Q 0.707
  rig.dlg.Set(kPreEq2Gain, -5.0); // bell at 400 Hz
  rig.dlg.Set(kPreEq2Q, 2.0);
  rig.dlg.Set(kPreEq3Gain, 4.0);
  rig.dlg.Set(kPreEq3On, 0.0);   // switched off: no part of the sum
  rig.dlg.Set(kPreEq4Gain, 3.0); // high shelf at 8 kHz, designed at 0.45 fs when that is lower
  rig.dlg.Set(kPreEq4Freq, 18000.0);
  ASSERT_TRUE(d.ComputePreEqResponse(32000.0, r));
  const Section shelf1 = LowShelf(100.0, 6.0, 0.707, 32000), bell2 = Peak(400.0, -5.0, 2.0, 32000);
  const Section shelf4 = HighShelf(14400.0, 3.0, 0.707, 32000);
  for (int i = 0; i < 120; ++i)
  {
    const double fe = std::min(F(i), 15680.0);
    ASSERT_NEAR(r[i], shelf1.Db(fe, 32000) + bell2.Db(fe, 32000) + shelf4.Db(fe, 32000), 1e-9) << i;
  }
  EXPECT_NEAR(r[0], 6.0, 0.3); // the low shelf well below its corner

  // Bell instead of shelf for band 1; and a sum past 23 dB stops there.
  rig.dlg.Set(kPreEq1Shelf, 0.0);
  rig.dlg.Set(kPreEq2Gain, 0.0);
  rig.dlg.Set(kPreEq4On, 0.0);
  rig.dlg.Set(kPreEq1Gain, 18.0);
  rig.dlg.Set(kPreEq3On, 1.0);
  rig.dlg.Set(kPreEq3Gain, 18.0);
  rig.dlg.Set(kPreEq3Freq, 100.0);
  ASSERT_TRUE(d.ComputePreEqResponse(48000.0, r));
  const Section bell1 = Peak(100.0, 18.0, 0.707, 48000), bell3 = Peak(100.0, 18.0, 1.0, 48000);
  int clamped = 0;
  for (int i = 0; i < 120; ++i)
  {
    const double sum = bell1.Db(F(i), 48000) + bell3.Db(F(i), 48000);
    ASSERT_NEAR(r[i], std::min(sum, 23.0), 1e-9) << i;
    clamped += sum > 23.0;
  }
  EXPECT_GT(clamped, 0);
}

int Red(DisplayRig& rig, float x, float y)
{
  int stride = 0;
  const unsigned char* p = rig.g.GetPixels(stride);
  const float s = rig.g.GetDrawScale();
  return p[int(y * s) * stride + int(x * s) * 4 + 2];
}

TEST(ToneDisplayFrame, DrawsNothingFromNonFiniteReadings)
{
  for (float scale : {1.f, 2.f})
  {
    DisplayRig rig(scale, 330);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    for (int k = 0; k < 12; ++k)
    {
      rig.reading.correctionDb[k] = k % 2 ? nan : std::numeric_limits<float>::infinity();
      rig.reading.levelDb[k] = k % 2 ? nan : -std::numeric_limits<float>::infinity();
    }
    rig.reading.progress = nan;
    rig.reading.learning = true;
    rig.reading.sampleRate = std::nan("");
    rig.reading.hpOn = true;
    rig.reading.hpHz = std::nan("");
    const std::vector<unsigned char> fromNaN = Frame(rig);

    // What an engine that has measured nothing yet publishes.
    rig.reading = Reading();
    for (float& l : rig.reading.levelDb)
      l = -300.f;
    rig.reading.learning = true;
    EXPECT_TRUE(Frame(rig) == fromNaN) << "scale " << scale;
  }
}

TEST(ToneDisplayFrame, DefaultStateAndFlatPreEqAsDescribed)
{
  DisplayRig rig(1.f, 330, false);
  Frame(rig);
  // Levels of 0 dB clamp to 8 units below the top: the faint level area starts there.
  const int background = 14, levelFill = 14 + (250 - 14) * 9 / 255; // 22
  EXPECT_NEAR(Red(rig, 270.f, DisplayRig::kT + 5.f), background, 1);
  EXPECT_NEAR(Red(rig, 270.f, DisplayRig::kT + 12.f), levelFill, 1);
  // The flat correction line lies on the 0 dB line, with neither a boost nor a cut area.
  EXPECT_NEAR(Red(rig, 270.f, 212.f), levelFill, 1);
  EXPECT_NEAR(Red(rig, 270.f, 208.f), levelFill, 1);
  EXPECT_GT(Red(rig, 270.f, 210.f), 150);
  EXPECT_EQ(rig.display->CorrectionCurveDb()[60], 0.0);

  // PRE-EQ mode with a flat pre-EQ: an amber line on 0 dB (more red than blue), none in MATCH mode.
  int stride = 0;
  const auto blue = [&](float x, float y) { return rig.g.GetPixels(stride)[int(y) * stride + int(x) * 4]; };
  EXPECT_GT(blue(270.f, 210.f), 150); // MATCH: the white correction line
  rig.Click(380.f, 120.f);
  Frame(rig);
  EXPECT_GT(Red(rig, 270.f, 210.f), 200);
  EXPECT_LT(blue(270.f, 210.f), 100);
}

} // namespace
