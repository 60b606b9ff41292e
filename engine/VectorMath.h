#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

// log10 and 10^x on vectors of four or eight lanes, for the control step's band levels and powers.
// Only IEEE additions, multiplications and one division, never a fused multiply-add, so every
// lane gives the same bits on every processor and at every vector width, and the one-value forms
// are the same routine. Both stay within a few units in the last place of the exact result.

namespace morvellan {

using Double2 = double __attribute__((vector_size(16)));
using Double4 = double __attribute__((vector_size(32)));
using Double8 = double __attribute__((vector_size(64)));

// Vectors pass by reference: by value their calling convention would differ between AVX and older code.
#define MV_LANES inline __attribute__((always_inline))

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

// b = mask ? a : b, lane by lane.
template <typename V, typename M>
MV_LANES void Select(const M& mask, const V& a, V& b)
{
  b = (V)((mask & (M)a) | (~mask & (M)b));
}

// log10(2) split so that any exponent times the high part is exact.
constexpr double kLog10Of2High = 0x1.34413509f78p-2;
constexpr double kLog10Of2Low = 0x1.fef311f12b358p-46;
constexpr double kLog10OfE = 0x1.bcb7b1526e50ep-2;
constexpr double kSqrt2 = 0x1.6a09e667f3bcdp+0;

// log2(10) split into 26 bits and the rest, so the high part times half a split double is exact.
constexpr double kLog2Of10High = 0x1.a934f08p+1;
constexpr double kLog2Of10Low = 0x1.79a3715fc9258p-27;
constexpr double kLn2 = 0x1.62e42fefa39efp-1;

// Adding 1.5·2^52 rounds to an integer k, whose bits are then those of the sum less these.
constexpr double kRound = 0x1.8p52;
constexpr std::int64_t kRoundBits = 0x4338000000000000ll;

// log10 of each lane: minus infinity for 0, NaN below 0 or for NaN, infinity for infinity.
template <typename V>
MV_LANES void Log10Lanes(const V& x, V& r)
{
  using M = typename Lanes<V>::Mask;
  using B = typename Lanes<V>::Bits;
  const V zero = V{};
  // Subnormals are scaled into the normal range first, so the exponent field reads true.
  const M tiny = x < 0x1p-1022;
  V scaled = x;
  Select(tiny, x * 0x1p54, scaled);
  const B bits = (B)scaled;
  // The exponent as a double, read through the bits of 2^52 + exponent field (there is no
  // 64-bit integer conversion before AVX-512).
  V e = (V)((bits >> 52) | 0x4330000000000000ull) - (0x1p52 + 1023.0);
  Select(tiny, e - 54.0, e);
  V m = (V)((bits & 0x000fffffffffffffull) | 0x3ff0000000000000ull);
  // m in [sqrt 1/2, sqrt 2), so that s below stays within ±0.1716.
  const M high = m > kSqrt2;
  Select(high, m * 0.5, m);
  Select(high, e + 1.0, e);
  // ln m = 2·atanh(s) = 2s + 2s·(s²/3 + s⁴/5 + ...), with s = (m − 1)/(m + 1); the series is
  // cut where its next term falls below 1e-18 of the first.
  const V f = m - 1.0;
  const V s = f / (2.0 + f);
  const V z = s * s;
  // Even and odd powers as two short chains side by side: half the latency of one long one.
  const V w = z * z;
  V even = w * (1.0 / 19.0) + 1.0 / 15.0;
  V odd = w * (1.0 / 21.0) + 1.0 / 17.0;
  even = even * w + 1.0 / 11.0;
  odd = odd * w + 1.0 / 13.0;
  even = even * w + 1.0 / 7.0;
  odd = odd * w + 1.0 / 9.0;
  even = even * w + 1.0 / 3.0;
  odd = odd * w + 1.0 / 5.0;
  const V p = even + z * odd;
  const V twoS = s + s;
  const V lnM = twoS + twoS * (z * p);
  r = e * kLog10Of2High + (e * kLog10Of2Low + lnM * kLog10OfE);
  const V inf = zero + __builtin_inf();
  Select(x == 0.0, -inf, r);
  Select(x == inf, inf, r);
  Select((x < 0.0) | (x != x), inf - inf, r);
}

// 10^y for each lane: 0 far below, infinity far above, NaN for NaN.
template <typename V>
MV_LANES void Exp10Lanes(const V& in, V& r)
{
  using M = typename Lanes<V>::Mask;
  const V zero = V{};
  // Beyond these every result is 0 or infinity; NaN passes the limits untouched.
  V y = in;
  Select(y < -340.0, zero - 340.0, y);
  Select(y > 320.0, zero + 320.0, y);
  // y·log2(10) to about 2^-70 relative: y split into two 26-bit halves, each product exact.
  const V g = y * 134217729.0;
  const V yHigh = g - (g - y);
  const V yLow = y - yHigh;
  const V tHigh = yHigh * kLog2Of10High;
  const V tLow = yHigh * kLog2Of10Low + yLow * kLog2Of10High + yLow * kLog2Of10Low;
  // The nearest integer n, then the remainder, exact and within ±1/2.
  const V shifted = tHigh + kRound;
  const V n = shifted - kRound;
  const V z = ((tHigh - n) + tLow) * kLn2;
  // e^z for |z| <= ln2/2: the Taylor series to z^14, whose next term is below 2^-62.
  const V w = z * z;
  V even = w * (1.0 / 87178291200.0) + 1.0 / 479001600.0;
  V odd = w * (1.0 / 6227020800.0) + 1.0 / 39916800.0;
  even = even * w + 1.0 / 3628800.0;
  odd = odd * w + 1.0 / 362880.0;
  even = even * w + 1.0 / 40320.0;
  odd = odd * w + 1.0 / 5040.0;
  even = even * w + 1.0 / 720.0;
  odd = odd * w + 1.0 / 120.0;
  even = even * w + 1.0 / 24.0;
  odd = odd * w + 1.0 / 6.0;
  even = even * w + 0.5;
  odd = odd * w + 1.0;
  even = even * w + 1.0;
  const V p = even + z * odd;
  // 2^n in two halves, each a normal number, so results near the ends underflow or overflow gently.
  const M ni = (M)shifted - kRoundBits;
  const M half = (M)(n * 0.5 + kRound) - kRoundBits;
  const V scaleA = (V)((half + 1023) << 52);
  const V scaleB = (V)((ni - half + 1023) << 52);
  r = p * scaleA * scaleB;
}

// In vectors of W lanes: eight only where the caller's instruction set has them, two where it has
// nothing wider than SSE2 (wider vectors would pass through memory there).
template <int W, typename F, std::size_t N>
MV_LANES void Apply(const std::array<double, N>& in, std::array<double, N>& out, F lanes)
{
  static_assert(N % 4 == 0, "whole vectors only");
  std::size_t i = 0;
  if constexpr (W == 8)
    for (; i + 8 <= N; i += 8)
    {
      Double8 x, r;
      __builtin_memcpy(&x, in.data() + i, sizeof x);
      lanes(x, r);
      __builtin_memcpy(out.data() + i, &r, sizeof r);
    }
  if constexpr (W == 2)
    for (; i < N; i += 2)
    {
      Double2 x, r;
      __builtin_memcpy(&x, in.data() + i, sizeof x);
      lanes(x, r);
      __builtin_memcpy(out.data() + i, &r, sizeof r);
    }
  for (; i < N; i += 4)
  {
    Double4 x, r;
    __builtin_memcpy(&x, in.data() + i, sizeof x);
    lanes(x, r);
    __builtin_memcpy(out.data() + i, &r, sizeof r);
  }
}

struct Log10Op
{
  template <typename V>
  MV_LANES void operator()(const V& x, V& r) const
  {
    Log10Lanes(x, r);
  }
};

struct Exp10Op
{
  template <typename V>
  MV_LANES void operator()(const V& x, V& r) const
  {
    Exp10Lanes(x, r);
  }
};

} // namespace vector_math_detail

// out[i] = log10(in[i]); in and out may be the same array.
template <int W = 2, std::size_t N>
MV_LANES void Log10(const std::array<double, N>& in, std::array<double, N>& out)
{
  vector_math_detail::Apply<W>(in, out, vector_math_detail::Log10Op{});
}

// out[i] = 10^in[i]; in and out may be the same array.
template <int W = 2, std::size_t N>
MV_LANES void Exp10(const std::array<double, N>& in, std::array<double, N>& out)
{
  vector_math_detail::Apply<W>(in, out, vector_math_detail::Exp10Op{});
}

inline double Log10(double x)
{
  std::array<double, 4> v = {x, x, x, x};
  Log10(v, v);
  return v[0];
}

inline double Exp10(double y)
{
  std::array<double, 4> v = {y, y, y, y};
  Exp10(v, v);
  return v[0];
}

#undef MV_LANES

// The batches the control step and the learner need, each one call, on the widest vectors this
// processor has (the bits are the same on all of them).
void Log10Batch(const std::array<double, 12>& in, std::array<double, 12>& out);
void Log10Batch(const std::array<double, 16>& in, std::array<double, 16>& out);
void Exp10Batch(const std::array<double, 12>& in, std::array<double, 12>& out);
// log10 of 16 values and 10^x of 12 others, side by side.
void Log10AndExp10Batch(const std::array<double, 16>& logIn, std::array<double, 16>& logOut,
                        const std::array<double, 12>& expIn, std::array<double, 12>& expOut);
// out[k] = sum over j = 0..11, in that order, of columns[j][k]·x[j].
void ColumnsTimes(const std::array<std::array<double, 12>, 12>& columns, const std::array<double, 12>& x,
                  std::array<double, 12>& out);

} // namespace morvellan
