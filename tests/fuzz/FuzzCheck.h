#pragma once

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

// A broken property stops the run where it broke; libFuzzer keeps the input that did it,
// and the replay test shows the message.
#define FUZZ_CHECK(condition)                                                                   \
  do                                                                                            \
  {                                                                                             \
    if (!(condition))                                                                           \
    {                                                                                           \
      std::fprintf(stderr, "%s:%d: property broken: %s\n", __FILE__, __LINE__, #condition);     \
      std::abort();                                                                             \
    }                                                                                           \
  } while (0)

namespace fuzz {

// Doubles compared by their bits, so a NaN carried through equals itself and -0 differs from 0.
inline bool SameBits(double a, double b)
{
  return std::memcmp(&a, &b, sizeof a) == 0;
}

template <typename Range>
bool AllFinite(const Range& values)
{
  for (double v : values)
    if (!std::isfinite(v))
      return false;
  return true;
}

} // namespace fuzz
