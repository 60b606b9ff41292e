#include "PlugFixture.h"

#include "PresetFile.h"
#include "StoredRecords.h"

#include "pluginterfaces/vst/ivsteditcontroller.h"

#include <map>
#include <stdexcept>

using namespace morvellan::offline;
namespace fs = std::filesystem;

namespace {

class PresetActions : public PlugFixture
{
protected:
  PresetFile Listed(const std::string& fileName)
  {
    PresetFile p;
    p.path = Presets() / fileName;
    return p;
  }

  // A preset file holding the given state bytes under a name.
  void StoreState(const std::string& fileName, const std::string& name, const std::vector<uint8_t>& state)
  {
    fs::create_directories(Presets());
    WriteBytes(Presets() / fileName, "Morvellan preset 1\nname=" + name + "\nstate=" + Base64Encode(state) + "\n");
  }

  std::vector<uint8_t> CurrentState()
  {
    iplug::IByteChunk chunk;
    EXPECT_TRUE(mPlug->SerializeState(chunk));
    return std::vector<uint8_t>(chunk.GetData(), chunk.GetData() + chunk.Size());
  }
};

TEST_F(PresetActions, SaveAndLoadRoundTrip)
{
  SetParam(kAmount, 37.0);
  SetParam(kTilt, -1.5);
  mPlug->SavePreset("  Warm\t", false);
  EXPECT_TRUE(mBoxes.empty());
  EXPECT_EQ(PresetName(), "Warm");
  ASSERT_TRUE(fs::exists(Presets() / "Warm.mvpreset"));
  EXPECT_EQ(ReadBytes(Presets() / "Warm.mvpreset").rfind("Morvellan preset 1\nname=Warm\nstate=", 0), 0u);

  SetParam(kAmount, 80.0);
  SetParam(kTilt, 2.0);
  auto listed = mPlug->UserPresets();
  ASSERT_EQ(listed.size(), 1u);
  mPlug->LoadPreset(listed[0]);
  EXPECT_TRUE(mBoxes.empty());
  EXPECT_DOUBLE_EQ(Param(kAmount), 37.0);
  EXPECT_DOUBLE_EQ(Param(kTilt), -1.5);
  EXPECT_EQ(PresetName(), "Warm");
}

TEST_F(PresetActions, LoadTakesTheNameInsideTheFile)
{
  {
    std::lock_guard<std::mutex> lock(mPlug->mMutex);
    mPlug->mPresetName = "Chunk name";
  }
  StoreState("File.mvpreset", "Inside", CurrentState());
  mPlug->LoadPreset(Listed("File.mvpreset"));
  EXPECT_EQ(PresetName(), "Inside");
  EXPECT_TRUE(mPlug->mTakeBaseline.load());

  // A hand-edited name keeps its spaces, as the list shows it.
  StoreState("Spaced.mvpreset", " Spaced\t", CurrentState());
  auto listed = mPlug->UserPresets();
  ASSERT_EQ(listed.size(), 2u);
  mPlug->LoadPreset(listed[0]);
  EXPECT_TRUE(mBoxes.empty());
  EXPECT_EQ(PresetName(), " Spaced\t");
  EXPECT_EQ(PresetName(), listed[0].name);
}

TEST_F(PresetActions, DamagedPresetAppliesNothing)
{
  SetParam(kAmount, 10.0);
  std::vector<uint8_t> good = CurrentState();
  SetParam(kAmount, 55.0);
  {
    std::lock_guard<std::mutex> lock(mPlug->mMutex);
    mPlug->mPresetName = "Current";
  }

  // Cut inside the parameter values: a reader that applies as it goes would
  // already have changed the head parameters.
  std::vector<uint8_t> cut(good.begin(), good.begin() + static_cast<long>(good.size() - 300));
  StoreState("Cut.mvpreset", "Cut", cut);
  mPlug->LoadPreset(Listed("Cut.mvpreset"));
  ASSERT_EQ(mBoxes.size(), 1u);
  EXPECT_EQ(mBoxes[0].title, "Load preset");
  EXPECT_EQ(mBoxes[0].text, "Could not load the preset: its state is damaged.");
  EXPECT_DOUBLE_EQ(Param(kAmount), 55.0);
  EXPECT_EQ(PresetName(), "Current");

  StoreState("Foreign.mvpreset", "Foreign", {'X', 'Y', 'Z', 'W', 1, 2, 3, 4});
  mPlug->LoadPreset(Listed("Foreign.mvpreset"));
  ASSERT_EQ(mBoxes.size(), 2u);
  EXPECT_EQ(mBoxes[1].text, "Could not load the preset: it does not hold an Morvellan state.");

  StoreState("Tiny.mvpreset", "Tiny", {'1', 'S'});
  mPlug->LoadPreset(Listed("Tiny.mvpreset"));
  ASSERT_EQ(mBoxes.size(), 3u);
  EXPECT_EQ(mBoxes[2].text, "Could not load the preset: it does not hold an Morvellan state.");

  mPlug->LoadPreset(Listed("Gone.mvpreset"));
  ASSERT_EQ(mBoxes.size(), 4u);
  EXPECT_EQ(mBoxes[3].text, "Could not load the preset: not an Morvellan preset: Gone.mvpreset");
  EXPECT_DOUBLE_EQ(Param(kAmount), 55.0);
  EXPECT_EQ(PresetName(), "Current");
}

// Records what the host is told about parameter edits.
class RecordingHandler : public Steinberg::Vst::IComponentHandler
{
public:
  Steinberg::tresult PLUGIN_API queryInterface(const Steinberg::TUID, void** obj) override
  {
    *obj = nullptr;
    return Steinberg::kNoInterface;
  }
  Steinberg::uint32 PLUGIN_API addRef() override { return 1; }
  Steinberg::uint32 PLUGIN_API release() override { return 1; }
  Steinberg::tresult PLUGIN_API beginEdit(Steinberg::Vst::ParamID id) override
  {
    ++begun[id];
    return Steinberg::kResultOk;
  }
  Steinberg::tresult PLUGIN_API performEdit(Steinberg::Vst::ParamID id, Steinberg::Vst::ParamValue v) override
  {
    EXPECT_EQ(begun[id], 1) << "edit outside begin/end for " << id;
    values[id] = v;
    return Steinberg::kResultOk;
  }
  Steinberg::tresult PLUGIN_API endEdit(Steinberg::Vst::ParamID id) override
  {
    ++ended[id];
    return Steinberg::kResultOk;
  }
  Steinberg::tresult PLUGIN_API restartComponent(Steinberg::int32) override { return Steinberg::kResultOk; }

  std::map<Steinberg::Vst::ParamID, int> begun, ended;
  std::map<Steinberg::Vst::ParamID, double> values;
};

TEST_F(PresetActions, HostIsToldAboutEveryParameterAfterALoad)
{
  SetParam(kAmount, 12.0);
  StoreState("P.mvpreset", "P", CurrentState());
  SetParam(kAmount, 90.0);

  RecordingHandler handler;
  mPlug->setComponentHandler(&handler);
  mPlug->LoadPreset(Listed("P.mvpreset"));
  mPlug->setComponentHandler(nullptr);

  ASSERT_EQ(handler.values.size(), static_cast<size_t>(kNumParams));
  for (int i = 0; i < kNumParams; ++i)
  {
    EXPECT_EQ(handler.ended[static_cast<Steinberg::Vst::ParamID>(i)], 1);
    EXPECT_NEAR(handler.values[static_cast<Steinberg::Vst::ParamID>(i)], mPlug->GetParam(i)->GetNormalized(), 1e-12);
  }
  EXPECT_NEAR(handler.values[kAmount], mPlug->GetParam(kAmount)->ToNormalized(12.0), 1e-9);

  // A damaged preset tells the host nothing.
  RecordingHandler quiet;
  mPlug->setComponentHandler(&quiet);
  const std::vector<uint8_t> whole = CurrentState();
  StoreState("Bad.mvpreset", "Bad", std::vector<uint8_t>(whole.begin(), whole.begin() + 40));
  mPlug->LoadPreset(Listed("Bad.mvpreset"));
  mPlug->setComponentHandler(nullptr);
  EXPECT_TRUE(quiet.values.empty());
}

TEST_F(PresetActions, ReplacingAnotherPresetAsksFirst)
{
  mPlug->SavePreset("Warm", false);
  const std::string stored = ReadBytes(Presets() / "Warm.mvpreset");
  mPlug->SavePreset("Other", false);
  SetParam(kAmount, 3.0);

  mAnswers = {false};
  mPlug->SavePreset("Warm", true);
  ASSERT_EQ(mBoxes.size(), 1u);
  EXPECT_EQ(mBoxes[0].title, "Save preset");
  EXPECT_EQ(mBoxes[0].text, "A preset named \"Warm\" already exists. Replace it?");
  EXPECT_EQ(mBoxes[0].type, iplug::EMsgBoxType::kYesNo);
  NextFrame();
  EXPECT_EQ(ReadBytes(Presets() / "Warm.mvpreset"), stored);
  EXPECT_EQ(PresetName(), "Other");

  // The call returns before the answer; the save happens when the Yes arrives.
  mAnswers = {true};
  mPlug->SavePreset("Warm", true);
  EXPECT_EQ(mBoxes.size(), 2u);
  EXPECT_EQ(ReadBytes(Presets() / "Warm.mvpreset"), stored);
  EXPECT_EQ(PresetName(), "Other");
  NextFrame();
  EXPECT_NE(ReadBytes(Presets() / "Warm.mvpreset"), stored);
  EXPECT_EQ(PresetName(), "Warm");
  EXPECT_EQ(mBoxes.size(), 2u) << "a Yes saves without asking again";

  // Without an editor the question counts as No.
  OpenEditorStandIn(false);
  const std::string other = ReadBytes(Presets() / "Other.mvpreset");
  SetParam(kAmount, 4.0);
  mAnswers = {true};
  mPlug->SavePreset("Other", true);
  EXPECT_EQ(mBoxes.size(), 2u);
  EXPECT_EQ(ReadBytes(Presets() / "Other.mvpreset"), other);
  EXPECT_EQ(PresetName(), "Warm");
}

TEST_F(PresetActions, QueuedSaveAsksFromTheIdleCallback)
{
  mPlug->SavePreset("Warm", false);
  mPlug->SavePreset("Cold", false);
  ASSERT_EQ(PresetName(), "Cold");

  // The current preset is overwritten at once, without a question.
  SetParam(kAmount, 21.0);
  mPlug->QueuePresetSave("Cold");
  EXPECT_TRUE(mBoxes.empty());
  EXPECT_FALSE(mPlug->mPendingPresetSave.has_value());

  // A new name is saved at once.
  mPlug->QueuePresetSave("Fresh");
  EXPECT_TRUE(fs::exists(Presets() / "Fresh.mvpreset"));
  EXPECT_EQ(PresetName(), "Fresh");

  // Another existing preset waits for the idle callback, which asks.
  mPlug->QueuePresetSave("Warm");
  EXPECT_TRUE(mBoxes.empty());
  ASSERT_TRUE(mPlug->mPendingPresetSave.has_value());
  mAnswers = {true};
  mPlug->OnIdle();
  ASSERT_EQ(mBoxes.size(), 1u);
  EXPECT_EQ(mBoxes[0].text, "A preset named \"Warm\" already exists. Replace it?");
  EXPECT_FALSE(mPlug->mPendingPresetSave.has_value());
  NextFrame();
  EXPECT_EQ(PresetName(), "Warm");
}

TEST_F(PresetActions, SavingWarmBesideLowerCaseWarmNeedsNoQuestion)
{
  StoreState("Warm.mvpreset", "warm", CurrentState());
  mPlug->SavePreset("Warm", true);
  EXPECT_TRUE(mBoxes.empty());
  EXPECT_TRUE(fs::exists(Presets() / "Warm-1.mvpreset"));
  EXPECT_EQ(PresetName(), "Warm");
}

TEST_F(PresetActions, FailedSaveRestoresNameAndMark)
{
  mPlug->SavePreset("Before", false);
  mPlug->mPresetModified = true;
  // A file where the presets folder should be.
  fs::remove_all(Presets());
  WriteBytes(Presets(), "not a folder");
  mPlug->SavePreset("Blocked", false);
  ASSERT_EQ(mBoxes.size(), 1u);
  EXPECT_EQ(mBoxes[0].title, "Save preset");
  EXPECT_EQ(mBoxes[0].text, "Could not save the preset: could not write " + (Presets() / "Blocked.mvpreset").string());
  EXPECT_EQ(PresetName(), "Before");

  // The mark shown before the attempt survives the new baseline.
  mPlug->OnIdle();
  EXPECT_TRUE(mPlug->mPresetModified);
}

TEST_F(PresetActions, BlankNamesDoNothing)
{
  mPlug->SavePreset(" \t ", true);
  mPlug->QueuePresetSave("\t");
  EXPECT_TRUE(mBoxes.empty());
  EXPECT_FALSE(fs::exists(Presets()));
}

TEST_F(PresetActions, DeleteKeepsTheCurrentName)
{
  mPlug->SavePreset("Warm", false);
  auto listed = mPlug->UserPresets();
  ASSERT_EQ(listed.size(), 1u);
  mPlug->DeletePreset(listed[0]);
  EXPECT_TRUE(mBoxes.empty());
  EXPECT_FALSE(fs::exists(Presets() / "Warm.mvpreset"));
  EXPECT_EQ(PresetName(), "Warm");

  mPlug->DeletePreset(listed[0]);
  ASSERT_EQ(mBoxes.size(), 1u);
  EXPECT_EQ(mBoxes[0].title, "Delete preset");
  EXPECT_EQ(mBoxes[0].text, "Could not delete the preset: could not delete Warm.mvpreset");
}

TEST_F(PresetActions, ListingDoesNotCreateTheFolder)
{
  EXPECT_TRUE(mPlug->UserPresets().empty());
  EXPECT_TRUE(mPlug->UserTargets().empty());
  EXPECT_EQ(Morvellan::PresetFolder(), Presets());
  EXPECT_EQ(Morvellan::TargetFolder(), Targets());
  EXPECT_FALSE(fs::exists(mData.Path() / "Morvellan"));
}

} // namespace

namespace {

TEST_F(PresetActions, HostMessagesLoadAndSavePresets)
{
  OpenEditorStandIn(false);
  SetParam(kAmount, 44.0);
  FakeAttributes save;
  save.binaries["name"] = "From host";
  ASSERT_TRUE(mPlug->HandlePresetMessage(Morvellan::kSavePresetMessage, &save));
  EXPECT_EQ(save.binaries.count("error"), 0u);
  EXPECT_EQ(save.binaries["path"], (Presets() / "From host.mvpreset").string());
  EXPECT_EQ(PresetName(), "From host");

  SetParam(kAmount, 1.0);
  FakeAttributes load;
  load.binaries["path"] = save.binaries["path"];
  ASSERT_TRUE(mPlug->HandlePresetMessage(Morvellan::kLoadPresetMessage, &load));
  EXPECT_EQ(load.binaries.count("error"), 0u);
  EXPECT_DOUBLE_EQ(Param(kAmount), 44.0);

  // Failures come back to the host even though no editor shows them.
  WriteBytes(Presets() / "Broken.mvpreset", "Morvellan preset 1\nstate=%%%%\n");
  FakeAttributes broken;
  broken.binaries["path"] = (Presets() / "Broken.mvpreset").string();
  ASSERT_TRUE(mPlug->HandlePresetMessage(Morvellan::kLoadPresetMessage, &broken));
  EXPECT_EQ(broken.binaries["error"], "Could not load the preset: the preset has no readable state: Broken.mvpreset");

  FakeAttributes empty;
  ASSERT_TRUE(mPlug->HandlePresetMessage(Morvellan::kLoadPresetMessage, &empty));
  EXPECT_EQ(empty.binaries["error"], "the message has no path");
  EXPECT_FALSE(mPlug->HandlePresetMessage("SomethingElse", &empty));
  EXPECT_TRUE(mBoxes.empty());
}

} // namespace

namespace {

TEST_F(PresetActions, NameWithALineBreakFindsItsOwnFile)
{
  // The file name comes from the name as given, a line feed becoming "-";
  // the name stored and shown is the same text on one line.
  mPlug->SavePreset("Line\nBreak", false);
  EXPECT_EQ(PresetName(), "Line Break");
  ASSERT_TRUE(fs::exists(Presets() / "Line-Break.mvpreset"));
  EXPECT_FALSE(fs::exists(Presets() / "Line Break.mvpreset"));
  EXPECT_EQ(ReadBytes(Presets() / "Line-Break.mvpreset").rfind("Morvellan preset 1\nname=Line Break\nstate=", 0), 0u);
  mPlug->SavePreset("Other", false);

  mAnswers = {true};
  mPlug->SavePreset("Line\r\nBreak", true);
  ASSERT_EQ(mBoxes.size(), 0u) << "a CR LF pair makes two spaces: another name";
  EXPECT_TRUE(fs::exists(Presets() / "Line--Break.mvpreset"));
  mAnswers.clear();

  mAnswers = {true};
  mPlug->SavePreset("Line\rBreak", true);
  NextFrame();
  ASSERT_EQ(mBoxes.size(), 1u);
  EXPECT_EQ(mBoxes[0].text, "A preset named \"Line Break\" already exists. Replace it?");
  EXPECT_FALSE(fs::exists(Presets() / "Line-Break-1.mvpreset"));
  EXPECT_EQ(PresetName(), "Line Break");

  // A hand-edited name with a carriage return inside loads exactly as listed.
  StoreState("Edited.mvpreset", "Car\rriage", CurrentState());
  PresetFile edited;
  for (const PresetFile& p : mPlug->UserPresets())
    if (p.path.filename() == "Edited.mvpreset")
      edited = p;
  ASSERT_EQ(edited.name, "Car\rriage");
  mPlug->LoadPreset(edited);
  EXPECT_EQ(PresetName(), "Car\rriage");
}

} // namespace

namespace {

// A dialog that fails (out of memory, a broken helper process) while an action
// reports its own failure must not unwind into the host; the entry reports
// what escaped under the action's title and prefix.
TEST_F(PresetActions, FailingMessageBoxDoesNotEscapeTheActions)
{
  int shown = 0;
  std::vector<iplug::MessageBoxCall> reported;
  mHook.reset();
  mHook = std::make_unique<iplug::ScopedMessageBoxHook>(
      [&](const iplug::MessageBoxCall& call) -> iplug::EMsgBoxResult {
        if (++shown % 2 == 1)
          throw std::runtime_error("dialog failed");
        reported.push_back(call);
        return iplug::EMsgBoxResult::kOK;
      },
      true);

  PresetFile missing;
  missing.path = Presets() / "Gone.mvpreset";
  EXPECT_NO_THROW(mPlug->LoadPreset(missing));
  EXPECT_NO_THROW(mPlug->DeletePreset(missing));
  morvellan::offline::SavedTarget target;
  target.path = Targets() / "Gone.mvtarget";
  EXPECT_NO_THROW(mPlug->LoadTarget(target));
  EXPECT_NO_THROW(mPlug->SaveTarget("Nothing learned"));
  ASSERT_EQ(reported.size(), 4u);
  EXPECT_EQ(reported[0].title, "Load preset");
  EXPECT_EQ(reported[0].text, "Could not load the preset: dialog failed");
  EXPECT_EQ(reported[1].title, "Delete preset");
  EXPECT_EQ(reported[1].text, "Could not delete the preset: dialog failed");
  EXPECT_EQ(reported[2].title, "Load target");
  EXPECT_EQ(reported[2].text, "Could not load the target: dialog failed");
  EXPECT_EQ(reported[3].title, "Save target");
  EXPECT_EQ(reported[3].text, "Could not save the target: dialog failed");

  // When every box fails, nothing escapes either.
  mHook.reset();
  mHook = std::make_unique<iplug::ScopedMessageBoxHook>(
      [](const iplug::MessageBoxCall&) -> iplug::EMsgBoxResult { throw std::runtime_error("dialog failed"); }, true);
  EXPECT_NO_THROW(mPlug->LoadPreset(missing));
  EXPECT_NO_THROW(mPlug->SaveTarget("Nothing learned"));
}

} // namespace
