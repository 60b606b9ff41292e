#include "AccentColours.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

using namespace morvellan;

namespace {

TEST(AccentColours, TablesHoldTheNamedRows)
{
  ASSERT_EQ(AccentColourTable.size(), 6u);
  EXPECT_EQ(std::string(AccentColourTable[2].name), "Orange");
  EXPECT_EQ(AccentRgbFor(1, -1), (AccentRgb{233, 21, 90}));
  EXPECT_EQ(AccentRgbFor(3, 0x123456), (AccentRgb{0, 184, 255}));
  EXPECT_EQ(AccentRgbFor(4, -1), (AccentRgb{134, 0, 255}));
  EXPECT_EQ(std::string(AccentColourTable[5].name), "DAW color");
  ASSERT_EQ(WindowScaleTable.size(), 4u);
  EXPECT_EQ(std::string(WindowScaleTable[0].name), "Window 0.75x");
  EXPECT_FLOAT_EQ(WindowScaleTable[2].scale, 1.5f);
}

TEST(AccentColours, EveryRowAsTheMenusOfferIt)
{
  const char* accentNames[] = {"Green", "Red", "Orange", "Blue", "Purple", "DAW color"};
  const AccentRgb accents[] = {{21, 232, 121}, {233, 21, 90}, {255, 122, 0}, {0, 184, 255}, {134, 0, 255}, {21, 232, 121}};
  for (size_t i = 0; i < 6; ++i)
  {
    EXPECT_EQ(std::string(AccentColourTable[i].name), accentNames[i]);
    EXPECT_EQ((AccentRgb{AccentColourTable[i].red, AccentColourTable[i].green, AccentColourTable[i].blue}), accents[i]);
  }
  const char* scaleNames[] = {"Window 0.75x", "Window 1x", "Window 1.5x", "Window 2x"};
  const float scales[] = {0.75f, 1.0f, 1.5f, 2.0f};
  for (size_t i = 0; i < 4; ++i)
  {
    EXPECT_EQ(std::string(WindowScaleTable[i].name), scaleNames[i]);
    EXPECT_EQ(WindowScaleTable[i].scale, scales[i]);
  }
}

TEST(AccentColours, OutOfRangeIndexDrawsGreen)
{
  EXPECT_EQ(AccentRgbFor(7, 0xFF0000), (AccentRgb{21, 232, 121}));
  EXPECT_EQ(AccentRgbFor(-1, 0xFF0000), (AccentRgb{21, 232, 121}));
}

TEST(AccentColours, HostColourIsKeptWithinLuminanceRange)
{
  EXPECT_EQ(AccentRgbFor(5, 0x0A0A0A), (AccentRgb{47, 47, 47}));
  EXPECT_EQ(AccentRgbFor(5, 0xFFFFFF), (AccentRgb{200, 200, 200}));
  EXPECT_EQ(AccentRgbFor(5, 0x000000), (AccentRgb{21, 232, 121}));
  EXPECT_EQ(AccentRgbFor(5, -1), (AccentRgb{21, 232, 121}));
  // Mid luminance passes unchanged: Y(200, 50, 100) is about 85.
  EXPECT_EQ(AccentRgbFor(5, 0xC83264), (AccentRgb{200, 50, 100}));
  // Pure blue (Y about 18.4) is lifted, and its channel clamps at 255.
  EXPECT_EQ(AccentRgbFor(5, 0x0000FF), (AccentRgb{0, 0, 255}));
  // Dark red (Y about 21.3) is lifted by 47 / 21.26.
  EXPECT_EQ(AccentRgbFor(5, 0x640000), (AccentRgb{221, 0, 0}));
  // Pure green (Y about 182) stays.
  EXPECT_EQ(AccentRgbFor(5, 0x00FF00), (AccentRgb{0, 255, 0}));
}

TEST(AccentColours, ChannelColourNeedsAlpha)
{
  EXPECT_EQ(HostColourFromChannel(0xFF112233u), 0x112233);
  EXPECT_EQ(HostColourFromChannel(0x01000000u), 0x000000);
  EXPECT_EQ(HostColourFromChannel(0x00112233u), -1);
  EXPECT_EQ(HostColourFromChannel(0u), -1);
}

TEST(WindowScale, SizesAndScalesWithoutAWindow)
{
  auto half = EditorSizeForScale(0.5f);
  EXPECT_EQ(half.width, 360);
  EXPECT_EQ(half.height, 266);
  auto big = EditorSizeForScale(1.5f);
  EXPECT_EQ(big.width, 1080);
  EXPECT_EQ(big.height, 798);
  // A scale from a damaged preset asks for the largest window, not a wrapped-around size.
  auto huge = EditorSizeForScale(3.0e6f);
  EXPECT_EQ(huge.width, INT_MAX);
  EXPECT_GT(huge.height, 1000000000);
  EXPECT_FLOAT_EQ(UiScaleWithoutEditor(1080, 1.5f), 1.0f);
  EXPECT_FLOAT_EQ(UiScaleWithoutEditor(1080, 1.0f), 1.5f);
  EXPECT_FLOAT_EQ(UiScaleWithoutEditor(0, 2.0f), 1.0f);
  // A window 1079.9 pixels wide counts as 1079.
  EXPECT_FLOAT_EQ(UiScaleOfWindow(720.0f, 1.49986f), 1079.0f / 720.0f);
  EXPECT_FLOAT_EQ(UiScaleOfWindow(720.0f, 2.0f), 2.0f);
}

} // namespace
