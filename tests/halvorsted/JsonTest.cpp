#include "halvorsted/json/Json.h"

#include <cmath>
#include <gtest/gtest.h>

using halvorsted::json::JsonValue;
using halvorsted::json::Parse;
using halvorsted::json::QuoteString;
using Kind = JsonValue::Kind;

namespace {

std::string Nested(int depth, const std::string& inner)
{
  return std::string(static_cast<size_t>(depth), '[') + inner + std::string(static_cast<size_t>(depth), ']');
}

std::optional<std::string> ParsedString(const std::string& literal)
{
  auto value = Parse(literal);
  if (!value || value->kind != Kind::String)
    return std::nullopt;
  return value->text;
}

} // namespace

TEST(JsonReader, AcceptsCompleteValuesWithSurroundingWhitespace)
{
  const std::pair<std::string, Kind> accepted[] = {
    {" {} ", Kind::Object}, {"[]", Kind::Array},   {"\t\r\n[ ]\n", Kind::Array}, {"\"\"", Kind::String},
    {"true", Kind::Bool},   {"false", Kind::Bool}, {"null", Kind::Null},         {"0", Kind::Number},
    {"-0", Kind::Number},   {"1.5e+3", Kind::Number}, {"2E-2", Kind::Number},    {"[1, {\"a\": [null]}]", Kind::Array},
  };
  for (const auto& [text, kind] : accepted)
  {
    auto value = Parse(text);
    ASSERT_TRUE(value.has_value()) << text;
    EXPECT_EQ(value->kind, kind) << text;
  }
  EXPECT_TRUE(Parse("true")->boolean);
  EXPECT_FALSE(Parse("false")->boolean);
}

TEST(JsonReader, RefusesMalformedTexts)
{
  const char* refused[] = {
    "", "   ", "[1,]", "{\"a\":1,}", "{,}", "[,1]", "{\"a\" 1}", "{1:2}", "{a:1}", "[1 2]", "[1", "{\"a\":1",
    "01", "1.", ".5", "+1", "-", "1e", "1e+", "0x10", "--1", "1.e5", "True", "nul", "truex", "nullnull", "[true false]",
    "{} {}", "// c\n1", "[1]/*x*/", "'a'", "\xEF\xBB\xBF{}", "\v1", "[1]\f", "NaN", "Infinity", "-Infinity",
  };
  for (const char* text : refused)
    EXPECT_FALSE(Parse(text).has_value()) << "accepted: " << text;
}

TEST(JsonReader, NumbersReadAsTheirDecimalValues)
{
  EXPECT_EQ(Parse("1.5e+3")->number, 1500.0);
  EXPECT_EQ(Parse("2E-2")->number, 0.02);
  EXPECT_EQ(Parse("-12.25")->number, -12.25);
  EXPECT_EQ(Parse("1700000000")->number, 1700000000.0);
  EXPECT_TRUE(std::signbit(Parse("-0")->number));
  // Out of range takes what the C library gives: infinity or zero.
  EXPECT_TRUE(std::isinf(Parse("1e400")->number));
  EXPECT_EQ(Parse("-1e-400")->number, 0.0);
}

TEST(JsonReader, NestingIsLimitedToEightLevelsBelowTheRoot)
{
  auto deepest = Parse(Nested(8, "1"));
  ASSERT_TRUE(deepest.has_value());
  const JsonValue* v = &*deepest;
  for (int i = 0; i < 8; ++i)
  {
    ASSERT_EQ(v->kind, Kind::Array);
    ASSERT_EQ(v->items.size(), 1u);
    v = &v->items[0];
  }
  EXPECT_EQ(v->number, 1.0);

  EXPECT_FALSE(Parse(Nested(9, "1")).has_value());
  EXPECT_TRUE(Parse(Nested(9, "")).has_value());
  EXPECT_FALSE(Parse(Nested(10, "")).has_value());
  EXPECT_TRUE(Parse(std::string(8, '[') + "{}" + std::string(8, ']')).has_value());
  EXPECT_FALSE(Parse(std::string(8, '[') + "{\"a\":0}" + std::string(8, ']')).has_value());
  // A hostile megabyte of brackets is refused, not recursed into.
  EXPECT_FALSE(Parse(std::string(1 << 20, '[')).has_value());
}

TEST(JsonReader, ObjectsKeepEveryMemberInOrderAndFindTakesTheFirst)
{
  auto value = Parse("{\"a\":1,\"b\":\"x\",\"a\":2}");
  ASSERT_TRUE(value.has_value());
  ASSERT_EQ(value->members.size(), 3u);
  EXPECT_EQ(value->members[0].first, "a");
  EXPECT_EQ(value->members[1].first, "b");
  EXPECT_EQ(value->members[2].second.number, 2.0);
  ASSERT_NE(value->Find("a"), nullptr);
  EXPECT_EQ(value->Find("a")->number, 1.0);
  EXPECT_EQ(value->Find("c"), nullptr);
  EXPECT_EQ(value->Find("A"), nullptr);

  // Keys compare as whole byte strings, zero bytes included.
  auto withZero = Parse("{\"k\\u0000x\":1,\"k\":2}");
  ASSERT_TRUE(withZero.has_value());
  EXPECT_EQ(withZero->Find("k")->number, 2.0);
  EXPECT_EQ(withZero->Find(std::string("k\0x", 3))->number, 1.0);

  for (const char* notObject : {"[\"a\"]", "\"a\"", "1", "null"})
    EXPECT_EQ(Parse(notObject)->Find("a"), nullptr) << notObject;
}

TEST(JsonReader, StringEscapesDecodeToUtf8Bytes)
{
  EXPECT_EQ(ParsedString(R"("\"\\\/\b\f\n\r\t")"), std::string("\"\\/\b\f\n\r\t"));
  EXPECT_EQ(ParsedString(R"("\u00e9")"), std::string("\xC3\xA9"));
  EXPECT_EQ(ParsedString(R"("\u20AC")"), std::string("\xE2\x82\xAC"));
  EXPECT_EQ(ParsedString(R"("\ud83d\ude00")"), std::string("\xF0\x9F\x98\x80"));
  EXPECT_EQ(ParsedString(R"("\uDBFF\uDFFF")"), std::string("\xF4\x8F\xBF\xBF"));
  EXPECT_EQ(ParsedString(R"("a\u0000b")"), std::string("a\0b", 3));
  EXPECT_EQ(ParsedString(R"("\u007f")"), std::string("\x7F"));
  EXPECT_EQ(ParsedString(R"("\u0080")"), std::string("\xC2\x80"));
  EXPECT_EQ(ParsedString("\"\xFF\xFE\""), std::string("\xFF\xFE"));
  EXPECT_EQ(ParsedString("\"caf\xC3\xA9\""), std::string("caf\xC3\xA9"));
}

TEST(JsonReader, RefusesBrokenStrings)
{
  const char* refused[] = {
    "\"\\ud83d\"", "\"\\ud83dx\"", "\"\\ud83d\\u0041\"", "\"\\ude00\"", "\"\\u12G4\"", "\"\\u12\"", "\"\\x41\"",
    "\"\\a\"", "\"abc", "\"abc\\", "\"abc\\\"", "\"", "\"\\ud83d\\", "\"\\ud83d\\u12\"",
  };
  for (const char* text : refused)
    EXPECT_FALSE(Parse(text).has_value()) << text;

  for (char raw = 0; raw < 0x20; ++raw)
    EXPECT_FALSE(Parse(std::string("\"a") + raw + "b\"").has_value()) << int(raw);
  EXPECT_TRUE(Parse("\"a\\tb\\nc\"").has_value());
}

TEST(JsonWriter, QuoteStringEscapesOnlyWhatJsonNeeds)
{
  EXPECT_EQ(QuoteString(std::string("a\x01\"/\n", 5)), "\"a\\u0001\\\"/\\n\"");
  EXPECT_EQ(QuoteString(""), "\"\"");
  EXPECT_EQ(QuoteString("\\\r\t\b\f\x1F"), "\"\\\\\\r\\t\\u0008\\u000c\\u001f\"");
  EXPECT_EQ(QuoteString(std::string("\0", 1)), "\"\\u0000\"");
  EXPECT_EQ(QuoteString("\x7F\xFF\xC3\xA9"), "\"\x7F\xFF\xC3\xA9\"");
}

TEST(JsonWriter, EveryByteRoundTripsThroughTheReader)
{
  std::string all;
  for (int b = 0; b < 256; ++b)
    all.push_back(static_cast<char>(b));
  EXPECT_EQ(ParsedString(QuoteString(all)), all);
}
