#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <limits>

#include <xmmintrin.h>

#include "ChunkBytes.h"
#include "TestPlug.h"
#include "Vst3TestObjects.h"

namespace {

using Channels = TestPlug::Channels;

Channels MakeInput(int nIn, int frames)
{
  Channels in;
  for (int c = 0; c < nIn; ++c)
    in.push_back(Noise(frames, 0.5, std::uint32_t(c + 1)));
  return in;
}

bool BitIdentical(const std::vector<double>& a, const std::vector<double>& b)
{
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0;
}

void LoadChunk(TestPlug& plug, const std::vector<std::uint8_t>& bytes)
{
  iplug::IByteChunk chunk;
  chunk.PutBytes(bytes.data(), int(bytes.size()));
  ASSERT_GE(plug.UnserializeState(chunk, 0), 0);
}

// A version-5 chunk whose parameters are the plug-in's current values and whose target is given.
std::vector<std::uint8_t> ChunkWithTarget(const TestPlug& plug, int version, bool hasTarget, double relFirst,
                                          double absFirst)
{
  Bytes c;
  c.Magic().I32(version).I32(0).I32(720).I32(532).I32(hasTarget ? 1 : 0).F64s(12, relFirst, 0.5);
  if (version >= 2)
    c.Str("song.wav");
  for (int i = 0; i < 24; ++i)
    c.F64(plug.Get(i));
  if (version >= 3)
    c.F64s(12, absFirst, -0.25);
  if (version >= 4)
  {
    c.I32(0).I32(22);
    for (int i = 24; i < kNumParams; ++i)
      c.F64(plug.Get(i));
  }
  if (version >= 5)
    c.I32(0).Str("").I32(0);
  return c.b;
}

} // namespace

TEST(AudioCallback, NeutralSettingsLeaveAudioBitIdenticalInEveryLayout)
{
  struct Layout
  {
    int nIn, nOut;
  };
  const Layout layouts[] = {{1, 1}, {2, 2}, {1, 2}, {2, 1}, {3, 3}};
  const int blockSizes[] = {1, 31, 33, 512, 4096};
  for (const Layout l : layouts)
  {
    for (int block : blockSizes)
    {
      TestPlug plug;
      plug.SetNeutral();
      plug.Setup(48000.0, 512, l.nIn, l.nOut);
      Channels in = MakeInput(l.nIn, 6000);
      in[0][4000] = std::numeric_limits<double>::denorm_min();
      in[0][4001] = -0.0;
      const Channels out = plug.Run(in, l.nOut, block);
      const int n = std::min(l.nIn, l.nOut);
      for (int c = 0; c < l.nOut; ++c)
      {
        // Channels the engine runs come back unchanged; extra outputs copy the first input.
        const auto& expected = c < n ? in[std::size_t(c)] : in[0];
        EXPECT_TRUE(BitIdentical(out[std::size_t(c)], expected))
            << l.nIn << "-" << l.nOut << " block " << block << " channel " << c;
      }
    }
  }
}

TEST(AudioCallback, BypassPassesAudioThroughWhateverTheSettings)
{
  TestPlug plug;
  plug.Set(kAmount, 100.0);
  plug.Set(kHPFreq, 1000.0);
  plug.Set(kOutput, 12.0);
  plug.Set(kPreEq2Gain, 9.0);
  plug.Setup(44100.0, 256, 2, 2);

  Channels in = MakeInput(2, 3000);
  in[0][100] = std::numeric_limits<double>::denorm_min(); // a copy keeps even these
  in[1][7] = -0.0;

  // Not bypassed, these settings change the sound: the comparison below means something.
  const Channels active = plug.Run(in, 2, 256);
  EXPECT_FALSE(BitIdentical(active[0], in[0]));

  plug.Set(kBypass, 1.0);
  const Channels out = plug.Run(in, 2, 256);
  EXPECT_TRUE(BitIdentical(out[0], in[0]));
  EXPECT_TRUE(BitIdentical(out[1], in[1]));

  // Mono in, stereo out under bypass: the second output repeats the first.
  const Channels mono = MakeInput(1, 1000);
  const Channels widened = plug.Run(mono, 2, 100);
  EXPECT_TRUE(BitIdentical(widened[0], mono[0]));
  EXPECT_TRUE(BitIdentical(widened[1], mono[0]));
}

TEST(AudioCallback, MissingInputsGiveSilenceAndZeroFramesDoNothing)
{
  TestPlug plug;
  plug.Setup(48000.0, 128, 0, 2);
  const Channels none;
  Channels out(2, std::vector<double>(128, 7.0));
  double* outPtrs[2] = {out[0].data(), out[1].data()};
  plug.SetChannels(0, 2);
  plug.ProcessBlock(nullptr, outPtrs, 128);
  for (const auto& ch : out)
    for (double s : ch)
      ASSERT_EQ(s, 0.0);

  // A parameter-only call: no frames, and nothing is touched.
  Channels in = MakeInput(2, 4);
  Channels untouched(2, std::vector<double>(4, 3.0));
  double* inPtrs[2] = {in[0].data(), in[1].data()};
  double* untouchedPtrs[2] = {untouched[0].data(), untouched[1].data()};
  plug.SetChannels(2, 2);
  plug.ProcessBlock(inPtrs, untouchedPtrs, 0);
  EXPECT_EQ(untouched[0][0], 3.0);
  EXPECT_EQ(untouched[1][3], 3.0);
}

TEST(AudioCallback, ActiveSettingsChangeOnlyTheProcessedChannels)
{
  TestPlug plug;
  plug.SetNeutral();
  plug.Set(kOutput, -6.0);
  plug.Setup(48000.0, 512, 3, 3);
  const Channels in = MakeInput(3, 48000 / 4);
  const Channels out = plug.Run(in, 3, 512);
  // The output sits 6 dB down on the first two channels.
  const std::size_t late = in[0].size() - 10;
  EXPECT_NEAR(out[0][late] / in[0][late], std::pow(10.0, -6.0 / 20.0), 1e-9);
  EXPECT_NEAR(out[1][late] / in[1][late], std::pow(10.0, -6.0 / 20.0), 1e-9);
  EXPECT_TRUE(BitIdentical(out[2], in[2]));
}

// A state restored into a fresh instance, into one that ran at other settings and is then reset,
// or after activation but before the first block: each plays from frame 0 what an instance that
// has long settled at those settings plays, which the checks below hold to the physics.
TEST(AudioCallback, AResetStartsAtTheInstancesOwnSettings)
{
  auto steadyOutput = [](double outputDb, bool hpOn, const Channels& in) {
    TestPlug settled;
    settled.Setup(48000.0, 256, 2, 2);
    settled.Run(Channels(2, std::vector<double>(256, 0.0)), 2, 256);
    settled.Set(kAmount, 0.0);
    settled.Set(kLPOn, 0.0);
    settled.Set(kHPOn, hpOn ? 1.0 : 0.0);
    settled.Set(kHPFreq, 500.0);
    settled.Set(kOutput, outputDb);
    iplug::IByteChunk chunk;
    EXPECT_TRUE(settled.SerializeState(chunk));
    settled.Run(Channels(2, std::vector<double>(48000, 0.0)), 2, 256); // every glide ends
    const Channels steady = settled.Run(in, 2, 256);
    for (int route = 0; route < 3; ++route)
    {
      TestPlug plug;
      if (route > 0)
        plug.Setup(48000.0, 256, 2, 2);
      if (route == 1)
        plug.Run(MakeInput(2, 4800), 2, 256);
      LoadChunk(plug, {chunk.GetData(), chunk.GetData() + chunk.Size()});
      if (route < 2)
        plug.Setup(48000.0, 256, 2, 2);
      const Channels out = plug.Run(in, 2, 256);
      std::size_t t = 0;
      while (t < in[0].size() && std::fabs(out[0][t] - steady[0][t]) <= 1e-12)
        ++t;
      EXPECT_EQ(t, in[0].size()) << "route " << route << " differs from frame " << t;
    }
    return steady[0];
  };

  // Output -24 dB: every frame 24 dB down.
  const Channels noise = MakeInput(2, 4800);
  const std::vector<double> quiet = steadyOutput(-24.0, false, noise);
  for (std::size_t t = 0; t < noise[0].size(); ++t)
    ASSERT_NEAR(20.0 * std::log10(quiet[t] / noise[0][t]), -24.0, 0.01) << "frame " << t;
  // High-pass at 500 Hz: a 100 Hz sine 10·log10(1 + (tan(π·500/fs) / tan(π·100/fs))^4) = 28 dB
  // down, as a 2nd-order Butterworth has it.
  std::vector<double> sine(4800);
  for (std::size_t t = 0; t < sine.size(); ++t)
    sine[t] = std::sin(2.0 * M_PI * 100.0 * double(t) / 48000.0);
  const std::vector<double> cut = steadyOutput(0.0, true, {sine, sine});
  double power = 0.0;
  for (std::size_t t = 2400; t < 4800; ++t)
    power += cut[t] * cut[t] / 1200.0; // relative to the sine's own power, 1/2
  const double ratio = std::tan(M_PI * 500.0 / 48000.0) / std::tan(M_PI * 100.0 / 48000.0);
  EXPECT_NEAR(10.0 * std::log10(power), -10.0 * std::log10(1.0 + std::pow(ratio, 4.0)), 0.05);
}

// A set-up takes effect at activation. While active, a host may only confirm the one in force; a
// different one is refused rather than answered with a success that changes nothing.
TEST(AudioCallback, ASetUpWhileActiveIsRefusedUnlessItIsInForce)
{
  using namespace Steinberg::Vst;
  TestPlug plug;
  plug.SetNeutral();
  plug.Set(kHPOn, 1.0);
  plug.Set(kHPFreq, 1000.0);
  // A 1 kHz sine through a Butterworth high-pass at 1 kHz comes out 3.01 dB down at any rate.
  auto expectCorner = [&plug](double fs) {
    std::vector<double> sine(std::size_t(fs / 5));
    for (std::size_t t = 0; t < sine.size(); ++t)
      sine[t] = std::sin(2.0 * M_PI * 1000.0 * double(t) / fs);
    const Channels out = plug.Run({sine}, 1, 512);
    double power = 0.0;
    for (std::size_t t = sine.size() / 2; t < sine.size(); ++t)
      power += out[0][t] * out[0][t] / double(sine.size() / 4);
    EXPECT_NEAR(10.0 * std::log10(power), -10.0 * std::log10(2.0), 0.05) << fs;
  };
  ProcessSetup at48{kRealtime, kSample64, 512, 48000.0}, at96{kRealtime, kSample64, 512, 96000.0};
  ASSERT_EQ(plug.setupProcessing(at48), Steinberg::kResultOk);
  ASSERT_EQ(plug.setActive(true), Steinberg::kResultOk);
  plug.setProcessing(false);
  EXPECT_EQ(plug.setupProcessing(at96), Steinberg::kResultFalse);
  EXPECT_EQ(plug.setupProcessing(at48), Steinberg::kResultOk);
  expectCorner(48000.0);
  plug.setActive(false);
  ASSERT_EQ(plug.setupProcessing(at96), Steinberg::kResultOk);
  plug.setActive(true);
  expectCorner(96000.0);
}

TEST(AudioCallback, EngineIsReconfiguredOnlyWhenSettingsChangeOrAfterReset)
{
  TestPlug plug;
  plug.Setup(48000.0, 64, 2, 2);
  const Channels in = MakeInput(2, 64);
  plug.Run(in, 2, 64);
  EXPECT_DOUBLE_EQ(plug.mEngine.settings.amount, 0.5);

  // A mark in the engine's copy survives blocks whose parameters did not change ...
  plug.mEngine.settings.amount = 0.123;
  plug.Run(in, 2, 64);
  EXPECT_DOUBLE_EQ(plug.mEngine.settings.amount, 0.123);

  // ... but not a parameter change ...
  plug.Set(kSpeed, 80.0);
  plug.Run(in, 2, 64);
  EXPECT_DOUBLE_EQ(plug.mEngine.settings.amount, 0.5);
  EXPECT_DOUBLE_EQ(plug.mEngine.settings.speed, 0.8);

  // ... nor a reset.
  plug.mEngine.settings.amount = 0.123;
  plug.OnReset();
  plug.Run(in, 2, 64);
  EXPECT_DOUBLE_EQ(plug.mEngine.settings.amount, 0.5);
}

TEST(AudioCallback, SettingsComeFromTheParameters)
{
  TestPlug plug;
  plug.Set(kAmount, 25.0);
  plug.Set(kPreEqRespect, 80.0);
  plug.Set(kLowOn, 0.0);
  plug.Set(kAirFreq, 7000.0);
  plug.Set(kPreEq1Shelf, 0.0);
  plug.Set(kPreEq3Q, 2.5);
  plug.Set(kPreEq3On, 0.0);
  const morvellan::ToneEngineSettings s = plug.GetEngineSettings();
  EXPECT_DOUBLE_EQ(s.amount, 0.25);
  EXPECT_DOUBLE_EQ(s.respect, 0.8);
  EXPECT_FALSE(s.targetBands[0].on);
  EXPECT_TRUE(s.targetBands[1].on);
  EXPECT_DOUBLE_EQ(s.targetBands[3].freqHz, 7000.0);
  EXPECT_FALSE(s.preEqBands[0].shelf);
  EXPECT_TRUE(s.preEqBands[3].shelf);
  EXPECT_FALSE(s.preEqBands[1].shelf);
  EXPECT_DOUBLE_EQ(s.preEqBands[2].q, 2.5);
  EXPECT_FALSE(s.preEqBands[2].on);
  EXPECT_TRUE(s.hpOn);
  EXPECT_DOUBLE_EQ(s.lpFreqHz, 20000.0);
  EXPECT_DOUBLE_EQ(s.thresholdDb, -40.0);
}

TEST(AudioCallback, LearnRequestsFollowBypass)
{
  TestPlug plug;
  plug.Setup(48000.0, 256, 2, 2);
  const Channels in = MakeInput(2, 256);

  // Taken while bypassed: dropped for good.
  plug.Set(kBypass, 1.0);
  plug.mLearnFromInputRequest = 1;
  plug.Run(in, 2, 256);
  plug.Set(kBypass, 0.0);
  plug.Run(in, 2, 256);
  EXPECT_FALSE(plug.mEngine.learning);
  EXPECT_EQ(plug.mLearning.load(), 0);

  // A running learn stops when bypass comes on, and that is no completed learn.
  plug.mLearnFromInputRequest = 1;
  plug.Run(in, 2, 256);
  EXPECT_TRUE(plug.mEngine.learning);
  EXPECT_EQ(plug.mLearning.load(), 1);
  plug.Set(kBypass, 1.0);
  plug.Run(in, 2, 256);
  EXPECT_FALSE(plug.mEngine.learning);
  EXPECT_FALSE(plug.mLearnFinished.load());

  // A cancel ends it the same way.
  plug.Set(kBypass, 0.0);
  plug.mLearnFromInputRequest = 1;
  plug.Run(in, 2, 256);
  plug.mCancelLearnRequest = 1;
  plug.Run(in, 2, 256);
  EXPECT_FALSE(plug.mEngine.learning);
  EXPECT_FALSE(plug.mLearnFinished.load());
  EXPECT_EQ(plug.mLearnProgress.load(), 0.0f);
}

TEST(AudioCallback, CompletedLearnPublishesTheTargetWithTheEvent)
{
  TestPlug plug;
  const double fs = 8000.0;
  plug.Setup(fs, 400, 1, 1);
  plug.mLearnFromInputRequest = 1;
  const Channels in = MakeInput(1, 400);
  bool finished = false;
  float lastProgress = 0.0f;
  // 3 s of material above the threshold completes a learn; allow twice that.
  for (int block = 0; block < int(6.0 * fs / 400) && !finished; ++block)
  {
    plug.Run(in, 1, 400);
    EXPECT_GE(plug.mLearnProgress.load(), lastProgress);
    lastProgress = plug.mLearnProgress.load();
    if (plug.mLearnFinished.exchange(false))
    {
      finished = true;
      morvellan::BalanceCopy target;
      ASSERT_TRUE(plug.TryReadLearnedTarget(target));
      EXPECT_TRUE(target.valid);
      EXPECT_EQ(target.absolute, plug.mEngine.targetAbsolute);
      EXPECT_EQ(lastProgress, 1.0f);
    }
  }
  EXPECT_TRUE(finished);
  EXPECT_FALSE(plug.mEngine.learning);
}

TEST(AudioCallback, ARestoreThatEndsALearnIsNoCompletedLearn)
{
  TestPlug plug;
  plug.Setup(48000.0, 256, 2, 2);
  const Channels in = MakeInput(2, 256);
  plug.mLearnFromInputRequest = 1;
  plug.Run(in, 2, 256);
  ASSERT_TRUE(plug.mEngine.learning);

  // The restored target replaces the learn in progress; the user learned nothing.
  LoadChunk(plug, ChunkWithTarget(plug, 5, true, 1.0, -10.0));
  plug.Run(in, 2, 256);
  EXPECT_FALSE(plug.mEngine.learning);
  EXPECT_TRUE(plug.mEngine.hasTarget);
  EXPECT_FALSE(plug.mLearnFinished.load());
  morvellan::BalanceCopy seen;
  ASSERT_TRUE(plug.TryReadLearnedTarget(seen));
  EXPECT_TRUE(seen.valid);
  EXPECT_EQ(seen.absolute[0], -10.0);
}

TEST(AudioCallback, RestoredTargetsReachTheEngineByTheirVersionsRoute)
{
  TestPlug plug;
  plug.Set(kTilt, 3.0); // a desired curve that is not flat tells the two routes apart
  plug.Setup(48000.0, 128, 2, 2);
  const Channels in = MakeInput(2, 128);
  plug.Run(in, 2, 128);

  // Version 5: copied into the engine as saved.
  LoadChunk(plug, ChunkWithTarget(plug, 5, true, -2.0, -30.0));
  morvellan::BalanceCopy seen;
  ASSERT_TRUE(plug.TryReadLearnedTarget(seen)); // visible before any block runs
  EXPECT_TRUE(seen.valid);
  EXPECT_EQ(seen.relative[1], -1.5);
  plug.Run(in, 2, 128);
  EXPECT_TRUE(plug.mEngine.hasTarget);
  for (int k = 0; k < 12; ++k)
  {
    EXPECT_EQ(plug.mEngine.targetRelative[k], -2.0 + 0.5 * k);
    EXPECT_EQ(plug.mEngine.targetAbsolute[k], -30.0 - 0.25 * k);
  }

  // Version 1: the stored balance is set as a target against the current desired curve.
  LoadChunk(plug, ChunkWithTarget(plug, 1, true, 1.0, 0.0));
  plug.Run(in, 2, 128);
  EXPECT_TRUE(plug.mEngine.hasTarget);
  for (int k = 0; k < 12; ++k)
  {
    EXPECT_EQ(plug.mEngine.targetAbsolute[k], 1.0 + 0.5 * k);
    EXPECT_NE(plug.mEngine.targetRelative[k], 1.0 + 0.5 * k) << k;
  }

  // No target in the state clears the engine's target, and the published one follows.
  LoadChunk(plug, ChunkWithTarget(plug, 5, false, 4.0, 4.0));
  plug.Run(in, 2, 128);
  EXPECT_FALSE(plug.mEngine.hasTarget);
  ASSERT_TRUE(plug.TryReadLearnedTarget(seen));
  EXPECT_FALSE(seen.valid);
  EXPECT_EQ(seen.relative[3], 0.0);
}

TEST(AudioCallback, HandOversAndRequestsAreTakenOnce)
{
  TestPlug plug;
  plug.Setup(48000.0, 64, 1, 1);
  const Channels in = MakeInput(1, 64);

  morvellan::BandBalance balance{};
  for (int k = 0; k < 12; ++k)
    balance[k] = 0.1 * k;

  // A file-learned target counts even with its valid byte clear.
  plug.mReferenceTarget.Write(balance, balance, false);
  plug.mReferenceTargetPending = 1;
  plug.Run(in, 1, 64);
  EXPECT_EQ(plug.mReferenceTargetPending.load(), 0);
  EXPECT_TRUE(plug.mEngine.hasTarget);
  EXPECT_EQ(plug.mEngine.targetAbsolute, balance);
  morvellan::BalanceCopy seen;
  ASSERT_TRUE(plug.TryReadLearnedTarget(seen));
  EXPECT_TRUE(seen.valid);
  EXPECT_EQ(seen.absolute, balance);

  plug.mClearTargetRequest = 1;
  plug.Run(in, 1, 64);
  EXPECT_FALSE(plug.mEngine.hasTarget);
  ASSERT_TRUE(plug.TryReadLearnedTarget(seen));
  EXPECT_FALSE(seen.valid);

  balance[0] = -3.0;
  plug.mLoadedTarget.Write(balance, balance, true);
  plug.mLoadedTargetPending = 1;
  plug.Run(in, 1, 64);
  EXPECT_EQ(plug.mEngine.targetAbsolute[0], -3.0);

  // Taking a record does not take it again: a clear after it stays in force.
  plug.mClearTargetRequest = 1;
  plug.Run(in, 1, 64);
  plug.Run(in, 1, 64);
  EXPECT_FALSE(plug.mEngine.hasTarget);
}

namespace morvellan {

struct BalanceSnapshotWriteHold
{
  explicit BalanceSnapshotWriteHold(BalanceSnapshot& s) : snapshot(s) { snapshot.sequence.fetch_add(1); }
  ~BalanceSnapshotWriteHold() { snapshot.sequence.fetch_add(1); }
  BalanceSnapshot& snapshot;
};

} // namespace morvellan

TEST(AudioCallback, BusySnapshotsAreTriedAgainNextBlock)
{
  TestPlug plug;
  plug.Setup(48000.0, 64, 1, 1);
  const Channels in = MakeInput(1, 64);
  morvellan::BandBalance balance{};
  for (int k = 0; k < 12; ++k)
    balance[k] = 0.25 * k - 1.0;
  plug.mLoadedTarget.Write(balance, balance, true);
  plug.mLoadedTargetPending = 1;

  // A hand-over being written is not read; its pending byte stays for the next block.
  {
    morvellan::BalanceSnapshotWriteHold busy(plug.mLoadedTarget);
    plug.Run(in, 1, 64);
    EXPECT_FALSE(plug.mEngine.hasTarget);
    EXPECT_EQ(plug.mLoadedTargetPending.load(), 1);
  }

  // Taken now; but the published record is being written, so readers fail and nothing is published.
  morvellan::BalanceCopy seen;
  {
    morvellan::BalanceSnapshotWriteHold busy(plug.mLearnedTarget);
    plug.Run(in, 1, 64);
    EXPECT_EQ(plug.mLoadedTargetPending.load(), 0);
    EXPECT_EQ(plug.mEngine.targetAbsolute, balance);
    EXPECT_FALSE(plug.TryReadLearnedTarget(seen));
    EXPECT_TRUE(plug.mTargetsChanged);
  }
  ASSERT_TRUE(plug.TryReadLearnedTarget(seen));
  EXPECT_FALSE(seen.valid) << "nothing was published during the write";

  // The next block publishes it.
  plug.Run(in, 1, 64);
  ASSERT_TRUE(plug.TryReadLearnedTarget(seen));
  EXPECT_TRUE(seen.valid);
  EXPECT_EQ(seen.absolute, balance);
  EXPECT_FALSE(plug.mTargetsChanged);
}

TEST(AudioCallback, MetersMixTheChannelsUnlessTheBlockOutgrowsTheMix)
{
  TestPlug plug;
  plug.Set(kBypass, 1.0);
  plug.Setup(48000.0, 480, 2, 2);
  // Opposite channels cancel in the mono mix.
  Channels in = MakeInput(2, 4800);
  for (std::size_t t = 0; t < in[0].size(); ++t)
    in[1][t] = -in[0][t];
  plug.Run(in, 2, 480);
  plug.OnIdle();
  ASSERT_TRUE(plug.meters[kCtrlTagInputMeter].seen);
  EXPECT_EQ(plug.meters[kCtrlTagInputMeter].peak, 0.0f);
  EXPECT_EQ(plug.meters[kCtrlTagOutputMeter].peak, 0.0f);

  // Blocks larger than the reset's size meter channel 0 alone.
  plug.Run(in, 2, 960);
  plug.OnIdle();
  EXPECT_GT(plug.meters[kCtrlTagInputMeter].peak, 0.3f);
  EXPECT_LE(plug.meters[kCtrlTagInputMeter].peak, 0.5f);
}

TEST(AudioCallback, DenormalsAreFlushedInsideTheBlock)
{
  TestPlug plug;
  plug.SetNeutral();
  plug.Set(kOutput, -6.0); // a gain the samples are multiplied by
  plug.Setup(48000.0, 256, 1, 1);
  const double tiny = std::numeric_limits<double>::denorm_min() * 1000.0;
  const Channels in = {std::vector<double>(2048, tiny)};
  const unsigned saved = _mm_getcsr();
  _mm_setcsr(saved & ~0x8040u); // the host's own mode keeps denormals
  const Channels out = plug.Run(in, 1, 256);
  // Read as zero on the way in and flushed on the way out: nothing denormal survives.
  for (double v : out[0])
    ASSERT_EQ(v, 0.0);
  // The same arithmetic outside a block keeps them, so the check above means something.
  volatile double gain = std::pow(10.0, -6.0 / 20.0);
  EXPECT_NE(tiny * gain, 0.0);
  _mm_setcsr(saved);
}

TEST(AudioCallback, FloatingPointModeIsRestoredAfterEachBlock)
{
  TestPlug plug;
  plug.Setup(48000.0, 64, 1, 1);
  const Channels in = MakeInput(1, 64);
  const unsigned saved = _mm_getcsr();
  for (unsigned mode : {saved & ~0x8040u, saved | 0x8040u, (saved & ~0x8040u) | 0x6000u})
  {
    _mm_setcsr(mode);
    plug.Run(in, 1, 64);
    EXPECT_EQ(_mm_getcsr(), mode);
  }
  _mm_setcsr(saved);
}

namespace {

// 64-bit host blocks through process(), on whatever channel pointers the host hands over.
void HostBlock(TestPlug& plug, double* const* in, double* const* out, int n, Steinberg::Vst::IParameterChanges* changes)
{
  Steinberg::Vst::AudioBusBuffers inBus{}, outBus{};
  inBus.numChannels = outBus.numChannels = 2;
  inBus.channelBuffers64 = const_cast<double**>(in);
  outBus.channelBuffers64 = const_cast<double**>(out);
  auto data = testhost::OneBusProcessData(inBus, outBus, Steinberg::Vst::kSample64, n, changes);
  ASSERT_EQ(plug.process(data), Steinberg::kResultOk);
}

void Activate64(TestPlug& plug, bool bypassed)
{
  plug.Set(kAmount, 100.0);
  plug.Set(kTilt, 3.0);
  plug.Set(kOutput, -3.0);
  plug.Set(kBypass, bypassed ? 1.0 : 0.0);
  Steinberg::Vst::ProcessSetup setup{Steinberg::Vst::kRealtime, Steinberg::Vst::kSample64, 256, 48000.0};
  ASSERT_EQ(plug.setupProcessing(setup), Steinberg::kResultOk);
  ASSERT_EQ(plug.setActive(true), Steinberg::kResultOk);
  ASSERT_EQ(plug.setProcessing(true), Steinberg::kResultOk);
}

} // namespace

TEST(AudioCallback, WorkAroundTheEngineIsDoneWhenItsInputsChangedOnly)
{
  constexpr int kFrames = 1024, kBlock = 256;
  const Channels in = MakeInput(2, kFrames);

  // Host buffers shared with the outputs (in place, crossed, one frame apart) are read before
  // anything is written: every route gives what separate buffers give.
  enum Sharing { kInPlace, kCrossed, kShifted };
  for (const bool bypassed : {false, true})
  {
    TestPlug reference;
    Activate64(reference, bypassed);
    Channels expected(2, std::vector<double>(kFrames));
    for (int at = 0; at < kFrames; at += kBlock)
    {
      const double* inPtrs[2] = {in[0].data() + at, in[1].data() + at};
      double* outPtrs[2] = {expected[0].data() + at, expected[1].data() + at};
      HostBlock(reference, const_cast<double* const*>(inPtrs), outPtrs, kBlock, nullptr);
    }
    if (bypassed)
    {
      ASSERT_EQ(expected, in);
    }

    for (const Sharing sharing : {kInPlace, kCrossed, kShifted})
    {
      SCOPED_TRACE(testing::Message() << "sharing " << sharing << (bypassed ? ", bypassed" : ""));
      TestPlug plug;
      Activate64(plug, bypassed);
      // Buffers A and B hold the input; the outputs land in them too.
      std::vector<double> a(kFrames + 1), b(kFrames + 1);
      const int shift = sharing == kShifted ? 1 : 0;
      std::copy(in[0].begin(), in[0].end(), a.begin() + shift);
      std::copy(in[1].begin(), in[1].end(), b.begin() + shift);
      for (int at = 0; at < kFrames; at += kBlock)
      {
        double* inPtrs[2] = {a.data() + at + shift, b.data() + at + shift};
        double* outPtrs[2] = {a.data() + at, b.data() + at};
        if (sharing == kCrossed)
          std::swap(outPtrs[0], outPtrs[1]);
        HostBlock(plug, inPtrs, outPtrs, kBlock, nullptr);
      }
      const std::vector<double>& out0 = sharing == kCrossed ? b : a;
      const std::vector<double>& out1 = sharing == kCrossed ? a : b;
      EXPECT_TRUE(std::equal(expected[0].begin(), expected[0].end(), out0.begin()));
      EXPECT_TRUE(std::equal(expected[1].begin(), expected[1].end(), out1.begin()));
    }
  }

  // Settings are read again only after a parameter moved. Host automation or a controller call
  // that repeats a value moves nothing; a mark in the engine's copy shows whether it was re-read.
  TestPlug plug;
  Activate64(plug, false);
  Channels out(2, std::vector<double>(kBlock));
  double* inPtrs[2] = {const_cast<double*>(in[0].data()), const_cast<double*>(in[1].data())};
  double* outPtrs[2] = {out[0].data(), out[1].data()};
  HostBlock(plug, inPtrs, outPtrs, kBlock, nullptr);
  const std::uint32_t count = plug.ParamChangeCount();
  testhost::ParameterChanges same;
  same.Add(kTilt, 0, plug.getParamNormalized(kTilt));
  ASSERT_EQ(plug.setParamNormalized(kOutput, plug.getParamNormalized(kOutput)), Steinberg::kResultOk);
  plug.mEngine.settings.amount = 0.123;
  HostBlock(plug, inPtrs, outPtrs, kBlock, &same);
  EXPECT_EQ(plug.ParamChangeCount(), count);
  EXPECT_EQ(plug.mEngine.settings.amount, 0.123);

  testhost::ParameterChanges moved;
  moved.Add(kTilt, 0, plug.GetParam(kTilt)->ToNormalized(-2.0));
  HostBlock(plug, inPtrs, outPtrs, kBlock, &moved);
  EXPECT_EQ(plug.ParamChangeCount(), count + 1);
  EXPECT_EQ(plug.mEngine.settings.amount, 1.0);
  EXPECT_EQ(plug.mEngine.settings.tiltDbPerOct, -2.0);

  // Band levels: a fresh instance's first block shows the silent engine's floor, 10 log10(1e-30)
  // = -300 dB, in place of the constructor's -120 dB; while bypassed they hold where they were.
  TestPlug fresh;
  Activate64(fresh, true);
  HostBlock(fresh, inPtrs, outPtrs, kBlock, nullptr);
  for (int k = 0; k < 12; ++k)
    EXPECT_EQ(fresh.mBandLevels[1][std::size_t(k)].load(), -300.0f) << "band " << k;
  fresh.Set(kBypass, 0.0);
  HostBlock(fresh, inPtrs, outPtrs, kBlock, nullptr);
  std::array<float, 12> running{};
  for (int k = 0; k < 12; ++k)
  {
    running[std::size_t(k)] = fresh.mBandLevels[1][std::size_t(k)].load();
    EXPECT_GT(running[std::size_t(k)], -200.0f) << "band " << k;
  }
  fresh.Set(kBypass, 1.0);
  HostBlock(fresh, inPtrs, outPtrs, kBlock, nullptr);
  for (int k = 0; k < 12; ++k)
    EXPECT_EQ(fresh.mBandLevels[1][std::size_t(k)].load(), running[std::size_t(k)]) << "band " << k;
}
