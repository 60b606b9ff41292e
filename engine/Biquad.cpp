#include "Biquad.h"

#include <cmath>

namespace morvellan {

namespace {

constexpr double kTwoPi = 6.283185307179586;
constexpr double kSqrt2 = 1.4142135623730951;

BiquadCoefficients CutFilter(bool high, double freqHz, double sampleRate)
{
  const double w0 = kTwoPi * freqHz / sampleRate;
  const double cw = std::cos(w0);
  const double alpha = std::sin(w0) / kSqrt2;
  const double a0 = 1.0 + alpha;
  BiquadCoefficients c;
  if (high)
  {
    c.b0 = (1.0 + cw) / 2.0 / a0;
    c.b1 = -(1.0 + cw) / a0;
  }
  else
  {
    c.b0 = (1.0 - cw) / 2.0 / a0;
    c.b1 = (1.0 - cw) / a0;
  }
  c.b2 = c.b0;
  c.a1 = -2.0 * cw / a0;
  c.a2 = (1.0 - alpha) / a0;
  return c;
}

} // namespace

BandShape MakeBandShape(double freqHz, double q, double sampleRate)
{
  const double w0 = kTwoPi * freqHz / sampleRate;
  return {std::cos(w0), std::sin(w0) / (2.0 * q)};
}

BiquadCoefficients DesignPeaking(double gainDb, const BandShape& shape)
{
  const double A = std::pow(10.0, gainDb / 40.0);
  const double alpha = shape.alpha;
  const double a0 = 1.0 + alpha / A;
  BiquadCoefficients c;
  c.b0 = (1.0 + alpha * A) / a0;
  c.b1 = -2.0 * shape.cosW0 / a0;
  c.b2 = (1.0 - alpha * A) / a0;
  c.a1 = c.b1;
  c.a2 = (1.0 - alpha / A) / a0;
  return c;
}

BiquadCoefficients DesignPeaking(double freqHz, double gainDb, double q, double sampleRate)
{
  return DesignPeaking(gainDb, MakeBandShape(freqHz, q, sampleRate));
}

BiquadCoefficients DesignBandPass(double freqHz, double q, double sampleRate)
{
  const double w0 = kTwoPi * freqHz / sampleRate;
  const double cw = std::cos(w0);
  const double alpha = std::sin(w0) / (2.0 * q);
  const double a0 = 1.0 + alpha;
  BiquadCoefficients c;
  c.b0 = alpha / a0;
  c.b1 = 0.0;
  c.b2 = -alpha / a0;
  c.a1 = -2.0 * cw / a0;
  c.a2 = (1.0 - alpha) / a0;
  return c;
}

BiquadCoefficients DesignHighPass(double freqHz, double sampleRate) { return CutFilter(true, freqHz, sampleRate); }

BiquadCoefficients DesignLowPass(double freqHz, double sampleRate) { return CutFilter(false, freqHz, sampleRate); }

BiquadCoefficients DesignShelf(bool high, double freqHz, double gainDb, double q, double sampleRate)
{
  const double A = std::pow(10.0, gainDb / 40.0);
  const double w0 = kTwoPi * freqHz / sampleRate;
  const double cw = std::cos(w0);
  const double alpha = std::sin(w0) / (2.0 * q);
  const double s = high ? -1.0 : 1.0;
  const double t = 2.0 * std::sqrt(A) * alpha;
  const double a0 = (A + 1.0) + s * (A - 1.0) * cw + t;
  BiquadCoefficients c;
  c.b0 = A * ((A + 1.0) - s * (A - 1.0) * cw + t) / a0;
  c.b1 = 2.0 * s * A * ((A - 1.0) - s * (A + 1.0) * cw) / a0;
  c.b2 = A * ((A + 1.0) - s * (A - 1.0) * cw - t) / a0;
  c.a1 = -2.0 * s * ((A - 1.0) + s * (A + 1.0) * cw) / a0;
  c.a2 = ((A + 1.0) + s * (A - 1.0) * cw - t) / a0;
  return c;
}

ResponsePoint MakeResponsePoint(double freqHz, double sampleRate)
{
  const double w = kTwoPi * freqHz / sampleRate;
  return {std::cos(w), std::sin(w), std::cos(2.0 * w), std::sin(2.0 * w)};
}

double SquaredMagnitudeAt(const BiquadCoefficients& c, const ResponsePoint& p)
{
  const double nRe = c.b0 + c.b1 * p.cosW + c.b2 * p.cos2W;
  const double nIm = -(c.b1 * p.sinW + c.b2 * p.sin2W);
  const double dRe = 1.0 + c.a1 * p.cosW + c.a2 * p.cos2W;
  const double dIm = -(c.a1 * p.sinW + c.a2 * p.sin2W);
  return (nRe * nRe + nIm * nIm) / (dRe * dRe + dIm * dIm);
}

double MagnitudeDbAt(const BiquadCoefficients& c, const ResponsePoint& p)
{
  return 10.0 * std::log10(SquaredMagnitudeAt(c, p));
}

double BiquadMagnitudeDb(const BiquadCoefficients& c, double freqHz, double sampleRate)
{
  return MagnitudeDbAt(c, MakeResponsePoint(freqHz, sampleRate));
}

} // namespace morvellan
