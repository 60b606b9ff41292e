// How the graphics context routes the mouse, brackets gestures and runs its frames.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "IEditorDelegate.h"
#include "IGraphics.h"

using namespace iplug;
using namespace iplug::igraphics;

namespace
{

// Records what reaches the host side.
class RecordingDelegate : public IEditorDelegate
{
public:
  RecordingDelegate() : IEditorDelegate(3)
  {
    GetParam(0)->InitDouble("A", 0., 0., 10., 0.1);
    GetParam(1)->InitDouble("B", 5., 0., 10., 0.1);
    GetParam(2)->InitBool("C", false);
  }
  void BeginInformHostOfParamChangeFromUI(int p) override { log.push_back("begin " + std::to_string(p)); }
  void EndInformHostOfParamChangeFromUI(int p) override { log.push_back("end " + std::to_string(p)); }
  void SendParameterValueFromUI(int p, double v) override
  {
    IEditorDelegate::SendParameterValueFromUI(p, v);
    log.push_back("send " + std::to_string(p));
  }
  void PopupHostContextMenuForParam(int p, float x, float y) override
  {
    log.push_back("menu " + std::to_string(p) + " " + std::to_string(int(x)) + "," + std::to_string(int(y)));
  }
  void EditorResizeFromUI(int w, int h, bool needsPlatformResize) override
  {
    IEditorDelegate::EditorResizeFromUI(w, h, needsPlatformResize);
    log.push_back("resize " + std::to_string(w) + "x" + std::to_string(h));
  }
  std::vector<std::string> log;
};

// Records its own callbacks into the shared log.
class ProbeControl : public IControl
{
public:
  ProbeControl(const char* name, const IRECT& r, std::vector<std::string>& log, int param = kNoParameter)
  : IControl(r, param), mName(name), mLog(log)
  {
  }
  ProbeControl(const char* name, const IRECT& r, std::vector<std::string>& log, const std::vector<int>& params)
  : IControl(r, params), mName(name), mLog(log)
  {
  }

  void Draw(IGraphics&) override { ++draws; }
  bool IsDirty() override
  {
    ++dirtyAsks;
    return IControl::IsDirty();
  }
  void OnMouseDown(float x, float y, const IMouseMod& mod) override
  {
    mLog.push_back(mName + " down " + Pos(x, y) + (mod.R ? " R" : ""));
  }
  void OnMouseUp(float x, float y, const IMouseMod&) override { mLog.push_back(mName + " up " + Pos(x, y)); }
  void OnMouseDrag(float x, float y, float dX, float dY, const IMouseMod&) override
  {
    mLog.push_back(mName + " drag " + Pos(x, y) + " d" + Pos(dX, dY));
  }
  void OnMouseDblClick(float x, float y, const IMouseMod&) override { mLog.push_back(mName + " dbl " + Pos(x, y)); }
  void OnMouseWheel(float, float, const IMouseMod&, float d) override
  {
    mLog.push_back(mName + " wheel " + std::to_string(int(d)));
  }
  void OnMouseOver(float, float, const IMouseMod& mod) override
  {
    if (!mMouseIsOver)
      mLog.push_back(mName + " over");
    IControl::OnMouseOver(0, 0, mod);
  }
  void OnMouseOut() override
  {
    mLog.push_back(mName + " out");
    IControl::OnMouseOut();
  }

  int draws = 0;
  int dirtyAsks = 0;

private:
  static std::string Pos(float x, float y) { return std::to_string(int(x)) + "," + std::to_string(int(y)); }
  std::string mName;
  std::vector<std::string>& mLog;
};

struct Fixture : ::testing::Test
{
  RecordingDelegate dlg;
  IGraphics g{dlg, 200, 100, 60, 1.f};
  std::vector<std::string>& log = dlg.log;

  ProbeControl* Attach(ProbeControl* c, int tag = kNoTag) { return static_cast<ProbeControl*>(g.AttachControl(c, tag)); }
  void Click(float x, float y, double t, IMouseMod mod = IMouseMod(true))
  {
    g.OnMouseDown(x, y, mod, t);
    g.OnMouseUp(x, y, mod);
  }
};

using Dispatch = Fixture;

TEST_F(Dispatch, TheTopmostHitControlTakesThePressAndIgnoredOrHiddenOnesAreSkipped)
{
  Attach(new ProbeControl("under", IRECT(0, 0, 100, 100), log));
  Attach(new ProbeControl("over", IRECT(50, 0, 150, 100), log));
  auto* ignored = Attach(new ProbeControl("ignored", IRECT(0, 0, 200, 100), log));
  ignored->SetIgnoreMouse(true);
  auto* hidden = Attach(new ProbeControl("hidden", IRECT(0, 0, 200, 100), log));
  hidden->Hide(true);

  Click(60, 10, 0);    // both meet here: the later one wins
  Click(49, 10, 1000); // only the first
  Click(150, 10, 2000); // the right edge is outside
  EXPECT_EQ(log, (std::vector<std::string>{"over down 60,10", "over up 60,10", "under down 49,10", "under up 49,10"}));
}

TEST_F(Dispatch, APressedControlKeepsTheMouseAndHearsOutWhenTheDragLeavesIt)
{
  g.EnableMouseOver(true);
  Attach(new ProbeControl("a", IRECT(0, 0, 50, 50), log));
  Attach(new ProbeControl("b", IRECT(60, 0, 120, 50), log));

  g.OnMouseMove(10, 10, IMouseMod());
  g.OnMouseDown(10, 10, IMouseMod(true), 0);
  g.OnMouseMove(70, 20, IMouseMod(true)); // over b, but a has the mouse
  g.OnMouseUp(70, 20, IMouseMod(true));
  EXPECT_EQ(log, (std::vector<std::string>{"a over", "a down 10,10", "a drag 70,20 d60,10", "a out", "a up 70,20",
                                           "b over"}));
}

TEST_F(Dispatch, DragMovementIsInCanvasUnitsAtTheScaleOfEachMoment)
{
  Attach(new ProbeControl("a", IRECT(0, 0, 200, 100), log));
  g.Resize(200, 100, 2.f, false);
  g.OnMouseDown(100, 100, IMouseMod(true), 0); // pixels: canvas (50, 50)
  g.OnMouseMove(140, 120, IMouseMod(true));    // 40 px right, 20 down at scale 2
  g.Resize(200, 100, 1.f, false);              // a drag that rescales the window
  g.OnMouseMove(150, 120, IMouseMod(true));    // 10 px at scale 1
  EXPECT_EQ(log[0], "a down 50,50");
  EXPECT_EQ(log[1], "a drag 70,60 d20,10");
  EXPECT_EQ(log[2], "a drag 150,120 d10,0");
}

TEST_F(Dispatch, ASecondPressSoonAndNearIsADoubleClickButNeverAThirdOne)
{
  Attach(new ProbeControl("a", IRECT(0, 0, 200, 100), log));
  Click(10, 10, 1000);
  Click(12, 11, 1300); // 300 ms, 2 px: double
  Click(12, 11, 1400); // right after a double: single again
  Click(30, 30, 1600); // too far away
  Click(30, 30, 2100); // too late
  EXPECT_EQ(log, (std::vector<std::string>{"a down 10,10", "a up 10,10", "a dbl 12,11", "a up 12,11",
                                           "a down 12,11", "a up 12,11", "a down 30,30", "a up 30,30",
                                           "a down 30,30", "a up 30,30"}));
}

TEST_F(Dispatch, ADoubleClickTakesTwoPressesOfOneButton)
{
  Attach(new ProbeControl("a", IRECT(0, 0, 200, 100), log));
  Click(10, 10, 1000, IMouseMod(false, true));
  Click(10, 10, 1100); // left right after right: a press of its own
  Click(10, 10, 3000, IMouseMod(false, true));
  Click(10, 10, 3100, IMouseMod(false, true));
  EXPECT_EQ(log, (std::vector<std::string>{"a down 10,10 R", "a up 10,10", "a down 10,10", "a up 10,10",
                                           "a down 10,10 R", "a up 10,10", "a dbl 10,10", "a up 10,10"}));
}

TEST_F(Dispatch, APressWhileAnotherButtonDragsReleasesTheDraggedControlFirst)
{
  Attach(new ProbeControl("free", IRECT(0, 0, 100, 100), log));
  Attach(new ProbeControl("bound", IRECT(100, 0, 200, 100), log, 1));
  g.OnMouseDown(110, 10, IMouseMod(true), 0);
  g.OnMouseMove(50, 10, IMouseMod(true));
  g.OnMouseDown(50, 10, IMouseMod(false, true), 1000); // right press over the other control
  g.OnMouseUp(50, 10, IMouseMod(false, true));
  g.OnMouseUp(50, 10, IMouseMod(true));
  EXPECT_EQ(log, (std::vector<std::string>{"begin 1", "bound down 110,10", "bound drag 50,10 d-60,0",
                                           "bound up 50,10", "end 1", "free down 50,10 R", "free up 50,10"}));
}

TEST_F(Dispatch, ARightPressOnABoundControlOpensTheHostMenuAndNothingElse)
{
  Attach(new ProbeControl("bound", IRECT(0, 0, 100, 100), log, 1));
  Attach(new ProbeControl("free", IRECT(100, 0, 200, 100), log));
  g.Resize(200, 100, 2.f, false);

  g.OnMouseDown(40, 60, IMouseMod(false, true), 0);
  g.OnMouseUp(40, 60, IMouseMod(false, true));
  g.OnMouseDown(300, 60, IMouseMod(false, true), 1000);
  EXPECT_EQ(log, (std::vector<std::string>{"menu 1 40,60", "free down 150,30 R"}));
}

TEST_F(Dispatch, AGestureOnATwoValueControlBeginsAndEndsBothParameters)
{
  auto* c = Attach(new ProbeControl("ab", IRECT(0, 0, 200, 100), log, std::vector<int>{0, 1}));
  EXPECT_DOUBLE_EQ(c->GetValue(1), 0.5); // attached with the plug-in's value (5 of 0..10)

  g.OnMouseDown(10, 10, IMouseMod(true), 0);
  c->SetValue(0.25, 1);
  c->SetDirty(true, 1);
  g.OnMouseUp(10, 10, IMouseMod(true));
  EXPECT_EQ(log, (std::vector<std::string>{"begin 0", "begin 1", "ab down 10,10", "send 1", "ab up 10,10", "end 0",
                                           "end 1"}));
  EXPECT_DOUBLE_EQ(dlg.GetParam(1)->Value(), 2.5);
}

TEST_F(Dispatch, TheWheelOnABoundControlIsAGestureOfItsOwn)
{
  Attach(new ProbeControl("a", IRECT(0, 0, 200, 100), log, 2));
  g.OnMouseWheel(10, 10, IMouseMod(), -1.f);
  EXPECT_EQ(log, (std::vector<std::string>{"begin 2", "a wheel -1", "end 2"}));
}

TEST_F(Dispatch, RemovingTheControlsMidGestureEndsWhatBegan)
{
  Attach(new ProbeControl("a", IRECT(0, 0, 200, 100), log, 0));
  g.OnMouseDown(10, 10, IMouseMod(true), 0);
  g.RemoveAllControls();
  g.OnMouseMove(20, 20, IMouseMod(true));
  g.OnMouseUp(20, 20, IMouseMod(true));
  EXPECT_EQ(log, (std::vector<std::string>{"begin 0", "a down 10,10", "end 0"}));
  EXPECT_EQ(g.NControls(), 0);
}

TEST_F(Dispatch, HostValuesReachEveryBoundSlotAndMarkItDirty)
{
  auto* a = Attach(new ProbeControl("a", IRECT(0, 0, 10, 10), log, std::vector<int>{2, 0}));
  auto* b = Attach(new ProbeControl("b", IRECT(0, 0, 10, 10), log, 0));
  g.OnFrame();
  g.SetParamValueFromDelegate(0, 0.75);
  EXPECT_DOUBLE_EQ(a->GetValue(1), 0.75);
  EXPECT_DOUBLE_EQ(b->GetValue(0), 0.75);
  EXPECT_DOUBLE_EQ(a->GetValue(0), 0.); // the other slot stays
  EXPECT_TRUE(a->IsDirty());
  EXPECT_TRUE(log.empty()); // nothing goes back to the host
}

TEST_F(Dispatch, EachFrameAsksEveryControlAndRedrawsOnlyWhatMeetsTheDirtyArea)
{
  auto* left = Attach(new ProbeControl("left", IRECT(0, 0, 50, 50), log));
  auto* right = Attach(new ProbeControl("right", IRECT(150, 0, 200, 50), log));
  auto* hidden = Attach(new ProbeControl("hidden", IRECT(0, 0, 200, 100), log));
  hidden->Hide(true);

  g.OnFrame(); // the first frame draws everything visible
  EXPECT_EQ(left->draws, 1);
  EXPECT_EQ(right->draws, 1);
  EXPECT_EQ(hidden->draws, 0);

  const IRECT nothing = g.OnFrame();
  EXPECT_TRUE(nothing.Degenerate());
  EXPECT_EQ(left->dirtyAsks, 2);
  EXPECT_EQ(hidden->dirtyAsks, 2);

  right->SetDirty(false);
  g.Resize(200, 100, 2.f, false);
  g.OnFrame(); // a rescale redraws all
  right->SetDirty(false);
  const IRECT area = g.OnFrame();
  EXPECT_EQ(left->draws, 2);
  EXPECT_EQ(right->draws, 3);
  // The right control grown by the antialiasing margin, in whole pixels at scale 2.
  EXPECT_EQ(area, IRECT(298, 0, 400, 102));
}

TEST_F(Dispatch, DirtyControlsFarApartAreRedrawnWithoutWhatLiesBetweenThem)
{
  auto* left = Attach(new ProbeControl("left", IRECT(0, 0, 30, 30), log));
  auto* middle = Attach(new ProbeControl("middle", IRECT(60, 0, 140, 100), log));
  auto* right = Attach(new ProbeControl("right", IRECT(170, 70, 200, 100), log));
  g.OnFrame();
  left->SetDirty(false);
  right->SetDirty(false);
  const IRECT area = g.OnFrame();
  EXPECT_EQ(left->draws, 2);
  EXPECT_EQ(right->draws, 2);
  EXPECT_EQ(middle->draws, 1);
  EXPECT_EQ(area, IRECT(0, 0, 200, 100)); // what the window uploads: both
}

TEST_F(Dispatch, AControlThatMovesHasItsOldPlaceRepainted)
{
  auto* c = Attach(new ProbeControl("c", IRECT(0, 0, 20, 20), log));
  g.OnFrame();
  c->SetRECT(IRECT(100, 0, 120, 20));
  const IRECT area = g.OnFrame();
  EXPECT_LE(area.L, 0.f);
  EXPECT_GE(area.R, 120.f);
}

TEST_F(Dispatch, AResizeThatAsksForTheWindowTellsTheDelegateItsPixelSize)
{
  g.Resize(200, 100, 1.25f, true);
  g.Resize(200, 100, 0.5f, false);
  g.Resize(200, 100, 0.f, true); // ignored
  EXPECT_EQ(log, (std::vector<std::string>{"resize 250x125"}));
  EXPECT_EQ(dlg.GetEditorWidth(), 250);
  EXPECT_FLOAT_EQ(g.GetDrawScale(), 0.5f);
}

} // namespace
