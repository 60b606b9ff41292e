#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>

#include "TestPlug.h"

namespace {

int gTrackMarker = 0;

bool FakeGetSetString(void* track, const char* parameter, char* buffer, bool set)
{
  if (track != &gTrackMarker || set || std::strcmp(parameter, "P_NAME") != 0)
    return false;
  // Fills the whole buffer with no terminator, as a careless host might.
  std::memset(buffer, 'A', morvellan::kReaperTrackNameBufferSize);
  return true;
}

double FakeGetValue(void*, const char*) { return 3.0; }
void FakeColour(int, int* r, int* g, int* b) { *r = *g = *b = 0; }

class FakeReaper : public morvellan::IReaperHostApplication
{
public:
  Steinberg::tresult PLUGIN_API queryInterface(const Steinberg::TUID iid, void** obj) override
  {
    if (Steinberg::FUnknownPrivate::iidEqual(iid, morvellan::kReaperHostApplicationIid) ||
        Steinberg::FUnknownPrivate::iidEqual(iid, Steinberg::FUnknown::iid))
    {
      addRef();
      *obj = this;
      return Steinberg::kResultOk;
    }
    *obj = nullptr;
    return Steinberg::kNoInterface;
  }
  Steinberg::uint32 PLUGIN_API addRef() override { return ++refs; }
  Steinberg::uint32 PLUGIN_API release() override { return --refs; }

  void* PLUGIN_API getReaperApi(Steinberg::CStringA name) override
  {
    const std::string n = name;
    if (n == "GetSetMediaTrackInfo_String")
      return reinterpret_cast<void*>(&FakeGetSetString);
    if (n == "GetMediaTrackInfo_Value")
      return reinterpret_cast<void*>(&FakeGetValue);
    if (n == "ColorFromNative" && offerColour)
      return reinterpret_cast<void*>(&FakeColour);
    return nullptr;
  }
  void* PLUGIN_API getReaperParent(Steinberg::uint32 which) override { return which == 1 ? &gTrackMarker : nullptr; }
  void* PLUGIN_API reaperExtended(Steinberg::uint32, void*, void*, void*) override { return nullptr; }

  std::atomic<int> refs{1};
  bool offerColour = false;
};

// A host context that is not REAPER.
class PlainHost : public Steinberg::FUnknown
{
public:
  Steinberg::tresult PLUGIN_API queryInterface(const Steinberg::TUID, void** obj) override
  {
    *obj = nullptr;
    return Steinberg::kNoInterface;
  }
  Steinberg::uint32 PLUGIN_API addRef() override { return ++refs; }
  Steinberg::uint32 PLUGIN_API release() override { return --refs; }
  std::atomic<int> refs{1};
};

} // namespace

TEST(HostExtension, ReaperFunctionsAreFetchedAndTheReferenceReturned)
{
  FakeReaper reaper;
  {
    TestPlug plug;
    ASSERT_EQ(plug.initialize(&reaper), Steinberg::kResultOk);
    EXPECT_EQ(plug.mReaperHost, &reaper);
    EXPECT_NE(plug.mGetSetMediaTrackInfoString, nullptr);
    EXPECT_NE(plug.mGetMediaTrackInfoValue, nullptr);
    EXPECT_EQ(plug.mColorFromNative, nullptr); // this host does not offer it
    EXPECT_GT(reaper.refs.load(), 1);

    void* track = plug.GetReaperTrack();
    EXPECT_EQ(track, &gTrackMarker);
    std::string name;
    ASSERT_TRUE(plug.GetReaperTrackName(track, name));
    EXPECT_EQ(name, std::string(morvellan::kReaperTrackNameBufferSize - 1, 'A'));
    EXPECT_FALSE(plug.GetReaperTrackName(nullptr, name));
    EXPECT_EQ(name, "");

    plug.terminate();
    EXPECT_EQ(plug.mReaperHost, nullptr);
    EXPECT_EQ(plug.mGetMediaTrackInfoValue, nullptr);
    EXPECT_EQ(plug.GetReaperTrack(), nullptr);
    EXPECT_EQ(reaper.refs.load(), 1);
  }
  // Released by the destructor when the host never terminates.
  {
    TestPlug plug;
    plug.initialize(&reaper);
    EXPECT_GT(reaper.refs.load(), 1);
  }
  EXPECT_EQ(reaper.refs.load(), 1);
}

TEST(HostExtension, OtherHostsLeaveTheLinkEmpty)
{
  PlainHost host;
  {
    TestPlug plug;
    EXPECT_EQ(plug.initialize(&host), Steinberg::kResultOk);
    EXPECT_EQ(plug.mReaperHost, nullptr);
    EXPECT_EQ(plug.mGetSetMediaTrackInfoString, nullptr);
    std::string name = "old";
    EXPECT_FALSE(plug.GetReaperTrackName(plug.GetReaperTrack(), name));
    plug.terminate();
  }
  EXPECT_EQ(host.refs.load(), 1);

  TestPlug plug;
  EXPECT_EQ(plug.initialize(nullptr), Steinberg::kResultOk);
  EXPECT_EQ(plug.mReaperHost, nullptr);
  plug.terminate();
}
