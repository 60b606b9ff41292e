#include "ToneEngine.h"
#include "VectorMath.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>

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

// The control step runs the routine on the widest vectors this processor has, eight lanes where
// there is AVX-512 (with idle lanes and two rows sharing one vector): each band's level must still
// be the one-value form's bits.
TEST(VectorMath, ControlStepLevelsHaveTheBitsOfTheOneValueForm)
{
  auto engine = std::make_unique<ToneEngine>();
  engine->Prepare(48000.0);
  ToneEngine::Row delayed{};
  for (int k = 0; k < kNumBands; ++k)
  {
    engine->bandPower[std::size_t(k)] = std::pow(3.7, k - 9);
    delayed[std::size_t(k)] = std::pow(2.3, 6 - k);
  }
  engine->powerHistory.fill(delayed);
  engine->inputPower = 1.0;
  engine->aboveCount = engine->lookback + engine->guard; // the averages' levels come from the same call
  engine->ControlStep();
  const BandBalance balance = ComputeBalance(engine->smoothedBandPower, engine->bandEnabled);
  for (int k = 0; k < kNumBands; ++k)
  {
    const std::size_t i = std::size_t(k);
    const double level = std::fma(10.0, Log10(engine->bandPower[i] + 1e-30), -engine->bandCalibrationDb[i]);
    EXPECT_TRUE(SameBits(engine->latestBandDb[i], level)) << k;
    EXPECT_TRUE(SameBits(engine->measuredBalance[i], balance[i])) << k;
  }
}
