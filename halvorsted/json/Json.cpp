#include "halvorsted/json/Json.h"

#include <cstdlib>
#include <locale.h>

#include "ClassicLocale.h"

namespace halvorsted::json {

namespace {

constexpr int kMaxDepth = 8;

struct Cursor
{
  const std::string* text = nullptr;
  size_t index = 0;
};

bool ParseValue(Cursor& cursor, JsonValue& out, int depth);
void SkipWhitespace(Cursor& cursor);
bool ParseString(Cursor& cursor, std::string& out);

bool AtEnd(const Cursor& c)
{
  return c.index >= c.text->size();
}

char Current(const Cursor& c)
{
  return (*c.text)[c.index];
}

// Signed comparison on purpose: bytes 0x80 and above are never digits.
bool IsDigit(char c)
{
  return c >= '0' && c <= '9';
}

int HexValue(char c)
{
  if (c >= '0' && c <= '9')
    return c - '0';
  if (c >= 'a' && c <= 'f')
    return c - 'a' + 10;
  if (c >= 'A' && c <= 'F')
    return c - 'A' + 10;
  return -1;
}

bool ReadHex4(Cursor& c, uint32_t& unit)
{
  if (c.text->size() - c.index < 4)
    return false;
  unit = 0;
  for (int i = 0; i < 4; ++i)
  {
    int v = HexValue(Current(c));
    if (v < 0)
      return false;
    unit = (unit << 4) | static_cast<uint32_t>(v);
    ++c.index;
  }
  return true;
}

void AppendUtf8(std::string& out, uint32_t cp)
{
  if (cp < 0x80)
  {
    out.push_back(static_cast<char>(cp));
  }
  else if (cp < 0x800)
  {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
  else if (cp < 0x10000)
  {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
  else
  {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

bool MatchLiteral(Cursor& c, const char* word)
{
  for (const char* p = word; *p != '\0'; ++p)
  {
    if (AtEnd(c) || Current(c) != *p)
      return false;
    ++c.index;
  }
  return true;
}

// The host may have switched the global locale to one with a decimal comma.
double ToDoubleClassic(const std::string& slice)
{
  const locale_t classic = iplug::ClassicLocale();
  if (classic == static_cast<locale_t>(nullptr))
    return std::strtod(slice.c_str(), nullptr);
  return strtod_l(slice.c_str(), nullptr, classic);
}

bool SkipDigits(Cursor& c)
{
  if (AtEnd(c) || !IsDigit(Current(c)))
    return false;
  while (!AtEnd(c) && IsDigit(Current(c)))
    ++c.index;
  return true;
}

bool ParseNumber(Cursor& c, JsonValue& out)
{
  const size_t start = c.index;
  if (Current(c) == '-')
    ++c.index;
  if (AtEnd(c) || !IsDigit(Current(c)))
    return false;
  if (Current(c) == '0')
    ++c.index;
  else
    SkipDigits(c);
  if (!AtEnd(c) && Current(c) == '.')
  {
    ++c.index;
    if (!SkipDigits(c))
      return false;
  }
  if (!AtEnd(c) && (Current(c) == 'e' || Current(c) == 'E'))
  {
    ++c.index;
    if (!AtEnd(c) && (Current(c) == '+' || Current(c) == '-'))
      ++c.index;
    if (!SkipDigits(c))
      return false;
  }
  out.kind = JsonValue::Kind::Number;
  out.number = ToDoubleClassic(c.text->substr(start, c.index - start));
  return true;
}

bool ParseObject(Cursor& c, JsonValue& out, int depth)
{
  out.kind = JsonValue::Kind::Object;
  ++c.index;
  SkipWhitespace(c);
  if (!AtEnd(c) && Current(c) == '}')
  {
    ++c.index;
    return true;
  }
  for (;;)
  {
    SkipWhitespace(c);
    std::string key;
    if (!ParseString(c, key))
      return false;
    SkipWhitespace(c);
    if (AtEnd(c) || Current(c) != ':')
      return false;
    ++c.index;
    JsonValue value;
    if (!ParseValue(c, value, depth + 1))
      return false;
    out.members.emplace_back(std::move(key), std::move(value));
    SkipWhitespace(c);
    if (AtEnd(c))
      return false;
    const char next = Current(c);
    ++c.index;
    if (next == '}')
      return true;
    if (next != ',')
      return false;
  }
}

bool ParseArray(Cursor& c, JsonValue& out, int depth)
{
  out.kind = JsonValue::Kind::Array;
  ++c.index;
  SkipWhitespace(c);
  if (!AtEnd(c) && Current(c) == ']')
  {
    ++c.index;
    return true;
  }
  for (;;)
  {
    JsonValue item;
    if (!ParseValue(c, item, depth + 1))
      return false;
    out.items.push_back(std::move(item));
    SkipWhitespace(c);
    if (AtEnd(c))
      return false;
    const char next = Current(c);
    ++c.index;
    if (next == ']')
      return true;
    if (next != ',')
      return false;
  }
}

void SkipWhitespace(Cursor& cursor)
{
  while (!AtEnd(cursor))
  {
    const char b = Current(cursor);
    if (b != ' ' && b != '\t' && b != '\n' && b != '\r')
      return;
    ++cursor.index;
  }
}

bool ParseString(Cursor& c, std::string& out)
{
  if (AtEnd(c) || Current(c) != '"')
    return false;
  ++c.index;
  if (AtEnd(c))
    return false;
  for (;;)
  {
    const auto b = static_cast<unsigned char>(Current(c));
    ++c.index;
    if (b == '"')
      return true;
    if (b < 0x20)
      return false;
    if (b == '\\')
    {
      if (AtEnd(c))
        return false;
      const char e = Current(c);
      ++c.index;
      switch (e)
      {
        case '"': out.push_back('"'); break;
        case '\\': out.push_back('\\'); break;
        case '/': out.push_back('/'); break;
        case 'b': out.push_back('\b'); break;
        case 'f': out.push_back('\f'); break;
        case 'n': out.push_back('\n'); break;
        case 'r': out.push_back('\r'); break;
        case 't': out.push_back('\t'); break;
        case 'u':
        {
          uint32_t unit = 0;
          if (!ReadHex4(c, unit))
            return false;
          uint32_t cp = unit;
          if (unit >= 0xD800 && unit <= 0xDBFF)
          {
            if (c.text->size() - c.index < 2 || Current(c) != '\\' || (*c.text)[c.index + 1] != 'u')
              return false;
            c.index += 2;
            uint32_t lo = 0;
            if (!ReadHex4(c, lo) || lo < 0xDC00 || lo > 0xDFFF)
              return false;
            cp = 0x10000 + ((unit - 0xD800) << 10) + (lo - 0xDC00);
          }
          else if (unit >= 0xDC00 && unit <= 0xDFFF)
          {
            return false;
          }
          AppendUtf8(out, cp);
          break;
        }
        default: return false;
      }
    }
    else
    {
      out.push_back(static_cast<char>(b));
    }
    if (AtEnd(c))
      return false;
  }
}

bool ParseValue(Cursor& c, JsonValue& out, int depth)
{
  if (depth > kMaxDepth)
    return false;
  SkipWhitespace(c);
  if (AtEnd(c))
    return false;
  switch (Current(c))
  {
    case '{': return ParseObject(c, out, depth);
    case '[': return ParseArray(c, out, depth);
    case '"': out.kind = JsonValue::Kind::String; return ParseString(c, out.text);
    case 't':
      out.kind = JsonValue::Kind::Bool;
      out.boolean = true;
      return MatchLiteral(c, "true");
    case 'f': out.kind = JsonValue::Kind::Bool; return MatchLiteral(c, "false");
    case 'n': return MatchLiteral(c, "null");
    default: return ParseNumber(c, out);
  }
}

} // namespace

const JsonValue* JsonValue::Find(const std::string& key) const
{
  if (kind != Kind::Object)
    return nullptr;
  for (const auto& member : members)
    if (member.first == key)
      return &member.second;
  return nullptr;
}

std::optional<JsonValue> Parse(const std::string& text)
{
  Cursor cursor{&text, 0};
  JsonValue root;
  if (!ParseValue(cursor, root, 0))
    return std::nullopt;
  SkipWhitespace(cursor);
  if (!AtEnd(cursor))
    return std::nullopt;
  return root;
}

std::string QuoteString(const std::string& text)
{
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(text.size() + 2);
  out.push_back('"');
  for (const char ch : text)
  {
    const auto b = static_cast<unsigned char>(ch);
    switch (b)
    {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (b < 0x20)
        {
          out += "\\u00";
          out.push_back(kHex[b >> 4]);
          out.push_back(kHex[b & 0x0F]);
        }
        else
        {
          out.push_back(ch);
        }
    }
  }
  out.push_back('"');
  return out;
}

} // namespace halvorsted::json
