#pragma once

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
  void SetFormatted(int maxLength, const char* fmt, ...) __attribute__((format(printf, 3, 4)));

  bool operator==(const WDL_String& other) const { return mStr == other.mStr; }
  bool operator!=(const WDL_String& other) const { return mStr != other.mStr; }

private:
  std::string mStr;
};
