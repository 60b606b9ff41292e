#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <utility>

#include "IEditorDelegate.h"
#include "IPlugConstants.h"
#include "IPlugQueue.h"
#include "SampleKernels.h"

namespace iplug
{

// What a sender hands to the control with its tag: which channels, and one value per channel.
template <int MAXNC = 1, class T = float>
struct ISenderData
{
  int ctrlTag = kNoTag;
  int nChans = MAXNC;
  int chanOffset = 0;
  std::array<T, MAXNC> vals{};
};

// Level meter sender. The audio thread feeds it blocks, measured in spans that end with a
// window; every window it takes each channel's peak and average (RMS or mean absolute),
// applies attack/decay ballistics to the average and a hold-then-decay to the peak, and
// queues one (peak, average) pair per channel as linear amplitudes. Levels under the floor are sent as 0. The UI side empties
// the queue with TransmitData. Nothing here locks or allocates after construction.
template <int MAXNC = 1, int QUEUE_SIZE = 64>
class IPeakAvgSender
{
public:
  using Data = ISenderData<MAXNC, std::pair<float, float>>;

  IPeakAvgSender(double minThresholdDb = -90., bool rmsMode = true, float windowSizeMs = 5.f,
                 float attackTimeMs = 1.f, float decayTimeMs = 100.f, float peakHoldTimeMs = 500.f)
  : mFloorAmp(std::pow(10., minThresholdDb / 20.))
  , mRmsMode(rmsMode)
  , mWindowMs(std::max(windowSizeMs, 0.f))
  , mAttackMs(std::max(attackTimeMs, 0.f))
  , mDecayMs(std::max(decayTimeMs, 0.f))
  , mHoldMs(std::max(peakHoldTimeMs, 0.f))
  {
    Reset(44100.);
  }

  // Not thread-safe against ProcessBlock: call while the audio thread is stopped.
  void Reset(double sampleRate)
  {
    if (!(sampleRate > 0.) || !std::isfinite(sampleRate))
      sampleRate = 44100.;
    mWindowSize = std::max(1L, std::lround(mWindowMs * 0.001 * sampleRate));
    const double windowSec = static_cast<double>(mWindowSize) / sampleRate;
    mAttackCoeff = Coefficient(windowSec, mAttackMs);
    mDecayCoeff = Coefficient(windowSec, mDecayMs);
    mHoldWindows = static_cast<int>(std::lround(mHoldMs * 0.001 / windowSec));
    mCount = 0;
    mChannels = {};
    mSentAudible = true; // the next window reports, so a meter falls to silence after a reset
  }

  // Meters each of nChans channels on its own; a null channel reads as silence.
  void ProcessBlock(const sample* const* inputs, int nFrames, int ctrlTag = kNoTag, int nChans = MAXNC,
                    int chanOffset = 0)
  {
    if (!inputs || nFrames < 1)
      return;
    nChans = std::clamp(nChans, 0, MAXNC);
    ForEachSpan(nFrames, ctrlTag, nChans, chanOffset, [&](int from, int n) {
      for (int c = 0; c < nChans; ++c)
        if (inputs[c])
          Accumulate(mChannels[c], Measure(&inputs[c], 1, from, n));
    });
  }

  // Meters the mean of nChans channels (summed in channel order, then divided by their number)
  // as the first channel, without a mixed copy of the block.
  void ProcessMix(const sample* const* inputs, int nChans, int nFrames, int ctrlTag = kNoTag)
  {
    if (!inputs || nChans < 1 || nFrames < 1)
      return;
    ForEachSpan(nFrames, ctrlTag, 1, 0, [&](int from, int n) {
      Accumulate(mChannels[0], Measure(inputs, nChans, from, n));
    });
  }

  // UI side: the oldest queued values; false when there are none.
  bool PopData(Data& d) { return mQueue.Pop(d); }

  // The held peak and the smoothed average of a channel as the last window left them, before
  // the floor is applied. Audio-thread state: read it while no block runs.
  std::pair<double, double> HeldPeakAndAverage(int chan) const
  {
    const auto& ch = mChannels[static_cast<size_t>(std::clamp(chan, 0, MAXNC - 1))];
    return {ch.heldPeak, ch.avg};
  }

  // UI side: forwards the newest queued values to the control with their tag.
  void TransmitData(IEditorDelegate& dlg)
  {
    Data d;
    bool any = false;
    while (PopData(d))
      any = true;
    if (any)
      dlg.SendControlMsgFromDelegate(d.ctrlTag, kUpdateMessage, static_cast<int>(sizeof(Data)), &d);
  }

private:
  struct Channel
  {
    double windowPeak = 0.; // largest |x| in the current window
    double windowSum = 0.;  // sum of x^2 (RMS) or |x| over the current window
    double avg = 0.;        // smoothed average amplitude
    double heldPeak = 0.;   // peak shown, held then decaying
    int holdLeft = 0;       // windows left before the held peak starts to fall
  };

  // Whole windows at a time: each span ends where the block or the current window ends.
  template <class MeasureSpan>
  void ForEachSpan(int nFrames, int ctrlTag, int nChans, int chanOffset, MeasureSpan measure)
  {
    for (int done = 0; done < nFrames;)
    {
      const int span = static_cast<int>(std::min<long>(nFrames - done, mWindowSize - mCount));
      measure(done, span);
      done += span;
      mCount += span;
      if (mCount >= mWindowSize)
      {
        EndWindow(ctrlTag, nChans, chanOffset);
        mCount = 0;
      }
    }
  }

  // A sample that is no number, infinite or absurdly large would stay in the window's sums and
  // then in the ballistics for good; such a span is measured again with those samples as silence.
  kernels::Levels Measure(const sample* const* chans, int nChans, int from, int n) const
  {
    const kernels::Levels levels = kernels::MeasureSpan(chans, nChans, from, n, mRmsMode);
    if (kernels::Measurable(levels)) [[likely]]
      return levels;
    return kernels::MeasureSpanScreened(chans, nChans, from, n, mRmsMode);
  }

  static void Accumulate(Channel& ch, const kernels::Levels& span)
  {
    if (span.peak > ch.windowPeak)
      ch.windowPeak = span.peak;
    ch.windowSum += span.sum;
  }

  static double Coefficient(double windowSec, float timeMs)
  {
    return timeMs > 0.f ? std::exp(-windowSec / (timeMs * 0.001)) : 0.;
  }

  void EndWindow(int ctrlTag, int nChans, int chanOffset)
  {
    Data d;
    d.ctrlTag = ctrlTag;
    d.nChans = nChans;
    d.chanOffset = chanOffset;
    bool audible = false;
    for (int c = 0; c < nChans; ++c)
    {
      auto& ch = mChannels[c];
      const double mean = ch.windowSum / static_cast<double>(mWindowSize);
      const double level = mRmsMode ? std::sqrt(mean) : mean;
      const double coeff = level > ch.avg ? mAttackCoeff : mDecayCoeff;
      ch.avg = level + coeff * (ch.avg - level);

      if (ch.windowPeak >= ch.heldPeak)
      {
        ch.heldPeak = ch.windowPeak;
        ch.holdLeft = mHoldWindows;
      }
      else if (ch.holdLeft > 0)
        --ch.holdLeft;
      else
        ch.heldPeak = ch.windowPeak + mDecayCoeff * (ch.heldPeak - ch.windowPeak);

      const float peak = ch.heldPeak >= mFloorAmp ? static_cast<float>(ch.heldPeak) : 0.f;
      const float avg = ch.avg >= mFloorAmp ? static_cast<float>(ch.avg) : 0.f;
      d.vals[c] = {peak, avg};
      audible = audible || peak > 0.f || avg > 0.f;
      ch.windowPeak = 0.;
      ch.windowSum = 0.;
    }
    // Silence is reported once, then not again until something is heard.
    if (ctrlTag != kNoTag && (audible || mSentAudible))
    {
      if (mQueue.Push(d))
        mSentAudible = audible;
    }
  }

  const double mFloorAmp;
  const bool mRmsMode;
  const float mWindowMs, mAttackMs, mDecayMs, mHoldMs;
  long mWindowSize = 1;
  double mAttackCoeff = 0., mDecayCoeff = 0.;
  int mHoldWindows = 0;
  long mCount = 0;
  bool mSentAudible = true;
  std::array<Channel, MAXNC> mChannels{};
  IPlugQueue<Data, QUEUE_SIZE> mQueue;
};

} // namespace iplug
