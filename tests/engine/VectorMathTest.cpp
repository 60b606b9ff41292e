#include "VectorMath.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

using namespace morvellan;

namespace {

// Distance in units in the last place between a result and the C library's (itself within one unit
// of the true value for these functions).
double UlpsFrom(double value, double libm)
{
  const double ulp = std::nextafter(std::fabs(libm), INFINITY) - std::fabs(libm);
  return std::fabs(value - libm) / ulp;
}

bool SameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

} // namespace

TEST(VectorMath, Log10AndExp10StayWithinAFewUnitsOfTheLibrary)
{
  double worstLog = 0.0, worstExp = 0.0;
  std::uint64_t s = 1;
  for (int i = 0; i < 200000; ++i)
  {
    s = s * 6364136223846793005ull + 1442695040888963407ull;
    const double u = double(s >> 11) / 9007199254740992.0;
    // Band powers from 1e-30 (the floor) to well above full scale, and the dB/10 the engine raises.
    const double x = std::pow(10.0, -31.0 + 36.0 * u);
    worstLog = std::max(worstLog, UlpsFrom(Log10(x), std::log10(x)));
    const double y = -32.0 + 38.0 * u;
    worstExp = std::max(worstExp, UlpsFrom(Exp10(y), std::pow(10.0, y)));
  }
  EXPECT_LT(worstLog, 4.0);
  EXPECT_LT(worstExp, 4.0);
  // Exact powers of ten come out exact, or nearly.
  EXPECT_EQ(Log10(1.0), 0.0);
  EXPECT_EQ(Log10(1000.0), 3.0);
  EXPECT_EQ(Log10(1e-30), -30.0);
  EXPECT_EQ(Exp10(0.0), 1.0);
  EXPECT_DOUBLE_EQ(Exp10(2.0), 100.0);
}

TEST(VectorMath, EdgesFollowTheLibrary)
{
  const double inf = std::numeric_limits<double>::infinity();
  EXPECT_EQ(Log10(0.0), -inf);
  EXPECT_EQ(Log10(inf), inf);
  EXPECT_TRUE(std::isnan(Log10(-1.0)));
  EXPECT_TRUE(std::isnan(Log10(std::nan(""))));
  EXPECT_NEAR(Log10(4.9406564584124654e-324), -323.3062153431158, 1e-12); // smallest subnormal
  EXPECT_EQ(Exp10(-inf), 0.0);
  EXPECT_EQ(Exp10(-400.0), 0.0);
  EXPECT_EQ(Exp10(inf), inf);
  EXPECT_EQ(Exp10(400.0), inf);
  EXPECT_TRUE(std::isnan(Exp10(std::nan(""))));
  EXPECT_GT(Exp10(-320.0), 0.0); // subnormal, not flushed
  EXPECT_NEAR(Exp10(-320.0) / 1e-320, 1.0, 1e-3);
}

TEST(VectorMath, BatchesGiveTheBitsOfTheOneValueForm)
{
  std::array<double, 16> powers;
  std::array<double, 12> levels;
  for (int i = 0; i < 16; ++i)
    powers[std::size_t(i)] = std::pow(3.7, i - 9) + 1e-30;
  for (int i = 0; i < 12; ++i)
    levels[std::size_t(i)] = -7.3 + 0.61 * i;
  std::array<double, 16> logs;
  std::array<double, 12> exps, logs12;
  Log10AndExp10Batch(powers, logs, levels, exps);
  std::array<double, 12> first12;
  std::copy(powers.begin(), powers.begin() + 12, first12.begin());
  Log10Batch(first12, logs12);
  for (int i = 0; i < 16; ++i)
    EXPECT_TRUE(SameBits(logs[std::size_t(i)], Log10(powers[std::size_t(i)]))) << i;
  for (int i = 0; i < 12; ++i)
  {
    EXPECT_TRUE(SameBits(exps[std::size_t(i)], Exp10(levels[std::size_t(i)]))) << i;
    EXPECT_TRUE(SameBits(logs12[std::size_t(i)], Log10(powers[std::size_t(i)]))) << i;
  }
}
