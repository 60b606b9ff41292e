#pragma once

#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

#include "IPeakAvgSender.h"
#include "Morvellan.h"

// A Morvellan the tests drive directly: the host's sample rate, block size and channel
// counts are set by hand, and meter messages to the editor are captured.
class TestPlug : public Morvellan
{
public:
  using Channels = std::vector<std::vector<double>>;

  TestPlug() : Morvellan(iplug::InstanceInfo{}) {}

  void Setup(double sampleRate, int blockSize, int nIn, int nOut)
  {
    mSampleRate = sampleRate;
    mBlockSize = blockSize;
    SetChannels(nIn, nOut);
    OnReset();
  }

  void SetChannels(int nIn, int nOut)
  {
    mInConnected = nIn;
    mOutConnected = nOut;
  }

  void Set(int index, double value) { GetParam(index)->Set(value); }
  double Get(int index) const { return GetParam(index)->Value(); }

  // Amount 0, cut filters off, pre-EQ flat, output 0 dB: the engine must leave audio untouched.
  void SetNeutral()
  {
    Set(kAmount, 0.0);
    Set(kHPOn, 0.0);
    Set(kLPOn, 0.0);
  }

  // Runs the input through in blocks of blockSize frames; nOut output channels come back.
  Channels Run(const Channels& in, int nOut, int blockSize)
  {
    const int nIn = int(in.size());
    const int total = in.empty() ? 0 : int(in[0].size());
    Channels out(std::size_t(nOut), std::vector<double>(std::size_t(total), 7.0));
    std::vector<double*> inPtrs(std::size_t(nIn) + 1), outPtrs(std::size_t(nOut) + 1);
    SetChannels(nIn, nOut);
    for (int pos = 0; pos < total || (total == 0 && pos == 0); pos += blockSize)
    {
      const int n = std::min(blockSize, total - pos);
      for (int c = 0; c < nIn; ++c)
        inPtrs[std::size_t(c)] = const_cast<double*>(in[std::size_t(c)].data()) + pos;
      for (int c = 0; c < nOut; ++c)
        outPtrs[std::size_t(c)] = out[std::size_t(c)].data() + pos;
      ProcessBlock(inPtrs.data(), outPtrs.data(), n);
      if (total == 0)
        break;
    }
    return out;
  }

  // The newest (peak, average) a meter control would have received.
  struct MeterReading
  {
    bool seen = false;
    float peak = 0.0f;
    float average = 0.0f;
  };
  MeterReading meters[4];

  void SendControlMsgFromDelegate(int ctrlTag, int msgTag, int dataSize, const void* data) override
  {
    using Data = iplug::IPeakAvgSender<1>::Data;
    if (ctrlTag < 0 || ctrlTag >= 4 || msgTag != iplug::kUpdateMessage || dataSize != int(sizeof(Data)))
      return;
    const Data d = *static_cast<const Data*>(data);
    meters[ctrlTag] = {true, d.vals[0].first, d.vals[0].second};
  }
};

// Deterministic noise in [-amplitude, amplitude).
inline std::vector<double> Noise(int frames, double amplitude, std::uint32_t seed)
{
  std::vector<double> v(static_cast<std::size_t>(frames));
  std::uint32_t x = seed * 2654435761u + 1u;
  for (double& s : v)
  {
    x = x * 1664525u + 1013904223u;
    s = amplitude * (double(x >> 8) / double(1u << 24) * 2.0 - 1.0);
  }
  return v;
}
