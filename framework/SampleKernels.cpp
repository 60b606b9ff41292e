#include "SampleKernels.h"

#include <cmath>
#include <cstring>
#include <type_traits>

namespace iplug::kernels
{

namespace
{

#define IPLUG_INLINE inline __attribute__((always_inline))

// W doubles per vector; a span keeps four vectors in flight so that its adds and maxes overlap.
template <int W>
struct Lanes;
template <>
struct Lanes<2>
{
  using V = double __attribute__((vector_size(16)));
};
template <>
struct Lanes<4>
{
  using V = double __attribute__((vector_size(32)));
};
template <>
struct Lanes<8>
{
  using V = double __attribute__((vector_size(64)));
};

// The value the meter sees at frame t: one channel, the mean of two (their sum halved: the same
// bits as dividing by two), or the sum of all in channel order divided by their number.
enum class Mix
{
  kOne,
  kTwo,
  kAny
};

// One frame as a double, or W frames as a vector. Vectors travel by reference: code outside the
// target regions must not pass them by value.
template <class V>
IPLUG_INLINE void Load(V& v, const double* p)
{
  std::memcpy(&v, p, sizeof(V));
}

template <class V, Mix kMix>
IPLUG_INLINE void MixAt(V& x, const double* const* ch, int nChans, double count, int t)
{
  if constexpr (kMix == Mix::kOne)
    Load(x, ch[0] + t);
  else if constexpr (kMix == Mix::kTwo)
  {
    V right;
    Load(x, ch[0] + t);
    Load(right, ch[1] + t);
    x = (x + right) * 0.5;
  }
  else
  {
    V sum{}, one;
    for (int c = 0; c < nChans; ++c)
      if (ch[c]) // a missing channel is silence
      {
        Load(one, ch[c] + t);
        sum += one;
      }
    x = sum / count;
  }
}

// Takes W frames (or one) into a running peak and sum; with kScreen, a frame beyond
// kMeasurable (or no number) counts as silence.
template <class V, Mix kMix, bool kRms, bool kScreen>
IPLUG_INLINE void Take(const double* const* ch, int nChans, double count, int t, V& peak, V& sum)
{
  V x;
  MixAt<V, kMix>(x, ch, nChans, count, t);
  if constexpr (std::is_same_v<V, double>)
  {
    x = std::fabs(x);
    if constexpr (kScreen)
      x = x <= kMeasurable ? x : 0.0;
  }
  else
  {
    using Bits = decltype(x < x); // 64-bit integer lanes
    x = (V)((Bits)x & static_cast<long long>(~0ull >> 1));
    if constexpr (kScreen)
    {
      const V limit = V{} + kMeasurable;
      x = (V)((Bits)x & (x <= limit));
    }
  }
  peak = x > peak ? x : peak;
  sum += kRms ? x * x : x;
}

template <int W, Mix kMix, bool kRms, bool kScreen>
IPLUG_INLINE Levels MeasureLanes(const double* const* ch, int nChans, int from, int n)
{
  using V = typename Lanes<W>::V;
  constexpr int kUnroll = 4;
  const double count = static_cast<double>(nChans);
  const int end = from + n;
  int t = from;

  V peak[kUnroll] = {}, sum[kUnroll] = {};
  for (; t + W * kUnroll <= end; t += W * kUnroll)
    for (int u = 0; u < kUnroll; ++u)
      Take<V, kMix, kRms, kScreen>(ch, nChans, count, t + u * W, peak[u], sum[u]);
  for (; t + W <= end; t += W)
    Take<V, kMix, kRms, kScreen>(ch, nChans, count, t, peak[1], sum[1]);
  for (int u = 1; u < kUnroll; ++u)
  {
    peak[0] = peak[u] > peak[0] ? peak[u] : peak[0];
    sum[0] += sum[u];
  }

  double outPeak = 0.0, outSum = 0.0;
  for (int i = 0; i < W; ++i)
  {
    outPeak = peak[0][i] > outPeak ? peak[0][i] : outPeak;
    outSum += sum[0][i];
  }
  for (; t < end; ++t)
    Take<double, kMix, kRms, kScreen>(ch, nChans, count, t, outPeak, outSum);
  return {outPeak, outSum};
}

template <int W, bool kScreen = false>
IPLUG_INLINE Levels MeasureWith(const double* const* ch, int nChans, int from, int n, bool rms)
{
  bool allThere = true;
  for (int c = 0; c < nChans; ++c)
    allThere = allThere && ch[c];
  if (allThere && nChans == 1)
    return rms ? MeasureLanes<W, Mix::kOne, true, kScreen>(ch, nChans, from, n)
               : MeasureLanes<W, Mix::kOne, false, kScreen>(ch, nChans, from, n);
  if (allThere && nChans == 2)
    return rms ? MeasureLanes<W, Mix::kTwo, true, kScreen>(ch, nChans, from, n)
               : MeasureLanes<W, Mix::kTwo, false, kScreen>(ch, nChans, from, n);
  return rms ? MeasureLanes<W, Mix::kAny, true, kScreen>(ch, nChans, from, n)
             : MeasureLanes<W, Mix::kAny, false, kScreen>(ch, nChans, from, n);
}

// Conversions between the host's 32-bit samples and the callback's doubles: each sample rounds
// as a cast does, whatever the vector width.
template <class From, class To>
IPLUG_INLINE void ConvertLanes(const From* __restrict in, To* __restrict out, int n)
{
  for (int i = 0; i < n; ++i)
    out[i] = static_cast<To>(in[i]);
}

// One set of loops per instruction set, chosen as a whole.
struct Kernels
{
  Levels (*measure)(const double* const*, int, int, int, bool);
  void (*widen)(const float*, double*, int);
  void (*narrow)(const double*, float*, int);
};

#define IPLUG_KERNELS(NAME, TARGET, WIDTH)                                                                   \
  TARGET Levels Measure##NAME(const double* const* ch, int nChans, int from, int n, bool rms)                  \
  {                                                                                                          \
    return MeasureWith<WIDTH>(ch, nChans, from, n, rms);                                                     \
  }                                                                                                          \
  TARGET void Widen##NAME(const float* in, double* out, int n) { ConvertLanes(in, out, n); }                 \
  TARGET void Narrow##NAME(const double* in, float* out, int n) { ConvertLanes(in, out, n); }                \
  constexpr Kernels k##NAME{Measure##NAME, Widen##NAME, Narrow##NAME};

IPLUG_KERNELS(Baseline, , 2)
IPLUG_KERNELS(Avx2, __attribute__((target("avx2"))), 4)
IPLUG_KERNELS(Avx512, __attribute__((target("avx512f,avx512dq"))), 8)
#undef IPLUG_KERNELS

const Kernels* Choose()
{
  __builtin_cpu_init();
  if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512dq"))
    return &kAvx512;
  if (__builtin_cpu_supports("avx2"))
    return &kAvx2;
  return &kBaseline;
}

// Chosen when the module loads, so the audio thread never runs a guarded first-time initialisation.
const Kernels* const kChosen = Choose();

// Code run from another module's static initialiser may come before the choice is made.
const Kernels& Chosen() { return kChosen ? *kChosen : kBaseline; }

} // namespace

Levels MeasureSpan(const double* const* channels, int nChans, int offset, int nFrames, bool rms)
{
  if (!channels || nChans < 1 || nFrames < 1 || offset < 0)
    return {0.0, 0.0};
  return Chosen().measure(channels, nChans, offset, nFrames, rms);
}

Levels MeasureSpanScreened(const double* const* channels, int nChans, int offset, int nFrames, bool rms)
{
  if (!channels || nChans < 1 || nFrames < 1 || offset < 0)
    return {0.0, 0.0};
  // Only for the rare span with a bad sample in it: the narrowest loops do.
  return MeasureWith<2, true>(channels, nChans, offset, nFrames, rms);
}

void Convert(const float* in, double* out, int n)
{
  if (n > 0)
    Chosen().widen(in, out, n);
}

void Convert(const double* in, float* out, int n)
{
  if (n > 0)
    Chosen().narrow(in, out, n);
}

} // namespace iplug::kernels
