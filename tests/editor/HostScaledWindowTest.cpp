// The plug-in's editor as a VST3 view in a private X server, sized and scaled by a host:
// the screen scale a host sets, and sizes outside the sizing rules.

#include <cairo.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <limits>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "pluginterfaces/gui/iplugviewcontentscalesupport.h"
#include "pluginterfaces/vst/ivstmessage.h"

#include "EditorFixture.h"
#include "IByteChunk.h"
#include "X11TestHost.h"

using namespace Steinberg;
using testsupport::TestFrame;
using testsupport::TestRunLoop;

namespace
{

// The window background of the layout, (255, 10, 10, 10).
constexpr unsigned long kBackground = 0x0A0A0A;

using Sizes = std::vector<std::pair<int, int>>;

// The framework's snapshot message as a host sends it: a file and a draw scale; the answer
// comes back in the same attributes.
class SnapshotRequest : public Vst::IMessage, public Vst::IAttributeList
{
public:
  SnapshotRequest(const std::string& path, double scale) : mPath(path), mScale(scale) {}
  tresult PLUGIN_API queryInterface(const TUID, void** obj) override
  {
    *obj = nullptr;
    return kNoInterface;
  }
  uint32 PLUGIN_API addRef() override { return 1; }
  uint32 PLUGIN_API release() override { return 1; }
  FIDString PLUGIN_API getMessageID() override { return "iplug.EditorSnapshot"; }
  void PLUGIN_API setMessageID(FIDString) override {}
  Vst::IAttributeList* PLUGIN_API getAttributes() override { return this; }
  tresult PLUGIN_API setInt(AttrID id, int64 value) override
  {
    ints[id] = value;
    return kResultTrue;
  }
  tresult PLUGIN_API getInt(AttrID, int64&) override { return kResultFalse; }
  tresult PLUGIN_API setFloat(AttrID, double) override { return kResultFalse; }
  tresult PLUGIN_API getFloat(AttrID id, double& value) override
  {
    value = mScale;
    return std::strcmp(id, "scale") == 0 ? kResultTrue : kResultFalse;
  }
  tresult PLUGIN_API setString(AttrID, const Vst::TChar*) override { return kResultTrue; }
  tresult PLUGIN_API getString(AttrID, Vst::TChar*, uint32) override { return kResultFalse; }
  tresult PLUGIN_API setBinary(AttrID, const void*, uint32) override { return kResultFalse; }
  tresult PLUGIN_API getBinary(AttrID id, const void*& data, uint32& size) override
  {
    data = mPath.data();
    size = static_cast<uint32>(mPath.size());
    return std::strcmp(id, "path") == 0 ? kResultTrue : kResultFalse;
  }
  std::map<std::string, int64> ints;

private:
  std::string mPath;
  double mScale;
};

// The pixel size of a PNG file.
std::pair<int, int> PngSize(const std::string& path)
{
  cairo_surface_t* png = cairo_image_surface_create_from_png(path.c_str());
  std::pair<int, int> size{-1, -1};
  if (cairo_surface_status(png) == CAIRO_STATUS_SUCCESS)
    size = {cairo_image_surface_get_width(png), cairo_image_surface_get_height(png)};
  cairo_surface_destroy(png);
  return size;
}

class HostScaledWindow : public EditorFixture, protected testsupport::X11TestHost
{
protected:
  void SetUp() override
  {
    EditorFixture::SetUp();
    SKIP_WITHOUT_X_SERVER();
    parent = MakeParent(720, 532);
    frame = std::make_unique<TestFrame>(display, parent, &loop);
  }

  IPlugView* OpenView() { return AttachView(mPlug->createView("editor"), frame.get(), parent); }

  static tresult SetFactor(IPlugView* view, float factor)
  {
    IPlugViewContentScaleSupport* scaling = nullptr;
    view->queryInterface(IPlugViewContentScaleSupport::iid, reinterpret_cast<void**>(&scaling));
    if (!scaling)
      return kNoInterface;
    const tresult result = scaling->setContentScaleFactor(factor);
    scaling->release();
    return result;
  }

  static std::pair<int, int> ViewSize(IPlugView* view)
  {
    ViewRect r;
    view->getSize(&r);
    return {r.getWidth(), r.getHeight()};
  }

  // The editor size the state records (fields at bytes 12 and 16).
  std::pair<int, int> SavedSize()
  {
    iplug::IByteChunk chunk;
    EXPECT_TRUE(mPlug->SerializeState(chunk));
    int32_t width = 0, height = 0;
    std::memcpy(&width, chunk.GetData() + 12, 4);
    std::memcpy(&height, chunk.GetData() + 16, 4);
    return {width, height};
  }

  // A state whose editor size is width x height, restored into plug.
  static void RestoreSize(Morvellan& plug, int width, int height)
  {
    iplug::IByteChunk chunk;
    ASSERT_TRUE(plug.SerializeState(chunk));
    std::memcpy(chunk.GetData() + 12, &width, 4);
    std::memcpy(chunk.GetData() + 16, &height, 4);
    ASSERT_GT(plug.UnserializeState(chunk, 0), 0);
  }

  // A view of plug as a host that sets its content scale first opens it: the factor, then
  // the host's window made the size the view asks for. Null when it did not attach.
  IPlugView* OpenScaledView(Morvellan& plug, float factor, std::pair<int, int>& size)
  {
    IPlugView* view = plug.createView("editor");
    if (!view || SetFactor(view, factor) != kResultTrue)
      return nullptr;
    size = ViewSize(view);
    XResizeWindow(display, parent, static_cast<unsigned>(size.first), static_cast<unsigned>(size.second));
    XSync(display, False);
    return AttachView(view, frame.get(), parent);
  }

  // The editor is drawn over the whole child: the window's own black shows nowhere, and the
  // layout's background reaches the right and bottom edges.
  void ExpectFilled(TestRunLoop& loop, Window child, int width, int height)
  {
    EXPECT_TRUE(WaitForSize(child, width, height));
    EXPECT_TRUE(PumpUntil(loop, [&] { return CountPixels(child, 0x000000) == 0; }));
    EXPECT_EQ(PixelAt(child, width - 2, height * 300 / 532), kBackground);
    EXPECT_EQ(PixelAt(child, 2, height - 2), kBackground);
  }

  // The host's window, its run loop and its frame, which records every resizeView.
  Window parent = 0;
  TestRunLoop loop;
  std::unique_ptr<TestFrame> frame;
};

TEST_F(HostScaledWindow, TheContentScaleKeepsTheDrawScaleAndTheWindowTakesThePixelsItNeeds)
{
  IPlugView* view = OpenView();
  ASSERT_NE(view, nullptr);
  const Window child = Children(parent).at(0);

  // Twice the pixels per unit: 720 x 532 at draw scale 1 needs 1440 x 1064.
  EXPECT_EQ(SetFactor(view, 2.f), kResultTrue);
  EXPECT_EQ(frame->requests, (Sizes{{1440, 1064}}));
  EXPECT_EQ(ViewSize(view), std::make_pair(1440, 1064));
  EXPECT_FLOAT_EQ(mPlug->GetUI()->GetDrawScale(), 1.f);
  ExpectFilled(loop, child, 1440, 1064);
  EXPECT_EQ(SavedSize(), std::make_pair(720, 532));
  // A press meets the canvas at twice its coordinates: the HP pill (28, 468)-(90, 494).
  const double hpOn = mPlug->GetParam(kHPOn)->Value();
  Press(child, Button1, 2 * 59, 2 * 481);
  EXPECT_TRUE(PumpUntil(loop, [&] { return mPlug->GetParam(kHPOn)->Value() != hpOn; }));
  // Nonsense factors are refused and change nothing.
  EXPECT_EQ(SetFactor(view, std::numeric_limits<float>::quiet_NaN()), kInvalidArgument);
  EXPECT_EQ(SetFactor(view, 0.f), kInvalidArgument);
  EXPECT_EQ(frame->requests.size(), 1u);
  view->removed();
  view->release();
  EXPECT_EQ(SavedSize(), std::make_pair(720, 532));

  // The next view, with no word about the scale, opens at the size kept and fills it.
  frame->requests.clear();
  IPlugView* next = mPlug->createView("editor");
  EXPECT_EQ(ViewSize(next), std::make_pair(1440, 1064));
  next = AttachView(next, frame.get(), parent);
  ASSERT_NE(next, nullptr);
  EXPECT_FLOAT_EQ(mPlug->GetUI()->GetDrawScale(), 1.f);
  ExpectFilled(loop, Children(parent).at(0), 1440, 1064);
  EXPECT_TRUE(frame->requests.empty());
  EXPECT_EQ(SavedSize(), std::make_pair(720, 532));

  // Other factors on the open view. At 0.5, 360 x 266 is below the smallest window: the
  // rules give 540 x 399, which the editor fills at draw scale 399 / (0.5 x 532) = 1.5.
  struct Case
  {
    float factor;
    int width, height;
    float drawScale;
  };
  for (const Case& c : {Case{1.25f, 900, 665, 1.f}, Case{1.5f, 1080, 798, 1.f}, Case{3.f, 2160, 1596, 1.f},
                        Case{0.5f, 540, 399, 1.5f}})
  {
    SCOPED_TRACE(c.factor);
    frame->requests.clear();
    EXPECT_EQ(SetFactor(next, c.factor), kResultTrue);
    EXPECT_EQ(frame->requests, (Sizes{{c.width, c.height}}));
    EXPECT_FLOAT_EQ(mPlug->GetUI()->GetDrawScale(), c.drawScale);
    ExpectFilled(loop, Children(parent).at(0), c.width, c.height);
    EXPECT_EQ(SavedSize(), std::make_pair(static_cast<int>(720 * c.drawScale), static_cast<int>(532 * c.drawScale)));
  }
  next->removed();
  next->release();

  // A factor given before attaching decides the first size: 1.5 x 1080 x 798 (the canvas
  // at draw scale 1.5 that the last view left) over the screen scale 0.5 it was kept at.
  IPlugView* third = mPlug->createView("editor");
  EXPECT_EQ(SetFactor(third, 1.f), kResultTrue);
  EXPECT_EQ(ViewSize(third), std::make_pair(1080, 798));
  EXPECT_EQ(SetFactor(third, 2.f), kResultTrue);
  EXPECT_EQ(ViewSize(third), std::make_pair(2160, 1596));
  // The host makes its window that size.
  XResizeWindow(display, parent, 2160, 1596);
  frame->requests.clear();
  third = AttachView(third, frame.get(), parent);
  ASSERT_NE(third, nullptr);
  EXPECT_FLOAT_EQ(mPlug->GetUI()->GetDrawScale(), 1.5f);
  ExpectFilled(loop, Children(parent).at(0), 2160, 1596);
  EXPECT_TRUE(frame->requests.empty());
  third->removed();
  third->release();
}

TEST_F(HostScaledWindow, AViewOpenedAfterTheFactorKeepsItsSizeThroughSavesAndReopens)
{
  for (const float factor : {1.f, 1.25f, 1.5f, 1.75f, 2.f})
  {
    SCOPED_TRACE(factor);
    RestoreSize(*mPlug, 544, 402);
    Morvellan* next = static_cast<Morvellan*>(MakePlug(iplug::InstanceInfo{}));
    std::pair<int, int> first{0, 0};
    // Three views of this instance, then three of a new one that restored its saved state.
    for (int round = 0; round < 6; ++round)
    {
      Morvellan& plug = round < 3 ? *mPlug : *next;
      if (round == 3)
      {
        iplug::IByteChunk chunk;
        ASSERT_TRUE(mPlug->SerializeState(chunk));
        ASSERT_GT(next->UnserializeState(chunk, 0), 0);
      }
      frame->requests.clear();
      std::pair<int, int> size;
      IPlugView* view = OpenScaledView(plug, factor, size);
      ASSERT_NE(view, nullptr);
      if (round == 0)
        first = size;
      EXPECT_EQ(size, first) << "view " << round;
      EXPECT_TRUE(WaitForSize(Children(parent).at(0), first.first, first.second)) << "view " << round;
      // The rules kept the size the view asked for: nothing to correct.
      EXPECT_TRUE(frame->requests.empty()) << "view " << round;
      iplug::IByteChunk chunk;
      ASSERT_TRUE(plug.SerializeState(chunk));
      int32_t saved[2] = {0, 0};
      std::memcpy(saved, chunk.GetData() + 12, 8);
      EXPECT_EQ(saved[0], 544) << "view " << round;
      EXPECT_EQ(saved[1], 402) << "view " << round;
      view->removed();
      view->release();
    }
    // 544 x 402 at 1.75 is 952 x 703.5, rounded 952 x 704; the rules settle that at 951 x 703.
    if (factor == 1.75f)
    {
      EXPECT_EQ(first, std::make_pair(951, 703));
    }
    next->release();
  }
}

TEST_F(HostScaledWindow, ASnapshotIsDrawnAtTheScaleAskedForWhateverFactorTheViewsHad)
{
  // The idle steps a snapshot runs between its frames, as in a host.
  ASSERT_EQ(mPlug->initialize(nullptr), kResultOk);
  IPlugView* view = OpenView();
  ASSERT_NE(view, nullptr);
  EXPECT_EQ(SetFactor(view, 2.f), kResultTrue);
  EXPECT_EQ(ViewSize(view), std::make_pair(1440, 1064));
  view->removed();
  view->release();

  const std::string path =
    (std::filesystem::temp_directory_path() / ("host-scaled-snapshot-" + std::to_string(getpid()) + ".png")).string();
  // The canvas of 720 x 532 times the draw scale asked for.
  struct Case
  {
    double scale;
    int width, height;
  };
  for (const Case& c : {Case{1., 720, 532}, Case{2., 1440, 1064}, Case{1.5, 1080, 798}, Case{0.75, 540, 399}})
  {
    SCOPED_TRACE(c.scale);
    SnapshotRequest request(path, c.scale);
    ASSERT_EQ(mPlug->notify(&request), kResultOk);
    EXPECT_EQ(request.ints["ok"], 1);
    EXPECT_EQ(PngSize(path), std::make_pair(c.width, c.height));
  }
  std::filesystem::remove(path);

  // Nothing of it stays behind: the next view opens at the factor's size and saves the
  // editor at draw scale 1.
  EXPECT_EQ(SavedSize(), std::make_pair(720, 532));
  IPlugView* next = OpenView();
  ASSERT_NE(next, nullptr);
  EXPECT_EQ(ViewSize(next), std::make_pair(1440, 1064));
  EXPECT_FLOAT_EQ(mPlug->GetUI()->GetScreenScale(), 2.f);
  EXPECT_FLOAT_EQ(mPlug->GetUI()->GetDrawScale(), 1.f);
  next->removed();
  next->release();
  mPlug->terminate();
}

TEST_F(HostScaledWindow, ASizeOutsideTheRulesBecomesTheNearestAllowedOneAndTheHostIsAskedForIt)
{
  IPlugView* view = OpenView();
  ASSERT_NE(view, nullptr);
  const Window child = Children(parent).at(0);

  // The largest window at screen scale 1 is 1440 x 1064 (draw scale 2), the smallest
  // 540 x 399 (draw scale 0.75).
  ViewRect huge(0, 0, 100000, 100000);
  EXPECT_EQ(view->onSize(&huge), kResultTrue);
  EXPECT_EQ(frame->requests, (Sizes{{1440, 1064}}));
  EXPECT_EQ(ViewSize(view), std::make_pair(1440, 1064));
  EXPECT_FLOAT_EQ(mPlug->GetUI()->GetDrawScale(), 2.f);
  ExpectFilled(loop, child, 1440, 1064);

  ViewRect tiny(0, 0, 1, 1);
  EXPECT_EQ(view->onSize(&tiny), kResultTrue);
  EXPECT_EQ(frame->requests, (Sizes{{1440, 1064}, {540, 399}}));
  EXPECT_EQ(ViewSize(view), std::make_pair(540, 399));
  EXPECT_FLOAT_EQ(mPlug->GetUI()->GetDrawScale(), 0.75f);
  ExpectFilled(loop, child, 540, 399);

  // A size the rules keep asks nothing.
  ViewRect allowed(0, 0, 1080, 798);
  EXPECT_EQ(view->onSize(&allowed), kResultTrue);
  EXPECT_EQ(frame->requests.size(), 2u);
  EXPECT_FLOAT_EQ(mPlug->GetUI()->GetDrawScale(), 1.5f);
  view->removed();
  view->release();
}

} // namespace
