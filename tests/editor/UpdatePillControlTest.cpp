// The update pill: when it shows, its size and place, what takes the mouse and what a
// click opens.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "IEditorDelegate.h"
#include "IGraphics.h"
#include "PlatformServices.h"
#include "Resources.h"
#include "TempFolder.h"
#include "halvorsted/controls/UpdatePillControl.h"
#include "halvorsted/updates/UpdateCheck.h"

using namespace iplug::igraphics;
using halvorsted::controls::UpdatePillControl;
using halvorsted::updates::UpdateCheck;

namespace
{

const IText kPillText(11.5f, IColor(255, 250, 250, 250), "Roboto-Regular");

struct UpdatePill : ::testing::Test
{
  TempFolder temp;
  iplug::IEditorDelegate dlg{1};
  IGraphics g{dlg, 720, 532, 60, 1.f};
  std::unique_ptr<UpdateCheck> check;
  std::vector<IRECT> heard;

  // An update check whose stored feed offers version (none when empty).
  void Offer(const std::string& version)
  {
    g.SetResources(MorvellanResources());
    ASSERT_TRUE(g.LoadFont("Roboto-Regular", "Roboto-Regular.ttf"));
    const std::string feed =
      version.empty() ? "{}" : "{\"morvellan\":{\"version\":\"" + version + "\",\"page\":\"/morvellan/get\"}}";
    WriteBytes(temp.Path() / "updates.json", halvorsted::updates::BuildStateText({1, feed}));
    UpdateCheck::Config config;
    config.productSlug = "morvellan";
    config.currentVersion = "0.9.14";
    config.dataFolder = temp.Path();
    config.httpGet = [](const std::string&) { return halvorsted::platform::HttpResult{}; };
    check = std::make_unique<UpdateCheck>(std::move(config));
  }
  UpdatePillControl* Pill(const IRECT& bounds)
  {
    UpdatePillControl::Style style{IColor(255, 252, 120, 92), IColor(255, 253, 146, 124), IColor(255, 10, 10, 10),
                                   kPillText};
    return new UpdatePillControl(bounds, style, check.get(), [this](const IRECT& r) { heard.push_back(r); });
  }
  UpdatePillControl* Attach(const IRECT& bounds) { return static_cast<UpdatePillControl*>(g.AttachControl(Pill(bounds))); }
};

} // namespace

TEST_F(UpdatePill, WithoutAnOfferNothingShowsOrIsTaken)
{
  Offer("");
  auto* pill = Attach(IRECT(300, 49, 460, 79));
  g.OnFrame();
  EXPECT_TRUE(pill->GetPillRect().Empty());
  EXPECT_FALSE(pill->IsHit(459.f, 78.f));
  EXPECT_TRUE(heard.empty());
}

TEST_F(UpdatePill, TheOfferShowsRightAlignedAsWideAsItsTextAndTwoThirdsOfTheHeight)
{
  Offer("0.9.15");
  // Not attached: nothing can be measured yet.
  std::unique_ptr<UpdatePillControl> detached(Pill(IRECT(300, 49, 460, 79)));
  detached->SyncWithUpdateCheck();
  EXPECT_TRUE(detached->GetPillRect().Empty());

  auto* pill = static_cast<UpdatePillControl*>(g.AttachControl(detached.release()));
  g.OnFrame();
  IRECT extent;
  g.MeasureText(kPillText, "0.9.15 AVAILABLE", extent);
  ASSERT_GT(extent.W(), 40.f); // the face is loaded, so the width below means something
  const IRECT expected(460.f - (extent.W() + 20.f), 49.f, 460.f, 79.f);
  EXPECT_EQ(pill->GetPillRect(), expected);
  EXPECT_EQ(heard, std::vector<IRECT>{expected});

  // Narrower than its label: the pill takes the whole control.
  auto* narrow = Attach(IRECT(300, 100, 340, 130));
  g.OnFrame();
  EXPECT_EQ(narrow->GetPillRect(), IRECT(300, 100, 340, 130));
}

TEST_F(UpdatePill, AWithdrawnOfferHidesThePillAndTellsTheEmptyRectangle)
{
  Offer("1.0.0");
  auto* pill = Attach(IRECT(300, 49, 460, 79));
  g.OnFrame();
  ASSERT_FALSE(pill->GetPillRect().Empty());

  check->SetEnabled(false);
  const IRECT drawn = g.OnFrame();
  EXPECT_FALSE(pill->IsHit(455.f, 60.f));
  ASSERT_EQ(heard.size(), 2u);
  EXPECT_TRUE(heard[1].Empty());
  EXPECT_LE(drawn.L, 300.f); // where it was is painted over
  EXPECT_GE(drawn.R, 460.f);
}

TEST_F(UpdatePill, OnlyThePillTakesTheMouseAndAClickOpensTheOffersPage)
{
  Offer("0.9.15");
  auto* pill = Attach(IRECT(300, 49, 460, 79));
  g.OnFrame();
  const IRECT r = pill->GetPillRect();
  EXPECT_TRUE(pill->IsHit(r.L, r.T));
  EXPECT_TRUE(pill->IsHit(459.99f, 78.99f));
  EXPECT_FALSE(pill->IsHit(460.f, 60.f));
  EXPECT_FALSE(pill->IsHit(r.L + 1.f, 79.f));
  EXPECT_FALSE(pill->IsHit(301.f, 60.f)); // in the control, left of the pill

  g.EnableMouseOver(true);
  g.OnMouseMove(455.f, 60.f, IMouseMod());
  EXPECT_EQ(g.GetMouseCursor(), ECursor::HAND);
  g.OnMouseMove(200.f, 60.f, IMouseMod());
  EXPECT_EQ(g.GetMouseCursor(), ECursor::ARROW);

  std::vector<std::string> opened;
  ScopedOpenUrlHook hook([&](const std::string& url) {
    opened.push_back(url);
    return true;
  });
  g.OnMouseDown(455.f, 60.f, IMouseMod(true), 0.);
  g.OnMouseUp(455.f, 60.f, IMouseMod(true));
  EXPECT_EQ(opened, std::vector<std::string>{"https://www.halvorsted.com/morvellan/get"});
}
