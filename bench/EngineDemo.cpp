// Runs the tone engine over ten seconds of generated pink noise with a strong bass lift and prints,
// per band, the level it measures and the correction it settles on.
#include "ToneEngine.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <vector>

using namespace morvellan;

namespace {

std::vector<double> BassyPinkNoise(std::size_t n, double fs, std::uint64_t seed)
{
  std::uint64_t s = seed;
  double b0 = 0, b1 = 0, b2 = 0, b3 = 0, b4 = 0, b5 = 0, b6 = 0, lp = 0;
  const double c = 1.0 - std::exp(-2.0 * 3.141592653589793 * 150.0 / fs);
  std::vector<double> out(n);
  for (double& v : out)
  {
    s = s * 6364136223846793005ull + 1442695040888963407ull;
    const double white = static_cast<double>(s >> 11) * (2.0 / 9007199254740992.0) - 1.0;
    b0 = 0.99886 * b0 + white * 0.0555179;
    b1 = 0.99332 * b1 + white * 0.0750759;
    b2 = 0.96900 * b2 + white * 0.1538520;
    b3 = 0.86650 * b3 + white * 0.3104856;
    b4 = 0.55000 * b4 + white * 0.5329522;
    b5 = -0.7616 * b5 - white * 0.0168980;
    const double pink = (b0 + b1 + b2 + b3 + b4 + b5 + b6 + white * 0.5362) * 0.033;
    b6 = white * 0.115926;
    lp += (pink - lp) * c;
    v = pink + 3.0 * lp; // about +12 dB below 150 Hz
  }
  return out;
}

} // namespace

int main()
{
  const double fs = 48000.0;
  const std::size_t frames = static_cast<std::size_t>(fs * 10.0);
  const int block = 512;
  std::vector<double> left = BassyPinkNoise(frames, fs, 1), right = BassyPinkNoise(frames, fs, 2);

  auto engine = std::make_unique<ToneEngine>();
  engine->Prepare(fs);
  ToneEngineSettings settings;
  settings.amount = 1.0;
  engine->ApplySettings(settings);

  std::vector<double> outL(block), outR(block);
  for (std::size_t pos = 0; pos + block <= frames; pos += block)
  {
    const double* in[2] = {left.data() + pos, right.data() + pos};
    double* out[2] = {outL.data(), outR.data()};
    engine->ProcessSamples(in, out, 2, block);
  }

  std::printf("Pink noise with +12 dB below 150 Hz, 10 s at 48 kHz, Amount 100 %%, balanced target\n");
  std::printf("%10s  %14s  %14s\n", "band (Hz)", "measured (dB)", "correction (dB)");
  for (int k = 0; k < kNumBands; ++k)
    std::printf("%10.1f  %14.2f  %14.2f\n", kBandCentresHz[k], engine->measuredBalance[k], engine->designedGainDb[k]);
  return 0;
}
