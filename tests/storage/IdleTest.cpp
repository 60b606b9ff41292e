#include "PlugFixture.h"

#include "../plugin/ChunkBytes.h"
#include "AccentColour.h"
#include "EditorCallbacks.h"
#include "IGraphics.h"
#include "StatusText.h"
#include "StoredRecords.h"
#include "TargetFile.h"
#include "Vst3TestObjects.h"

#include "pluginterfaces/vst/ivstattributes.h"
#include "pluginterfaces/vst/ivstchannelcontextinfo.h"

#include <cmath>
#include <cstring>
#include <functional>
#include <map>

namespace fs = std::filesystem;

namespace {

class IdleCallback : public PlugFixture
{
protected:
  void MakePresetCurrent()
  {
    mPlug->SavePreset("Current", false);
    mPlug->OnIdle(); // takes the baseline
    ASSERT_FALSE(mPlug->mPresetModified);
  }
};

TEST_F(IdleCallback, ModifiedMarkFollowsChangesFromTheBaseline)
{
  MakePresetCurrent();
  const double start = Param(kAmount);
  SetParam(kAmount, start + 1.0);
  mPlug->OnIdle();
  EXPECT_TRUE(mPlug->mPresetModified);
  EXPECT_TRUE(mPlug->mShownModified);

  // Moving it back does not clear the mark.
  SetParam(kAmount, start);
  mPlug->OnIdle();
  EXPECT_TRUE(mPlug->mPresetModified);

  // A new baseline (save) clears it.
  mPlug->SavePreset("Current", false);
  mPlug->OnIdle();
  EXPECT_FALSE(mPlug->mPresetModified);
  EXPECT_FALSE(mPlug->mShownModified);
}

TEST_F(IdleCallback, TinyChangesAndTargetChangesAreWeighedDifferently)
{
  SetParam(kAmount, 50.0);
  MakePresetCurrent();
  SetParam(kAmount, 50.0 * (1.0 + 5e-7));
  mPlug->OnIdle();
  EXPECT_FALSE(mPlug->mPresetModified);

  // A new learned target counts as a change.
  morvellan::BandBalance b{};
  b[3] = 2.0;
  PublishLearnedTarget(b);
  mPlug->OnIdle();
  EXPECT_TRUE(mPlug->mPresetModified);
}

TEST_F(IdleCallback, SourceNameChangeMarksModified)
{
  MakePresetCurrent();
  {
    std::lock_guard<std::mutex> lock(mPlug->mMutex);
    mPlug->mTargetSourceName = "other.wav";
  }
  mPlug->OnIdle();
  EXPECT_TRUE(mPlug->mPresetModified);
}

TEST_F(IdleCallback, NoComparisonWithoutACurrentPreset)
{
  mPlug->mTakeBaseline.store(true);
  mPlug->OnIdle();
  SetParam(kAmount, Param(kAmount) + 10.0);
  mPlug->OnIdle();
  EXPECT_FALSE(mPlug->mPresetModified);
}

TEST_F(IdleCallback, RestoredMarkShowsAtOnceAndSurvivesTheBaseline)
{
  mPlug->SavePreset("Marked", false);
  mPlug->mPresetModified = true;
  iplug::IByteChunk chunk;
  ASSERT_TRUE(mPlug->SerializeState(chunk));
  mPlug->mPresetModified = false;

  ASSERT_GE(mPlug->UnserializeState(chunk, 0), 0);
  mPlug->OnIdle();
  EXPECT_TRUE(mPlug->mPresetModified);
  EXPECT_TRUE(mPlug->mShownModified);
  EXPECT_FALSE(mPlug->mRestoredModified);
}

TEST_F(IdleCallback, LearnFinishedClearsTheSourceName)
{
  {
    std::lock_guard<std::mutex> lock(mPlug->mMutex);
    mPlug->mTargetSourceName = "ref.wav";
  }
  mPlug->OnIdle();
  EXPECT_EQ(SourceName(), "ref.wav");
  mPlug->mLearnFinished.store(true);
  mPlug->OnIdle();
  EXPECT_EQ(SourceName(), "");
  EXPECT_FALSE(mPlug->mLearnFinished.load());
}

TEST_F(IdleCallback, TrackLabelFromTheChannelContext)
{
  mPlug->OnIdle();
  EXPECT_STREQ(mPlug->mHostTrackLabel.Get(), "");

  FakeAttributes info;
  info.strings[Steinberg::Vst::ChannelContext::kChannelNameKey] = "Vox";
  info.ints[Steinberg::Vst::ChannelContext::kChannelIndexKey] = 2;
  info.ints[Steinberg::Vst::ChannelContext::kChannelColorKey] = static_cast<Steinberg::int64>(0xFF0A0A0Au);
  mPlug->setChannelContextInfos(&info);
  mPlug->OnIdle();
  EXPECT_STREQ(mPlug->mHostTrackLabel.Get(), "#2: Vox");
  // Accent 5 follows the channel colour.
  EXPECT_EQ(mPlug->mHostTrackColour, 0x0A0A0A);
  EXPECT_EQ(mPlug->mAccentRebuildsAsked, 1);

  info.strings.clear();
  info.ints.erase(Steinberg::Vst::ChannelContext::kChannelColorKey);
  mPlug->setChannelContextInfos(&info);
  mPlug->OnIdle();
  EXPECT_STREQ(mPlug->mHostTrackLabel.Get(), "");
  EXPECT_EQ(mPlug->mHostTrackColour, -1);
  EXPECT_EQ(mPlug->mAccentRebuildsAsked, 2);
}

// A REAPER host whose functions count their calls.
int gReaperCalls = 0;
bool FakeTrackName(void*, const char*, char* buffer, bool)
{
  ++gReaperCalls;
  std::memset(buffer, 'x', 512); // unterminated on purpose
  return true;
}
double FakeTrackValue(void*, const char* what)
{
  ++gReaperCalls;
  return std::strcmp(what, "IP_TRACKNUMBER") == 0 ? 3.0 : 0.0;
}
void FakeColour(int, int* r, int* g, int* b)
{
  ++gReaperCalls;
  *r = *g = *b = 0;
}

class FakeReaper : public morvellan::IReaperHostApplication
{
public:
  Steinberg::tresult PLUGIN_API queryInterface(const Steinberg::TUID iid, void** obj) override
  {
    if (Steinberg::FUnknownPrivate::iidEqual(iid, morvellan::kReaperHostApplicationIid))
    {
      *obj = static_cast<morvellan::IReaperHostApplication*>(this);
      return Steinberg::kResultOk;
    }
    *obj = nullptr;
    return Steinberg::kNoInterface;
  }
  Steinberg::uint32 PLUGIN_API addRef() override { return 1; }
  Steinberg::uint32 PLUGIN_API release() override { return 1; }
  void* PLUGIN_API getReaperApi(Steinberg::CStringA name) override
  {
    if (std::strcmp(name, "GetSetMediaTrackInfo_String") == 0)
      return reinterpret_cast<void*>(&FakeTrackName);
    if (std::strcmp(name, "GetMediaTrackInfo_Value") == 0)
      return reinterpret_cast<void*>(&FakeTrackValue);
    if (std::strcmp(name, "ColorFromNative") == 0)
      return reinterpret_cast<void*>(&FakeColour);
    return nullptr;
  }
  void* PLUGIN_API getReaperParent(Steinberg::uint32) override
  {
    ++gReaperCalls;
    return this;
  }
  void* PLUGIN_API reaperExtended(Steinberg::uint32, void*, void*, void*) override { return nullptr; }
};

TEST_F(IdleCallback, ReaperIsNotCalledFromTheTimerThread)
{
  static FakeReaper reaper; // the plug-in holds it until it is destroyed
  ASSERT_EQ(mPlug->initialize(&reaper), Steinberg::kResultOk);
  mPlug->StopIdleTimer();
  ASSERT_NE(mPlug->mReaperHost, nullptr);

  FakeAttributes info;
  info.strings[Steinberg::Vst::ChannelContext::kChannelNameKey] = "Vox";
  mPlug->setChannelContextInfos(&info);
  gReaperCalls = 0;
  mPlug->OnIdle();
  // With no editor open the last known track stays; the host is not asked.
  EXPECT_EQ(gReaperCalls, 0);
  EXPECT_STREQ(mPlug->mHostTrackLabel.Get(), "");
  EXPECT_EQ(mPlug->mHostTrackColour, -1);

  // The label that an open editor would show, read the same way.
  const std::string label = mPlug->ReadHostTrackLabel();
  EXPECT_EQ(label, "#3: " + std::string(511, 'x'));
  mPlug->terminate();
}

// A REAPER host with one track whose custom colour the test sets.
double gCustomColour = 0.0;
double ColourTrackValue(void*, const char* what)
{
  return std::strcmp(what, "I_CUSTOMCOLOR") == 0 ? gCustomColour : 1.0;
}
// Native colours here are 0xBBGGRR, as on Windows.
void NativeToRgb(int native, int* r, int* g, int* b)
{
  *r = native & 255;
  *g = (native >> 8) & 255;
  *b = (native >> 16) & 255;
}

class ColourReaper : public FakeReaper
{
public:
  void* PLUGIN_API getReaperApi(Steinberg::CStringA name) override
  {
    if (std::strcmp(name, "GetMediaTrackInfo_Value") == 0)
      return reinterpret_cast<void*>(&ColourTrackValue);
    if (std::strcmp(name, "ColorFromNative") == 0)
      return reinterpret_cast<void*>(&NativeToRgb);
    return FakeReaper::getReaperApi(name);
  }
};

TEST_F(IdleCallback, ReaperTrackColourNeedsItsFlagAndASaneValue)
{
  static ColourReaper reaper;
  ASSERT_EQ(mPlug->initialize(&reaper), Steinberg::kResultOk);
  mPlug->StopIdleTimer();
  FakeAttributes info;
  info.ints[Steinberg::Vst::ChannelContext::kChannelColorKey] = static_cast<Steinberg::int64>(0xFF445566u);
  mPlug->setChannelContextInfos(&info);

  // Flag set: native 0x302010 is red 0x10, green 0x20, blue 0x30.
  gCustomColour = static_cast<double>(0x01000000 | 0x302010);
  EXPECT_EQ(mPlug->ReadHostTrackColour(), 0x102030);
  // Without the flag, or with a value no colour can be, the channel colour stands.
  for (double v : {static_cast<double>(0x302010), std::nan(""), 1e300, -1e300, 0.0})
  {
    gCustomColour = v;
    EXPECT_EQ(mPlug->ReadHostTrackColour(), 0x445566) << v;
  }
  mPlug->terminate();
}

TEST_F(IdleCallback, AccentFollowsTheHostOnlyInChoiceFive)
{
  FakeAttributes info;
  info.strings[Steinberg::Vst::ChannelContext::kChannelNameKey] = "Vox";
  info.ints[Steinberg::Vst::ChannelContext::kChannelColorKey] = static_cast<Steinberg::int64>(0xFF0A0A0Au);
  mPlug->setChannelContextInfos(&info);

  mPlug->mAccentIndex.store(5);
  EXPECT_EQ(AccentColour(*mPlug), (morvellan::AccentRgb{47, 47, 47}));
  mPlug->mAccentIndex.store(2);
  EXPECT_EQ(AccentColour(*mPlug), (morvellan::AccentRgb{255, 122, 0}));
  mPlug->mAccentIndex.store(7);
  EXPECT_EQ(AccentColour(*mPlug), (morvellan::AccentRgb{21, 232, 121}));

  // A colour without alpha is no colour.
  info.ints[Steinberg::Vst::ChannelContext::kChannelColorKey] = 0x00FF0000;
  mPlug->setChannelContextInfos(&info);
  mPlug->mAccentIndex.store(5);
  EXPECT_EQ(AccentColour(*mPlug), (morvellan::AccentRgb{21, 232, 121}));
}

TEST_F(IdleCallback, HostColourChangeAsksForARebuildOnlyInChoiceFive)
{
  FakeAttributes info;
  info.ints[Steinberg::Vst::ChannelContext::kChannelColorKey] = static_cast<Steinberg::int64>(0xFF336699u);
  mPlug->setChannelContextInfos(&info);
  mPlug->mAccentIndex.store(1);
  mPlug->OnIdle();
  EXPECT_EQ(mPlug->mHostTrackColour, -1);
  EXPECT_EQ(mPlug->mAccentRebuildsAsked, 0);

  mPlug->mAccentIndex.store(5);
  mPlug->OnIdle();
  EXPECT_EQ(mPlug->mHostTrackColour, 0x336699);
  EXPECT_EQ(mPlug->mAccentRebuildsAsked, 1);
  mPlug->OnIdle(); // the same colour asks for nothing
  EXPECT_EQ(mPlug->mAccentRebuildsAsked, 1);

  info.ints[Steinberg::Vst::ChannelContext::kChannelColorKey] = static_cast<Steinberg::int64>(0xFF112233u);
  mPlug->setChannelContextInfos(&info);
  mPlug->OnIdle();
  EXPECT_EQ(mPlug->mHostTrackColour, 0x112233);
  EXPECT_EQ(mPlug->mAccentRebuildsAsked, 2);

  // Outside choice five a host colour change is not followed.
  mPlug->mAccentIndex.store(2);
  info.ints[Steinberg::Vst::ChannelContext::kChannelColorKey] = static_cast<Steinberg::int64>(0xFF445566u);
  mPlug->setChannelContextInfos(&info);
  mPlug->OnIdle();
  EXPECT_EQ(mPlug->mAccentRebuildsAsked, 2);
}

// A host that keeps the session's saved mark (IComponentHandler2) and plays noise through the plug-in.
class HostSavedMark : public IdleCallback
{
protected:
  void SetUp() override
  {
    IdleCallback::SetUp();
    ASSERT_EQ(mPlug->setComponentHandler(&mHandler), Steinberg::kResultOk);
    Steinberg::Vst::ProcessSetup setup{Steinberg::Vst::kRealtime, Steinberg::Vst::kSample32, kBlock, 8000.0};
    ASSERT_EQ(mPlug->setupProcessing(setup), Steinberg::kResultOk);
    ASSERT_EQ(mPlug->setActive(true), Steinberg::kResultOk);
  }
  void Blocks(int n)
  {
    std::vector<iplug::sample> in(kBlock), out(kBlock);
    iplug::sample* ins[] = {in.data(), in.data()};
    iplug::sample* outs[] = {out.data(), out.data()};
    for (; n > 0; --n)
    {
      for (auto& v : in)
        v = std::int32_t(mNoise = mNoise * 1664525u + 1013904223u) * 0x1p-32;
      mPlug->ProcessBlock(ins, outs, kBlock);
    }
  }
  // An idle step as the timer takes it, then a host call on its UI thread: the times the host was told.
  int Told()
  {
    mPlug->OnIdle();
    testhost::Message unknown("NotOurs");
    mPlug->notify(&unknown);
    const auto calls = mHandler.Take();
    EXPECT_EQ(std::ranges::count(calls, std::this_thread::get_id()), std::ssize(calls));
    return int(calls.size());
  }
  std::vector<std::uint8_t> HostState()
  {
    testhost::MemoryStream stream;
    EXPECT_EQ(mPlug->getState(&stream), Steinberg::kResultOk);
    return stream.data;
  }

  static constexpr int kBlock = 400;
  testhost::DirtyRecordingHandler mHandler;
  std::uint32_t mNoise = 12345u;
};

TEST_F(HostSavedMark, EachChangeOfTheSavedStateIsToldOnceAndNoRestoreOrEditorSize)
{
  const auto learn = [this] {
    RequestLearnFromInput(*mPlug);
    for (int b = 0; b < 120 && !mPlug->mLearnFinished.load(); ++b)
    {
      Blocks(1);
      EXPECT_EQ(mPlug->mLearnFinished.load() ? 0 : Told(), 0);
    }
    EXPECT_TRUE(mPlug->mLearnFinished.load());
  };
  const auto restore = [this](const std::vector<std::uint8_t>& bytes) {
    testhost::MemoryStream stream(bytes);
    EXPECT_EQ(mPlug->setState(&stream), Steinberg::kResultOk);
  };
  const auto factory = morvellan::offline::FactoryTargets();
  const auto preset = [this] { mPlug->LoadPreset(mPlug->UserPresets().at(1)); };
  Bytes old; // a first-version state with a target
  old.Header(1);
  for (int i = 0; i < 24; ++i)
    old.F64(i == kTilt ? 3.0 : Param(i));
  std::vector<std::uint8_t> saved, before;
  std::unique_ptr<iplug::igraphics::IGraphics> ui(mPlug->mMakeGraphicsFunc());
  // Each step, then how often the host hears of it.
  const std::pair<std::function<void()>, int> steps[] = {
    {[&] { Blocks(2); }, 0},
    {learn, 1},
    {[&] { mPlug->LoadTarget(factory[0]); }, 0}, // its name at once, its values with the next block
    {[&] { Blocks(1); }, 1},
    {learn, 1}, // its target and the name it clears
    {[&] { EXPECT_EQ(SourceName(), ""); RequestClearLearnedTarget(*mPlug); Blocks(1); }, 1},
    {[&] { SetAccentColourIndex(*mPlug, 2); }, 1},
    {[&] { SetAccentColourIndex(*mPlug, 2); }, 0},
    {[&] { mPlug->SavePreset("Warm", false); }, 1},
    {[&] { mPlug->SavePreset("Warm", false); }, 0}, // the clean current preset: the state holds the same
    {[&] { mPlug->SavePreset("Cold", false); }, 1},
    {[&] { preset(); EXPECT_EQ(PresetName(), "Warm"); Blocks(1); }, 1},
    {preset, 1}, // again: whatever the file holds now is applied
    {[&] { mPlug->LoadTarget(factory[2]); SetAccentColourIndex(*mPlug, 4); Blocks(1); }, 1},
    {[&] { saved = HostState(); RequestClearLearnedTarget(*mPlug); SetAccentColourIndex(*mPlug, 1); Blocks(1); }, 1},
    // The host's own state, its target settled in the engine.
    {[&] { restore(saved); Blocks(2); EXPECT_EQ(HostState(), saved); }, 0},
    // The engine sets an old state's target against the current tilt: it differs from the one restored.
    {[&] {
       morvellan::BalanceCopy restored, settled;
       restore(old.b);
       EXPECT_TRUE(mPlug->TryReadLearnedTarget(restored));
       Blocks(2);
       EXPECT_TRUE(mPlug->TryReadLearnedTarget(settled) && settled.relative != restored.relative);
     }, 0},
    // The editor's size is in the state too.
    {[&] { mPlug->SetGraphics(ui.get()); before = HostState(); SetUiScaleCallback(*mPlug, 1.5f); }, 0},
  };
  for (size_t i = 0; i < std::size(steps); ++i)
  {
    steps[i].first();
    EXPECT_EQ(Told(), steps[i].second) << "step " << i;
  }
  EXPECT_NE(HostState(), before);
  mPlug->SetGraphics(nullptr);
}

TEST(StatusText, TruncatesOnCharacterBoundaries)
{
  using morvellan::TruncateUtf8WithEllipsis;
  const std::string ellipsis = "\xE2\x80\xA6";
  EXPECT_EQ(TruncateUtf8WithEllipsis(std::string(28, 'a')), std::string(28, 'a'));
  EXPECT_EQ(TruncateUtf8WithEllipsis(std::string(30, 'a')), std::string(27, 'a') + ellipsis);
  // A two-byte character at bytes 26 and 27 is dropped whole.
  EXPECT_EQ(TruncateUtf8WithEllipsis(std::string(26, 'a') + "\xC3\xA9" + "zzzz"), std::string(26, 'a') + ellipsis);
  EXPECT_EQ(TruncateUtf8WithEllipsis(""), "");
}

TEST(StatusText, NamesTheTarget)
{
  const std::string head = std::string("Morvellan ") + MORVELLAN_VERSION_STRING +
                           " \xC2\xB7 0 samples latency \xC2\xB7 target: ";
  EXPECT_EQ(morvellan::StatusLineText(false, "ignored.wav"), head + "balanced");
  EXPECT_EQ(morvellan::StatusLineText(true, ""), head + "learned from input");
  EXPECT_EQ(morvellan::StatusLineText(true, "Female speech"), head + "learned from Female speech");
  EXPECT_EQ(std::string(MORVELLAN_VERSION_STRING), "0.9.14");
}

TEST(StatusText, TrackLabels)
{
  EXPECT_EQ(morvellan::TrackLabelText(3, ""), "#3");
  EXPECT_EQ(morvellan::TrackLabelText(3, "Vox"), "#3: Vox");
  EXPECT_EQ(morvellan::TrackLabelText(-1, "Bus"), "#-1: Bus");
  EXPECT_EQ(morvellan::TrackLabelText(7, std::string(600, 'n')).size(), 560u);
}

} // namespace
