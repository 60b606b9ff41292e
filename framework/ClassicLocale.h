#pragma once

#include <locale.h>

namespace iplug
{

// The C locale, made once; (locale_t) 0 where it could not be made.
inline locale_t ClassicLocale()
{
  static const locale_t classic = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
  return classic;
}

// Numbers the plug-in writes or reads use "." whatever locale the host process set:
// for the life of this object the calling thread formats and parses in the C locale.
class ScopedClassicLocale
{
public:
  ScopedClassicLocale()
  {
    const locale_t classic = ClassicLocale();
    mPrevious = classic ? uselocale(classic) : static_cast<locale_t>(0);
  }
  ~ScopedClassicLocale()
  {
    if (mPrevious)
      uselocale(mPrevious);
  }
  ScopedClassicLocale(const ScopedClassicLocale&) = delete;
  ScopedClassicLocale& operator=(const ScopedClassicLocale&) = delete;

private:
  locale_t mPrevious;
};

} // namespace iplug
