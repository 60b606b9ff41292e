#pragma once

#include "Signals.h"
#include "ToneEngine.h"

#include <algorithm>
#include <functional>
#include <vector>

namespace morvellan::test {

using Channels = std::vector<std::vector<double>>;

// Every filter and the correction at work: cut filters, pre-EQ gains, full Amount, a tilt and a
// target band, output gain below unity.
inline ToneEngineSettings WorstPathSettings()
{
  ToneEngineSettings s;
  s.amount = 1.0;
  s.speed = 0.8;
  s.hpOn = true;
  s.hpFreqHz = 60.0;
  s.lpOn = true;
  s.lpFreqHz = 15000.0;
  s.tiltDbPerOct = 2.0;
  s.targetBands[2].gainDb = 4.0;
  s.preEqBands[0].gainDb = 3.0;
  s.preEqBands[2].gainDb = -4.0;
  s.outputDb = -3.0;
  s.thresholdDb = -60.0;
  return s;
}

// Neutral: nothing may change a sample.
inline ToneEngineSettings NeutralSettings()
{
  ToneEngineSettings s;
  s.amount = 0.0;
  return s;
}

// Runs the engine over whole channels in blocks whose sizes come from a repeating pattern; the
// hook runs before each block with the frame index it starts at.
template <typename T = double>
Channels RunEngine(ToneEngine& engine, const Channels& input, const std::vector<int>& blockSizes,
             const std::function<void(ToneEngine&, std::size_t)>& beforeBlock = {})
{
  const int n = static_cast<int>(input.size());
  const std::size_t frames = input[0].size();
  std::vector<std::vector<T>> in(n, std::vector<T>(frames)), out(n, std::vector<T>(frames));
  for (int c = 0; c < n; ++c)
    for (std::size_t i = 0; i < frames; ++i)
      in[c][i] = static_cast<T>(input[c][i]);
  std::vector<const T*> inPtr(n);
  std::vector<T*> outPtr(n);
  std::size_t pos = 0;
  std::size_t b = 0;
  while (pos < frames)
  {
    const std::size_t len = std::min<std::size_t>(static_cast<std::size_t>(blockSizes[b++ % blockSizes.size()]),
                                                  frames - pos);
    if (beforeBlock)
      beforeBlock(engine, pos);
    for (int c = 0; c < n; ++c)
    {
      inPtr[c] = in[c].data() + pos;
      outPtr[c] = out[c].data() + pos;
    }
    engine.ProcessSamples(inPtr.data(), outPtr.data(), n, static_cast<int>(len));
    pos += len;
  }
  Channels result(n, std::vector<double>(frames));
  for (int c = 0; c < n; ++c)
    for (std::size_t i = 0; i < frames; ++i)
      result[c][i] = static_cast<double>(out[c][i]);
  return result;
}

// Stereo pink noise with a strong bass lift, decorrelated between the channels.
inline Channels BassyPinkStereo(std::size_t frames, double fs)
{
  return {WithBassLift(PinkNoise(frames, 0.3, 11), 150.0, 3.0, fs),
          WithBassLift(PinkNoise(frames, 0.3, 12), 150.0, 3.0, fs)};
}

} // namespace morvellan::test
