#pragma once

#include <cstdarg>
#include <cstdio>
#include <string>

// A small growable UTF-8 string with the handful of calls the plug-in code uses.
class WDL_String
{
public:
  WDL_String() = default;
  explicit WDL_String(const char* str) { Set(str); }

  void Set(const char* str) { mStr = str ? str : ""; }
  void Set(const std::string& str) { mStr = str; }
  void Append(const char* str) { if (str) mStr += str; }
  const char* Get() const { return mStr.c_str(); }
  int GetLength() const { return static_cast<int>(mStr.size()); }
  void Clear() { mStr.clear(); }

  // Formats at most maxLength bytes (not counting the terminator); longer output is cut,
  // never inside a UTF-8 character.
  void SetFormatted(int maxLength, const char* fmt, ...) __attribute__((format(printf, 3, 4)))
  {
    va_list args;
    va_start(args, fmt);
    va_list again;
    va_copy(again, args);
    const int n = std::vsnprintf(nullptr, 0, fmt, args);
    va_end(args);
    if (n < 0)
    {
      va_end(again);
      mStr.clear();
      return;
    }
    std::string buf(static_cast<size_t>(n) + 1, '\0');
    std::vsnprintf(buf.data(), buf.size(), fmt, again);
    va_end(again);
    size_t len = static_cast<size_t>(n);
    if (maxLength < n)
    {
      len = maxLength > 0 ? static_cast<size_t>(maxLength) : 0;
      // Step back over continuation bytes so the cut lands on a character boundary.
      while (len > 0 && (static_cast<unsigned char>(buf[len]) & 0xC0) == 0x80)
        --len;
    }
    buf.resize(len);
    mStr = std::move(buf);
  }

  bool operator==(const WDL_String& other) const { return mStr == other.mStr; }
  bool operator!=(const WDL_String& other) const { return mStr != other.mStr; }

private:
  std::string mStr;
};
