#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cmath>
#include <limits>
#include <thread>

#include "ChunkBytes.h"
#include "TestPlug.h"

namespace {

std::vector<std::uint8_t> Save(TestPlug& plug)
{
  iplug::IByteChunk chunk;
  EXPECT_TRUE(plug.SerializeState(chunk));
  return {chunk.GetData(), chunk.GetData() + chunk.Size()};
}

int Load(TestPlug& plug, const std::vector<std::uint8_t>& bytes)
{
  iplug::IByteChunk chunk;
  chunk.PutBytes(bytes.data(), int(bytes.size()));
  return plug.UnserializeState(chunk, 0);
}

std::string SourceName(TestPlug& plug)
{
  std::lock_guard<std::mutex> lock(plug.mMutex);
  return plug.mTargetSourceName;
}

std::string PresetName(TestPlug& plug)
{
  std::lock_guard<std::mutex> lock(plug.mMutex);
  return plug.mPresetName;
}

// A plug-in whose state differs from a fresh one in every part the chunk holds.
void MakeDistinct(TestPlug& plug)
{
  plug.Set(kAmount, 73.0);
  plug.Set(kTilt, -1.5);
  plug.Set(kLowOn, 0.0);
  plug.Set(kPreEq4Freq, 9000.0);
  plug.Set(kPreEqRespect, 20.0);
  plug.mAccentIndex = 2;
  morvellan::BandBalance rel{}, abs{};
  for (int k = 0; k < 12; ++k)
  {
    rel[k] = 0.5 * k - 2.0;
    abs[k] = -20.0 - k;
  }
  plug.mLearnedTarget.Write(rel, abs, true);
  std::lock_guard<std::mutex> lock(plug.mMutex);
  plug.mTargetSourceName = "Mix bus.flac";
  plug.mPresetName = "Warm vocal";
}

} // namespace

TEST(PluginState, RoundTripRestoresEverythingAndSavesTheSameBytes)
{
  TestPlug a;
  MakeDistinct(a);
  a.mPresetModified = true;
  const auto bytes = Save(a);
  ASSERT_EQ(bytes.size(), 608u + 12u + 10u);

  TestPlug b;
  EXPECT_EQ(Load(b, bytes), int(bytes.size()));
  for (int i = 0; i < kNumParams; ++i)
    EXPECT_EQ(b.Get(i), a.Get(i)) << i;
  EXPECT_EQ(b.mAccentIndex.load(), 2);
  EXPECT_TRUE(b.mAccentDirty.load());
  EXPECT_EQ(SourceName(b), "Mix bus.flac");
  EXPECT_EQ(PresetName(b), "Warm vocal");
  EXPECT_TRUE(b.mRestoredModified);
  EXPECT_FALSE(b.mPresetModified);
  EXPECT_TRUE(b.mTakeBaseline.load());
  EXPECT_EQ(b.mRestoredTargetPending.load(), 1);
  EXPECT_FALSE(b.mRestoredLegacy.load());
  morvellan::BalanceCopy target;
  ASSERT_TRUE(b.TryReadLearnedTarget(target));
  EXPECT_TRUE(target.valid);
  EXPECT_EQ(target.relative[11], 3.5);
  EXPECT_EQ(target.absolute[11], -31.0);

  EXPECT_EQ(Save(b), bytes);
}

TEST(PluginState, FreshInstancesSaveTheDefaults)
{
  TestPlug plug;
  const auto bytes = Save(plug);
  Bytes expected;
  expected.Magic().I32(5).I32(5).I32(720).I32(532).I32(0).F64s(12, 0.0, 0.0).Str("");
  for (int i = 0; i < 24; ++i)
    expected.F64(plug.GetParam(i)->GetDefault());
  expected.F64s(12, 0.0, 0.0).I32(0).I32(22);
  for (int i = 24; i < kNumParams; ++i)
    expected.F64(plug.GetParam(i)->GetDefault());
  expected.I32(0).Str("").I32(0);
  EXPECT_EQ(bytes, expected.b);
}

TEST(PluginState, DamagedOrTinyChunksChangeNothing)
{
  TestPlug source;
  MakeDistinct(source);
  const auto good = Save(source);

  std::vector<std::vector<std::uint8_t>> bad = {
    {},
    {'1', 'S', 'V'},
    {'1', 'S', 'V', 'M'},
    std::vector<std::uint8_t>(good.begin(), good.begin() + 60),   // inside the relative run
    std::vector<std::uint8_t>(good.begin(), good.begin() + 130),  // inside the source name
  };
  // A source name with a negative length.
  Bytes negative;
  negative.Header(5).I32(-4).F64s(80, 1.0);
  bad.push_back(negative.b);

  for (const auto& chunk : bad)
  {
    TestPlug plug;
    plug.Set(kOutput, 4.0);
    {
      std::lock_guard<std::mutex> lock(plug.mMutex);
      plug.mTargetSourceName = "kept.wav";
      plug.mPresetName = "Kept";
    }
    EXPECT_EQ(Load(plug, chunk), -1) << chunk.size();
    EXPECT_EQ(plug.Get(kOutput), 4.0);
    EXPECT_EQ(plug.Get(kAmount), 50.0);
    EXPECT_EQ(SourceName(plug), "kept.wav");
    EXPECT_EQ(PresetName(plug), "Kept");
    EXPECT_EQ(plug.mRestoredTargetPending.load(), 0);
    EXPECT_EQ(plug.mAccentIndex.load(), 5);
    EXPECT_FALSE(plug.mTakeBaseline.load());
  }
}

TEST(PluginState, CutChunksRestoreWhatIsThere)
{
  TestPlug source;
  MakeDistinct(source);
  const auto good = Save(source);
  // Cut inside the tail values: head values and the target arrive, the tail takes defaults.
  const std::vector<std::uint8_t> cut(good.begin(), good.begin() + 420 + 12 + 8 * 5 + 3);
  TestPlug plug;
  plug.Set(kPreEqRespect, 90.0);
  EXPECT_EQ(Load(plug, cut), -1);
  EXPECT_EQ(plug.Get(kAmount), 73.0);
  EXPECT_EQ(plug.Get(kTilt), -1.5);
  EXPECT_EQ(plug.Get(kPreEqRespect), 50.0); // default, not the 20 that was cut off, nor the old 90
  EXPECT_EQ(SourceName(plug), "Mix bus.flac");
  EXPECT_EQ(PresetName(plug), "");
  EXPECT_EQ(plug.mAccentIndex.load(), 2);
}

TEST(PluginState, NonFiniteValuesNeverReachTheParametersOrTheTarget)
{
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  Bytes c;
  c.Magic().I32(5).I32(1).I32(720).I32(532).I32(1).F64s(11, 0.0).F64(nan).Str("bad.wav");
  c.F64(nan).F64(inf).F64s(22, -1.0, 0.0);
  c.F64s(12, 0.0).I32(0).I32(22).F64(-inf).F64s(20, 0.0, 0.0).F64(inf);
  c.I32(0).Str("P").I32(0);

  TestPlug plug;
  ASSERT_EQ(Load(plug, c.b), int(c.b.size()));
  EXPECT_EQ(plug.Get(kAmount), 50.0);
  EXPECT_EQ(plug.Get(kSpeed), 50.0);
  EXPECT_EQ(plug.Get(kThreshold), -10.0); // -1 dB clipped into its range
  EXPECT_EQ(plug.Get(kUnusedAutoGain), 0.0);
  EXPECT_EQ(plug.Get(kPreEqRespect), 50.0);
  for (int i = 0; i < kNumParams; ++i)
    EXPECT_TRUE(std::isfinite(plug.Get(i))) << i;

  morvellan::BalanceCopy target;
  ASSERT_TRUE(plug.TryReadLearnedTarget(target));
  EXPECT_FALSE(target.valid);
  for (int k = 0; k < 12; ++k)
    EXPECT_TRUE(std::isfinite(target.relative[k]) && std::isfinite(target.absolute[k]));
  EXPECT_EQ(SourceName(plug), "");
}

TEST(PluginState, PlainParameterChunksAreStillRead)
{
  Bytes c;
  for (int i = 0; i < kNumParams; ++i)
    c.F64(i == kAmount ? 500.0 : i == kOutput ? -3.0 : i == kTilt ? std::numeric_limits<double>::quiet_NaN() : 1.0);
  TestPlug plug;
  plug.Set(kTilt, 2.0);
  EXPECT_EQ(Load(plug, c.b), int(c.b.size()));
  EXPECT_EQ(plug.Get(kAmount), 100.0);
  EXPECT_EQ(plug.Get(kOutput), -3.0);
  EXPECT_EQ(plug.Get(kTilt), 0.0); // not a number: the default
  EXPECT_EQ(plug.Get(kLowOn), 1.0);
  EXPECT_EQ(plug.Get(kLowFreq), 60.0); // 1 Hz clipped into its range

  // Too short for every value: nothing changes.
  c.b.resize(c.b.size() - 1);
  plug.Set(kAmount, 10.0);
  EXPECT_EQ(Load(plug, c.b), -1);
  EXPECT_EQ(plug.Get(kAmount), 10.0);
}

// Counts how often the editor side hears about each parameter.
class AnnouncingPlug : public TestPlug
{
public:
  void OnParamChangeUI(int paramIdx, iplug::EParamSource source) override
  {
    if (paramIdx >= 0 && paramIdx < kNumParams && source == iplug::kPresetRecall)
      ++heard[std::size_t(paramIdx)];
  }
  std::array<int, kNumParams> heard{};
};

TEST(PluginState, EveryRestoredValueIsAnnouncedOnce)
{
  TestPlug source;
  MakeDistinct(source);
  Bytes plain;
  plain.F64s(kNumParams, 1.0, 0.0);

  for (const auto& bytes : {Save(source), plain.b})
  {
    AnnouncingPlug plug;
    ASSERT_EQ(Load(plug, bytes), int(bytes.size()));
    for (int i = 0; i < kNumParams; ++i)
      EXPECT_EQ(plug.heard[std::size_t(i)], 1) << "parameter " << i << ", chunk of " << bytes.size();
  }

  // A refused chunk announces nothing.
  AnnouncingPlug plug;
  EXPECT_EQ(Load(plug, {'1', 'S', 'V', 'M', 5}), -1);
  EXPECT_EQ(plug.heard, (std::array<int, kNumParams>{}));
}

TEST(PluginState, RestoreForgetsAFailedAnalysisButNotARunningOne)
{
  TestPlug source;
  const auto bytes = Save(source);

  TestPlug plug;
  plug.mReferenceState = 2;
  {
    std::lock_guard<std::mutex> lock(plug.mMutex);
    plug.mReferenceError = "the file is too short to learn from";
  }
  ASSERT_GE(Load(plug, bytes), 0);
  EXPECT_EQ(plug.mReferenceState.load(), 0);
  {
    std::lock_guard<std::mutex> lock(plug.mMutex);
    EXPECT_EQ(plug.mReferenceError, "");
  }

  plug.mReferenceState = 1;
  ASSERT_GE(Load(plug, bytes), 0);
  EXPECT_EQ(plug.mReferenceState.load(), 1);
}

TEST(PluginState, AccentAndEditorSizeAreChecked)
{
  for (int accent : {7, -1, 1000})
  {
    Bytes c;
    c.Magic().I32(2).I32(accent).I32(720).I32(532).I32(0).F64s(12, 0.0).Str("").F64s(24, 0.0);
    TestPlug plug;
    plug.mAccentIndex = 3;
    Load(plug, c.b);
    EXPECT_EQ(plug.mAccentIndex.load(), 0) << accent;
    EXPECT_TRUE(plug.mAccentDirty.load());
  }

  auto withSize = [](int w, int h) {
    Bytes c;
    c.Magic().I32(2).I32(5).I32(w).I32(h).I32(0).F64s(12, 0.0).Str("").F64s(24, 0.0);
    return c.b;
  };
  TestPlug plug;
  plug.mScreenScale = 1.5f;
  Load(plug, withSize(1440, 1064));
  EXPECT_EQ(plug.mRestoredEditorWidth, 1440);
  EXPECT_EQ(plug.GetEditorWidth(), 2160);
  EXPECT_EQ(plug.GetEditorHeight(), 1596);
  EXPECT_FALSE(plug.mAccentDirty.load()); // accent 5 was already in force

  Load(plug, withSize(800, 800));
  EXPECT_EQ(plug.mRestoredEditorWidth, 720);
  EXPECT_EQ(plug.mRestoredEditorHeight, 532);
  EXPECT_EQ(plug.GetEditorWidth(), 1080);

  // Saved back at screen scale 1, whatever the screen.
  const auto saved = Save(plug);
  Bytes head;
  head.Magic().I32(5).I32(5).I32(720).I32(532);
  EXPECT_TRUE(std::equal(head.b.begin(), head.b.end(), saved.begin()));

  // No size stored: the editor keeps its own.
  Load(plug, withSize(0, 0));
  EXPECT_EQ(plug.mRestoredEditorWidth, 0);
  EXPECT_EQ(plug.GetEditorWidth(), 1080);
}

TEST(PluginState, SavesNeverHoldATornTarget)
{
  TestPlug plug;
  std::atomic<bool> stop{false};
  // Another writer keeps flipping the target between two whole values.
  std::thread writer([&] {
    morvellan::BandBalance one, two;
    one.fill(1.0);
    two.fill(2.0);
    for (int i = 0; !stop.load(); ++i)
      plug.mLearnedTarget.Write(i % 2 ? one : two, i % 2 ? one : two, true);
  });
  for (int i = 0; i < 2000; ++i)
  {
    const auto bytes = Save(plug);
    const double first = [&] {
      double v;
      std::memcpy(&v, bytes.data() + 24, 8);
      return v;
    }();
    for (int k = 0; k < 12; ++k)
    {
      double rel, abs;
      std::memcpy(&rel, bytes.data() + 24 + 8 * k, 8);
      std::memcpy(&abs, bytes.data() + 316 + 8 * k, 8);
      ASSERT_EQ(rel, first) << "save " << i << " band " << k;
      ASSERT_EQ(abs, first) << "save " << i << " band " << k;
    }
    ASSERT_TRUE(first == 0.0 || first == 1.0 || first == 2.0);
  }
  stop = true;
  writer.join();
}

TEST(EditorSizingOfThePlugin, FollowsTheLastScreenScale)
{
  TestPlug plug;
  int w = 5000, h = 5000;
  EXPECT_FALSE(plug.ConstrainEditorResize(w, h));
  EXPECT_EQ(w, 1440);
  EXPECT_EQ(h, 1064);
  plug.mScreenScale = 2.0f;
  w = 2880;
  h = 2128;
  EXPECT_TRUE(plug.ConstrainEditorResize(w, h));
  // Without an editor the host's window size is not followed.
  plug.OnParentWindowResize(900, 665);
  EXPECT_EQ(plug.GetEditorWidth(), 720);
}
