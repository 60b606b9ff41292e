// The editor view in a real X server (a private Xvfb), driven by a fake host whose run
// loop the test pumps itself, and the headless snapshot message.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "pluginterfaces/gui/iplugview.h"
#include "pluginterfaces/vst/ivstcontextmenu.h"

#include "EditorView.h"
#include "FakePrograms.h"
#include "IGraphics.h"
#include "IPlugVST3.h"
#include "Vst3TestObjects.h"
#include "X11TestHost.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <cairo.h>

using namespace Steinberg;
using namespace Steinberg::Vst;
using namespace iplug::igraphics;
using testsupport::TestFrame;
using testsupport::TestRunLoop;

namespace
{

constexpr IColor kPanel(255, 10, 20, 30);
constexpr IColor kBlock(255, 200, 40, 40);
constexpr IRECT kBlockRect(20.f, 20.f, 120.f, 70.f);

// A filled rectangle bound to parameter 0.
class BlockControl : public IControl
{
public:
  BlockControl() : IControl(kBlockRect, 0) {}
  void Draw(IGraphics& g) override { ++draws; g.FillRect(colour, mRECT); }
  void OnMouseDown(float, float, const IMouseMod& mod) override
  {
    if (onLeftDown && mod.L)
      onLeftDown();
    // Still this control's own memory after the callback.
    (mod.R ? rightDowns : leftDowns)++;
  }
  int leftDowns = 0;
  int rightDowns = 0;
  int draws = 0;
  IColor colour = kBlock;
  std::function<void()> onLeftDown;
};

iplug::Config EditorConfig()
{
  iplug::Config c;
  c.nParams = 1;
  c.channelIOStr = "2-2";
  c.plugHasUI = true;
  c.plugHostResize = true;
  c.plugWidth = 300;
  c.plugHeight = 200;
  return c;
}

// A 300 x 200 canvas shown from 150 x 100 to 600 x 400 at 3:2.
class EditorPlug final : public iplug::IPlugVST3
{
public:
  EditorPlug() : iplug::IPlugVST3({}, EditorConfig())
  {
    GetParam(0)->InitDouble("Level", 0.5, 0., 1., 0.01);
    mMakeGraphicsFunc = [this] {
      float s = std::min(GetEditorWidth() / 300.f, GetEditorHeight() / 200.f);
      return MakeGraphics(*this, 300, 200, 60, s > 0.f ? s : 1.f);
    };
    mLayoutFunc = [this](IGraphics* g) {
      g->AttachPanelBackground(kPanel);
      block = static_cast<BlockControl*>(g->AttachControl(new BlockControl()));
    };
  }

  bool ConstrainEditorResize(int& w, int& h) const override
  {
    const bool inRange = w >= 150 && w <= 600 && h >= 100 && h <= 400;
    w = std::clamp(w, 150, 600);
    h = std::clamp(h, 100, 400);
    const int w0 = w, h0 = h;
    if (w * 2 > h * 3)
      w = h * 3 / 2;
    else
      h = w * 2 / 3;
    return inRange && w == w0 && h == h0;
  }

  void OnParentWindowResize(int w, int h) override
  {
    resizedTo.push_back({w, h});
    ConstrainEditorResize(w, h);
    if (IGraphics* g = GetUI())
    {
      const float s = std::min(w / 300.f, h / 200.f);
      if (std::fabs(s - g->GetDrawScale()) > 0.001f)
        g->Resize(300, 200, s, false);
    }
    mEditorWidth = w;
    mEditorHeight = h;
  }

  void OnIdle() override
  {
    if (std::this_thread::get_id() == hostThread.load())
      idleOnHostThread++;
    else
      idleElsewhere++;
  }

  std::atomic<std::thread::id> hostThread{std::this_thread::get_id()};
  std::atomic<int> idleOnHostThread{0};
  std::atomic<int> idleElsewhere{0};
  BlockControl* block = nullptr;
  std::vector<std::pair<int, int>> resizedTo;
};

class FakeMenu : public IContextMenu
{
public:
  tresult PLUGIN_API queryInterface(const TUID, void** obj) override
  {
    *obj = nullptr;
    return kNoInterface;
  }
  uint32 PLUGIN_API addRef() override { return ++refs; }
  uint32 PLUGIN_API release() override { return --refs; }
  int32 PLUGIN_API getItemCount() override { return 0; }
  tresult PLUGIN_API getItem(int32, Item&, IContextMenuTarget**) override { return kResultFalse; }
  tresult PLUGIN_API addItem(const Item&, IContextMenuTarget*) override { return kResultFalse; }
  tresult PLUGIN_API removeItem(const Item&, IContextMenuTarget*) override { return kResultFalse; }
  tresult PLUGIN_API popup(UCoord x, UCoord y) override
  {
    popups.push_back({x, y});
    return kResultTrue;
  }
  std::vector<std::pair<UCoord, UCoord>> popups;
  int refs = 1;
};

class MenuHandler : public testhost::RecordingHandler, public IComponentHandler3
{
public:
  explicit MenuHandler(bool offersMenus) : offersMenus(offersMenus) {}
  tresult PLUGIN_API queryInterface(const TUID iid, void** obj) override
  {
    if (offersMenus && FUnknownPrivate::iidEqual(iid, IComponentHandler3::iid))
    {
      *obj = static_cast<IComponentHandler3*>(this);
      addRef();
      return kResultOk;
    }
    *obj = nullptr;
    return kNoInterface;
  }
  uint32 PLUGIN_API addRef() override { return testhost::RecordingHandler::addRef(); }
  uint32 PLUGIN_API release() override { return testhost::RecordingHandler::release(); }
  IContextMenu* PLUGIN_API createContextMenu(IPlugView* view, const ParamID* id) override
  {
    menuView = view;
    menuParams.push_back(id ? static_cast<int>(*id) : -1);
    menu.addRef();
    return &menu;
  }
  bool offersMenus;
  IPlugView* menuView = nullptr;
  std::vector<int> menuParams;
  FakeMenu menu;
};

class EditorViewTest : public ::testing::Test, protected testsupport::X11TestHost
{
protected:
  void SetUp() override
  {
    SKIP_WITHOUT_X_SERVER();
    plug = new EditorPlug();
    parent = MakeParent(300, 200);
  }

  void TearDown() override
  {
    if (plug)
      plug->release();
  }

  IPlugView* OpenView(IPlugFrame* frame) { return AttachView(plug->createView("editor"), frame, parent); }

  static unsigned long Rgb(const IColor& c)
  {
    return (static_cast<unsigned long>(c.R) << 16) | (static_cast<unsigned long>(c.G) << 8) |
           static_cast<unsigned long>(c.B);
  }

  EditorPlug* plug = nullptr;
  Window parent = 0;
};

TEST_F(EditorViewTest, OpensAChildWindowPaintsTheEditorAndClosesCleanly)
{
  EXPECT_EQ(plug->createView("other"), nullptr);
  TestRunLoop loop;
  TestFrame frame(display, parent, &loop);
  IPlugView* view = OpenView(&frame);
  ASSERT_NE(view, nullptr);
  EXPECT_EQ(view->isPlatformTypeSupported(kPlatformTypeX11EmbedWindowID), kResultTrue);
  EXPECT_EQ(view->isPlatformTypeSupported("HWND"), kResultFalse);
  EXPECT_EQ(view->canResize(), kResultTrue);
  ASSERT_NE(plug->GetUI(), nullptr);
  EXPECT_EQ(loop.fds.size(), 1u);
  ASSERT_EQ(loop.timers.size(), 1u);
  EXPECT_EQ(loop.timers.begin()->second, 16u); // 60 frames a second

  const auto kids = Children(parent);
  ASSERT_EQ(kids.size(), 1u);
  const Window child = kids[0];
  EXPECT_TRUE(WaitForSize(child, 300, 200));
  // Draw scale 1: the block covers (20, 20)-(120, 70) pixels, the panel the rest.
  EXPECT_TRUE(PumpUntil(loop, [&] { return PixelAt(child, 70, 45) == Rgb(kBlock); }));
  EXPECT_EQ(PixelAt(child, 5, 5), Rgb(kPanel));
  EXPECT_EQ(PixelAt(child, 119, 69), Rgb(kBlock));
  EXPECT_EQ(PixelAt(child, 121, 71), Rgb(kPanel));

  // A host resize to twice the canvas: draw scale 2, the block now at (40, 40)-(240, 140).
  ViewRect r(0, 0, 600, 400);
  EXPECT_EQ(view->onSize(&r), kResultTrue);
  EXPECT_FLOAT_EQ(plug->GetUI()->GetDrawScale(), 2.f);
  EXPECT_TRUE(PumpUntil(loop, [&] { return PixelAt(child, 230, 130) == Rgb(kBlock); }));
  EXPECT_EQ(PixelAt(child, 30, 30), Rgb(kPanel));
  EXPECT_EQ(PixelAt(child, 245, 145), Rgb(kPanel));

  EXPECT_EQ(view->removed(), kResultOk);
  EXPECT_EQ(plug->GetUI(), nullptr);
  EXPECT_TRUE(loop.fds.empty());
  EXPECT_TRUE(loop.timers.empty());
  EXPECT_EQ(loop.refs, 1u); // the run loop it queried was released
  XSync(display, False);
  EXPECT_TRUE(Children(parent).empty());
  view->setFrame(nullptr);
  view->release();
}

TEST_F(EditorViewTest, HostAndEditorResizesGoThroughTheSizingRules)
{
  TestRunLoop loop;
  TestFrame frame(display, parent, &loop);
  IPlugView* view = OpenView(&frame);
  ASSERT_NE(view, nullptr);
  const Window child = Children(parent).at(0);

  // The host asks before a user resize: 1000 x 600 becomes the largest 3:2 size.
  ViewRect ask(0, 0, 1000, 600);
  EXPECT_EQ(view->checkSizeConstraint(&ask), kResultTrue);
  EXPECT_EQ(ask.getWidth(), 600);
  EXPECT_EQ(ask.getHeight(), 400);

  // The editor rescales itself: the host is asked, answers with onSize inside the
  // request, and the window and the stored size follow.
  plug->GetUI()->Resize(300, 200, 1.5f, true);
  ASSERT_EQ(frame.requests.size(), 1u);
  EXPECT_EQ(frame.requests[0], std::make_pair(450, 300));
  EXPECT_EQ(plug->GetEditorWidth(), 450);
  EXPECT_EQ(plug->GetEditorHeight(), 300);
  ViewRect size;
  view->getSize(&size);
  EXPECT_EQ(size.getWidth(), 450);
  EXPECT_TRUE(WaitForSize(child, 450, 300));

  // A host that refuses: our own window still takes the size.
  frame.refuse = true;
  plug->GetUI()->Resize(300, 200, 1.f, true);
  EXPECT_EQ(frame.requests.size(), 2u);
  EXPECT_EQ(plug->GetEditorWidth(), 300);
  EXPECT_TRUE(WaitForSize(child, 300, 200));

  // A host that resizes our window itself, with no onSize: the configure event does it.
  XResizeWindow(display, child, 540, 360);
  XSync(display, False);
  EXPECT_TRUE(PumpUntil(loop, [&] { return plug->GetEditorWidth() == 540; }));
  EXPECT_EQ(plug->GetEditorHeight(), 360);
  EXPECT_FLOAT_EQ(plug->GetUI()->GetDrawScale(), 1.8f);

  view->removed();
  view->release();
}

TEST_F(EditorViewTest, AWindowOffTheAspectShowsThePanelColourAroundTheCanvas)
{
  TestRunLoop loop;
  TestFrame frame(display, parent, &loop);
  IPlugView* view = OpenView(&frame);
  ASSERT_NE(view, nullptr);
  const Window child = Children(parent).at(0);
  XResizeWindow(display, parent, 600, 400);
  // Rows below or columns beside the 450 x 300 canvas: all but the 150 x 75 block is panel.
  for (const auto& [w, h] : {std::pair{450, 330}, {500, 300}})
  {
    XResizeWindow(display, child, w, h);
    XSync(display, False);
    EXPECT_TRUE(PumpUntil(loop, [&] { return CountPixels(child, Rgb(kPanel)) == w * h - 150 * 75; })) << w;
    EXPECT_EQ(PixelAt(child, 179, 104), Rgb(kBlock));
  }
  view->removed();
  view->release();
}

TEST_F(EditorViewTest, AHostThatSizesTheViewBeforeAttachingGetsAWindowDrawnToThatSize)
{
  for (const float scale : {0.75f, 1.5f, 2.f})
  {
    SCOPED_TRACE(scale);
    const int width = static_cast<int>(300 * scale);
    const int height = static_cast<int>(200 * scale);
    const Window host = MakeParent(width, height);
    TestRunLoop loop;
    TestFrame frame(display, host, &loop);
    IPlugView* view = plug->createView("editor");
    ASSERT_NE(view, nullptr);
    ViewRect size(0, 0, width, height);
    ASSERT_EQ(view->checkSizeConstraint(&size), kResultTrue);
    ASSERT_EQ(size.getWidth(), width);
    ASSERT_EQ(view->onSize(&size), kResultTrue);
    view = AttachView(view, &frame, host);
    ASSERT_NE(view, nullptr);
    const Window child = Children(host).at(0);
    EXPECT_TRUE(WaitForSize(child, width, height));
    EXPECT_FLOAT_EQ(plug->GetUI()->GetDrawScale(), scale);

    // The panel and the block cover the window: none of its black background is left.
    EXPECT_TRUE(PumpUntil(loop, [&] { return CountPixels(child, 0x000000) == 0; }));
    EXPECT_EQ(PixelAt(child, width - 1, height - 1), Rgb(kPanel));
    // The block's far corner (115, 65) times the scale is on the block; (125, 75) is not.
    Press(child, Button1, static_cast<int>(115 * scale), static_cast<int>(65 * scale));
    EXPECT_TRUE(PumpUntil(loop, [&] { return plug->block->leftDowns == 1; }));
    Press(child, Button1, static_cast<int>(125 * scale), static_cast<int>(75 * scale));
    PumpUntil(loop, [] { return false; }, 100);
    EXPECT_EQ(plug->block->leftDowns, 1);
    // The rules kept the size: nothing to ask.
    EXPECT_TRUE(frame.requests.empty());
    view->removed();
    view->release();
    XDestroyWindow(display, host);
  }

  // A size the rules change: 1000 x 1000 is 600 x 400 at most; the window opens at that and
  // the host hears of it once the view is attached.
  TestRunLoop loop;
  TestFrame frame(display, parent, &loop);
  IPlugView* view = plug->createView("editor");
  ViewRect size(0, 0, 1000, 1000);
  ASSERT_EQ(view->onSize(&size), kResultTrue);
  ViewRect reported;
  view->getSize(&reported);
  EXPECT_EQ(reported.getWidth(), 600);
  EXPECT_EQ(reported.getHeight(), 400);
  view = AttachView(view, &frame, parent);
  ASSERT_NE(view, nullptr);
  EXPECT_EQ(frame.requests, (std::vector<std::pair<int, int>>{{600, 400}}));
  EXPECT_TRUE(WaitForSize(Children(parent).at(0), 600, 400));
  EXPECT_FLOAT_EQ(plug->GetUI()->GetDrawScale(), 2.f);
  view->removed();
  view->release();
}

TEST_F(EditorViewTest, NoticesOfSizesTheViewAskedForNeverTakeItBackToThem)
{
  TestRunLoop loop;
  TestFrame frame(display, parent, &loop);
  IPlugView* view = OpenView(&frame);
  ASSERT_NE(view, nullptr);
  const Window child = Children(parent).at(0);
  plug->resizedTo.clear();

  // Two sizes in a row, as a fast drag asks: the notice of the first arrives after the
  // second was asked for, and says nothing new.
  ViewRect first(0, 0, 450, 300);
  ViewRect second(0, 0, 600, 400);
  view->onSize(&first);
  view->onSize(&second);
  ASSERT_TRUE(WaitForSize(child, 600, 400));
  PumpUntil(loop, [] { return false; }, 300);
  EXPECT_EQ(plug->resizedTo, (std::vector<std::pair<int, int>>{{450, 300}, {600, 400}}));
  EXPECT_EQ(plug->GetEditorWidth(), 600);
  EXPECT_FLOAT_EQ(plug->GetUI()->GetDrawScale(), 2.f);

  // A size nobody here asked for is still followed.
  XResizeWindow(display, child, 450, 300);
  XSync(display, False);
  EXPECT_TRUE(PumpUntil(loop, [&] { return plug->GetEditorWidth() == 450; }));
  EXPECT_FLOAT_EQ(plug->GetUI()->GetDrawScale(), 1.5f);

  view->removed();
  view->release();
}

TEST_F(EditorViewTest, IdleRunsOnTheHostLoopWhileAttachedAndOnTheThreadOtherwise)
{
  ASSERT_EQ(plug->initialize(nullptr), kResultOk);
  plug->hostThread = std::this_thread::get_id();
  TestRunLoop loop;
  TestFrame frame(display, parent, &loop);
  const auto waitFor = [](const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    while (!done() && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    return done();
  };
  EXPECT_TRUE(waitFor([&] { return plug->idleElsewhere >= 2; }));
  EXPECT_EQ(plug->idleOnHostThread, 0);

  IPlugView* view = OpenView(&frame);
  ASSERT_NE(view, nullptr);
  const int threadIdlesAtOpen = plug->idleElsewhere;
  EXPECT_TRUE(PumpUntil(loop, [&] { return plug->idleOnHostThread >= 5; }));
  EXPECT_EQ(plug->idleElsewhere, threadIdlesAtOpen);

  // Host automation reaches the bound control on the way.
  ASSERT_EQ(plug->setParamNormalized(0, 0.25), kResultOk);
  ASSERT_NE(plug->block, nullptr);
  EXPECT_DOUBLE_EQ(plug->block->GetValue(0), 0.25);

  view->removed();
  const int hostIdlesAtClose = plug->idleOnHostThread;
  EXPECT_TRUE(waitFor([&] { return plug->idleElsewhere > threadIdlesAtOpen; }));
  loop.Pump();
  EXPECT_EQ(plug->idleOnHostThread, hostIdlesAtClose);
  view->release();
  plug->terminate();
}

TEST_F(EditorViewTest, StateChangesReachTheHostOnItsLoopAndNeverFromAPrivateOne)
{
  testhost::DirtyRecordingHandler handler;
  ASSERT_EQ(plug->setComponentHandler(&handler), kResultOk);
  TestRunLoop loop;
  for (TestRunLoop* hostLoop : {&loop, static_cast<TestRunLoop*>(nullptr)})
  {
    TestFrame frame(display, parent, hostLoop);
    IPlugView* view = OpenView(&frame);
    ASSERT_NE(view, nullptr);
    std::thread([this] { plug->MarkStateChanged(); }).join();
    if (hostLoop)
      EXPECT_TRUE(PumpUntil(loop, [&] { return !plug->StateChangePending(); }));
    else
    {
      // Without a host loop the change waits for the host's next call.
      std::this_thread::sleep_for(std::chrono::milliseconds(150));
      EXPECT_TRUE(handler.Take().empty());
      testhost::Message unknown("Nope");
      plug->notify(&unknown);
    }
    EXPECT_EQ(handler.Take(), std::vector{std::this_thread::get_id()});
    view->removed();
    view->release();
  }
  plug->setComponentHandler(nullptr);
}

TEST_F(EditorViewTest, AWindowNobodyCanSeeDrawsNothingAndIsDrawnWholeWhenShownAgain)
{
  ASSERT_EQ(plug->initialize(nullptr), kResultOk);
  plug->hostThread = std::this_thread::get_id();
  TestRunLoop loop;
  TestFrame frame(display, parent, &loop);
  IPlugView* view = OpenView(&frame);
  ASSERT_NE(view, nullptr);
  const auto* editor = static_cast<EditorView*>(view);
  const Window child = Children(parent).at(0);
  ASSERT_TRUE(PumpUntil(loop, [&] { return PixelAt(child, 70, 45) == Rgb(kBlock); }));
  const auto stillAt = [&](int paints, int draws) {
    PumpUntil(loop, [] { return false; }, 150);
    return editor->PaintCount() == paints && plug->block->draws == draws;
  };
  EXPECT_TRUE(stillAt(editor->PaintCount(), plug->block->draws));

  const Atom netState = XInternAtom(display, "_NET_WM_STATE", False);
  const Atom wmState = XInternAtom(display, "WM_STATE", False);
  const auto setState = [&](Atom property, Atom type, std::vector<long> values) {
    XChangeProperty(display, parent, property, type, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(values.data()), static_cast<int>(values.size()));
  };
  const Window holder = XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 400, 300, 0, 0, 0);
  // Ways a window stops being seen and is seen again; the last one first moves it into a hidden window.
  const std::vector<std::pair<std::function<void()>, std::function<void()>>> ways = {
      {[&] { XUnmapWindow(display, parent); }, [&] { XMapWindow(display, parent); }},
      {[&] { setState(netState, XA_ATOM, {long(XInternAtom(display, "_NET_WM_STATE_HIDDEN", False))}); },
       [&] { XDeleteProperty(display, parent, netState); }},
      {[&] { setState(wmState, wmState, {3, 0}); }, [&] { setState(wmState, wmState, {1, 0}); }},
      {[&] {
         Children(holder).empty() ? XReparentWindow(display, parent, holder, 0, 0) : XUnmapWindow(display, holder);
       },
       [&] { XMapWindow(display, holder); }},
  };
  for (size_t i = 0; i < ways.size(); ++i)
    for (const bool automated : {true, false})
    {
      SCOPED_TRACE(testing::Message() << "way " << i << (automated ? ", automation" : ", unmarked colour"));
      ways[i].first();
      XSync(display, False);
      ASSERT_TRUE(PumpUntil(loop, [&] { return !editor->Viewable(); }));
      const int paints = editor->PaintCount(), draws = plug->block->draws, idles = plug->idleOnHostThread;
      if (automated)
        ASSERT_EQ(plug->setParamNormalized(0, 0.1 * double(i + 1)), kResultOk);
      else
        plug->block->colour = IColor(255, 40, 60 + 40 * static_cast<int>(i), 200);
      EXPECT_TRUE(stillAt(paints, draws));
      EXPECT_GT(plug->idleOnHostThread, idles + 3);
      ways[i].second();
      XSync(display, False);
      // The first frame shown draws everything once, the block too when nothing marked it.
      EXPECT_TRUE(PumpUntil(loop, [&] { return CountPixels(child, Rgb(plug->block->colour)) == 100 * 50; }));
      EXPECT_EQ(plug->block->draws, draws + 1);
      EXPECT_EQ(CountPixels(child, Rgb(kPanel)), 300 * 200 - 100 * 50);
    }
  view->removed();
  view->release();
  XDestroyWindow(display, holder);
  plug->terminate();
}

TEST_F(EditorViewTest, RightPressOnABoundControlOpensTheHostMenuForItsParameter)
{
  TestRunLoop loop;
  TestFrame frame(display, parent, &loop);
  MenuHandler handler(true);
  plug->setComponentHandler(&handler);
  IPlugView* view = OpenView(&frame);
  ASSERT_NE(view, nullptr);
  const Window child = Children(parent).at(0);

  const auto press = [&](unsigned button, int x, int y) { Press(child, button, x, y); };


  press(Button3, 50, 40);
  ASSERT_TRUE(PumpUntil(loop, [&] { return !handler.menu.popups.empty(); }));
  EXPECT_EQ(handler.menuParams, std::vector<int>{0});
  EXPECT_EQ(handler.menuView, view);
  EXPECT_EQ(handler.menu.popups[0], std::make_pair(UCoord(50), UCoord(40)));
  EXPECT_EQ(handler.menu.refs, 1); // released after the popup
  EXPECT_EQ(plug->block->rightDowns, 0);

  // The left button reaches the control; a right press on the panel opens no menu.
  press(Button1, 60, 45);
  EXPECT_TRUE(PumpUntil(loop, [&] { return plug->block->leftDowns == 1; }));
  press(Button3, 200, 150);
  press(Button1, 200, 150);
  loop.Pump();
  EXPECT_EQ(handler.menuParams.size(), 1u);

  view->removed();
  view->release();
  plug->setComponentHandler(nullptr);

  // A host without IComponentHandler3: nothing happens, nothing breaks.
  MenuHandler plain(false);
  plug->setComponentHandler(&plain);
  IPlugView* second = OpenView(&frame);
  ASSERT_NE(second, nullptr);
  press(Button3, 50, 40);
  loop.Pump();
  EXPECT_TRUE(plain.menuParams.empty());
  second->removed();
  second->release();
  plug->setComponentHandler(nullptr);
}

TEST_F(EditorViewTest, AHostClosingTheEditorFromAControlsCallbackIsSafe)
{
  TestRunLoop loop;
  TestFrame frame(display, parent, &loop);
  IPlugView* view = OpenView(&frame);
  ASSERT_NE(view, nullptr);
  plug->block->onLeftDown = [view] { view->removed(); };
  Press(Children(parent).at(0), Button1, 60, 45);
  // The press removes the view from inside the control's own callback.
  EXPECT_TRUE(PumpUntil(loop, [&] { return plug->GetUI() == nullptr; }));
  EXPECT_TRUE(loop.timers.empty());
  EXPECT_TRUE(loop.fds.empty());
  view->release();
}

TEST_F(EditorViewTest, AQuestionStaysAboveTheHostWindowAndAReleaseWhileItIsOpenEndsIt)
{
  testsupport::FakePrograms programs;
  programs.Add("zenity", "exec /bin/sleep 30");
  // Our window sits in a container inside the host's window.
  const Window container = XCreateSimpleWindow(display, parent, 0, 0, 300, 200, 0, 0, 0);
  XMapWindow(display, container);
  XSync(display, False);
  TestRunLoop loop;
  TestFrame frame(display, container, &loop);
  IPlugView* view = AttachView(plug->createView("editor"), &frame, container);
  ASSERT_NE(view, nullptr);
  bool answered = false;
  plug->GetUI()->ShowMessageBox("Delete the target \"Old\"? This cannot be undone.", "Delete target",
                                iplug::EMsgBoxType::kYesNo, [&answered](iplug::EMsgBoxResult) { answered = true; });
  ASSERT_TRUE(PumpUntil(loop, [&] { return programs.Lines("zenity").size() >= 7; }));
  const auto args = programs.Lines("zenity");
  EXPECT_EQ(std::vector(args.begin() + 5, args.begin() + 7),
            (std::vector<std::string>{"--modal", "--attach=" + std::to_string(parent)}));
  PumpUntil(loop, [&] { return answered; }, 50);
  view->removed();
  view->setFrame(nullptr);
  view->release();
  plug->release();
  plug = nullptr;
  EXPECT_FALSE(answered);
  EXPECT_TRUE(testsupport::ProcessGone(static_cast<pid_t>(std::stoi(args[0]))));
}

int gForeignXErrors = 0;
int CountForeignError(Display*, XErrorEvent*)
{
  ++gForeignXErrors;
  return 0;
}

TEST_F(EditorViewTest, RemovalAfterTheHostDestroyedTheParentLeavesTheProcessRunning)
{
  // Anything the view lets escape reaches this handler (in a host, possibly Xlib's
  // default, which ends the process).
  XErrorHandler previous = XSetErrorHandler(&CountForeignError);
  gForeignXErrors = 0;
  TestRunLoop loop;
  TestFrame frame(display, parent, &loop);
  IPlugView* view = OpenView(&frame);
  ASSERT_NE(view, nullptr);
  loop.Pump();
  XDestroyWindow(display, parent);
  XSync(display, False);
  // The view paints, sets a cursor and resizes into a window that is gone.
  plug->GetUI()->SetAllControlsDirty();
  plug->GetUI()->SetMouseCursor(ECursor::HAND);
  ViewRect r(0, 0, 450, 300);
  view->onSize(&r);
  loop.Pump();
  EXPECT_EQ(view->removed(), kResultOk);
  view->release();
  EXPECT_EQ(gForeignXErrors, 0);

  // The next editor opens normally.
  parent = MakeParent(300, 200);
  IPlugView* next = OpenView(&frame);
  ASSERT_NE(next, nullptr);
  next->removed();
  next->release();
  XSetErrorHandler(previous);
}

TEST_F(EditorViewTest, WithoutAHostRunLoopAPrivateThreadDrivesTheWindow)
{
  TestFrame frame(display, parent, nullptr);
  IPlugView* view = OpenView(&frame);
  ASSERT_NE(view, nullptr);
  const Window child = Children(parent).at(0);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
  while (PixelAt(child, 70, 45) != Rgb(kBlock) && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_EQ(PixelAt(child, 70, 45), Rgb(kBlock));
  EXPECT_EQ(view->removed(), kResultOk);
  view->release();
}

class SnapshotMessage : public IMessage
{
public:
  SnapshotMessage(const std::string& path, double scale)
  {
    attributes.setBinary("path", path.data(), static_cast<uint32>(path.size()));
    attributes.setFloat("scale", scale);
  }
  tresult PLUGIN_API queryInterface(const TUID, void** obj) override
  {
    *obj = nullptr;
    return kNoInterface;
  }
  uint32 PLUGIN_API addRef() override { return 1; }
  uint32 PLUGIN_API release() override { return 1; }
  FIDString PLUGIN_API getMessageID() override { return iplug::IPlugVST3::kEditorSnapshotMessageID; }
  void PLUGIN_API setMessageID(FIDString) override {}
  IAttributeList* PLUGIN_API getAttributes() override { return &attributes; }

  int64 Ok()
  {
    int64 ok = -1;
    attributes.getInt("ok", ok);
    return ok;
  }
  std::string Error()
  {
    auto it = attributes.strings.find("error");
    return it == attributes.strings.end() ? "" : std::string(it->second.begin(), it->second.end());
  }
  testhost::AttributeList attributes;
};

// 0xRRGGBB of an opaque pixel of a PNG written by the snapshot, read back by cairo.
unsigned long PngPixel(const std::string& path, int x, int y, int& w, int& h)
{
  cairo_surface_t* s = cairo_image_surface_create_from_png(path.c_str());
  w = cairo_image_surface_get_width(s);
  h = cairo_image_surface_get_height(s);
  unsigned long p = 0xFFFFFFFF;
  if (cairo_surface_status(s) == CAIRO_STATUS_SUCCESS && x < w && y < h)
  {
    const unsigned char* row = cairo_image_surface_get_data(s) + y * cairo_image_surface_get_stride(s);
    p = *reinterpret_cast<const uint32_t*>(row + 4 * x) & 0xFFFFFF;
  }
  cairo_surface_destroy(s);
  return p;
}

TEST(EditorSnapshot, WritesThePngAtTheDrawScaleWithoutAnyWindow)
{
  auto* plug = new EditorPlug();
  const std::string path =
    (std::filesystem::temp_directory_path() / ("editor-snapshot-" + std::to_string(getpid()) + ".png")).string();
  std::filesystem::remove(path);

  SnapshotMessage twice(path, 2.);
  ASSERT_EQ(plug->notify(&twice), kResultOk);
  EXPECT_EQ(twice.Ok(), 1) << twice.Error();
  int w = 0, h = 0;
  // Draw scale 2: 600 x 400 pixels, the block at (40, 40)-(240, 140).
  EXPECT_EQ(PngPixel(path, 239, 139, w, h), 0xC82828u);
  EXPECT_EQ(w, 600);
  EXPECT_EQ(h, 400);
  EXPECT_EQ(PngPixel(path, 241, 141, w, h), 0x0A141Eu);
  EXPECT_EQ(plug->GetUI(), nullptr); // nothing of it stays behind

  SnapshotMessage once(path, 1.);
  ASSERT_EQ(plug->notify(&once), kResultOk);
  EXPECT_EQ(once.Ok(), 1);
  EXPECT_EQ(PngPixel(path, 119, 69, w, h), 0xC82828u);
  EXPECT_EQ(w, 300);

  SnapshotMessage tiny(path, 0.1);
  ASSERT_EQ(plug->notify(&tiny), kResultOk);
  EXPECT_EQ(tiny.Ok(), 0);
  EXPECT_EQ(tiny.Error(), "the draw scale must be from 0.25 to 4");
  SnapshotMessage nowhere("/nonexistent-folder/x.png", 1.);
  ASSERT_EQ(plug->notify(&nowhere), kResultOk);
  EXPECT_EQ(nowhere.Ok(), 0);
  EXPECT_EQ(nowhere.Error(), "could not write /nonexistent-folder/x.png");
  SnapshotMessage noPath("", 1.);
  ASSERT_EQ(plug->notify(&noPath), kResultOk);
  EXPECT_EQ(noPath.Ok(), 0);

  std::filesystem::remove(path);
  plug->release();
}

TEST_F(EditorViewTest, SnapshotIsRefusedWhileTheWindowIsOpen)
{
  TestRunLoop loop;
  TestFrame frame(display, parent, &loop);
  IPlugView* view = OpenView(&frame);
  ASSERT_NE(view, nullptr);
  IGraphics* open = plug->GetUI();
  SnapshotMessage message("/tmp/never-written.png", 1.);
  ASSERT_EQ(plug->notify(&message), kResultOk);
  EXPECT_EQ(message.Ok(), 0);
  EXPECT_EQ(message.Error(), "the editor is open");
  EXPECT_EQ(plug->GetUI(), open);
  view->removed();
  view->release();
}

} // namespace
