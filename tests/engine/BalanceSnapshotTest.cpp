#include "AnalysisPublisher.h"
#include "BalanceSnapshot.h"
#include "EngineHarness.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using namespace morvellan;
using namespace morvellan::test;

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

TEST(TargetHandOver, TakeOnlyWhatWasOfferedOnce)
{
  TargetHandOver handOver;
  BalanceCopy copy;
  EXPECT_FALSE(handOver.Pending());
  EXPECT_FALSE(handOver.Take(copy));
  handOver.Offer(Filled(3), Filled(-3), true);
  EXPECT_TRUE(handOver.Pending());
  ASSERT_TRUE(handOver.Take(copy));
  EXPECT_TRUE(Consistent(copy));
  EXPECT_FALSE(handOver.Pending());
  EXPECT_FALSE(handOver.Take(copy));
  ASSERT_TRUE(handOver.TryPeek(copy));
  EXPECT_EQ(copy.relative[5], 3.0);
}

// The audio side polls while the other side offers; every taken copy is whole, and the last offer
// is never lost (a torn read re-arms the pending byte).
TEST(TargetHandOver, ConcurrentOffersAreTakenWholeAndTheLastOneArrives)
{
  TargetHandOver handOver;
  constexpr int kOffers = 20000;
  std::atomic<bool> done{false};
  long taken = 0, torn = 0;
  double last = -1;
  std::thread audio([&] {
    BalanceCopy copy;
    for (;;)
    {
      const bool finished = done.load();
      if (handOver.Take(copy))
      {
        ++taken;
        if (!Consistent(copy))
          ++torn;
        last = copy.relative[0];
      }
      else if (finished && !handOver.Pending())
        break;
    }
  });
  for (int i = 1; i <= kOffers; ++i)
    handOver.Offer(Filled(i), Filled(-i), i % 2 == 1);
  done = true;
  audio.join();
  EXPECT_EQ(torn, 0);
  EXPECT_GT(taken, 0);
  EXPECT_EQ(last, static_cast<double>(kOffers));
}

class AnalysisPublisherTest : public ::testing::Test
{
protected:
  void SetUp() override
  {
    ToneEngineSettings s;
    s.thresholdDb = -60.0;
    engine.ApplySettings(s);
    engine.Prepare(8000.0); // few steps to a completed learn: 750
  }
  void Block(std::size_t frames = 800)
  {
    RunEngine(engine, {PinkNoise(frames, 0.3, seed++)}, {static_cast<int>(frames)});
    publisher.Publish(engine);
  }
  ToneEngine engine;
  AnalysisPublisher publisher;
  std::uint64_t seed = 1;
};

TEST_F(AnalysisPublisherTest, CompletedLearnPublishesTheEventAndTheTargetTogether)
{
  engine.StartLearning();
  int blocks = 0;
  while (engine.learning && blocks < 100)
  {
    Block();
    ++blocks;
    if (engine.learning)
    {
      EXPECT_FALSE(publisher.TakeLearnFinished());
      EXPECT_LT(publisher.LearnProgress(), 1.0f);
    }
  }
  ASSERT_FALSE(engine.learning);
  EXPECT_TRUE(publisher.TakeLearnFinished());
  EXPECT_FALSE(publisher.TakeLearnFinished()); // taken once
  EXPECT_EQ(publisher.LearnProgress(), 1.0f);
  BalanceCopy copy;
  ASSERT_TRUE(publisher.LearnedTarget().TryRead(copy));
  EXPECT_TRUE(copy.valid);
  EXPECT_EQ(copy.absolute, engine.targetAbsolute);
  EXPECT_EQ(copy.relative, engine.targetRelative);
  EXPECT_EQ(publisher.BandGainDb(3), static_cast<float>(engine.designedGainDb[3]));
  EXPECT_EQ(publisher.BandLevelDb(3), static_cast<float>(10.0 * std::log10(engine.bandPower[3] + 1e-30)));
}

// Cancels, host resets and restored targets end learning too; none of them is a finished learn,
// even when a target from before is present.
TEST_F(AnalysisPublisherTest, LearningThatEndsAnyOtherWayIsNoCompletedLearn)
{
  engine.SetTargetBalance(Filled(1.0));
  publisher.MarkTargetsChanged();

  engine.StartLearning();
  Block();
  engine.StopLearning();
  Block();
  EXPECT_FALSE(publisher.TakeLearnFinished());

  engine.StartLearning();
  Block();
  engine.Prepare(8000.0);
  Block();
  EXPECT_FALSE(publisher.TakeLearnFinished());

  engine.StartLearning();
  Block();
  engine.RestoreTarget(Filled(2.0), Filled(3.0));
  publisher.MarkTargetsChanged();
  Block();
  EXPECT_FALSE(publisher.TakeLearnFinished());
  BalanceCopy copy;
  ASSERT_TRUE(publisher.LearnedTarget().TryRead(copy));
  EXPECT_EQ(copy.absolute, Filled(3.0));
  EXPECT_TRUE(copy.valid);
}

TEST_F(AnalysisPublisherTest, ClearingTheTargetRepublishesItAsEmpty)
{
  engine.SetTargetBalance(Filled(2.0));
  Block();
  BalanceCopy copy;
  ASSERT_TRUE(publisher.LearnedTarget().TryRead(copy));
  EXPECT_TRUE(copy.valid);
  const std::uint32_t sequence = publisher.LearnedTarget().Sequence();
  Block();
  EXPECT_EQ(publisher.LearnedTarget().Sequence(), sequence); // unchanged targets are not rewritten
  engine.ClearLearnedTarget();
  Block();
  ASSERT_TRUE(publisher.LearnedTarget().TryRead(copy));
  EXPECT_FALSE(copy.valid);
  EXPECT_EQ(copy.relative, BandBalance{});
  EXPECT_EQ(copy.absolute, BandBalance{});
}
