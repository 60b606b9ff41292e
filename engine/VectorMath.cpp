#include "VectorMath.h"

#include <type_traits>

namespace morvellan {

namespace {

using Row = std::array<double, 12>;
using Columns = std::array<Row, 12>;

#define MV_INLINE inline __attribute__((always_inline))

template <int W, std::size_t N>
MV_INLINE void Log10Any(const std::array<double, N>& in, std::array<double, N>& out)
{
  Log10<W>(in, out);
}

template <int W>
MV_INLINE void Exp10Twelve(const Row& in, Row& out)
{
  Exp10<W>(in, out);
}

template <int W>
MV_INLINE void Both(const std::array<double, 16>& logIn, std::array<double, 16>& logOut, const Row& expIn, Row& expOut)
{
  Log10<W>(logIn, logOut);
  Exp10<W>(expIn, expOut);
}

template <int W>
MV_INLINE void Product(const Columns& columns, const Row& x, Row& out)
{
  if constexpr (W == 8)
  {
    Double8 low = {};
    Double4 high = {};
    for (int j = 0; j < 12; ++j)
    {
      Double8 cl;
      Double4 ch;
      __builtin_memcpy(&cl, columns[j].data(), sizeof cl);
      __builtin_memcpy(&ch, columns[j].data() + 8, sizeof ch);
      low += cl * x[j];
      high += ch * x[j];
    }
    __builtin_memcpy(out.data(), &low, sizeof low);
    __builtin_memcpy(out.data() + 8, &high, sizeof high);
  }
  else
  {
    using V = std::conditional_t<W == 2, Double2, Double4>;
    constexpr int kVectors = 12 / W;
    V sum[kVectors] = {};
    for (int j = 0; j < 12; ++j)
      for (int q = 0; q < kVectors; ++q)
      {
        V c;
        __builtin_memcpy(&c, columns[j].data() + W * q, sizeof c);
        sum[q] += c * x[j];
      }
    __builtin_memcpy(out.data(), sum, sizeof out);
  }
}

template <std::size_t N>
void Log10Baseline(const std::array<double, N>& in, std::array<double, N>& out)
{
  Log10Any<2>(in, out);
}
template <std::size_t N>
__attribute__((target("avx2"))) void Log10Avx2(const std::array<double, N>& in, std::array<double, N>& out)
{
  Log10Any<4>(in, out);
}
template <std::size_t N>
__attribute__((target("avx512f,avx512vl"))) void Log10Avx512(const std::array<double, N>& in,
                                                             std::array<double, N>& out)
{
  Log10Any<8>(in, out);
}

void Exp10Baseline(const Row& in, Row& out) { Exp10Twelve<2>(in, out); }
__attribute__((target("avx2"))) void Exp10Avx2(const Row& in, Row& out) { Exp10Twelve<4>(in, out); }
__attribute__((target("avx512f,avx512vl"))) void Exp10Avx512(const Row& in, Row& out) { Exp10Twelve<8>(in, out); }

void BothBaseline(const std::array<double, 16>& a, std::array<double, 16>& b, const Row& c, Row& d) { Both<2>(a, b, c, d); }
__attribute__((target("avx2"))) void BothAvx2(const std::array<double, 16>& a, std::array<double, 16>& b, const Row& c,
                                              Row& d)
{
  Both<4>(a, b, c, d);
}
__attribute__((target("avx512f,avx512vl"))) void BothAvx512(const std::array<double, 16>& a, std::array<double, 16>& b,
                                                            const Row& c, Row& d)
{
  Both<8>(a, b, c, d);
}

void ProductBaseline(const Columns& c, const Row& x, Row& out) { Product<2>(c, x, out); }
__attribute__((target("avx2"))) void ProductAvx2(const Columns& c, const Row& x, Row& out) { Product<4>(c, x, out); }
__attribute__((target("avx512f,avx512vl"))) void ProductAvx512(const Columns& c, const Row& x, Row& out)
{
  Product<8>(c, x, out);
}

enum class Isa
{
  kBaseline,
  kAvx2,
  kAvx512
};

Isa Detect()
{
  __builtin_cpu_init();
  if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512vl"))
    return Isa::kAvx512;
  if (__builtin_cpu_supports("avx2"))
    return Isa::kAvx2;
  return Isa::kBaseline;
}

// Chosen when the module loads, so the audio thread never runs a guarded first-time initialisation.
const Isa kIsa = Detect();

} // namespace

void Log10Batch(const Row& in, Row& out)
{
  kIsa == Isa::kAvx512 ? Log10Avx512(in, out) : kIsa == Isa::kAvx2 ? Log10Avx2(in, out) : Log10Baseline(in, out);
}

void Log10Batch(const std::array<double, 16>& in, std::array<double, 16>& out)
{
  kIsa == Isa::kAvx512 ? Log10Avx512(in, out) : kIsa == Isa::kAvx2 ? Log10Avx2(in, out) : Log10Baseline(in, out);
}

void Exp10Batch(const Row& in, Row& out)
{
  kIsa == Isa::kAvx512 ? Exp10Avx512(in, out) : kIsa == Isa::kAvx2 ? Exp10Avx2(in, out) : Exp10Baseline(in, out);
}

void Log10AndExp10Batch(const std::array<double, 16>& logIn, std::array<double, 16>& logOut, const Row& expIn,
                        Row& expOut)
{
  kIsa == Isa::kAvx512 ? BothAvx512(logIn, logOut, expIn, expOut)
  : kIsa == Isa::kAvx2 ? BothAvx2(logIn, logOut, expIn, expOut)
                       : BothBaseline(logIn, logOut, expIn, expOut);
}

void ColumnsTimes(const Columns& columns, const Row& x, Row& out)
{
  kIsa == Isa::kAvx512 ? ProductAvx512(columns, x, out)
  : kIsa == Isa::kAvx2 ? ProductAvx2(columns, x, out)
                       : ProductBaseline(columns, x, out);
}

} // namespace morvellan
