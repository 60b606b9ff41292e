#include "BalanceSnapshot.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using namespace morvellan;

namespace {

BandBalance Filled(double v)
{
  BandBalance b;
  b.fill(v);
  return b;
}

// A copy is consistent when every value carries the same stamp and valid matches its parity.
bool Consistent(const BalanceCopy& c)
{
  const double stamp = c.relative[0];
  for (int k = 0; k < kNumBands; ++k)
    if (c.relative[k] != stamp || c.absolute[k] != -stamp)
      return false;
  return c.valid == (static_cast<long>(stamp) % 2 == 1);
}

} // namespace

TEST(BalanceSnapshot, FreshRecordReadsEmptyAndWritesRoundTrip)
{
  BalanceSnapshot snapshot;
  BalanceCopy copy;
  copy.valid = true;
  ASSERT_TRUE(snapshot.TryRead(copy));
  EXPECT_FALSE(copy.valid);
  EXPECT_EQ(copy.relative, BandBalance{});
  EXPECT_EQ(snapshot.Sequence(), 0u);

  BandBalance rel{}, abs{};
  for (int k = 0; k < kNumBands; ++k)
  {
    rel[k] = k * 0.5;
    abs[k] = -k;
  }
  EXPECT_TRUE(snapshot.TryWrite(rel, abs, true));
  EXPECT_EQ(snapshot.Sequence(), 2u);
  ASSERT_TRUE(snapshot.TryRead(copy));
  EXPECT_EQ(copy.relative, rel);
  EXPECT_EQ(copy.absolute, abs);
  EXPECT_TRUE(copy.valid);
}

// Two writers at once and several readers: writes never overlap and no torn copy is accepted.
TEST(BalanceSnapshot, ConcurrentWritersAndReadersNeverSeeATornCopy)
{
  BalanceSnapshot snapshot;
  snapshot.Write(Filled(0), Filled(-0.0), false);
  constexpr int kWrites = 20000;
  std::atomic<bool> done{false};
  std::atomic<long> accepted{0}, torn{0};
  auto writer = [&](int parity) {
    for (int i = 0; i < kWrites; ++i)
    {
      const double stamp = 2.0 * i + parity;
      snapshot.Write(Filled(stamp), Filled(-stamp), parity == 1);
    }
  };
  auto reader = [&] {
    BalanceCopy copy;
    while (!done.load())
      if (snapshot.TryRead(copy))
      {
        ++accepted;
        if (!Consistent(copy))
          ++torn;
      }
  };
  std::thread r1(reader), r2(reader), w1(writer, 0), w2(writer, 1);
  w1.join();
  w2.join();
  done = true;
  r1.join();
  r2.join();
  EXPECT_EQ(torn.load(), 0);
  EXPECT_GT(accepted.load(), 0);
  EXPECT_EQ(snapshot.Sequence(), 2u * (2 * kWrites + 1));
}
