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
MV_INLINE void Fma(const double& a, const double& b, const double& c, double& out) { out = std::fma(a, b, c); }
#if MV_KERNEL_FMA >= 1
MV_INLINE void Fma(const Lanes& a, const Lanes& b, const Lanes& c, Lanes& out) { out = _mm_fmadd_pd(a, b, c); }
MV_INLINE void Fma(const Quad& a, const Quad& b, const Quad& c, Quad& out) { out = _mm256_fmadd_pd(a, b, c); }
#endif
#if MV_KERNEL_FMA >= 2
MV_INLINE void Fma(const Eight& a, const Eight& b, const Eight& c, Eight& out) { out = _mm512_fmadd_pd(a, b, c); }
#endif

// BiquadSection::Process on vectors, with a1 and a2 stored negated; x becomes the output.
template <typename V>
MV_INLINE void Step(const V& b0, const V& b1, const V& b2, const V& na1, const V& na2, const V& x, V& z1, V& z2, V& y)
{
  Fma(b0, x, z1, y);
  V t;
  Fma(b1, x, z2, t);
  const V b2x = b2 * x;
  Fma(na1, y, t, z1);
  Fma(na2, y, b2x, z2);
}

template <typename V>
MV_INLINE void Run(VecSection<V>& s, V& x)
{
  V y;
  Step(s.b0, s.b1, s.b2, s.na1, s.na2, x, s.z1, s.z2, y);
  x = y;
}

// BiquadSection::ProcessBandPass on vectors; x becomes the output.
template <typename V>
MV_INLINE void RunBandPass(BandPassLanes<V>& s, V& x)
{
  const V bx = s.b0 * x;
  const V y = bx + s.z1;
  Fma(s.na1, y, s.z2, s.z1);
  const V minusBx = -bx;
  Fma(s.na2, y, minusBx, s.z2);
  x = y;
}

// The analysis power average, as the plain loop computes it: the old power kept and the new
// square taken in one fused step, so the recursion through the power is one operation long.
template <typename V>
MV_INLINE void Average(V& power, const V& y, const V& keep, const V& take)
{
  const V fresh = take * (y * y);
  Fma(power, keep, fresh, power);
}

// Mono mix, input power average and the 12-band analysis bank, frame by frame: bands 0..7 in one
// eight-lane vector and 8..11 in a four-lane one where there is AVX-512, four bands per vector elsewhere.
template <int W>
struct Analyser;

template <>
struct Analyser<2>
{
  AnalysisQuad a[kAnalysisQuads];
  Quad keep, take;
  double power, powerKeep, powerTake, inv;

  MV_INLINE void Load(const ChunkJob& job)
  {
    for (int q = 0; q < kAnalysisQuads; ++q)
      a[q] = job.analysis[q];
    keep = Quad{} + job.bandAverage.keep;
    take = Quad{} + job.bandAverage.take;
    power = *job.inputPower;
    powerKeep = job.inputAverage.keep;
    powerTake = job.inputAverage.take;
    inv = job.inv;
  }
  MV_INLINE void Save(const ChunkJob& job) const
  {
    for (int q = 0; q < kAnalysisQuads; ++q)
      job.analysis[q] = a[q];
    *job.inputPower = power;
  }
  MV_INLINE void Frame(double sum, double sumSq)
  {
    const double m = sum * inv;
    Fma(power, powerKeep, powerTake * (sumSq * inv), power);
#pragma GCC unroll 3
    for (int q = 0; q < kAnalysisQuads; ++q)
    {
      Quad y = {m, m, m, m};
      RunBandPass(a[q].stage1, y);
      RunBandPass(a[q].stage2, y);
      Average(a[q].power, y, keep, take);
    }
  }
};

template <>
struct Analyser<8>
{
  BandPassLanes<Eight> low1, low2;
  Eight lowPower, keep8, take8;
  AnalysisQuad high;
  Quad keep4, take4;
  double power, powerKeep, powerTake, inv;

  static MV_INLINE void Join(const Quad& a, const Quad& b, Eight& out)
  {
    out = __builtin_shufflevector(a, b, 0, 1, 2, 3, 4, 5, 6, 7);
  }
  static MV_INLINE void Split(const Eight& v, Quad& a, Quad& b)
  {
    a = __builtin_shufflevector(v, v, 0, 1, 2, 3);
    b = __builtin_shufflevector(v, v, 4, 5, 6, 7);
  }
  static MV_INLINE void Join(const BandPassLanes<Quad>& a, const BandPassLanes<Quad>& b, BandPassLanes<Eight>& out)
  {
    Join(a.b0, b.b0, out.b0);
    Join(a.na1, b.na1, out.na1);
    Join(a.na2, b.na2, out.na2);
    Join(a.z1, b.z1, out.z1);
    Join(a.z2, b.z2, out.z2);
  }

  MV_INLINE void Load(const ChunkJob& job)
  {
    Join(job.analysis[0].stage1, job.analysis[1].stage1, low1);
    Join(job.analysis[0].stage2, job.analysis[1].stage2, low2);
    Join(job.analysis[0].power, job.analysis[1].power, lowPower);
    high = job.analysis[2];
    keep4 = Quad{} + job.bandAverage.keep;
    take4 = Quad{} + job.bandAverage.take;
    keep8 = Eight{} + job.bandAverage.keep;
    take8 = Eight{} + job.bandAverage.take;
    power = *job.inputPower;
    powerKeep = job.inputAverage.keep;
    powerTake = job.inputAverage.take;
    inv = job.inv;
  }
  MV_INLINE void Save(const ChunkJob& job) const
  {
    Split(low1.z1, job.analysis[0].stage1.z1, job.analysis[1].stage1.z1);
    Split(low1.z2, job.analysis[0].stage1.z2, job.analysis[1].stage1.z2);
    Split(low2.z1, job.analysis[0].stage2.z1, job.analysis[1].stage2.z1);
    Split(low2.z2, job.analysis[0].stage2.z2, job.analysis[1].stage2.z2);
    Split(lowPower, job.analysis[0].power, job.analysis[1].power);
    job.analysis[2] = high;
    *job.inputPower = power;
  }
  MV_INLINE void Frame(double sum, double sumSq)
  {
    const double m = sum * inv;
    Fma(power, powerKeep, powerTake * (sumSq * inv), power);
    Eight y8 = {m, m, m, m, m, m, m, m};
    RunBandPass(low1, y8);
    RunBandPass(low2, y8);
    Average(lowPower, y8, keep8, take8);
    Quad y4 = {m, m, m, m};
    RunBandPass(high.stage1, y4);
    RunBandPass(high.stage2, y4);
    Average(high.power, y4, keep4, take4);
  }
};

template <int W>
MV_INLINE void Analysis(const ChunkJob& job, const Lanes* frames)
{
  Analyser<W> an;
  an.Load(job);
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
    an.Frame(sum, sumSq);
  }
  an.Save(job);
}

// G sections of the chain, from section `first` on, over the chunk frame by frame: the group's
// state stays in registers while its sections overlap one another in the pipeline.
template <int G>
MV_INLINE void CascadeGroup(PackedChain& chain, int first, Lanes* data, int len)
{
  LaneSection s[G];
  for (int k = 0; k < G; ++k)
    s[k] = chain.Section(first + k);
  for (int t = 0; t < len; ++t)
  {
    Lanes x = data[t];
#pragma GCC unroll 8
    for (int k = 0; k < G; ++k)
      Run(s[k], x);
    data[t] = x;
  }
  for (int k = 0; k < G; ++k)
    chain.SetState(first + k, s[k]);
}

template <int G>
MV_INLINE void Cascade(PackedChain& chain, int first, int n, Lanes* data, int len)
{
  int k = 0;
  for (; k + G <= n; k += G)
    CascadeGroup<G>(chain, first + k, data, len);
  if constexpr (G > 1)
    if (n > k)
      Cascade<G - 1>(chain, first + k, n - k, data, len);
}

// The stereo chain as a wavefront over eight-lane vectors (four sections each). Every section
// still sees its frames in order with the same arithmetic; lanes whose section has no frame at a
// step keep their state.
template <int NV>
struct Wave
{
  using V = Eight;
  using M = Wide<8>::M;
  static constexpr int kW = 8;

  V b0[NV], b1[NV], b2[NV], na1[NV], na2[NV], z1[NV], z2[NV], y[NV];
  alignas(64) double outputs[NV * kW] = {};
  Lanes tap[kControlInterval]; // the pre-filtered frames, for the analysis
  Lanes* frames;
  int len, tapPair, tapVector, lastPair, lastVector;

  // Section index of each lane of vector v.
  static MV_INLINE M SectionsOf(int v)
  {
    const long long s = 4ll * v;
    return M{s, s, s + 1, s + 1, s + 2, s + 2, s + 3, s + 3};
  }

  // One step of vectors From..To. Mode 1 (filling): vector To's sections above tau have no frame
  // yet; mode 2 (draining): vector From's sections below tau - len + 1 have none left. Lanes
  // without a frame keep their state; their outputs only ever reach other such lanes.
  template <int From, int To, int Mode>
  MV_INLINE void Advance(int tau)
  {
    V in{};
    if (Mode != 2 || tau < len)
    {
      in[kW - 2] = frames[tau][0];
      in[kW - 1] = frames[tau][1];
    }
    V x[NV];
    for (int v = From; v <= To; ++v)
      Wide<8>::Shift(v == 0 ? in : y[v - 1], y[v], x[v]);
    for (int v = From; v <= To; ++v)
    {
      V yn, z1n = z1[v], z2n = z2[v];
      Step(b0[v], b1[v], b2[v], na1[v], na2[v], x[v], z1n, z2n, yn);
      if ((Mode == 1 && v == To) || (Mode == 2 && v == From))
      {
        const M limit = M{} + (Mode == 1 ? tau : tau - len + 1);
        const M works = Mode == 1 ? (SectionsOf(v) <= limit) : (SectionsOf(v) >= limit);
        z1[v] = (V)(((M)z1n & works) | ((M)z1[v] & ~works));
        z2[v] = (V)(((M)z2n & works) | ((M)z2[v] & ~works));
      }
      else
      {
        z1[v] = z1n;
        z2[v] = z2n;
      }
      y[v] = yn;
      if (v == tapVector || v == lastVector)
        std::memcpy(outputs + v * kW, &yn, sizeof yn);
    }
    if (tapPair >= 0 && (Mode == 0 || (tau >= tapPair && tau - tapPair < len)))
      tap[tau - tapPair] = Lanes{outputs[2 * tapPair], outputs[2 * tapPair + 1]};
    if (Mode != 1)
      frames[tau - lastPair] = Lanes{outputs[2 * lastPair], outputs[2 * lastPair + 1]};
  }

  template <int... Vs>
  MV_INLINE void Fill(int end, std::integer_sequence<int, Vs...>)
  {
    ((FillVector<Vs>(end)), ...);
  }
  template <int Vh>
  MV_INLINE void FillVector(int end)
  {
    for (int tau = 4 * Vh; tau < std::min(4 * Vh + 4, end); ++tau)
      Advance<0, Vh, 1>(tau);
  }
  template <int... Vs>
  MV_INLINE void Drain(int end, std::integer_sequence<int, Vs...>)
  {
    ((DrainVector<Vs>(end)), ...);
  }
  template <int Vl>
  MV_INLINE void DrainVector(int end)
  {
    for (int tau = len + 4 * Vl; tau < std::min(len + 4 * Vl + 4, end); ++tau)
      Advance<Vl, NV - 1, 2>(tau);
  }

  // Chunks at least as long as the chain: filling, then every section at work, then draining.
  MV_INLINE void Run(const ChunkJob& job)
  {
    PackedChain& chain = *job.chain;
    for (int v = 0; v < NV; ++v)
    {
      std::memcpy(&b0[v], chain.b0 + kW * v, sizeof(V));
      std::memcpy(&b1[v], chain.b1 + kW * v, sizeof(V));
      std::memcpy(&b2[v], chain.b2 + kW * v, sizeof(V));
      std::memcpy(&na1[v], chain.na1 + kW * v, sizeof(V));
      std::memcpy(&na2[v], chain.na2 + kW * v, sizeof(V));
      std::memcpy(&z1[v], chain.z1 + kW * v, sizeof(V));
      std::memcpy(&z2[v], chain.z2 + kW * v, sizeof(V));
      y[v] = V{};
    }
    // The analysis reads the input frames when there are no pre-filters, before the chain
    // overwrites them; otherwise the pre-filtered frames afterwards. (Within the chain's loop its
    // registers would spill.)
    if (job.nPre == 0)
      Analysis<8>(job, job.frames);
    frames = job.frames;
    len = job.len;
    const int nChain = job.nPre + job.nCorr;
    tapPair = job.nPre - 1;
    tapVector = tapPair >= 0 ? tapPair / 4 : -1;
    lastPair = nChain - 1;
    lastVector = lastPair / 4;
    const auto vectors = std::make_integer_sequence<int, NV>{};
    Fill(nChain - 1, vectors);
    for (int tau = nChain - 1; tau < len; ++tau)
      Advance<0, NV - 1, 0>(tau);
    Drain(len + nChain - 1, vectors);
    if (job.nPre > 0)
      Analysis<8>(job, tap);
    for (int v = 0; v < NV; ++v)
    {
      std::memcpy(chain.z1 + kW * v, &z1[v], sizeof(V));
      std::memcpy(chain.z2 + kW * v, &z2[v], sizeof(V));
    }
  }
};

template <int NV>
MV_INLINE void RunWave(const ChunkJob& job)
{
  Wave<NV> wave;
  wave.Run(job);
}

template <int... NVs>
MV_INLINE void WavefrontN(const ChunkJob& job, std::integer_sequence<int, NVs...>)
{
  const int nv = (2 * (job.nPre + job.nCorr) + 7) / 8;
  ((nv == NVs + 1 ? RunWave<NVs + 1>(job) : void()), ...);
}

// Below this many frames the wavefront spends too long filling and draining.
constexpr int kWavefrontMinFrames = 12;

template <int G, int W>
MV_INLINE void RunChunk(const ChunkJob& job)
{
  const int nChain = job.nPre + job.nCorr;
  if constexpr (W == 8)
  {
    if (job.n == 2 && job.len >= kWavefrontMinFrames && job.len >= nChain && nChain >= 3)
    {
      WavefrontN(job, std::make_integer_sequence<int, kChainLanes / 8>{});
      return;
    }
  }
  Cascade<G>(*job.chain, 0, job.nPre, job.frames, job.len);
  Analysis<W>(job, job.frames);
  Cascade<G>(*job.chain, job.nPre, job.nCorr, job.frames, job.len);
}
