#pragma once

#include <cmath>
#include <cstdint>
#include <vector>

namespace morvellan::test {

// Deterministic uniform noise in [-1, 1) from a 64-bit LCG, so runs are identical everywhere.
class Noise
{
public:
  explicit Noise(std::uint64_t seed) : mState(seed * 6364136223846793005ull + 1442695040888963407ull) {}
  double Next()
  {
    mState = mState * 6364136223846793005ull + 1442695040888963407ull;
    return static_cast<double>(mState >> 11) * (2.0 / 9007199254740992.0) - 1.0;
  }

private:
  std::uint64_t mState;
};

inline std::vector<double> WhiteNoise(std::size_t n, double amplitude, std::uint64_t seed)
{
  Noise noise(seed);
  std::vector<double> out(n);
  for (double& v : out)
    v = amplitude * noise.Next();
  return out;
}

// Pink noise (equal power per octave) through Paul Kellet's refined pinking filter, which holds
// within about 0.05 dB of -3 dB/octave from 10 Hz up at 44.1 and 48 kHz.
inline std::vector<double> PinkNoise(std::size_t n, double amplitude, std::uint64_t seed)
{
  Noise noise(seed);
  double b0 = 0, b1 = 0, b2 = 0, b3 = 0, b4 = 0, b5 = 0, b6 = 0;
  std::vector<double> out(n);
  for (double& v : out)
  {
    const double white = noise.Next();
    b0 = 0.99886 * b0 + white * 0.0555179;
    b1 = 0.99332 * b1 + white * 0.0750759;
    b2 = 0.96900 * b2 + white * 0.1538520;
    b3 = 0.86650 * b3 + white * 0.3104856;
    b4 = 0.55000 * b4 + white * 0.5329522;
    b5 = -0.7616 * b5 - white * 0.0168980;
    v = amplitude * (b0 + b1 + b2 + b3 + b4 + b5 + b6 + white * 0.5362) * 0.11;
    b6 = white * 0.115926;
  }
  return out;
}

// Adds a one-pole low-passed copy, lifting everything below the corner by about 20·log10(1 + gain) dB.
inline std::vector<double> WithBassLift(std::vector<double> x, double cornerHz, double gain, double fs)
{
  const double c = 1.0 - std::exp(-2.0 * 3.141592653589793 * cornerHz / fs);
  double lp = 0.0;
  for (double& v : x)
  {
    lp += (v - lp) * c;
    v += gain * lp;
  }
  return x;
}

inline std::vector<double> Sine(std::size_t n, double freqHz, double amplitude, double fs)
{
  std::vector<double> out(n);
  for (std::size_t i = 0; i < n; ++i)
    out[i] = amplitude * std::sin(2.0 * 3.141592653589793 * freqHz * static_cast<double>(i) / fs);
  return out;
}

} // namespace morvellan::test
