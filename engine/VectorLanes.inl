// The lane routines of VectorMath.h: included by VectorMath.h for one-value use and, inside a
// namespace of their own, by each source that compiles them for one instruction set (generic vector
// code defined outside that source's target would be lowered for the baseline before inlining).
// MV_LANE_FMA says whether that target has fused multiply-add instructions; where it has not, each
// lane takes the library's exact std::fma, so every lane gives the same bits on every processor
// and at every vector width.

#ifndef MV_LANE_FMA
#error "MV_LANE_FMA must say whether the includer's target has FMA"
#endif

#define MV_LANE inline __attribute__((always_inline))

// b = mask ? a : b, lane by lane.
template <typename V, typename M>
MV_LANE void Select(const M& mask, const V& a, V& b)
{
  b = (V)((mask & (M)a) | (~mask & (M)b));
}

// a·b + c rounded once, lane by lane.
template <typename V>
MV_LANE V Fma(const V& a, const V& b, const V& c)
{
#if MV_LANE_FMA
  if constexpr (sizeof(V) == 16)
    return _mm_fmadd_pd(a, b, c);
  else if constexpr (sizeof(V) == 32)
    return _mm256_fmadd_pd(a, b, c);
  else
    return _mm512_fmadd_pd(a, b, c);
#else
  V r;
  for (int i = 0; i < int(sizeof(V) / sizeof(double)); ++i)
    r[i] = std::fma(a[i], b[i], c[i]);
  return r;
#endif
}

template <typename V>
MV_LANE V Fma(const V& a, double b, double c)
{
  return Fma(a, V{} + b, V{} + c);
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
MV_LANE void Log10Lanes(const V& x, V& r)
{
  using M = typename ::morvellan::vector_math_detail::Lanes<V>::Mask;
  using B = typename ::morvellan::vector_math_detail::Lanes<V>::Bits;
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
  V even = Fma(w, 1.0 / 19.0, 1.0 / 15.0);
  V odd = Fma(w, 1.0 / 21.0, 1.0 / 17.0);
  even = Fma(even, w, V{} + 1.0 / 11.0);
  odd = Fma(odd, w, V{} + 1.0 / 13.0);
  even = Fma(even, w, V{} + 1.0 / 7.0);
  odd = Fma(odd, w, V{} + 1.0 / 9.0);
  even = Fma(even, w, V{} + 1.0 / 3.0);
  odd = Fma(odd, w, V{} + 1.0 / 5.0);
  const V p = Fma(z, odd, even);
  const V twoS = s + s;
  const V lnM = Fma(twoS, z * p, twoS);
  // e·kLog10Of2High is exact, so one rounding joins it to the rest.
  r = Fma(e, V{} + kLog10Of2High, Fma(e, V{} + kLog10Of2Low, lnM * kLog10OfE));
  const V inf = zero + __builtin_inf();
  Select(x == 0.0, -inf, r);
  Select(x == inf, inf, r);
  Select((x < 0.0) | (x != x), inf - inf, r);
}

// 10^y for each lane: 0 far below, infinity far above, NaN for NaN.
template <typename V>
MV_LANE void Exp10Lanes(const V& in, V& r)
{
  using M = typename ::morvellan::vector_math_detail::Lanes<V>::Mask;
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
  V even = Fma(w, 1.0 / 87178291200.0, 1.0 / 479001600.0);
  V odd = Fma(w, 1.0 / 6227020800.0, 1.0 / 39916800.0);
  even = Fma(even, w, V{} + 1.0 / 3628800.0);
  odd = Fma(odd, w, V{} + 1.0 / 362880.0);
  even = Fma(even, w, V{} + 1.0 / 40320.0);
  odd = Fma(odd, w, V{} + 1.0 / 5040.0);
  even = Fma(even, w, V{} + 1.0 / 720.0);
  odd = Fma(odd, w, V{} + 1.0 / 120.0);
  even = Fma(even, w, V{} + 1.0 / 24.0);
  odd = Fma(odd, w, V{} + 1.0 / 6.0);
  even = Fma(even, w, V{} + 0.5);
  odd = Fma(odd, w, V{} + 1.0);
  even = Fma(even, w, V{} + 1.0);
  const V p = Fma(z, odd, even);
  // 2^n in two halves, each a normal number, so results near the ends underflow or overflow gently.
  const M ni = (M)shifted - kRoundBits;
  const M half = (M)(n * 0.5 + kRound) - kRoundBits;
  const V scaleA = (V)((half + 1023) << 52);
  const V scaleB = (V)((ni - half + 1023) << 52);
  r = p * scaleA * scaleB;
}

#undef MV_LANE
