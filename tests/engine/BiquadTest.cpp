#include "BandGeometry.h"
#include "Biquad.h"
#include "Signals.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>

using namespace morvellan;

namespace {

// Response straight from the transfer function, independent of BiquadMagnitudeDb.
double ResponseDb(const BiquadCoefficients& c, double f, double fs)
{
  const std::complex<double> z1 = std::polar(1.0, -2.0 * M_PI * f / fs);
  const std::complex<double> h = (c.b0 + c.b1 * z1 + c.b2 * z1 * z1) / (1.0 + c.a1 * z1 + c.a2 * z1 * z1);
  return 20.0 * std::log10(std::abs(h));
}

// Steady-state gain of a sine run through a section, in dB.
double MeasuredGainDb(const BiquadCoefficients& c, double f, double fs)
{
  BiquadSection s;
  s.SetCoefficients(c);
  const int n = static_cast<int>(fs); // one second; the last half is measured
  const auto x = test::Sine(n, f, 1.0, fs);
  double inPower = 0.0, outPower = 0.0;
  for (int i = 0; i < n; ++i)
  {
    const double y = s.Process(x[i]);
    if (i >= n / 2)
    {
      inPower += x[i] * x[i];
      outPower += y * y;
    }
  }
  return 10.0 * std::log10(outPower / inPower);
}

} // namespace

TEST(Biquad, DefaultSectionPassesSamplesUnchanged)
{
  BiquadSection s;
  const auto x = test::WhiteNoise(1000, 1.0, 1);
  for (double v : x)
    EXPECT_EQ(s.Process(v), v);
}

TEST(Biquad, DesignsHaveTheirDefiningResponses)
{
  const double fs = 48000.0;
  // Peaking: the design gain at the centre, 0 dB far away; a 0 dB design is flat everywhere.
  for (double gain : {-12.0, -3.0, 6.0, 18.0})
  {
    const auto c = DesignPeaking(1000.0, gain, kBandQ, fs);
    EXPECT_NEAR(BiquadMagnitudeDb(c, 1000.0, fs), gain, 1e-9);
    EXPECT_NEAR(ResponseDb(c, 1000.0, fs), gain, 1e-9);
    EXPECT_NEAR(BiquadMagnitudeDb(c, 20.0, fs), 0.0, 0.05);
  }
  const auto flat = DesignPeaking(2539.84, 0.0, 3.0, fs);
  for (double f : {30.0, 500.0, 2539.84, 15000.0})
    EXPECT_NEAR(BiquadMagnitudeDb(flat, f, fs), 0.0, 1e-12);

  // Band-pass: 0 dB peak, half power a third of an octave either side (two-thirds-octave band).
  const auto bp = DesignBandPass(1000.0, kBandQ, fs);
  EXPECT_NEAR(BiquadMagnitudeDb(bp, 1000.0, fs), 0.0, 1e-9);
  const double lowEdge = 1000.0 * std::pow(2.0, -1.0 / 3.0);
  const double highEdge = 1000.0 * std::pow(2.0, 1.0 / 3.0);
  EXPECT_NEAR(BiquadMagnitudeDb(bp, lowEdge, fs), BiquadMagnitudeDb(bp, highEdge, fs), 0.2);
  EXPECT_NEAR(BiquadMagnitudeDb(bp, std::sqrt(lowEdge * highEdge), fs), 0.0, 1e-6);
  EXPECT_NEAR(ResponseDb(bp, highEdge, fs), -3.01, 0.25);

  // Butterworth cuts: -3 dB at the corner, flat in the pass band, 12 dB per octave beyond.
  const auto hp = DesignHighPass(100.0, fs);
  EXPECT_NEAR(BiquadMagnitudeDb(hp, 100.0, fs), -3.0103, 0.01);
  EXPECT_NEAR(BiquadMagnitudeDb(hp, 5000.0, fs), 0.0, 0.01);
  EXPECT_NEAR(BiquadMagnitudeDb(hp, 12.5, fs), -36.1, 0.3);
  const auto lp = DesignLowPass(2000.0, fs);
  EXPECT_NEAR(BiquadMagnitudeDb(lp, 2000.0, fs), -3.0103, 0.01);
  EXPECT_NEAR(BiquadMagnitudeDb(lp, 50.0, fs), 0.0, 0.01);
  EXPECT_LT(BiquadMagnitudeDb(lp, 16000.0, fs), -34.0);
}

TEST(Biquad, ShelvesLiftTheirSideAndHalveAtTheCorner)
{
  const double fs = 44100.0;
  const auto low = DesignShelf(false, 200.0, 9.0, 0.707, fs);
  EXPECT_NEAR(BiquadMagnitudeDb(low, 15.0, fs), 9.0, 0.1);
  EXPECT_NEAR(BiquadMagnitudeDb(low, 8000.0, fs), 0.0, 0.1);
  EXPECT_NEAR(BiquadMagnitudeDb(low, 200.0, fs), 4.5, 1e-6);
  const auto high = DesignShelf(true, 4000.0, -6.0, 0.707, fs);
  EXPECT_NEAR(BiquadMagnitudeDb(high, 20000.0, fs), -6.0, 0.2);
  EXPECT_NEAR(BiquadMagnitudeDb(high, 100.0, fs), 0.0, 0.05);
  EXPECT_NEAR(BiquadMagnitudeDb(high, 4000.0, fs), -3.0, 1e-6);
  EXPECT_NEAR(ResponseDb(high, 20000.0, fs), BiquadMagnitudeDb(high, 20000.0, fs), 1e-9);
}

TEST(Biquad, ProcessingFollowsTheMagnitudeResponse)
{
  const double fs = 48000.0;
  const auto peak = DesignPeaking(1000.0, 6.0, kBandQ, fs);
  EXPECT_NEAR(MeasuredGainDb(peak, 1000.0, fs), 6.0, 0.05);
  const auto hp = DesignHighPass(400.0, fs);
  EXPECT_NEAR(MeasuredGainDb(hp, 100.0, fs), BiquadMagnitudeDb(hp, 100.0, fs), 0.05);
  const auto shelf = DesignShelf(false, 300.0, -8.0, 1.0, fs);
  EXPECT_NEAR(MeasuredGainDb(shelf, 60.0, fs), BiquadMagnitudeDb(shelf, 60.0, fs), 0.05);
}

TEST(Biquad, ImpulseResponseDecaysWithoutNaN)
{
  BiquadSection s;
  s.SetCoefficients(DesignBandPass(16127.0, kBandQ, 44100.0));
  double last = 0.0;
  for (int i = 0; i < 20000; ++i)
  {
    last = s.Process(i == 0 ? 1.0 : 0.0);
    ASSERT_TRUE(std::isfinite(last));
  }
  EXPECT_LT(std::fabs(last), 1e-12);
}

TEST(Biquad, NewCoefficientsKeepRunningStateAndClearingKeepsCoefficients)
{
  BiquadSection s;
  s.SetCoefficients(DesignLowPass(500.0, 48000.0));
  for (double v : test::WhiteNoise(100, 1.0, 3))
    s.Process(v);
  const double z1 = s.z1, z2 = s.z2;
  ASSERT_NE(z1, 0.0);
  const auto c = DesignPeaking(800.0, 3.0, 1.0, 48000.0);
  s.SetCoefficients(c);
  EXPECT_EQ(s.z1, z1);
  EXPECT_EQ(s.z2, z2);
  s.ClearState();
  EXPECT_EQ(s.z1, 0.0);
  EXPECT_EQ(s.z2, 0.0);
  EXPECT_EQ(s.b0, c.b0);
  EXPECT_EQ(s.a2, c.a2);
}

TEST(Biquad, MagnitudeOfAnExactZeroIsMinusInfinity)
{
  BiquadCoefficients zero{0.0, 0.0, 0.0, 0.0, 0.0};
  EXPECT_EQ(BiquadMagnitudeDb(zero, 1000.0, 48000.0), -INFINITY);
}

TEST(BandGeometry, RangeTaperWeights)
{
  EXPECT_EQ(RangeTaper(1000.0, 20.0, 20000.0), 1.0);
  EXPECT_EQ(RangeTaper(20.0, 20.0, 20000.0), 1.0);
  for (double f : {15.0, 300.0, 24000.0, 30000.0})
    EXPECT_EQ(RangeTaper(f, 20000.0, 20.0), RangeTaper(f, 20.0, 20000.0));
  EXPECT_NEAR(RangeTaper(1000.0 * std::pow(2.0, 1.0 / 6.0), 100.0, 1000.0), 0.5, 1e-12);
  EXPECT_NEAR(RangeTaper(100.0 * std::pow(2.0, -1.0 / 6.0), 100.0, 1000.0), 0.5, 1e-12);
  EXPECT_EQ(RangeTaper(1000.0 * std::pow(2.0, 1.0 / 3.0), 100.0, 1000.0), 0.0);
  EXPECT_EQ(RangeTaper(5000.0, 100.0, 1000.0), 0.0);
  // Monotone fall-off between the edge and a third of an octave out.
  double previous = 1.0;
  for (int i = 1; i < 10; ++i)
  {
    const double w = RangeTaper(1000.0 * std::pow(2.0, i / 30.0), 100.0, 1000.0);
    EXPECT_LT(w, previous);
    previous = w;
  }
}

TEST(BandGeometry, CentresQAndEnabling)
{
  // The editor draws at these very values, so they are compared exactly.
  const double centres[kNumBands] = {100.0,  158.74, 251.98,  400.0,   634.96,  1007.94,
                                     1600.0, 2539.84, 4031.75, 6400.0, 10159.4, 16127.0};
  for (int k = 0; k < kNumBands; ++k)
    EXPECT_EQ(kBandCentresHz[k], centres[k]) << "band " << k;
  EXPECT_NEAR(kBandQ, 2.1449077, 1e-7);
  EXPECT_TRUE(IsBandEnabled(11, 44100.0));
  EXPECT_FALSE(IsBandEnabled(11, 32000.0));
  EXPECT_TRUE(IsBandEnabled(10, 32000.0));
  EXPECT_FALSE(IsBandEnabled(10, 22050.0));
  EXPECT_TRUE(IsBandEnabled(9, 16000.0));
  EXPECT_FALSE(IsBandEnabled(9, 14000.0));
}
