#pragma once

#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>

// log10 and 10^x on vectors of two, four or eight lanes, for the control step's band levels and the
// correction's gains. Every lane gives the same bits on every processor and at every vector width,
// and the one-value forms are the same routine. Both stay within a few units in the last place of
// the exact result.

namespace morvellan {

using Double2 = double __attribute__((vector_size(16)));
using Double4 = double __attribute__((vector_size(32)));
using Double8 = double __attribute__((vector_size(64)));

namespace vector_math_detail {

template <typename V>
struct Lanes;
template <>
struct Lanes<Double2>
{
  using Mask = std::int64_t __attribute__((vector_size(16)));
  using Bits = std::uint64_t __attribute__((vector_size(16)));
};
template <>
struct Lanes<Double4>
{
  using Mask = std::int64_t __attribute__((vector_size(32)));
  using Bits = std::uint64_t __attribute__((vector_size(32)));
};
template <>
struct Lanes<Double8>
{
  using Mask = std::int64_t __attribute__((vector_size(64)));
  using Bits = std::uint64_t __attribute__((vector_size(64)));
};

// The one-value forms run where any processor may: std::fma for each lane.
#define MV_LANE_FMA 0
#include "VectorLanes.inl"
#undef MV_LANE_FMA

} // namespace vector_math_detail

inline double Log10(double x)
{
  const Double2 v = {x, x};
  Double2 r;
  vector_math_detail::Log10Lanes(v, r);
  return r[0];
}

inline double Exp10(double y)
{
  const Double2 v = {y, y};
  Double2 r;
  vector_math_detail::Exp10Lanes(v, r);
  return r[0];
}

// out[i] = log10(in[i]), two lanes at a time; in and out may be the same array. For the rare
// callers: the control step has its own copy for each instruction set.
template <std::size_t N>
inline void Log10Batch(const std::array<double, N>& in, std::array<double, N>& out)
{
  static_assert(N % 2 == 0, "whole pairs only");
  for (std::size_t i = 0; i < N; i += 2)
  {
    const Double2 v = {in[i], in[i + 1]};
    Double2 r;
    vector_math_detail::Log10Lanes(v, r);
    out[i] = r[0];
    out[i + 1] = r[1];
  }
}

} // namespace morvellan
