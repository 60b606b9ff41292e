#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>
#include <random>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "IPeakAvgSender.h"

namespace
{

using Sender = iplug::IPeakAvgSender<1>;

// Records what a sender hands to the editor side.
class RecordingDelegate : public iplug::IEditorDelegate
{
public:
  RecordingDelegate() : iplug::IEditorDelegate(0) {}
  void SendControlMsgFromDelegate(int ctrlTag, int msgTag, int dataSize, const void* data) override
  {
    ++messages;
    lastTag = ctrlTag;
    lastMsgTag = msgTag;
    ASSERT_EQ(dataSize, static_cast<int>(sizeof(Sender::Data)));
    last = *static_cast<const Sender::Data*>(data);
  }
  int messages = 0;
  int lastTag = -100;
  int lastMsgTag = -100;
  Sender::Data last;
};

constexpr double kRate = 48000.;

// Feeds the signal in host blocks; with a delegate, empties the queue every 20 ms of
// audio the way the idle timer does.
void Feed(Sender& sender, const std::vector<double>& signal, int tag, RecordingDelegate* dlg = nullptr,
          int blockSize = 64)
{
  size_t sinceTransmit = 0;
  for (size_t start = 0; start < signal.size(); start += static_cast<size_t>(blockSize))
  {
    const int n = static_cast<int>(std::min<size_t>(static_cast<size_t>(blockSize), signal.size() - start));
    const double* chans[1] = {signal.data() + start};
    sender.ProcessBlock(chans, n, tag, 1, 0);
    sinceTransmit += static_cast<size_t>(n);
    if (dlg && sinceTransmit >= 960)
    {
      sender.TransmitData(*dlg);
      sinceTransmit = 0;
    }
  }
}

std::vector<double> Sine(double amplitude, double hz, double seconds)
{
  std::vector<double> v(static_cast<size_t>(seconds * kRate));
  for (size_t i = 0; i < v.size(); ++i)
    v[i] = amplitude * std::sin(2. * std::numbers::pi * hz * static_cast<double>(i) / kRate);
  return v;
}

TEST(IPeakAvgSender, SteadySineReadsItsPeakAndRms)
{
  Sender sender(-90., true, 5.f, 1.f, 100.f, 500.f);
  sender.Reset(kRate);
  RecordingDelegate dlg;
  // 1 kHz fits whole periods into a 5 ms window, so each window's RMS is exact.
  Feed(sender, Sine(0.5, 1000., 0.5), 2, &dlg);
  sender.TransmitData(dlg);
  ASSERT_GE(dlg.messages, 1);
  EXPECT_EQ(dlg.lastTag, 2);
  EXPECT_EQ(dlg.lastMsgTag, iplug::kUpdateMessage);
  EXPECT_EQ(dlg.last.nChans, 1);
  EXPECT_EQ(dlg.last.chanOffset, 0);
  EXPECT_NEAR(dlg.last.vals[0].first, 0.5, 1e-3);
  EXPECT_NEAR(dlg.last.vals[0].second, 0.5 / std::sqrt(2.), 1e-3);
}

TEST(IPeakAvgSender, MeanAbsoluteModeWhenNotRms)
{
  Sender sender(-90., false, 5.f, 1.f, 100.f, 500.f);
  sender.Reset(kRate);
  RecordingDelegate dlg;
  Feed(sender, Sine(1.0, 1000., 0.5), 3, &dlg);
  sender.TransmitData(dlg);
  ASSERT_GE(dlg.messages, 1);
  EXPECT_NEAR(dlg.last.vals[0].second, 2. / std::numbers::pi, 2e-3);
}

TEST(IPeakAvgSender, PeakHoldsThenFalls)
{
  Sender sender(-90., true, 5.f, 1.f, 100.f, 500.f);
  sender.Reset(kRate);
  RecordingDelegate dlg;
  std::vector<double> burst(240, 0.); // one 5 ms window with a single loud sample
  burst[10] = 0.9;
  Feed(sender, burst, 2);
  Feed(sender, Sine(0.1, 1000., 0.3), 2, &dlg); // well inside the 500 ms hold
  sender.TransmitData(dlg);
  EXPECT_NEAR(dlg.last.vals[0].first, 0.9, 1e-6);

  Feed(sender, Sine(0.1, 1000., 1.0), 2, &dlg); // past the hold: decays towards 0.1
  sender.TransmitData(dlg);
  EXPECT_LT(dlg.last.vals[0].first, 0.2);
  EXPECT_GE(dlg.last.vals[0].first, 0.1 - 1e-6);
}

TEST(IPeakAvgSender, AverageAttacksFastAndDecaysSlowly)
{
  Sender sender(-90., true, 5.f, 1.f, 100.f, 500.f);
  sender.Reset(kRate);
  RecordingDelegate dlg;
  Feed(sender, Sine(1.0, 1000., 0.01), 2); // two windows
  sender.TransmitData(dlg);
  EXPECT_GT(dlg.last.vals[0].second, 0.7); // 1 ms attack: at the level within a window or two

  Feed(sender, std::vector<double>(240 * 20, 0.), 2, &dlg); // 100 ms of silence = one decay time
  sender.TransmitData(dlg);
  // exp(-1) of the level after one decay time constant.
  EXPECT_NEAR(dlg.last.vals[0].second, std::exp(-1.) / std::sqrt(2.), 0.02);
}

TEST(IPeakAvgSender, BelowTheFloorIsSilenceReportedOnce)
{
  Sender sender(-60., true, 5.f, 1.f, 1.f, 0.f);
  sender.Reset(kRate);
  RecordingDelegate dlg;
  Feed(sender, Sine(0.0001, 1000., 0.1), 2); // -80 dBFS
  sender.TransmitData(dlg);
  ASSERT_EQ(dlg.messages, 1); // the first window after a reset always reports
  EXPECT_EQ(dlg.last.vals[0].first, 0.f);
  EXPECT_EQ(dlg.last.vals[0].second, 0.f);
  Feed(sender, Sine(0.0001, 1000., 0.1), 2);
  sender.TransmitData(dlg);
  EXPECT_EQ(dlg.messages, 1); // nothing new to say
}

TEST(IPeakAvgSender, NoTagNoMessagesAndBadInputIgnored)
{
  Sender sender;
  sender.Reset(kRate);
  RecordingDelegate dlg;
  Feed(sender, Sine(0.5, 1000., 0.1), iplug::kNoTag);
  sender.ProcessBlock(nullptr, 64, 2);
  const double* chans[1] = {nullptr};
  sender.ProcessBlock(chans, 64, 2, 1, 0); // a missing channel reads as silence
  sender.ProcessBlock(chans, -3, 2);
  sender.TransmitData(dlg);
  EXPECT_LE(dlg.messages, 1);
  if (dlg.messages == 1)
  {
    EXPECT_EQ(dlg.lastTag, 2);
  }
}

TEST(IPeakAvgSender, QueueCarriesValuesAcrossThreads)
{
  Sender sender(-90., true, 5.f, 1.f, 100.f, 500.f);
  sender.Reset(kRate);
  RecordingDelegate dlg;
  const auto signal = Sine(0.25, 1000., 0.005);
  std::atomic<bool> done{false};
  std::thread audio([&] {
    for (int i = 0; i < 2000; ++i)
      Feed(sender, signal, 7);
    done = true;
  });
  while (!done)
    sender.TransmitData(dlg);
  audio.join();
  sender.TransmitData(dlg);
  ASSERT_GT(dlg.messages, 0);
  EXPECT_EQ(dlg.lastTag, 7);
  EXPECT_NEAR(dlg.last.vals[0].first, 0.25, 1e-3);
}

TEST(IPeakAvgSender, BadSamplesLeaveNoTrace)
{
  // 48 kHz: 240-frame windows, attack exp(-5), decay exp(-0.05) a window, 100 windows of hold. The
  // sine's windows hold whole periods; 2 s at 0.05 leave 0.30 exp(-20) of the average and 0.45
  // exp(-15) (under 2e-7) of the peak after their 400 windows of fall and the peak's 100 of hold.
  const auto sine = Sine(0.5, 1000., 0.5);
  const std::vector<double> quiet(static_cast<size_t>(2. * kRate), 0.05);
  constexpr double kInf = std::numeric_limits<double>::infinity();
  for (const double b : {std::nan(""), kInf, -kInf, 1e300 /* its square overflows */})
    for (const int n : {1, 31, 512})
      for (const bool mix : {false, true})
      {
        SCOPED_TRACE(testing::Message() << b << " x " << n << (mix ? ", stereo mix" : ", one channel"));
        Sender sender(-90., true, 5.f, 1.f, 100.f, 500.f);
        sender.Reset(kRate);
        const std::vector<double> badBlock(static_cast<size_t>(n), b), zeros(static_cast<size_t>(n), 0.);
        const double* chans[2] = {badBlock.data(), zeros.data()};
        mix ? sender.ProcessMix(chans, 2, n, 2) : sender.ProcessBlock(chans, n, 2, 1, 0);
        Feed(sender, sine, 2);
        EXPECT_NEAR(sender.HeldPeakAndAverage(0).first, 0.5, 1e-12);
        EXPECT_NEAR(sender.HeldPeakAndAverage(0).second, 0.5 / std::sqrt(2.), 1e-12);
        Feed(sender, quiet, 2);
        EXPECT_NEAR(sender.HeldPeakAndAverage(0).first, 0.05, 2e-7);
        EXPECT_NEAR(sender.HeldPeakAndAverage(0).second, 0.05, 1e-9);
      }
}

// The meter as it was first written: one sample at a time, the channels mixed per sample, the
// window's ballistics as the sender's comment describes them.
class PerSampleMeter
{
public:
  PerSampleMeter(double rate, double floorDb, bool rms, float windowMs, float attackMs, float decayMs, float holdMs)
  : mFloor(std::pow(10., floorDb / 20.)), mRms(rms)
  {
    mWindow = std::max(1L, std::lround(windowMs * 0.001 * rate));
    const double windowSec = double(mWindow) / rate;
    mAttack = std::exp(-windowSec / (attackMs * 0.001));
    mDecay = std::exp(-windowSec / (decayMs * 0.001));
    mHoldWindows = int(std::lround(holdMs * 0.001 / windowSec));
  }

  void Feed(const double* const* chans, int nChans, int nFrames, int tag, std::vector<Sender::Data>& sent)
  {
    for (int t = 0; t < nFrames; ++t)
    {
      double sum = 0.;
      for (int c = 0; c < nChans; ++c)
        sum += chans[c] ? chans[c][t] : 0.;
      const double x = std::fabs(sum / nChans);
      if (x > mWindowPeak)
        mWindowPeak = x;
      mWindowSum += mRms ? x * x : x;
      if (++mCount == mWindow)
        EndWindow(tag, sent);
    }
  }

  double heldPeak = 0., avg = 0.;

private:
  void EndWindow(int tag, std::vector<Sender::Data>& sent)
  {
    const double mean = mWindowSum / double(mWindow);
    const double level = mRms ? std::sqrt(mean) : mean;
    avg = level + (level > avg ? mAttack : mDecay) * (avg - level);
    if (mWindowPeak >= heldPeak)
    {
      heldPeak = mWindowPeak;
      mHoldLeft = mHoldWindows;
    }
    else if (mHoldLeft > 0)
      --mHoldLeft;
    else
      heldPeak = mWindowPeak + mDecay * (heldPeak - mWindowPeak);
    Sender::Data d;
    d.ctrlTag = tag;
    d.vals[0] = {heldPeak >= mFloor ? float(heldPeak) : 0.f, avg >= mFloor ? float(avg) : 0.f};
    const bool audible = d.vals[0].first > 0.f || d.vals[0].second > 0.f;
    if (audible || mSentAudible)
      sent.push_back(d);
    mSentAudible = audible;
    mCount = 0;
    mWindowPeak = mWindowSum = 0.;
  }

  double mFloor;
  bool mRms;
  long mWindow = 1, mCount = 0;
  double mAttack = 0., mDecay = 0.;
  int mHoldWindows = 0, mHoldLeft = 0;
  double mWindowPeak = 0., mWindowSum = 0.;
  bool mSentAudible = true;
};

bool Close(double a, double b) { return std::fabs(a - b) <= 1e-12 * std::max(std::fabs(a), std::fabs(b)); }

TEST(IPeakAvgSender, SpansMatchAPerSampleMeter)
{
  struct Case
  {
    const char* name;
    int nChans;
    bool mix; // ProcessMix, else ProcessBlock with one channel
    bool rms;
    bool nullChannel;
  };
  const Case cases[] = {
      {"stereo mix, RMS", 2, true, true, false},
      {"stereo mix, mean absolute", 2, true, false, false},
      {"one channel", 1, false, true, false},
      {"one channel as a mix", 1, true, true, false},
      {"three channels, one missing", 3, true, true, true},
  };
  // Whole and partial windows: 44.1 kHz makes the 5 ms window 221 frames.
  const int sizes[] = {1, 31, 512, 4096, 220, 221, 222, 443, 7, 1000};
  constexpr double kRate44 = 44100.;

  for (const Case& c : cases)
  {
    SCOPED_TRACE(c.name);
    Sender sender(-90., c.rms, 5.f, 1.f, 100.f, 500.f);
    sender.Reset(kRate44);
    PerSampleMeter reference(kRate44, -90., c.rms, 5.f, 1.f, 100.f, 500.f);
    std::mt19937_64 random(42);
    std::uniform_int_distribution<int> pick(0, int(std::size(sizes)) - 1);
    std::uniform_real_distribution<double> sampleDist(-1., 1.);
    int loud = 0, silent = 0;

    for (int block = 0; block < 300; ++block)
    {
      const int n = sizes[block < int(std::size(sizes)) ? block : pick(random)];
      // Loud, quiet, below the floor and silent stretches, so the hold, the decay and the
      // once-only silence message all happen.
      const double loudness[] = {0.9, 0.05, 0., 0., 0., 1e-6, 0.};
      const double amplitude = loudness[(block / 20) % std::size(loudness)];
      std::vector<std::vector<double>> chans(std::size_t(c.nChans), std::vector<double>(std::size_t(n)));
      for (auto& ch : chans)
        for (double& v : ch)
          v = amplitude * sampleDist(random);
      std::vector<const double*> ptrs;
      for (auto& ch : chans)
        ptrs.push_back(ch.data());
      if (c.nullChannel)
        ptrs[1] = nullptr;

      std::vector<Sender::Data> expected, got;
      reference.Feed(ptrs.data(), c.nChans, n, 2, expected);
      if (c.mix)
        sender.ProcessMix(ptrs.data(), c.nChans, n, 2);
      else
        sender.ProcessBlock(ptrs.data(), n, 2, 1, 0);
      Sender::Data d;
      while (sender.PopData(d))
        got.push_back(d);

      ASSERT_EQ(got.size(), expected.size()) << "block " << block << " of " << n;
      for (std::size_t i = 0; i < got.size(); ++i)
      {
        EXPECT_EQ(got[i].ctrlTag, 2);
        EXPECT_EQ(got[i].nChans, 1);
        EXPECT_EQ(got[i].chanOffset, 0);
        EXPECT_EQ(got[i].vals[0].first, expected[i].vals[0].first) << "block " << block;
        EXPECT_FLOAT_EQ(got[i].vals[0].second, expected[i].vals[0].second) << "block " << block;
      }
      for (const Sender::Data& m : got)
        ++(m.vals[0].first == 0.f && m.vals[0].second == 0.f ? silent : loud);
      const auto [peak, avg] = sender.HeldPeakAndAverage(0);
      EXPECT_EQ(peak, reference.heldPeak) << "block " << block;
      EXPECT_TRUE(Close(avg, reference.avg)) << "block " << block << ": " << avg << " vs " << reference.avg;
    }
    // Loud windows and the once-only silence were both reported.
    EXPECT_GT(loud, 100);
    EXPECT_GT(silent, 0);
  }
}

} // namespace
