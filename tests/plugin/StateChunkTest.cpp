#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "ChunkBytes.h"
#include "StateChunk.h"

using namespace morvellan::state;

namespace {

std::int32_t I32At(const std::vector<std::uint8_t>& b, std::size_t at)
{
  std::uint32_t u = 0;
  for (int i = 0; i < 4; ++i)
    u |= std::uint32_t(b.at(at + i)) << (8 * i);
  return std::int32_t(u);
}

double F64At(const std::vector<std::uint8_t>& b, std::size_t at)
{
  std::uint64_t u = 0;
  for (int i = 0; i < 8; ++i)
    u |= std::uint64_t(b.at(at + i)) << (8 * i);
  double v;
  std::memcpy(&v, &u, 8);
  return v;
}

SavedState SampleState()
{
  SavedState s;
  s.accent = 4;
  s.editorWidth = 1080;
  s.editorHeight = 798;
  s.hasTarget = true;
  for (int k = 0; k < 12; ++k)
  {
    s.relative[k] = 0.25 * k - 1.0;
    s.absolute[k] = -30.0 + k;
  }
  s.sourceName = "mix.wav";
  for (int i = 0; i < kNumParams; ++i)
    s.params[i] = 100.0 + i;
  s.hostBypass = true;
  s.presetName = "Vocal \xC3\xA9t\xC3\xA9";
  s.modified = true;
  return s;
}

RestoredState Read(const std::vector<std::uint8_t>& b, ReadOutcome want = ReadOutcome::kRestored, int start = 0)
{
  RestoredState r;
  EXPECT_EQ(ReadStateChunk(b, start, r), want);
  return r;
}

} // namespace

TEST(StateChunkWriter, LaysOutEveryFieldAtItsOffset)
{
  const SavedState s = SampleState();
  std::vector<std::uint8_t> b;
  WriteStateChunk(b, s);
  const std::size_t S = s.sourceName.size(), P = s.presetName.size();
  ASSERT_EQ(b.size(), 608 + S + P);

  EXPECT_EQ(std::string(b.begin(), b.begin() + 4), "1SVM");
  EXPECT_EQ(I32At(b, 4), 5);
  EXPECT_EQ(I32At(b, 8), 4);
  EXPECT_EQ(I32At(b, 12), 1080);
  EXPECT_EQ(I32At(b, 16), 798);
  EXPECT_EQ(I32At(b, 20), 1);
  for (int k = 0; k < 12; ++k)
    EXPECT_EQ(F64At(b, 24 + 8 * k), 0.25 * k - 1.0);
  EXPECT_EQ(I32At(b, 120), int(S));
  EXPECT_EQ(std::string(b.begin() + 124, b.begin() + 124 + S), "mix.wav");
  for (int i = 0; i < 24; ++i)
    EXPECT_EQ(F64At(b, 124 + S + 8 * i), 100.0 + i);
  for (int k = 0; k < 12; ++k)
    EXPECT_EQ(F64At(b, 316 + S + 8 * k), -30.0 + k);
  EXPECT_EQ(I32At(b, 412 + S), 1);
  EXPECT_EQ(I32At(b, 416 + S), 22);
  for (int i = 0; i < 22; ++i)
    EXPECT_EQ(F64At(b, 420 + S + 8 * i), 124.0 + i);
  EXPECT_EQ(I32At(b, 596 + S), 1);
  EXPECT_EQ(I32At(b, 600 + S), int(P));
  EXPECT_EQ(std::string(b.begin() + 604 + S, b.begin() + 604 + S + P), s.presetName);
  EXPECT_EQ(I32At(b, 604 + S + P), 1);
}

TEST(StateChunkWriter, RoundTripRestoresEverything)
{
  const SavedState s = SampleState();
  std::vector<std::uint8_t> b(7, 0xAB); // the host's own data may come first
  WriteStateChunk(b, s);
  const RestoredState r = Read(b, ReadOutcome::kRestored, 7);
  EXPECT_EQ(r.version, 5);
  EXPECT_EQ(r.accent, 4);
  EXPECT_EQ(r.editorWidth, 1080);
  EXPECT_EQ(r.editorHeight, 798);
  EXPECT_TRUE(r.hasTarget);
  EXPECT_EQ(r.relative, s.relative);
  EXPECT_EQ(r.absolute, s.absolute);
  EXPECT_EQ(r.sourceName, "mix.wav");
  EXPECT_EQ(r.headCount, 24);
  EXPECT_EQ(r.tailCount, 22);
  EXPECT_EQ(r.params, s.params);
  EXPECT_EQ(r.presetName, s.presetName);
  EXPECT_TRUE(r.modified);
  EXPECT_EQ(r.endPos, int(b.size()));

  // Writing what was read gives the same bytes again.
  SavedState again = s;
  again.params = r.params;
  std::vector<std::uint8_t> b2(7, 0xAB);
  WriteStateChunk(b2, again);
  EXPECT_EQ(b2, b);
}

TEST(StateChunkReader, ReadsEveryOlderVersion)
{
  // Version 1: no name, no absolute run, no tail.
  {
    Bytes c;
    c.Header(1).F64s(24, 1.0);
    const RestoredState r = Read(c.b);
    EXPECT_EQ(r.version, 1);
    EXPECT_TRUE(r.hasTarget);
    EXPECT_EQ(r.sourceName, "");
    EXPECT_EQ(r.absolute, r.relative);
    EXPECT_EQ(r.relative[11], -6.0 + 11);
    EXPECT_EQ(r.headCount, 24);
    EXPECT_EQ(r.tailCount, 0);
    EXPECT_EQ(r.params[23], 24.0);
    EXPECT_EQ(r.endPos, int(c.b.size()));
  }
  // Version 2 adds the name.
  {
    Bytes c;
    c.Header(2).Str("ref.flac").F64s(24, 1.0);
    const RestoredState r = Read(c.b);
    EXPECT_EQ(r.sourceName, "ref.flac");
    EXPECT_EQ(r.absolute, r.relative);
    EXPECT_EQ(r.endPos, int(c.b.size()));
  }
  // Version 3 adds the absolute run.
  {
    Bytes c;
    c.Header(3).Str("ref.flac").F64s(24, 1.0).F64s(12, -40.0);
    const RestoredState r = Read(c.b);
    EXPECT_EQ(r.absolute[0], -40.0);
    EXPECT_EQ(r.absolute[11], -29.0);
    EXPECT_EQ(r.tailCount, 0);
    EXPECT_EQ(r.endPos, int(c.b.size()));
  }
  // Version 4 with exactly the tail this build knows; no preset name.
  {
    Bytes c;
    c.Header(4).Str("").F64s(24, 1.0).F64s(12, -40.0).I32(0).I32(22).F64s(22, 25.0);
    const RestoredState r = Read(c.b);
    EXPECT_EQ(r.tailCount, 22);
    EXPECT_EQ(r.params[45], 46.0);
    EXPECT_EQ(r.presetName, "");
    EXPECT_FALSE(r.modified);
    EXPECT_EQ(r.endPos, int(c.b.size()));
  }
  // Versions beyond the newest read as the newest; below 1 as the oldest.
  {
    Bytes c;
    c.Header(9).Str("x").F64s(24, 1.0).F64s(12, 0.0).I32(1).I32(22).F64s(22, 25.0).I32(1).Str("P").I32(0);
    const RestoredState r = Read(c.b);
    EXPECT_EQ(r.presetName, "P");
    EXPECT_EQ(r.endPos, int(c.b.size()));
    Bytes d;
    d.Header(-3).F64s(24, 1.0);
    EXPECT_EQ(Read(d.b).endPos, int(d.b.size()));
  }
}

TEST(StateChunkReader, TailCountsOtherThanOursAreBounded)
{
  auto chunkWithCount = [](std::int32_t count, int valuesPresent) {
    Bytes c;
    c.Header(4).Str("").F64s(24, 1.0).F64s(12, 0.0).I32(0).I32(count).F64s(valuesPresent, 500.0);
    return c.b;
  };
  // More values than we have parameters: the extra ones are skipped.
  {
    const auto b = chunkWithCount(30, 30);
    const RestoredState r = Read(b);
    EXPECT_EQ(r.tailCount, 22);
    EXPECT_EQ(r.params[45], 521.0);
    EXPECT_EQ(r.endPos, int(b.size()));
  }
  // Fewer: the rest is left to take defaults.
  {
    const auto b = chunkWithCount(10, 10);
    const RestoredState r = Read(b);
    EXPECT_EQ(r.tailCount, 10);
    EXPECT_EQ(r.params[33], 509.0);
    EXPECT_EQ(r.endPos, int(b.size()));
  }
  // Zero or a negative count: no values, and the preset name and mark after it are read.
  for (std::int32_t none : {0, -5, INT_MIN})
  {
    Bytes c;
    c.Header(5).Str("").F64s(24, 1.0).F64s(12, 0.0).I32(0).I32(none).I32(0).Str("P").I32(1);
    const RestoredState r = Read(c.b);
    EXPECT_EQ(r.tailCount, 0) << none;
    EXPECT_EQ(r.presetName, "P") << none;
    EXPECT_TRUE(r.modified) << none;
    EXPECT_EQ(r.endPos, int(c.b.size())) << none;
  }
  // Huge counts neither loop nor read past the end.
  for (std::int32_t huge : {INT_MAX, INT_MAX / 8 + 1, 23})
  {
    const auto b = chunkWithCount(huge, 22);
    const RestoredState r = Read(b);
    EXPECT_EQ(r.tailCount, 22) << huge;
    EXPECT_EQ(r.endPos, -1) << huge;
    EXPECT_EQ(r.headCount, 24);
  }
}

TEST(StateChunkReader, HostileStringLengthsStopTheRead)
{
  // The source name in the header: any damage rejects the whole chunk.
  for (std::int32_t len : {-1, INT_MIN, INT_MAX, 1000})
  {
    Bytes c;
    c.Header(5).I32(len).F64s(60, 1.0);
    EXPECT_EQ(Read(c.b, ReadOutcome::kRejected).endPos, -1) << len;
  }
  // The preset name: dropped with its mark, the rest is restored.
  for (std::int32_t len : {-1, INT_MIN, INT_MAX, 5})
  {
    Bytes c;
    c.Header(5).Str("n").F64s(24, 1.0).F64s(12, 0.0).I32(0).I32(22).F64s(22, 25.0).I32(0).I32(len).I32(1);
    const RestoredState r = Read(c.b);
    EXPECT_EQ(r.presetName, "") << len;
    EXPECT_FALSE(r.modified) << len;
    EXPECT_EQ(r.tailCount, 22);
    EXPECT_EQ(r.endPos, -1);
  }
}

TEST(StateChunkReader, EveryTruncationIsHandled)
{
  std::vector<std::uint8_t> full;
  WriteStateChunk(full, SampleState());
  const std::size_t headerEnd = 124 + 7; // magic .. source name
  for (std::size_t n = 0; n < full.size(); ++n)
  {
    // An exact-size copy lets the sanitizer catch any read past the end.
    const std::vector<std::uint8_t> cut(full.begin(), full.begin() + n);
    RestoredState r;
    const ReadOutcome o = ReadStateChunk(cut, 0, r);
    if (n < headerEnd)
    {
      EXPECT_EQ(o, ReadOutcome::kRejected) << n;
      continue;
    }
    ASSERT_EQ(o, ReadOutcome::kRestored) << n;
    EXPECT_EQ(r.endPos, -1) << n;
    EXPECT_TRUE(r.hasTarget);
    EXPECT_EQ(r.sourceName, "mix.wav");
    EXPECT_EQ(r.accent, 4);
    const int head = int(std::min<std::size_t>(24, (n - headerEnd) / 8));
    EXPECT_EQ(r.headCount, head) << n;
    for (int i = 0; i < head; ++i)
      EXPECT_EQ(r.params[i], 100.0 + i);
    if (n < headerEnd + 192 + 96)
    {
      EXPECT_EQ(r.absolute, r.relative) << n;
    }
    EXPECT_EQ(r.presetName, "") << n;
    EXPECT_FALSE(r.modified) << n;
  }
}

TEST(StateChunkReader, NonFiniteTargetsAreNotRestored)
{
  const double bad[] = {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(),
                        -std::numeric_limits<double>::infinity()};
  for (double v : bad)
  {
    SavedState s = SampleState();
    s.relative[5] = v;
    std::vector<std::uint8_t> b;
    WriteStateChunk(b, s);
    RestoredState r = Read(b);
    EXPECT_FALSE(r.hasTarget);
    EXPECT_EQ(r.sourceName, "");
    for (int k = 0; k < 12; ++k)
      EXPECT_TRUE(std::isfinite(r.relative[k]) && std::isfinite(r.absolute[k]));
    // The rest of the state is still there.
    EXPECT_EQ(r.presetName, s.presetName);

    s = SampleState();
    s.absolute[0] = v;
    b.clear();
    WriteStateChunk(b, s);
    r = Read(b);
    EXPECT_FALSE(r.hasTarget);
    EXPECT_TRUE(std::isfinite(r.absolute[0]));
  }
}

TEST(StateChunkReader, StartsThatAreNotOursAreRecognised)
{
  EXPECT_EQ(Read({}, ReadOutcome::kRejected).endPos, -1);
  Read({'1', 'S', 'V'}, ReadOutcome::kRejected);
  std::vector<std::uint8_t> good;
  WriteStateChunk(good, SampleState());
  Read(good, ReadOutcome::kRejected, -1);
  Read(good, ReadOutcome::kRejected, int(good.size()) - 3);
  // The magic with nothing after it is damaged, not plain.
  Read({'1', 'S', 'V', 'M'}, ReadOutcome::kRejected);

  // Anything else is a plain run of parameter values.
  Bytes plain;
  plain.F64s(46, 3.0);
  Read(plain.b, ReadOutcome::kPlain);
  Read({'M', 'V', 'S', '1', 5, 0, 0, 0}, ReadOutcome::kPlain);
}
