#include "Vst3Strings.h"

#include <cstring>

namespace iplug
{

size_t DecodeUtf8(const unsigned char* s, size_t n, char32_t& cp)
{
  const unsigned char c = s[0];
  size_t len;
  char32_t min;
  if (c < 0x80) { cp = c; return 1; }
  if ((c & 0xE0) == 0xC0) { len = 2; cp = c & 0x1F; min = 0x80; }
  else if ((c & 0xF0) == 0xE0) { len = 3; cp = c & 0x0F; min = 0x800; }
  else if ((c & 0xF8) == 0xF0) { len = 4; cp = c & 0x07; min = 0x10000; }
  else { cp = 0xFFFD; return 1; }
  if (len > n) { cp = 0xFFFD; return 1; }
  for (size_t i = 1; i < len; ++i)
  {
    if ((s[i] & 0xC0) != 0x80) { cp = 0xFFFD; return 1; }
    cp = (cp << 6) | (s[i] & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
    cp = 0xFFFD;
  return len;
}

namespace
{

void AppendUtf8(std::string& out, char32_t cp)
{
  if (cp < 0x80)
    out += static_cast<char>(cp);
  else if (cp < 0x800)
  {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
  else if (cp < 0x10000)
  {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
  else
  {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

} // namespace

void Utf8ToUtf16(const char* src, Steinberg::char16* dst, size_t maxChars)
{
  if (!dst || maxChars == 0)
    return;
  size_t o = 0;
  if (src)
  {
    const auto* s = reinterpret_cast<const unsigned char*>(src);
    size_t n = std::strlen(src);
    while (n > 0)
    {
      char32_t cp;
      const size_t len = DecodeUtf8(s, n, cp);
      const size_t units = cp >= 0x10000 ? 2 : 1;
      if (o + units > maxChars - 1)
        break;
      if (units == 2)
      {
        const char32_t v = cp - 0x10000;
        dst[o++] = static_cast<Steinberg::char16>(0xD800 + (v >> 10));
        dst[o++] = static_cast<Steinberg::char16>(0xDC00 + (v & 0x3FF));
      }
      else
        dst[o++] = static_cast<Steinberg::char16>(cp);
      s += len;
      n -= len;
    }
  }
  dst[o] = 0;
}

std::string Utf16ToUtf8(const Steinberg::char16* src, size_t maxChars)
{
  std::string out;
  if (!src)
    return out;
  for (size_t i = 0; i < maxChars && src[i] != 0; ++i)
  {
    char32_t cp = static_cast<char16_t>(src[i]);
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < maxChars && src[i + 1] >= 0xDC00 && src[i + 1] <= 0xDFFF)
    {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (static_cast<char16_t>(src[i + 1]) - 0xDC00);
      ++i;
    }
    else if (cp >= 0xD800 && cp <= 0xDFFF)
      cp = 0xFFFD;
    AppendUtf8(out, cp);
  }
  return out;
}

size_t Utf8BoundaryAtOrBefore(const char* text, size_t pos)
{
  // Step back over continuation bytes.
  while (pos > 0 && (static_cast<unsigned char>(text[pos]) & 0xC0) == 0x80)
    --pos;
  return pos;
}

void CopyUtf8(char* dst, const char* src, size_t size)
{
  if (!dst || size == 0)
    return;
  size_t n = src ? std::strlen(src) : 0;
  if (n > size - 1)
    n = Utf8BoundaryAtOrBefore(src, size - 1);
  if (n > 0)
    std::memcpy(dst, src, n);
  dst[n] = '\0';
}

} // namespace iplug
