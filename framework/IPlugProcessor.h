#pragma once

#include <atomic>
#include <string>
#include <vector>

#include "Config.h"
#include "IPlugConstants.h"

namespace iplug
{

// One channel layout: so many inputs to so many outputs.
struct IOConfig
{
  int nIn = 0;
  int nOut = 0;
};

// Parses a channel I/O string such as "1-1 2-2". Malformed entries are skipped.
std::vector<IOConfig> ParseChannelIOStr(const char* str);

// The audio side of a plug-in: the callback, reset, sample rate, block size,
// connected channels, latency and the host's bypass.
class IPlugProcessor
{
public:
  explicit IPlugProcessor(const Config& config);
  virtual ~IPlugProcessor() = default;

  // Audio thread. inputs and outputs hold NChannelsConnected(kInput/kOutput)
  // channels of nFrames samples each; inputs never alias outputs. The default copies
  // the input through.
  virtual void ProcessBlock(sample** inputs, sample** outputs, int nFrames);
  // Called when processing is (re)activated, after the sample rate and block size are set.
  virtual void OnReset() {}

  double GetSampleRate() const { return mSampleRate; }
  int GetBlockSize() const { return mBlockSize; }
  int NChannelsConnected(ERoute direction) const
  {
    return direction == kInput ? mInConnected : mOutConnected;
  }
  bool IsChannelConnected(ERoute direction, int chIdx) const
  {
    return chIdx >= 0 && chIdx < NChannelsConnected(direction);
  }
  int GetLatency() const { return mLatency; }
  virtual void SetLatency(int samples) { mLatency = samples; }
  // The host's bypass (the VST3 bypass parameter), not a plug-in parameter.
  bool GetBypassed() const { return mBypassed.load(std::memory_order_relaxed); }
  const std::vector<IOConfig>& GetIOConfigs() const { return mIOConfigs; }
  bool IsRealtime() const { return mRealtime; }

  // Copies inputs to outputs channel by channel; outputs without an input get silence.
  static void PassThroughBuffers(sample** inputs, int nIn, sample** outputs, int nOut, int nFrames);

protected:
  double mSampleRate = 44100.;
  int mBlockSize = 512;
  int mInConnected = 0;
  int mOutConnected = 0;
  int mLatency = 0;
  bool mRealtime = true;
  std::atomic<bool> mBypassed{false};
  std::vector<IOConfig> mIOConfigs;
};

} // namespace iplug
