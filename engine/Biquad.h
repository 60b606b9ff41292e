#pragma once

#include <cmath>

namespace morvellan {

// Normalised coefficients (a0 = 1) as the designs return them.
struct BiquadCoefficients
{
  double b0 = 1.0;
  double b1 = 0.0;
  double b2 = 0.0;
  double a1 = 0.0;
  double a2 = 0.0;
};

// Second-order section in transposed direct form II, double precision.
// Coefficients and state are separate on purpose: gains and corners glide by
// rewriting coefficients under running state.
struct BiquadSection
{
  double b0 = 1.0;
  double b1 = 0.0;
  double b2 = 0.0;
  double a1 = 0.0;
  double a2 = 0.0;
  double z1 = 0.0; // next output's carried term
  double z2 = 0.0; // term carried into the next z1

  // Fused multiply-adds keep the recursion through y two roundings long; the vector kernels fuse
  // in exactly these places.
  double Process(double x)
  {
    const double y = std::fma(b0, x, z1);
    z1 = std::fma(-a1, y, std::fma(b1, x, z2));
    z2 = std::fma(-a2, y, b2 * x);
    return y;
  }

  // The same for a band-pass design (b1 = 0, b2 = -b0): one product of the input serves both
  // terms and y takes a plain addition, so the analysis bank costs three products per section.
  double ProcessBandPass(double x)
  {
    const double bx = b0 * x;
    const double y = bx + z1;
    z1 = std::fma(-a1, y, z2);
    z2 = std::fma(-a2, y, -bx);
    return y;
  }

  void SetCoefficients(const BiquadCoefficients& c)
  {
    b0 = c.b0;
    b1 = c.b1;
    b2 = c.b2;
    a1 = c.a1;
    a2 = c.a2;
  }

  BiquadCoefficients Coefficients() const { return {b0, b1, b2, a1, a2}; }

  void ClearState()
  {
    z1 = 0.0;
    z2 = 0.0;
  }

  void ResetToIdentity() { *this = BiquadSection(); }
};

// cos w0 and alpha of a peaking band, kept per sample rate so the correction redesigns need no trigonometry.
struct BandShape
{
  double cosW0 = 1.0;
  double alpha = 0.0;
};

BandShape MakeBandShape(double freqHz, double q, double sampleRate);

// RBJ designs. All take frequencies and the sample rate in Hz, gains in dB.
BiquadCoefficients DesignPeaking(double freqHz, double gainDb, double q, double sampleRate);
BiquadCoefficients DesignPeaking(double gainDb, const BandShape& shape);
BiquadCoefficients DesignBandPass(double freqHz, double q, double sampleRate); // 0 dB peak
BiquadCoefficients DesignHighPass(double freqHz, double sampleRate);          // Butterworth, Q = 1/sqrt 2
BiquadCoefficients DesignLowPass(double freqHz, double sampleRate);           // Butterworth, Q = 1/sqrt 2
BiquadCoefficients DesignShelf(bool high, double freqHz, double gainDb, double q, double sampleRate);

// Response in dB of a section at one frequency; an exact zero gives minus infinity.
double BiquadMagnitudeDb(const BiquadCoefficients& c, double freqHz, double sampleRate);

// cos w, sin w, cos 2w, sin 2w at one frequency, so several responses at the same frequency
// share the trigonometry; BiquadMagnitudeDb(c, f, fs) == MagnitudeDbAt(c, MakeResponsePoint(f, fs)).
struct ResponsePoint
{
  double cosW = 1.0;
  double sinW = 0.0;
  double cos2W = 1.0;
  double sin2W = 0.0;
};

ResponsePoint MakeResponsePoint(double freqHz, double sampleRate);
double MagnitudeDbAt(const BiquadCoefficients& c, const ResponsePoint& p);
// |H|² at a response point, the ratio MagnitudeDbAt takes 10·log10 of.
double SquaredMagnitudeAt(const BiquadCoefficients& c, const ResponsePoint& p);

} // namespace morvellan
