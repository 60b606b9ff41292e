#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "IByteChunk.h"

using iplug::IByteChunk;

namespace
{

IByteChunk FromBytes(const std::vector<uint8_t>& bytes)
{
  IByteChunk c;
  c.PutBytes(bytes.data(), static_cast<int>(bytes.size()));
  return c;
}

TEST(IByteChunk, WritesLittleEndianValuesAndCountedStrings)
{
  IByteChunk c;
  const int32_t i = 0x01020304;
  const double d = 1.0;
  c.Put(&i);
  c.Put(&d);
  c.PutStr("ab");
  const std::vector<uint8_t> expected = {0x04, 0x03, 0x02, 0x01,                         // int32
                                         0, 0, 0, 0, 0, 0, 0xF0, 0x3F,                   // 1.0
                                         0x02, 0x00, 0x00, 0x00, 'a', 'b'};              // "ab"
  ASSERT_EQ(c.Size(), static_cast<int>(expected.size()));
  EXPECT_EQ(0, std::memcmp(c.GetData(), expected.data(), expected.size()));
}

TEST(IByteChunk, ReadsBackWhatWasWritten)
{
  IByteChunk c;
  const int32_t i = -7;
  const double d = -123.25;
  c.Put(&i);
  c.PutStr(std::string("h\xC3\xA9llo"));
  c.Put(&d);
  int32_t i2 = 0;
  std::string s;
  double d2 = 0.;
  int pos = c.Get(&i2, 0);
  pos = c.GetStr(s, pos);
  pos = c.Get(&d2, pos);
  EXPECT_EQ(i2, -7);
  EXPECT_EQ(s, "h\xC3\xA9llo");
  EXPECT_EQ(d2, -123.25);
  EXPECT_EQ(pos, c.Size());
}

TEST(IByteChunk, ReadsNeverPassTheEnd)
{
  const IByteChunk c = FromBytes({1, 2, 3});
  int32_t v = 42;
  EXPECT_EQ(c.Get(&v, 0), -1);
  EXPECT_EQ(v, 42); // untouched
  EXPECT_EQ(c.Get(&v, -1), -1);
  EXPECT_EQ(c.Get(&v, -4), -1);
  uint8_t b = 0;
  EXPECT_EQ(c.Get(&b, 2), 3);
  EXPECT_EQ(b, 3);
  EXPECT_EQ(c.Get(&b, 3), -1);
  // Positions near INT_MAX must not wrap around when the size is added.
  EXPECT_EQ(c.Get(&v, std::numeric_limits<int>::max() - 1), -1);
  EXPECT_EQ(c.GetBytes(&b, -1, 0), -1);

  const IByteChunk empty;
  EXPECT_EQ(empty.Get(&b, 0), -1);
}

TEST(IByteChunk, HostileStringLengths)
{
  std::string s = "keep";
  // Length past the end: empty string, failure.
  IByteChunk past = FromBytes({10, 0, 0, 0, 'a', 'b'});
  EXPECT_EQ(past.GetStr(s, 0), -1);
  EXPECT_EQ(s, "");

  // Huge length (0x7FFFFFFF): 64-bit arithmetic, no wrap, no allocation of the claimed size.
  IByteChunk huge = FromBytes({0xFF, 0xFF, 0xFF, 0x7F, 'a'});
  s = "keep";
  EXPECT_EQ(huge.GetStr(s, 0), -1);
  EXPECT_EQ(s, "");

  // Negative length: empty string, reading goes on after the count.
  IByteChunk negative = FromBytes({0xFF, 0xFF, 0xFF, 0xFF, 0x05, 0, 0, 0});
  s = "keep";
  EXPECT_EQ(negative.GetStr(s, 0), 4);
  EXPECT_EQ(s, "");

  // Zero length.
  IByteChunk zero = FromBytes({0, 0, 0, 0});
  EXPECT_EQ(zero.GetStr(s, 0), 4);
  EXPECT_EQ(s, "");

  // The count itself cut short.
  IByteChunk cut = FromBytes({2, 0});
  EXPECT_EQ(cut.GetStr(s, 0), -1);

  // Embedded NUL bytes are kept as data.
  IByteChunk nul = FromBytes({3, 0, 0, 0, 'a', 0, 'b'});
  EXPECT_EQ(nul.GetStr(s, 0), 7);
  EXPECT_EQ(s, std::string("a\0b", 3));

  WDL_String w;
  EXPECT_EQ(past.GetStr(w, 0), -1);
  EXPECT_STREQ(w.Get(), "");
}

TEST(IByteChunk, PutRefusesNegativeSizesAndResizeClamps)
{
  IByteChunk c;
  const uint8_t b = 1;
  EXPECT_EQ(c.PutBytes(&b, -5), 0);
  EXPECT_EQ(c.Size(), 0);
  EXPECT_EQ(c.PutBytes(&b, 1), 1);
  EXPECT_EQ(c.Resize(4), 4);
  EXPECT_EQ(c.GetData()[3], 0);
  EXPECT_EQ(c.Resize(-1), 0);
}

TEST(IByteChunk, HoldsUses64BitArithmetic)
{
  const IByteChunk c = FromBytes({1, 2, 3, 4});
  EXPECT_TRUE(c.Holds(0, 4));
  EXPECT_TRUE(c.Holds(4, 0));
  EXPECT_FALSE(c.Holds(1, 4));
  EXPECT_FALSE(c.Holds(0, -1));
  EXPECT_FALSE(c.Holds(2, std::numeric_limits<int64_t>::max()));
  EXPECT_FALSE(c.Holds(std::numeric_limits<int64_t>::max(), 1));
}

} // namespace

namespace
{

TEST(WDLString, FormattingIsCutToTheLimitOnACharacterBoundary)
{
  WDL_String s;
  s.SetFormatted(32, "#%d: %s", 3, "Vox");
  EXPECT_STREQ(s.Get(), "#3: Vox");
  s.SetFormatted(5, "#%d: %s", 12, "Vox");
  EXPECT_STREQ(s.Get(), "#12: ");
  // "#1: " + U+00E9 (2 bytes): a limit of 5 would split the character, so it goes whole.
  s.SetFormatted(5, "#%d: %s", 1, "\xC3\xA9");
  EXPECT_STREQ(s.Get(), "#1: ");
  s.SetFormatted(6, "#%d: %s", 1, "\xC3\xA9");
  EXPECT_STREQ(s.Get(), "#1: \xC3\xA9");
  s.SetFormatted(0, "%s", "abc");
  EXPECT_STREQ(s.Get(), "");
  EXPECT_EQ(s.GetLength(), 0);
}

} // namespace
