#include "FixedText.h"

#include <charconv>
#include <cstring>
#include <system_error>

namespace morvellan
{

bool IsZeroText(const char* first, const char* last)
{
  if (first != last && (*first == '-' || *first == '+'))
    ++first;
  bool digit = false;
  for (const char* p = first; p != last; ++p)
  {
    if (*p == '0')
      digit = true;
    else if (*p != '.')
      return false;
  }
  return digit;
}

char* WriteFixed(char* first, char* last, double value, int decimals)
{
  const auto result = std::to_chars(first, last, value, std::chars_format::fixed, decimals);
  if (result.ec != std::errc())
    return first;
  char* end = result.ptr;
  if (*first == '-' && IsZeroText(first, end))
  {
    std::memmove(first, first + 1, static_cast<size_t>(end - first - 1));
    --end;
  }
  return end;
}

} // namespace morvellan
