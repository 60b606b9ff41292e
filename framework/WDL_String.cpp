#include "WDL_String.h"

#include "ClassicLocale.h"
#include "Vst3Strings.h"

#include <cstdarg>
#include <cstdio>

// Out of line so the compiler formats through an opaque va_list: it cannot see the format
// string here, and the size-0 measuring call raises no truncation warning at call sites.
void WDL_String::SetFormatted(int maxLength, const char* fmt, ...)
{
  const iplug::ScopedClassicLocale classic;
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
    len = iplug::Utf8BoundaryAtOrBefore(buf.data(), maxLength > 0 ? static_cast<size_t>(maxLength) : 0);
  buf.resize(len);
  mStr = std::move(buf);
}
