#include <cmath>
#include <numbers>
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

} // namespace
