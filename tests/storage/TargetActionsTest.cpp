#include "PlugFixture.h"

#include "TargetFile.h"

using namespace morvellan::offline;
namespace fs = std::filesystem;

namespace {

class TargetActions : public PlugFixture
{
protected:
  morvellan::BandBalance Ramp(double start)
  {
    morvellan::BandBalance b{};
    for (size_t i = 0; i < b.size(); ++i)
      b[i] = start + 0.5 * static_cast<double>(i);
    return b;
  }

  // The hand-over to the audio thread, as the next block would take it.
  morvellan::BalanceCopy Loaded()
  {
    morvellan::BalanceCopy copy;
    EXPECT_TRUE(mPlug->mLoadedTarget.TryRead(copy));
    return copy;
  }
};

TEST_F(TargetActions, SaveWritesTheTargetInForce)
{
  PublishLearnedTarget(Ramp(-3.0));
  mPlug->SaveTarget("  Bright ");
  EXPECT_TRUE(mBoxes.empty());
  SavedTarget t;
  std::string error;
  ASSERT_TRUE(ReadTargetFile(Targets() / "Bright.mvtarget", t, error)) << error;
  EXPECT_EQ(t.name, "Bright");
  EXPECT_EQ(t.source, "input");
  for (size_t i = 0; i < t.balance.size(); ++i)
    EXPECT_NEAR(t.balance[i], -3.0 + 0.5 * static_cast<double>(i), 1e-9);

  {
    std::lock_guard<std::mutex> lock(mPlug->mMutex);
    mPlug->mTargetSourceName = "take3.wav";
  }
  mPlug->SaveTarget("FromFile");
  ASSERT_TRUE(ReadTargetFile(Targets() / "FromFile.mvtarget", t, error));
  EXPECT_EQ(t.source, "take3.wav");
}

TEST_F(TargetActions, NothingToSaveWithoutALearnedTarget)
{
  mPlug->SaveTarget("Flat");
  ASSERT_EQ(mBoxes.size(), 1u);
  EXPECT_EQ(mBoxes[0].title, "Save target");
  EXPECT_EQ(mBoxes[0].text, "There is no learned target to save. Learn one from the input or a reference file first.");
  EXPECT_FALSE(fs::exists(Targets()));

  mBoxes.clear();
  PublishLearnedTarget(Ramp(0.0));
  mPlug->SaveTarget(" \t");
  EXPECT_TRUE(mBoxes.empty());
  EXPECT_FALSE(fs::exists(Targets()));
}

TEST_F(TargetActions, ReplacingAsksAboutTheSameFile)
{
  PublishLearnedTarget(Ramp(1.0));
  mPlug->SaveTarget("a/b");
  const std::string first = ReadBytes(Targets() / "a-b.mvtarget");
  PublishLearnedTarget(Ramp(2.0));

  mAnswers = {false};
  mPlug->SaveTarget("a-b");
  NextFrame();
  ASSERT_EQ(mBoxes.size(), 1u);
  EXPECT_EQ(mBoxes[0].text, "A target named \"a-b\" already exists. Replace it?");
  EXPECT_EQ(mBoxes[0].type, iplug::EMsgBoxType::kYesNo);
  EXPECT_EQ(ReadBytes(Targets() / "a-b.mvtarget"), first);

  // The values in force when asked are written once the Yes arrives.
  mAnswers = {true};
  mPlug->SaveTarget("a-b");
  PublishLearnedTarget(Ramp(3.0));
  EXPECT_EQ(ReadBytes(Targets() / "a-b.mvtarget"), first);
  NextFrame();
  EXPECT_NE(ReadBytes(Targets() / "a-b.mvtarget"), first);
  morvellan::offline::SavedTarget saved;
  std::string error;
  ASSERT_TRUE(morvellan::offline::ReadTargetFile(Targets() / "a-b.mvtarget", saved, error));
  EXPECT_EQ(saved.balance, Ramp(2.0));

  // A line feed in the name also maps to "-": the same file, asked about by the name it stores.
  mBoxes.clear();
  mAnswers = {false};
  mPlug->SaveTarget("a\nb");
  ASSERT_EQ(mBoxes.size(), 1u);
  EXPECT_EQ(mBoxes[0].text, "A target named \"a b\" already exists. Replace it?");
  EXPECT_FALSE(fs::exists(Targets() / "a b.mvtarget"));

  OpenEditorStandIn(false);
  const std::string second = ReadBytes(Targets() / "a-b.mvtarget");
  PublishLearnedTarget(Ramp(5.0));
  mPlug->SaveTarget("a-b");
  EXPECT_EQ(ReadBytes(Targets() / "a-b.mvtarget"), second);
}

TEST_F(TargetActions, WriteFailureIsReported)
{
  PublishLearnedTarget(Ramp(0.0));
  fs::create_directories(Targets() / "Stuck.mvtarget");
  mAnswers = {true};
  mPlug->SaveTarget("Stuck");
  NextFrame();
  ASSERT_EQ(mBoxes.size(), 2u);
  EXPECT_EQ(mBoxes[1].title, "Save target");
  EXPECT_EQ(mBoxes[1].text, "Could not save the target: could not write " + (Targets() / "Stuck.mvtarget").string());
}

TEST_F(TargetActions, LoadFactoryTargetHandsItOver)
{
  mPlug->mReferenceState.store(2);
  {
    std::lock_guard<std::mutex> lock(mPlug->mMutex);
    mPlug->mReferenceError = "the file is too short to learn from";
  }
  auto factory = FactoryTargets();
  mPlug->LoadTarget(factory[0]);
  EXPECT_TRUE(mBoxes.empty());
  EXPECT_EQ(SourceName(), "Female speech");
  EXPECT_EQ(mPlug->mReferenceState.load(), 0);
  EXPECT_EQ(mPlug->mLoadedTargetPending.load(), 1);
  morvellan::BalanceCopy copy = Loaded();
  EXPECT_TRUE(copy.valid);
  EXPECT_DOUBLE_EQ(copy.absolute[0], -10.973);
  EXPECT_DOUBLE_EQ(copy.relative[11], -22.032);
  {
    std::lock_guard<std::mutex> lock(mPlug->mMutex);
    EXPECT_TRUE(mPlug->mReferenceError.empty());
  }

  // A running analysis goes on.
  mPlug->mReferenceState.store(1);
  mPlug->LoadTarget(factory[5]);
  EXPECT_EQ(mPlug->mReferenceState.load(), 1);
  EXPECT_EQ(SourceName(), "Male vocals rock");
}

TEST_F(TargetActions, LoadReadsTheFileAsItIsNow)
{
  PublishLearnedTarget(Ramp(0.0));
  mPlug->SaveTarget("Edited");
  auto listed = mPlug->UserTargets();
  ASSERT_EQ(listed.size(), 1u);

  WriteBytes(Targets() / "Edited.mvtarget",
             "Morvellan target 1\nname=Edited\nbalance=9 9 9 9 9 9 9 9 9 9 9 7.5\n");
  mPlug->LoadTarget(listed[0]);
  EXPECT_TRUE(mBoxes.empty());
  EXPECT_DOUBLE_EQ(Loaded().absolute[11], 7.5);

  mPlug->mLoadedTargetPending.store(0);
  WriteBytes(Targets() / "Edited.mvtarget", "Morvellan target 1\nname=Edited\nbalance=1 2\n");
  mPlug->LoadTarget(listed[0]);
  ASSERT_EQ(mBoxes.size(), 1u);
  EXPECT_EQ(mBoxes[0].title, "Load target");
  EXPECT_EQ(mBoxes[0].text, "Could not load the target: the target has no complete curve: Edited");
  EXPECT_EQ(mPlug->mLoadedTargetPending.load(), 0);
  EXPECT_EQ(SourceName(), "Edited");
}

TEST_F(TargetActions, DeleteAsksAndKeepsTheTargetInForce)
{
  PublishLearnedTarget(Ramp(0.0));
  mPlug->SaveTarget("Old");
  auto listed = mPlug->UserTargets();
  ASSERT_EQ(listed.size(), 1u);
  mPlug->LoadTarget(listed[0]);

  mAnswers = {false};
  mPlug->DeleteTarget(listed[0]);
  NextFrame();
  ASSERT_EQ(mBoxes.size(), 1u);
  EXPECT_EQ(mBoxes[0].title, "Delete target");
  EXPECT_EQ(mBoxes[0].text, "Delete the target \"Old\"? This cannot be undone.");
  EXPECT_TRUE(fs::exists(Targets() / "Old.mvtarget"));

  mAnswers = {true};
  mPlug->DeleteTarget(listed[0]);
  EXPECT_TRUE(fs::exists(Targets() / "Old.mvtarget"));
  NextFrame();
  EXPECT_FALSE(fs::exists(Targets() / "Old.mvtarget"));
  EXPECT_EQ(SourceName(), "Old");
  EXPECT_EQ(mBoxes.size(), 2u);

  mAnswers = {true};
  mPlug->DeleteTarget(listed[0]);
  NextFrame();
  ASSERT_EQ(mBoxes.size(), 4u);
  EXPECT_EQ(mBoxes[3].text, "Could not delete the target: could not delete Old.mvtarget");

  // Without an editor nothing is deleted.
  mPlug->SaveTarget("Kept");
  OpenEditorStandIn(false);
  auto kept = mPlug->UserTargets();
  ASSERT_EQ(kept.size(), 1u);
  mPlug->DeleteTarget(kept[0]);
  EXPECT_TRUE(fs::exists(Targets() / "Kept.mvtarget"));
}

TEST_F(TargetActions, QueuedTargetSaveRunsFromIdle)
{
  PublishLearnedTarget(Ramp(0.0));
  mPlug->mPendingTargetSave = "Later";
  mPlug->OnIdle();
  EXPECT_FALSE(mPlug->mPendingTargetSave.has_value());
  EXPECT_TRUE(fs::exists(Targets() / "Later.mvtarget"));
}

} // namespace
