// What the plug-in hands the display each frame.
#include <gtest/gtest.h>

#include <mutex>

#include "DisplayReading.h"
#include "TestPlug.h"

namespace
{

struct ReadingPlug : TestPlug
{
  void SetSampleRate(double fs) { mSampleRate = fs; }
};

TEST(ToneDisplayReadingFill, GathersPublishedValuesFlagsTextsAndParameters)
{
  ReadingPlug plug;
  ToneDisplayControl::Reading r;
  r.message = "left over from an earlier frame";
  r.levelDb[0] = 99.f;

  // Before the host has set a sample rate.
  plug.SetSampleRate(0.0);
  FillToneDisplayReading(plug, r);
  EXPECT_EQ(r.sampleRate, 48000.0);
  EXPECT_TRUE(r.message.empty());
  EXPECT_FALSE(r.hasTarget);
  EXPECT_FALSE(r.idle); // Amount 50 %
  EXPECT_FALSE(r.bypassed);
  EXPECT_TRUE(r.hpOn);
  EXPECT_EQ(r.hpHz, 20.0);
  EXPECT_EQ(r.lpHz, 20000.0);

  plug.Setup(44100.0, 64, 2, 2);
  plug.mBandLevels[0][3].store(-2.5f);
  plug.mBandLevels[1][3].store(-37.f);
  plug.mAboveThreshold.store(1);
  plug.mLearning.store(1);
  plug.mLearnProgress.store(0.25f);
  plug.Set(kAmount, 0.0);
  plug.Set(kBypass, 1.0);
  plug.Set(kLPOn, 0.0);
  plug.Set(kHPFreq, 85.0);
  morvellan::BandBalance balance{};
  plug.mLearnedTarget.Write(balance, balance, true);
  {
    std::lock_guard<std::mutex> lock(plug.mMutex);
    plug.mTargetSourceName = "Male speech";
  }
  plug.mReferenceState.store(1);
  FillToneDisplayReading(plug, r);
  EXPECT_EQ(r.sampleRate, 44100.0);
  EXPECT_EQ(r.correctionDb[3], -2.5f);
  EXPECT_EQ(r.levelDb[3], -37.f);
  EXPECT_TRUE(r.aboveThreshold && r.learning && r.idle && r.bypassed && r.hasTarget && r.analysing);
  EXPECT_EQ(r.progress, 0.25f);
  EXPECT_EQ(r.targetName, "Male speech");
  EXPECT_TRUE(r.message.empty()); // running, not failed
  EXPECT_FALSE(r.lpOn);
  EXPECT_DOUBLE_EQ(r.hpHz, 85.0);

  {
    std::lock_guard<std::mutex> lock(plug.mMutex);
    plug.mReferenceError = "the file is too short to learn from";
  }
  plug.mReferenceState.store(2);
  FillToneDisplayReading(plug, r);
  EXPECT_FALSE(r.analysing);
  EXPECT_EQ(r.message, "COULD NOT LEARN: the file is too short to learn from");
}

} // namespace
