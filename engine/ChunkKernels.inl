// The chunk kernels: included once per instruction set by ToneEngineProcess.cpp, inside a namespace
// of their own and with MV_KERNEL_FMA saying what FMA the instruction set has (0 none, 1 up to
// four lanes, 2 up to eight), so that each copy is compiled for its own target.

// a·b + c rounded once, lane by lane: one instruction where the processor has FMA, and the
// library's exact std::fma for each lane where it has not.
template <typename V>
MV_INLINE void Fma(const V& a, const V& b, const V& c, V& out)
{
  V r;
  for (int i = 0; i < int(sizeof(V) / sizeof(double)); ++i)
    r[i] = std::fma(a[i], b[i], c[i]);
  out = r;
}
#if MV_KERNEL_FMA >= 1
MV_INLINE void Fma(const Lanes& a, const Lanes& b, const Lanes& c, Lanes& out) { out = _mm_fmadd_pd(a, b, c); }
MV_INLINE void Fma(const Quad& a, const Quad& b, const Quad& c, Quad& out) { out = _mm256_fmadd_pd(a, b, c); }
#endif
#if MV_KERNEL_FMA >= 2
MV_INLINE void Fma(const Eight& a, const Eight& b, const Eight& c, Eight& out) { out = _mm512_fmadd_pd(a, b, c); }
#endif

// The same three lines as BiquadSection::Process, on vectors; x becomes the output.
template <typename V>
MV_INLINE void Step(const V& b0, const V& b1, const V& b2, const V& a1, const V& a2, const V& x, V& z1, V& z2, V& y)
{
  Fma(b0, x, z1, y);
  V t;
  Fma(b1, x, z2, t);
  const V minusA1 = -a1, minusA2 = -a2, b2x = b2 * x;
  Fma(minusA1, y, t, z1);
  Fma(minusA2, y, b2x, z2);
}

template <typename V>
MV_INLINE void Run(VecSection<V>& s, V& x)
{
  V y;
  Step(s.b0, s.b1, s.b2, s.a1, s.a2, x, s.z1, s.z2, y);
  x = y;
}

// The analysis power average, as the plain loop computes it.
template <typename V>
MV_INLINE void Average(V& power, const V& y, const V& coef)
{
  const V minusPower = -power;
  V d;
  Fma(y, y, minusPower, d);
  Fma(d, coef, power, power);
}

// G sections over the chunk, frame by frame: the group's state stays in registers while its
// sections overlap one another in the pipeline.
template <int G>
MV_INLINE void CascadeGroup(LaneSection* sections, Lanes* data, int len)
{
  LaneSection s[G];
  for (int k = 0; k < G; ++k)
    s[k] = sections[k];
  for (int t = 0; t < len; ++t)
  {
    Lanes x = data[t];
#pragma GCC unroll 8
    for (int k = 0; k < G; ++k)
      Run(s[k], x);
    data[t] = x;
  }
  for (int k = 0; k < G; ++k)
    sections[k] = s[k];
}

template <int G>
MV_INLINE void Cascade(LaneSection* sections, int n, Lanes* data, int len)
{
  int k = 0;
  for (; k + G <= n; k += G)
    CascadeGroup<G>(sections + k, data, len);
  if constexpr (G > 1)
    if (n > k)
      Cascade<G - 1>(sections + k, n - k, data, len);
}

// Mono mix, input power average and the 12-band analysis bank, four bands per vector.
MV_INLINE void AnalysisQuads(const ChunkJob& job, const Lanes* frames)
{
  AnalysisQuad a[kAnalysisQuads];
  for (int q = 0; q < kAnalysisQuads; ++q)
    a[q] = job.analysis[q];
  double power = *job.inputPower;
  const Quad coef = {job.bandPowerCoef, job.bandPowerCoef, job.bandPowerCoef, job.bandPowerCoef};
  for (int t = 0; t < job.len; ++t)
  {
    const double x0 = frames[t][0];
    double sum = x0;
    double sumSq = x0 * x0;
    if (job.n == 2)
    {
      const double x1 = frames[t][1];
      sum += x1;
      sumSq += x1 * x1;
    }
    const double m = sum * job.inv;
    power += (sumSq * job.inv - power) * job.inputPowerCoef;
#pragma GCC unroll 3
    for (int q = 0; q < kAnalysisQuads; ++q)
    {
      Quad y = {m, m, m, m};
      Run(a[q].stage1, y);
      Run(a[q].stage2, y);
      Average(a[q].power, y, coef);
    }
  }
  *job.inputPower = power;
  for (int q = 0; q < kAnalysisQuads; ++q)
    job.analysis[q] = a[q];
}

// The analysis bank with bands 0..7 in one eight-lane vector and 8..11 in a four-lane one.
MV_INLINE void AnalysisEight(const ChunkJob& job, const Lanes* frames)
{
  VecSection<Eight> low1, low2;
  Eight lowPower;
  Join(job.analysis[0].stage1, job.analysis[1].stage1, low1);
  Join(job.analysis[0].stage2, job.analysis[1].stage2, low2);
  Join(job.analysis[0].power, job.analysis[1].power, lowPower);
  AnalysisQuad high = job.analysis[2];
  double power = *job.inputPower;
  const double c = job.bandPowerCoef;
  const Quad coef4 = {c, c, c, c};
  const Eight coef8 = {c, c, c, c, c, c, c, c};
  for (int t = 0; t < job.len; ++t)
  {
    const double x0 = frames[t][0];
    double sum = x0;
    double sumSq = x0 * x0;
    if (job.n == 2)
    {
      const double x1 = frames[t][1];
      sum += x1;
      sumSq += x1 * x1;
    }
    const double m = sum * job.inv;
    power += (sumSq * job.inv - power) * job.inputPowerCoef;
    Eight y8 = {m, m, m, m, m, m, m, m};
    Run(low1, y8);
    Run(low2, y8);
    Average(lowPower, y8, coef8);
    Quad y4 = {m, m, m, m};
    Run(high.stage1, y4);
    Run(high.stage2, y4);
    Average(high.power, y4, coef4);
  }
  *job.inputPower = power;
  Split(low1.z1, job.analysis[0].stage1.z1, job.analysis[1].stage1.z1);
  Split(low1.z2, job.analysis[0].stage1.z2, job.analysis[1].stage1.z2);
  Split(low2.z1, job.analysis[0].stage2.z1, job.analysis[1].stage2.z1);
  Split(low2.z2, job.analysis[0].stage2.z2, job.analysis[1].stage2.z2);
  Split(lowPower, job.analysis[0].power, job.analysis[1].power);
  job.analysis[2] = high;
}

template <int W>
MV_INLINE void Analysis(const ChunkJob& job, const Lanes* frames)
{
  if constexpr (W == 8)
    AnalysisEight(job, frames);
  else
    AnalysisQuads(job, frames);
}

template <int W, int NV>
MV_INLINE void Wavefront(LaneSection* chain, int nChain, int tap, Lanes* frames, Lanes* tapOut, int len)
{
  using V = typename Wide<W>::V;
  using M = typename Wide<W>::M;
  constexpr int kPairs = NV * W / 2; // sections the vectors hold, padding included
  V b0[NV], b1[NV], b2[NV], a1[NV], a2[NV], z1[NV], z2[NV], y[NV];
  {
    // Whole lane pairs only: narrow stores followed by wide loads would stall the pipeline.
    Lanes f[7][kPairs];
    const Lanes one = {1.0, 1.0};
    const Lanes zero = {0.0, 0.0};
    for (int k = 0; k < kPairs; ++k)
    {
      const bool used = k < nChain;
      const LaneSection& sec = chain[used ? k : 0];
      f[0][k] = used ? sec.b0 : one;
      f[1][k] = used ? sec.b1 : zero;
      f[2][k] = used ? sec.b2 : zero;
      f[3][k] = used ? sec.a1 : zero;
      f[4][k] = used ? sec.a2 : zero;
      f[5][k] = used ? sec.z1 : zero;
      f[6][k] = used ? sec.z2 : zero;
    }
    for (int v = 0; v < NV; ++v)
    {
      const int at = v * W / 2;
      Wide<W>::Join(&f[0][at], b0[v]);
      Wide<W>::Join(&f[1][at], b1[v]);
      Wide<W>::Join(&f[2][at], b2[v]);
      Wide<W>::Join(&f[3][at], a1[v]);
      Wide<W>::Join(&f[4][at], a2[v]);
      Wide<W>::Join(&f[5][at], z1[v]);
      Wide<W>::Join(&f[6][at], z2[v]);
      y[v] = V{};
    }
  }
  alignas(64) double outputs[NV * W];
  const int tapLane = 2 * (tap - 1);
  const int lastLane = 2 * (nChain - 1);
  const int steps = len + nChain - 1;
  for (int tau = 0; tau < steps; ++tau)
  {
    V x[NV];
    V in{};
    if (tau < len)
    {
      in[W - 2] = frames[tau][0];
      in[W - 1] = frames[tau][1];
    }
    Wide<W>::Shift(in, y[0], x[0]);
    for (int v = 1; v < NV; ++v)
      Wide<W>::Shift(y[v - 1], y[v], x[v]);
    // Sections tau - len + 1 .. tau have a frame at this step. Vectors wholly outside that range
    // are skipped, wholly inside run plainly, and only a vector at its edge needs a mask.
    const int firstWorking = tau - len + 1;
    for (int v = 0; v < NV; ++v)
    {
      const int lo = v * W / 2;
      const int hi = lo + W / 2 - 1;
      if (lo > tau || hi < firstWorking)
        continue;
      V yn, z1n = z1[v], z2n = z2[v];
      Step(b0[v], b1[v], b2[v], a1[v], a2[v], x[v], z1n, z2n, yn);
      if (lo >= firstWorking && hi <= tau)
      {
        z1[v] = z1n;
        z2[v] = z2n;
      }
      else
      {
        const int from = std::max(firstWorking - lo, 0);
        const int to = std::min(tau - lo + 1, W / 2);
        M works;
        std::memcpy(&works, kWorkingLanes<W>.masks[from][to], sizeof(M));
        z1[v] = (V)(((M)z1n & works) | ((M)z1[v] & ~works));
        z2[v] = (V)(((M)z2n & works) | ((M)z2[v] & ~works));
      }
      y[v] = yn;
      *reinterpret_cast<V*>(outputs + v * W) = yn;
    }
    const int tapFrame = tau - (tap - 1);
    if (tap > 0 && tapFrame >= 0 && tapFrame < len)
      tapOut[tapFrame] = Lanes{outputs[tapLane], outputs[tapLane + 1]};
    const int outFrame = tau - (nChain - 1);
    if (outFrame >= 0)
      frames[outFrame] = Lanes{outputs[lastLane], outputs[lastLane + 1]};
  }
  Lanes state[2][kPairs];
  for (int v = 0; v < NV; ++v)
  {
    Wide<W>::Split(z1[v], &state[0][v * W / 2]);
    Wide<W>::Split(z2[v], &state[1][v * W / 2]);
  }
  for (int k = 0; k < nChain; ++k)
  {
    chain[k].z1 = state[0][k];
    chain[k].z2 = state[1][k];
  }
}

template <int W, int... NVs>
MV_INLINE void WavefrontN(LaneSection* chain, int nChain, int tap, Lanes* frames, Lanes* tapOut, int len,
                          std::integer_sequence<int, NVs...>)
{
  const int nv = (2 * nChain + W - 1) / W;
  ((nv == NVs + 1 ? Wavefront<W, NVs + 1>(chain, nChain, tap, frames, tapOut, len) : void()), ...);
}

// Below this many frames the wavefront spends too long filling and draining.
constexpr int kWavefrontMinFrames = 12;

template <int G, int W>
MV_INLINE void RunChunk(const ChunkJob& job)
{
  const int nChain = job.nPre + job.nCorr;
  if constexpr (W == 8)
  {
    if (job.n == 2 && job.len >= kWavefrontMinFrames && nChain >= 3)
    {
      constexpr int kMaxVectors = (2 * kMaxChain + W - 1) / W;
      const auto counts = std::make_integer_sequence<int, kMaxVectors>{};
      if (job.nPre == 0)
      {
        Analysis<W>(job, job.frames);
        WavefrontN<W>(job.corr, nChain, 0, job.frames, job.tap, job.len, counts);
      }
      else
      {
        WavefrontN<W>(job.pre, nChain, job.nPre, job.frames, job.tap, job.len, counts);
        Analysis<W>(job, job.tap);
      }
      return;
    }
  }
  Cascade<G>(job.pre, job.nPre, job.frames, job.len);
  Analysis<W>(job, job.frames);
  Cascade<G>(job.corr, job.nCorr, job.frames, job.len);
}
