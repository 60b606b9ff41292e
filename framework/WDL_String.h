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

  // Formats at most maxLength bytes (not counting the terminator); longer output is cut.
  void SetFormatted(int maxLength, const char* fmt, ...) __attribute__((format(printf, 3, 4)))
  {
    if (maxLength < 0) maxLength = 0;
    std::string buf(static_cast<size_t>(maxLength) + 1, '\0');
    va_list args;
    va_start(args, fmt);
    const int n = std::vsnprintf(buf.data(), buf.size(), fmt, args);
    va_end(args);
    if (n < 0) { mStr.clear(); return; }
    buf.resize(static_cast<size_t>(n) < buf.size() - 1 ? static_cast<size_t>(n) : buf.size() - 1);
    mStr = std::move(buf);
  }

  bool operator==(const WDL_String& other) const { return mStr == other.mStr; }
  bool operator!=(const WDL_String& other) const { return mStr != other.mStr; }

private:
  std::string mStr;
};
