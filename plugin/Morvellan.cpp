#include "Morvellan.h"

#include <limits>

#include "EditorCallbacks.h"

#include "AccentColours.h"
#include "EditorSizing.h"
#include "IPlugVST3Entry.h"
#include "Parameters.h"

#include "halvorsted/updates/UpdateCheck.h"
#include "halvorsted/updates/UpdateWorker.h"

#include "pluginterfaces/base/ipluginbase.h"
#include "pluginterfaces/vst/ivstaudioprocessor.h"

namespace {

iplug::Config MakeConfig()
{
  using namespace morvellan::sizing;
  iplug::Config c;
  c.nParams = kNumParams;
  c.nPresets = 1;
  c.channelIOStr = "1-1 2-2";
  c.pluginName = "Morvellan";
  c.productName = "Morvellan";
  c.mfrName = "Halvorsted";
  c.vendorVersion = morvellan::kVendorVersion;
  c.uniqueID = int(morvellan::kPluginCode);
  c.mfrID = int(morvellan::kMakerCode);
  c.latency = 0;
  c.plugDoesMidiIn = false;
  c.plugDoesMidiOut = false;
  c.plugDoesMPE = false;
  c.plugDoesChunks = true;
  c.plugType = iplug::kEffect;
  c.plugHasUI = true;
  c.plugWidth = kCanvasWidth;
  c.plugHeight = kCanvasHeight;
  c.plugMinWidth = kMinWidth;
  c.plugMaxWidth = kMaxWidth;
  c.plugMinHeight = kMinHeight;
  c.plugMaxHeight = kMaxHeight;
  c.plugHostResize = true;
  c.bundleID = "";
  c.appGroupID = "";
  return c;
}

Steinberg::FUnknown* CreateInstance(void* context)
{
  iplug::InstanceInfo info;
  info.hostContext = context;
  return static_cast<Steinberg::Vst::IAudioProcessor*>(static_cast<Morvellan*>(MakePlug(info)));
}

} // namespace

namespace iplug {

const PlugFactoryInfo& GetPlugFactoryInfo()
{
  static const PlugFactoryInfo info = [] {
    PlugFactoryInfo f;
    f.vendor = "Halvorsted";
    f.url = "https://www.halvorsted.com";
    f.email = "";
    f.factoryFlags = Steinberg::PFactoryInfo::kUnicode;
    for (int i = 0; i < 4; ++i)
      f.classID[i] = morvellan::kClassIdWords[i];
    f.cardinality = Steinberg::PClassInfo::kManyInstances;
    f.category = "Audio Module Class";
    f.name = "Morvellan";
    f.classFlags = 2; // simple mode supported
    f.subCategories = "Fx|EQ";
    f.classVendor = "";
    f.version = MORVELLAN_VERSION_STRING;
    f.sdkVersion = "VST 3.8.1";
    f.create = &CreateInstance;
    return f;
  }();
  return info;
}

} // namespace iplug

iplug::IPlugVST3* MakePlug(const iplug::InstanceInfo& info)
{
  // Some hosts create instances from several threads at once; construction is serialised.
  static std::mutex creationMutex;
  std::lock_guard<std::mutex> lock(creationMutex);
  return new Morvellan(info);
}

Morvellan::Morvellan(const iplug::InstanceInfo& info)
: iplug::IPlugVST3(info, MakeConfig())
, mInputMeterSender(-90.0, true, 5.0f, 1.0f, 100.0f, 500.0f)
, mOutputMeterSender(-90.0, true, 5.0f, 1.0f, 100.0f, 500.0f)
{
  for (int i = 0; i < kNumParams; ++i)
    morvellan::DeclareParameter(*GetParam(i), morvellan::kParamTable[i]);

  mAccentIndex.store(morvellan::kHostAccentIndex);

  for (int k = 0; k < morvellan::kNumBands; ++k)
  {
    mBandLevels[0][k].store(0.0f, std::memory_order_relaxed);
    mBandLevels[1][k].store(-120.0f, std::memory_order_relaxed);
    mPublishedBandPower[std::size_t(k)] = std::numeric_limits<double>::quiet_NaN();
  }

  mLearnedTarget.Write(Bands{}, Bands{}, false);
  mKnownState = TakeStateSignature();

  halvorsted::updates::UpdateCheck::Config updates;
  updates.productSlug = "morvellan";
  updates.currentVersion = MORVELLAN_VERSION_STRING;
  updates.dataFolder = halvorsted::updates::MakerDataFolder();
  updates.feedUrl = halvorsted::updates::kMakerFeedUrl;
  mUpdateCheck = std::make_shared<halvorsted::updates::UpdateCheck>(std::move(updates));
  mUpdateWorker = std::make_unique<halvorsted::updates::UpdateWorker>();
  mUpdateWorker->Start(mUpdateCheck);

  mMakeGraphicsFunc = [this] { return MakeGraphics(*this); };
  mLayoutFunc = [this](iplug::igraphics::IGraphics* g) {
    if (g)
      RunLayout(*this, *g);
  };
}

Morvellan::~Morvellan()
{
  // The timer calls into this object; it must be gone before any member is.
  StopIdleTimer();

  // A running analysis is waited for, never cancelled.
  if (mLearnThread.joinable())
    mLearnThread.join();

  mHostTrackLabel.Clear();
  // Taken off the shared update thread, its request cancelled even mid-way; the last instance
  // joins that thread, so none of ours outlives the instances.
  if (mUpdateWorker)
    mUpdateWorker->Stop();
  mUpdateCheck.reset();

  // A host that never called terminate still gets its reference back.
  ReleaseReaperHost();
}

Steinberg::tresult PLUGIN_API Morvellan::initialize(Steinberg::FUnknown* context)
{
  std::lock_guard lock(GetUILock());
  // Initialised already: the framework refuses, and the REAPER link stays as it is.
  if (!GetHostContext() && context)
  {
    void* found = nullptr;
    if (context->queryInterface(morvellan::kReaperHostApplicationIid, &found) == Steinberg::kResultOk && found)
    {
      ReleaseReaperHost();
      mReaperHost = static_cast<morvellan::IReaperHostApplication*>(found);
      mGetSetMediaTrackInfoString = reinterpret_cast<morvellan::ReaperGetSetMediaTrackInfoString>(
          mReaperHost->getReaperApi("GetSetMediaTrackInfo_String"));
      mGetMediaTrackInfoValue =
          reinterpret_cast<morvellan::ReaperGetMediaTrackInfoValue>(mReaperHost->getReaperApi("GetMediaTrackInfo_Value"));
      mColorFromNative =
          reinterpret_cast<morvellan::ReaperColorFromNative>(mReaperHost->getReaperApi("ColorFromNative"));
    }
  }
  return iplug::IPlugVST3::initialize(context);
}

Steinberg::tresult PLUGIN_API Morvellan::terminate()
{
  // The framework stops the idle timer first, so nothing uses the REAPER link while it goes.
  const Steinberg::tresult result = iplug::IPlugVST3::terminate();
  std::lock_guard lock(GetUILock());
  ReleaseReaperHost();
  return result;
}

void Morvellan::ReleaseReaperHost()
{
  mGetSetMediaTrackInfoString = nullptr;
  mGetMediaTrackInfoValue = nullptr;
  mColorFromNative = nullptr;
  if (mReaperHost)
  {
    // The query in initialize took a reference of its own.
    mReaperHost->release();
    mReaperHost = nullptr;
  }
}

void* Morvellan::GetReaperTrack() const
{
  return mReaperHost ? mReaperHost->getReaperParent(1) : nullptr;
}

bool Morvellan::GetReaperTrackName(void* track, std::string& name) const
{
  name.clear();
  if (!track || !mGetSetMediaTrackInfoString)
    return false;
  char buffer[morvellan::kReaperTrackNameBufferSize] = {};
  if (!mGetSetMediaTrackInfoString(track, "P_NAME", buffer, false))
    return false;
  // The host is not trusted to terminate what it wrote.
  buffer[sizeof buffer - 1] = '\0';
  name = buffer;
  return true;
}
