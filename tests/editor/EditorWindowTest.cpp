// The whole window on the plug-in: the layout's rows, what the idle callback does to an
// open editor, sizing with a window open, and the callbacks into the plug-in.

#include <cstring>
#include <string>
#include <vector>

#include "BandStripControl.h"
#include "CornerScaleControl.h"
#include "EditorCallbacks.h"
#include "EditorFixture.h"
#include "EditorLayout.h"
#include "GoldenImage.h"
#include "IPanelControl.h"
#include "IPeakAvgSender.h"
#include "ISVGControl.h"
#include "ITextControl.h"
#include "KebabMenuControl.h"
#include "LearnPillControl.h"
#include "LevelMeterControl.h"
#include "PillToggleControl.h"
#include "Resources.h"
#include "RingKnobControl.h"
#include "ThresholdHandle.h"
#include "ToneDisplayControl.h"
#include "UiScale.h"
#include "ValueCaptionControl.h"
#include "halvorsted/controls/PresetBarControl.h"
#include "halvorsted/controls/UpdatePillControl.h"

using namespace iplug::igraphics;

namespace
{

std::string Kind(IControl* c)
{
  if (dynamic_cast<RingKnobControl*>(c)) return "knob";
  if (dynamic_cast<morvellan::plugin::ValueCaptionControl*>(c)) return "caption";
  if (dynamic_cast<ITextControl*>(c)) return "text";
  if (dynamic_cast<IPanelControl*>(c)) return "panel";
  if (dynamic_cast<KebabMenuControl*>(c)) return "menu";
  if (dynamic_cast<halvorsted::controls::PresetBarControl*>(c)) return "presets";
  if (dynamic_cast<LearnPillControl*>(c)) return "learn";
  if (dynamic_cast<PillToggleControl*>(c)) return "pill";
  if (dynamic_cast<halvorsted::controls::UpdatePillControl*>(c)) return "update";
  if (dynamic_cast<ToneDisplayControl*>(c)) return "display";
  if (dynamic_cast<LevelMeterControl*>(c)) return "meter";
  if (dynamic_cast<ThresholdHandle*>(c)) return "threshold";
  if (dynamic_cast<BandStripControl*>(c)) return "strip";
  if (dynamic_cast<ISVGControl*>(c)) return "artwork";
  if (dynamic_cast<CornerScaleControl*>(c)) return "corner";
  return "?";
}

// "kind L T R B", then " p<param>" when bound, " t<tag>" when tagged. The rectangle is the
// one the layout gave, where the control takes presses; some draw a little beyond it.
std::string Describe(IControl* c)
{
  const IRECT& r = c->GetTargetRECT();
  char text[96];
  std::snprintf(text, sizeof text, "%s %g %g %g %g", Kind(c).c_str(), r.L, r.T, r.R, r.B);
  std::string row = text;
  for (int v = 0; v < c->NVals(); ++v)
    if (c->GetParamIdx(v) >= 0)
      row += " p" + std::to_string(c->GetParamIdx(v));
  if (c->GetTag() != kNoTag)
    row += " t" + std::to_string(c->GetTag());
  return row;
}

std::string Knob(int param, float x, float cy, float size, const char* label)
{
  char k[160];
  std::snprintf(k, sizeof k, "knob %g %g %g %g p%d|text %g 406 %g 421 %s|caption %g 423 %g 437 p%d", x - size / 2,
                cy - size / 2, x + size / 2, cy + size / 2, param, x - 55, x + 55, label, x - 55, x + 55, param);
  return k;
}

using EditorWindow = EditorFixture;

TEST_F(EditorWindow, TheLayoutAttachesEveryRowInItsOrderWithItsRectangleParameterAndTag)
{
  IGraphics& g = OpenEditor();
  std::vector<std::string> rows;
  for (int i = 0; i < g.NControls(); ++i)
  {
    std::string row = Describe(g.GetControl(i));
    if (auto* text = dynamic_cast<ITextControl*>(g.GetControl(i)); text && Kind(text) == "text")
      row += std::string(" ") + text->GetStr();
    rows.push_back(row);
  }

  std::vector<std::string> expected{
    "panel 0 0 720 532", "panel 14 96 706 456", "text 28 48 428 82 t0 MORVELLAN", "menu 0 0 0 0",
    "presets 0 0 720 32 t4", "learn 470 49 582 79", "pill 592 49 696 79 p22", "update 300 49 460 79",
    "display 30 112 690 308", "text 10 314 120 329 IN", "meter 18 328 92 436 t2", "threshold 18 328 92 436 p2",
    "panel 106 332 107 442"};
  for (const std::string& knob : {Knob(0, 172, 366, 76, "AMOUNT"), Knob(23, 272, 374, 56, "TILT"),
                                  Knob(1, 360, 374, 56, "SPEED"), Knob(3, 448, 374, 56, "BOOST"),
                                  Knob(4, 536, 374, 56, "CUT")})
  {
    for (size_t at = 0, bar; at <= knob.size(); at = bar + 1)
    {
      bar = std::min(knob.find('|', at), knob.size());
      expected.push_back(knob.substr(at, bar - at));
    }
  }
  expected.push_back("panel 576 332 577 442");
  const std::string out = Knob(21, 618, 374, 56, "OUTPUT");
  for (size_t at = 0, bar; at <= out.size(); at = bar + 1)
  {
    bar = std::min(out.find('|', at), out.size());
    expected.push_back(out.substr(at, bar - at));
  }
  for (const char* row : {"text 607 314 717 329 OUT", "meter 640 328 704 436 t3", "pill 28 468 90 494 p18",
                          "pill 630 468 692 494 p20", "strip 112 471 608 491 p17 p19", "caption 14 498 104 512 p17",
                          "caption 616 498 706 512 p19"})
    expected.push_back(row);
  ASSERT_EQ(std::vector<std::string>(rows.begin(), rows.begin() + long(expected.size())), expected);

  // The artwork: 18 units high, centred on the canvas; then the status line and the grip.
  ASSERT_EQ(rows.size(), expected.size() + 3);
  const IRECT art = g.GetControl(int(expected.size()))->GetRECT();
  EXPECT_EQ(Kind(g.GetControl(int(expected.size()))), "artwork");
  EXPECT_FLOAT_EQ(art.T, 496.f);
  EXPECT_FLOAT_EQ(art.B, 514.f);
  EXPECT_FLOAT_EQ(art.MW(), 360.f);
  EXPECT_EQ(rows[expected.size() + 1], "text 14 516 706 530 t1 ");
  EXPECT_EQ(rows[expected.size() + 2], "corner 706 518 718 530");
}

TEST_F(EditorWindow, WithoutItsArtworkTheWindowSaysItsNameInText)
{
  // The module's files less the artwork.
  std::vector<EmbeddedResource> files;
  const EmbeddedResources& all = MorvellanResources();
  for (size_t i = 0; i < all.count; ++i)
    if (std::strcmp(all.items[i].name, "morvellan-lockup.svg") != 0)
      files.push_back(all.items[i]);
  IGraphics g(*mPlug, 720, 532, 60, 1.f);
  g.SetResources(EmbeddedResources{files.data(), files.size()});
  RunLayout(*mPlug, g);

  bool found = false;
  for (int i = 0; i < g.NControls(); ++i)
    if (auto* text = dynamic_cast<ITextControl*>(g.GetControl(i)))
      found = found || (text->GetRECT() == IRECT(220, 496, 500, 514) && std::string(text->GetStr()) == "MORVELLAN");
  EXPECT_TRUE(found);
  g.RemoveAllControls();
}

TEST_F(EditorWindow, IdleWritesTitleAndStatusAndRebuildsForANewAccentClosingAnOpenMenu)
{
  IGraphics& g = OpenEditor();
  mPlug->OnIdle();
  auto* status = dynamic_cast<ITextControl*>(g.GetControlWithTag(kCtrlTagStatus));
  ASSERT_NE(status, nullptr);
  EXPECT_STREQ(status->GetStr(), "Morvellan 0.9.14 \xC2\xB7 0 samples latency \xC2\xB7 target: balanced");

  Click(520, 60); // the learn pill opens its menu
  ASSERT_TRUE(g.IsMenuOpen());
  g.GetControl(5)->SetTooltip("old"); // a new control comes without it
  const int count = g.NControls();
  SetAccentColourIndex(*mPlug, 3);
  mPlug->OnIdle();
  EXPECT_FALSE(g.IsMenuOpen());
  EXPECT_EQ(g.NControls(), count);
  EXPECT_STREQ(g.GetControl(5)->GetTooltip(), "");
  // The status line is sent again to the new control.
  EXPECT_STREQ(dynamic_cast<ITextControl*>(g.GetControlWithTag(kCtrlTagStatus))->GetStr(),
               "Morvellan 0.9.14 \xC2\xB7 0 samples latency \xC2\xB7 target: balanced");
}

TEST_F(EditorWindow, AnAccentRebuildWhileAQuestionIsOpenKeepsTheQuestionAndItsAnswer)
{
  IGraphics& g = OpenEditor();
  mPlug->SavePreset("Warm", false);
  const std::filesystem::path file = mData.Path() / "Morvellan" / "Presets" / "Warm.mvpreset";
  const std::string before = ReadBytes(file);
  iplug::ScopedMessageBoxHook box([](const iplug::MessageBoxCall&) { return std::nullopt; }, false);
  mPlug->SavePreset("Other", false);
  mPlug->GetParam(kAmount)->Set(7.0);
  mPlug->SavePreset("Warm", true);
  g.GetControl(1)->SetTooltip("old");
  SetAccentColourIndex(*mPlug, 2);
  mPlug->OnIdle();
  EXPECT_STREQ(g.GetControl(1)->GetTooltip(), "");
  g.OnFrame();
  EXPECT_EQ(ReadBytes(file), before);
  box.Answer(iplug::EMsgBoxResult::kYes);
  g.OnFrame();
  EXPECT_NE(ReadBytes(file), before);
  EXPECT_EQ(mPlug->GetPresetNameLocked(), "Warm");
}

TEST_F(EditorWindow, AnOpenWindowFollowsTheHostAndTheScaleMenuAndSavesItsOwnSize)
{
  IGraphics& g = OpenEditor();
  mPlug->OnParentWindowResize(1080, 900); // too tall for the aspect: height follows the width
  EXPECT_FLOAT_EQ(g.GetDrawScale(), 1.5f);
  EXPECT_EQ(mPlug->GetEditorWidth(), 1080);
  EXPECT_EQ(mPlug->GetEditorHeight(), 798);

  SetUiScale(*mPlug, 0.5f); // 360 x 266 asked, raised to the smallest window
  EXPECT_FLOAT_EQ(g.GetDrawScale(), 0.75f);
  EXPECT_FLOAT_EQ(GetUiScale(*mPlug), 0.75f);
  EXPECT_EQ(mPlug->GetEditorWidth(), 540);

  iplug::IByteChunk chunk;
  ASSERT_TRUE(mPlug->SerializeState(chunk));
  int32_t width = 0, height = 0;
  std::memcpy(&width, chunk.GetData() + 12, 4);
  std::memcpy(&height, chunk.GetData() + 16, 4);
  EXPECT_EQ(width, 540);
  EXPECT_EQ(height, 399);
}

TEST_F(EditorWindow, TheDisplaysKeptPicturesFollowAnAccentRebuildAndANewScale)
{
  IGraphics& g = OpenEditor();
  // Red, green, blue inside the lit MATCH half of the display's toggle, clear of its word.
  const auto matchHalf = [&g] {
    int stride = 0;
    const unsigned char* p = g.GetPixels(stride);
    const float s = g.GetDrawScale();
    const unsigned char* q = p + int(125.f * s) * stride + int(303.f * s) * 4;
    return std::vector<int>{q[2], q[1], q[0]};
  };
  g.OnFrame(); // shown from what the first frame kept
  EXPECT_EQ(matchHalf(), (std::vector<int>{21, 232, 121}));
  SetAccentColourIndex(*mPlug, 3);
  mPlug->OnIdle();
  g.OnFrame();
  EXPECT_EQ(matchHalf(), (std::vector<int>{0, 184, 255}));
  g.OnFrame();
  auto* display = dynamic_cast<ToneDisplayControl*>(g.GetControl(8));
  ASSERT_NE(display, nullptr);
  const int grid = display->GridLayerDraws();
  mPlug->OnParentWindowResize(1080, 798);
  ASSERT_FLOAT_EQ(g.GetDrawScale(), 1.5f);
  g.OnFrame();
  EXPECT_EQ(display->GridLayerDraws(), grid + 1);
  EXPECT_EQ(matchHalf(), (std::vector<int>{0, 184, 255}));
}

TEST_F(EditorWindow, FramesInWhichNothingShownMovesDrawNothingAndAChangeDrawsOnlyWhereItShows)
{
  IGraphics& g = OpenEditor();
  mPlug->OnIdle(); // the status line's first text
  g.OnFrame();
  // A frame draws what changed, in whole pixels with 0.75 unit of antialiased edge; an idle
  // callback and a frame after it draw nothing.
  const auto draws = [&](const char* what, const IRECT& want) {
    const IRECT drawn = g.OnFrame();
    EXPECT_EQ(drawn.Degenerate() ? IRECT() : drawn, want) << what;
    mPlug->OnIdle();
    EXPECT_TRUE(g.OnFrame().Degenerate()) << what;
  };
  for (int frame = 0; frame < 3; ++frame)
    draws("nothing: no audio at all", IRECT());
  mPlug->setParamNormalized(kAmount, 0.3);
  draws("AMOUNT's knob, side 76 round (172, 366), and caption (117, 423)-(227, 437)", IRECT(116.f, 327.f, 228.f, 438.f));
  iplug::IPeakAvgSender<1>::Data level;
  level.ctrlTag = kCtrlTagInputMeter;
  level.vals[0] = {0.5f, 0.25f};
  g.SendControlMsgFromDelegate(kCtrlTagInputMeter, 0, int(sizeof(level)), &level);
  draws("the input meter (18, 328)-(92, 436)", IRECT(17.f, 327.f, 93.f, 437.f));
  g.SendControlMsgFromDelegate(kCtrlTagInputMeter, 0, int(sizeof(level)), &level);
  draws("nothing: the same level again", IRECT());
  const std::vector<iplug::sample> zeros(2048, 0.0);
  const iplug::sample* silence = zeros.data();
  mPlug->mOutputMeterSender.ProcessBlock(&silence, 2048, kCtrlTagOutputMeter, 1, 0);
  draws("nothing: silence is what the output meter shows", IRECT());
  mPlug->mBandLevels[1][4].store(-30.f);
  draws("the display, for its reading alone", IRECT(29.f, 111.f, 691.f, 309.f));
  mPlug->mLearning.store(1);
  for (const float progress : {0.42f, 0.43f})
  {
    mPlug->mLearnProgress.store(progress);
    draws("the learn pill (470, 49)-(582, 79) and the display's status line", IRECT(29.f, 48.f, 691.f, 309.f));
  }
  mPlug->mLearning.store(0);
}

TEST_F(EditorWindow, TheTitleMakesRoomForTheUpdatePillAndTakesItBackWhenItGoes)
{
  IGraphics& g = OpenEditor();
  IControl* title = g.GetControlWithTag(kCtrlTagTitle);
  FitTitleToUpdatePill(*mPlug, IRECT(350, 49, 460, 79));
  EXPECT_EQ(title->GetRECT(), IRECT(28, 48, 340, 82));
  EXPECT_EQ(title->GetTargetRECT(), IRECT(28, 48, 340, 82));
  FitTitleToUpdatePill(*mPlug, IRECT());
  EXPECT_EQ(title->GetRECT(), IRECT(28, 48, 428, 82));
}

TEST_F(EditorWindow, AccentChoicesOutsideTheTableAreGreenAndOnlyAChangeAsksForARebuild)
{
  SetAccentColourIndex(*mPlug, 6);
  EXPECT_EQ(GetAccentColourIndex(*mPlug), 0);
  EXPECT_TRUE(mPlug->mAccentDirty.exchange(false));
  SetAccentColourIndex(*mPlug, -1);
  EXPECT_FALSE(mPlug->mAccentDirty.load());
  SetAccentColourIndex(*mPlug, 4);
  SetAccentColourIndex(*mPlug, 4);
  EXPECT_TRUE(mPlug->mAccentDirty.exchange(false));
  EXPECT_FALSE(mPlug->mAccentDirty.load());
}

TEST_F(EditorWindow, TheSaveProposalIsTheFileStemTheLoadedLabelOrLearnedTarget)
{
  EXPECT_EQ(DefaultTargetName(*mPlug), "Learned target");
  mPlug->SetTargetSource("Mix Bus Final.WAV");
  EXPECT_EQ(DefaultTargetName(*mPlug), "Mix Bus Final");
  mPlug->SetTargetSource("Warm vocal");
  EXPECT_EQ(DefaultTargetName(*mPlug), "Warm vocal");
}

TEST_F(EditorWindow, ANewTargetRequestForgetsAFailedAnalysisWithItsReason)
{
  for (auto request : {&RequestLearnFromInput, &RequestClearLearnedTarget})
  {
    {
      std::lock_guard<std::mutex> lock(mPlug->mMutex);
      mPlug->mReferenceError = "the file is too short to learn from";
    }
    mPlug->mReferenceState.store(2);
    request(*mPlug);
    EXPECT_EQ(mPlug->mReferenceState.load(), 0);
    std::lock_guard<std::mutex> lock(mPlug->mMutex);
    EXPECT_TRUE(mPlug->mReferenceError.empty());
  }
  // A running analysis is left to finish.
  mPlug->mReferenceState.store(1);
  RequestClearLearnedTarget(*mPlug);
  EXPECT_EQ(mPlug->mReferenceState.load(), 1);
  mPlug->mReferenceState.store(0);
}

struct WindowPicture : EditorFixture, ::testing::WithParamInterface<float>
{
};

TEST_P(WindowPicture, MatchesTheStoredPicture)
{
  IGraphics& g = OpenEditor();
  mPlug->OnIdle();
  g.Resize(720, 532, GetParam(), false);
  char name[64];
  std::snprintf(name, sizeof name, "/window-x%g.png", GetParam());
  ExpectCanvasMatchesGolden(g, std::string(EDITOR_GOLDEN_DIR) + name);
}

INSTANTIATE_TEST_SUITE_P(Scales, WindowPicture, ::testing::Values(0.75f, 1.f, 1.5f, 2.f),
                         [](const auto& info) { return "x" + std::to_string(int(info.param * 100)); });

} // namespace
