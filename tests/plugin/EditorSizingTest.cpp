#include <gtest/gtest.h>

#include "EditorSizing.h"

using namespace morvellan::sizing;

namespace {

struct Request
{
  int w, h;
  float scale;
  int wantW, wantH;
  bool wantOk;
};

} // namespace

TEST(EditorSizing, ConstrainKeepsAllowedSizesAndCorrectsOthers)
{
  const Request cases[] = {
    {720, 532, 1.0f, 720, 532, true},
    {540, 399, 1.0f, 540, 399, true},
    {1440, 1064, 1.0f, 1440, 1064, true},
    // Width clamped to 1440, then the width follows the height: 500 * 720/532 = 676.69.
    {2000, 500, 1.0f, 677, 500, false},
    {300, 300, 1.0f, 540, 399, false},
    // In range but off the aspect: the height follows the width, 1000 * 532/720 = 738.9.
    {1000, 1000, 1.0f, 1000, 739, false},
    // The maximum grows with the screen scale ...
    {5000, 5000, 2.0f, 2880, 2128, false},
    {2880, 2128, 2.0f, 2880, 2128, true},
    // ... but never shrinks below the base maximum.
    {5000, 5000, 0.5f, 1440, 1064, false},
    {1440, 1064, 0.5f, 1440, 1064, true},
  };
  for (const Request& c : cases)
  {
    int w = c.w, h = c.h;
    const bool ok = ConstrainEditorSize(w, h, c.scale);
    EXPECT_EQ(w, c.wantW) << c.w << "x" << c.h << " @" << c.scale;
    EXPECT_EQ(h, c.wantH) << c.w << "x" << c.h << " @" << c.scale;
    EXPECT_EQ(ok, c.wantOk) << c.w << "x" << c.h << " @" << c.scale;
  }
}

TEST(EditorSizing, ConstrainSurvivesExtremeRequests)
{
  int w = INT_MIN, h = INT_MAX;
  ConstrainEditorSize(w, h, 1.0f);
  EXPECT_GE(w, kMinWidth);
  EXPECT_LE(w, kMaxWidth);
  EXPECT_GE(h, kMinHeight);
  EXPECT_LE(h, kMaxHeight);
  // Any output is itself allowed unchanged.
  EXPECT_TRUE(ConstrainEditorSize(w, h, 1.0f));
}

TEST(EditorSizing, DrawScaleFitsTheCanvas)
{
  EXPECT_FLOAT_EQ(DrawScaleFor(720, 532, 1.0f), 1.0f);
  EXPECT_FLOAT_EQ(DrawScaleFor(1440, 1064, 1.0f), 2.0f);
  EXPECT_FLOAT_EQ(DrawScaleFor(1440, 1064, 2.0f), 1.0f);
  // The tighter side decides.
  EXPECT_FLOAT_EQ(DrawScaleFor(1440, 532, 1.0f), 1.0f);
}

TEST(EditorSizing, NewWindowsStartAtTheStoredSizesScale)
{
  EXPECT_FLOAT_EQ(InitialDrawScale(1080, 798, 1.0f), 1.5f);
  EXPECT_FLOAT_EQ(InitialDrawScale(1080, 798, 1.5f), 1.0f);
  // Nothing stored, or a scale that makes no sense: the canvas at its own size.
  EXPECT_FLOAT_EQ(InitialDrawScale(0, 0, 1.0f), 1.0f);
  EXPECT_FLOAT_EQ(InitialDrawScale(720, 532, 0.0f), 1.0f);
  EXPECT_FLOAT_EQ(InitialDrawScale(-720, 532, 1.0f), 1.0f);
}

TEST(EditorSizing, SavedSizeIsIndependentOfTheScreenScale)
{
  const EditorSize closed = SavedSizeWithoutEditor(2160, 1596, 1.5f);
  EXPECT_EQ(closed.width, 1440);
  EXPECT_EQ(closed.height, 1064);
  // 1081 / 2 = 540.5 rounds away from zero.
  EXPECT_EQ(SavedSizeWithoutEditor(1081, 799, 2.0f).width, 541);
  EXPECT_EQ(SavedSizeWithoutEditor(1081, 799, 2.0f).height, 400);
  // A scale that is not positive is read as 1.
  EXPECT_EQ(SavedSizeWithoutEditor(720, 532, 0.0f).width, 720);

  const EditorSize open = SavedSizeWithEditor(720, 532, 1.2499f);
  EXPECT_EQ(open.width, 900); // 899.93 rounded
  EXPECT_EQ(open.height, 665); // 664.95 rounded
}

// Save with the editor open, restore, reopen: the window keeps its size however often a project
// is reopened. With the product truncated, 800 x 591 lost about a pixel a time and was 779 x 576
// after twenty reopens.
TEST(EditorSizing, AWindowKeepsItsSizeThroughSavesAndRestores)
{
  for (EditorSize window : {EditorSize{800, 591}, EditorSize{1066, 788}, EditorSize{540, 399}, EditorSize{1440, 1064}})
  {
    EditorSize now = window;
    for (int reopen = 0; reopen < 20; ++reopen)
      now = WindowSizeForRestored(SavedSizeWithEditor(720, 532, DrawScaleFor(now.width, now.height, 1.0f)), 1.0f);
    EXPECT_EQ(now.width, window.width) << window.width << " x " << window.height;
    EXPECT_EQ(now.height, window.height) << window.width << " x " << window.height;
  }
  // A stored size the aspect rule moves twice (1067 x 794, then 1067 x 788, then 1066 x 788)
  // restores to the size the rule keeps, so saving it again stores what was restored.
  const EditorSize restored = WindowSizeForRestored({1067, 794}, 1.0f);
  EXPECT_EQ(restored.width, 1066);
  EXPECT_EQ(restored.height, 788);
  const EditorSize again = WindowSizeForRestored(restored, 1.0f);
  EXPECT_EQ(again.width, restored.width);
  EXPECT_EQ(again.height, restored.height);
}

TEST(EditorSizing, RestoredSizeKeepsTheAspectAndTheScreenLimits)
{
  EXPECT_EQ(SanitizeRestoredSize(800, 800).width, 720);
  EXPECT_EQ(SanitizeRestoredSize(800, 800).height, 532);
  EXPECT_EQ(SanitizeRestoredSize(1440, 1064).width, 1440);
  // Zero means nothing was stored and is kept.
  EXPECT_EQ(SanitizeRestoredSize(0, 532).width, 0);

  const EditorSize big = WindowSizeForRestored({1440, 1064}, 1.5f);
  EXPECT_EQ(big.width, 2160);
  EXPECT_EQ(big.height, 1596);
  const EditorSize huge = WindowSizeForRestored({INT_MAX, INT_MAX / 4 * 3}, 1.0f);
  EXPECT_LE(huge.width, kMaxWidth);
  EXPECT_LE(huge.height, kMaxHeight);
}
