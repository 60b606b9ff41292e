// The plug-in's editor as a VST3 view in a private X server, sized and scaled by a host:
// the screen scale a host sets, and sizes outside the sizing rules.

#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <utility>
#include <vector>

#include "pluginterfaces/gui/iplugviewcontentscalesupport.h"

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
  std::pair<int, int> SavedSize(Morvellan* plug = nullptr)
  {
    iplug::IByteChunk chunk;
    EXPECT_TRUE((plug ? plug : mPlug)->SerializeState(chunk));
    int32_t width = 0, height = 0;
    std::memcpy(&width, chunk.GetData() + 12, 4);
    std::memcpy(&height, chunk.GetData() + 16, 4);
    return {width, height};
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

// Twice in this instance, then twice in a new one that opened the saved project.
TEST_F(HostScaledWindow, AViewOpenedAfterTheFactorKeepsItsSizeThroughSavesAndReopens)
{
  for (const float factor : {1.f, 1.25f, 1.5f, 1.75f, 2.f})
  {
    SCOPED_TRACE(factor);
    iplug::IByteChunk state;
    ASSERT_TRUE(mPlug->SerializeState(state));
    const int32_t stored[2] = {544, 402};
    std::memcpy(state.GetData() + 12, stored, sizeof stored);
    ASSERT_GT(mPlug->UnserializeState(state, 0), 0);
    Morvellan* next = static_cast<Morvellan*>(MakePlug(iplug::InstanceInfo{}));
    Sizes windows, saved;
    frame->requests.clear();
    for (Morvellan* plug : {mPlug, mPlug, next, next})
    {
      iplug::IByteChunk project;
      if (plug == next && saved.size() == 2)
      {
        ASSERT_TRUE(mPlug->SerializeState(project) && next->UnserializeState(project, 0) > 0);
      }
      IPlugView* view = plug->createView("editor");
      ASSERT_EQ(SetFactor(view, factor), kResultTrue);
      const auto [width, height] = windows.emplace_back(ViewSize(view));
      XResizeWindow(display, parent, static_cast<unsigned>(width), static_cast<unsigned>(height));
      view = AttachView(view, frame.get(), parent);
      ASSERT_NE(view, nullptr);
      saved.push_back(SavedSize(plug));
      view->removed();
      view->release();
    }
    // 544 x 402 at 1.75 is 952 x 704 when rounded, which the rules settle at 951 x 703.
    EXPECT_EQ(windows, Sizes(4, factor == 1.75f ? std::make_pair(951, 703) : windows[0]));
    EXPECT_EQ(saved, Sizes(4, {544, 402}));
    EXPECT_TRUE(frame->requests.empty());
    next->release();
  }
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
