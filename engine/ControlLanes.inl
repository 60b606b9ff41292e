// The control step's band arithmetic: included by ToneEngineControl.cpp once per instruction set,
// inside a namespace of its own after VectorLanes.inl, so that every vector operation here is
// compiled for that set. The twelve bands run as vectors without branches: each lane computes what
// the one-band rule computes and a mask picks the result. Pairs where SSE2 is all there is, four
// lanes with AVX2, eight with AVX-512 (the second vector's upper half idle, its lanes masked like
// disabled bands).

#define MV_INLINE inline __attribute__((always_inline))

constexpr std::int64_t kAbs = 0x7fffffffffffffffll;

template <typename V>
struct BandLanes
{
  using Mask = typename vector_math_detail::Lanes<V>::Mask;
  static constexpr int kLanes = int(sizeof(V) / sizeof(double));
  static constexpr int kCount = (kNumBands + kLanes - 1) / kLanes;
  V q[kCount];
};

// The lower half of an eight-lane vector, for the rows' last four lanes.
template <typename V>
struct HalfOf;
template <>
struct HalfOf<Double8>
{
  using Type = Double4;
};
template <>
struct HalfOf<vector_math_detail::Lanes<Double8>::Mask>
{
  using Type = vector_math_detail::Lanes<Double4>::Mask;
};

template <typename V, typename T>
MV_INLINE void LoadRow(const std::array<T, kNumBands>& row, V* q)
{
  if constexpr (sizeof(V) == 64)
  {
    using Half = typename HalfOf<V>::Type;
    Half high;
    std::memcpy(&q[0], row.data(), sizeof(V));
    std::memcpy(&high, row.data() + 8, sizeof high);
    q[1] = __builtin_shufflevector(high, Half{}, 0, 1, 2, 3, 4, 5, 6, 7);
  }
  else
    std::memcpy(q, row.data(), sizeof(T) * kNumBands);
}

template <typename V>
MV_INLINE BandLanes<V> Load(const std::array<double, kNumBands>& row)
{
  BandLanes<V> v;
  LoadRow(row, v.q);
  return v;
}

template <typename V>
MV_INLINE void Store(const BandLanes<V>& v, std::array<double, kNumBands>& row)
{
  if constexpr (BandLanes<V>::kLanes == 8)
  {
    const Double4 high = __builtin_shufflevector(v.q[1], v.q[1], 0, 1, 2, 3);
    std::memcpy(row.data(), &v.q[0], sizeof v.q[0]);
    std::memcpy(row.data() + 8, &high, sizeof high);
  }
  else
    std::memcpy(row.data(), v.q, sizeof v.q);
}

template <typename V, typename M>
MV_INLINE void Pick(const M& mask, const V& a, V& b)
{
  b = (V)((mask & (M)a) | (~mask & (M)b));
}

// Lane k of a row of vectors.
template <typename V>
MV_INLINE double LaneOf(const BandLanes<V>& v, int k)
{
  return v.q[k / BandLanes<V>::kLanes][k % BandLanes<V>::kLanes];
}

// Whether any lane of a mask, or of a row of masks, is set: the lanes' sign bits at once.
template <typename M>
MV_INLINE bool Any(const M& mask)
{
  if constexpr (sizeof(M) == 16)
    return _mm_movemask_pd((__m128d)mask) != 0;
  else if constexpr (sizeof(M) == 32)
    return _mm256_movemask_pd((__m256d)mask) != 0;
  else
    return _mm512_movepi64_mask((__m512i)mask) != 0;
}

// The sum of a row's lanes, in a tree.
template <typename V>
MV_INLINE double SumOf(const BandLanes<V>& v)
{
  V all = v.q[0];
  for (int q = 1; q < BandLanes<V>::kCount; ++q)
    all += v.q[q];
  if constexpr (sizeof(V) == 64)
  {
    const Double4 four = __builtin_shufflevector(all, all, 0, 1, 2, 3) + __builtin_shufflevector(all, all, 4, 5, 6, 7);
    const Double2 two = __builtin_shufflevector(four, four, 0, 1) + __builtin_shufflevector(four, four, 2, 3);
    return two[0] + two[1];
  }
  else if constexpr (sizeof(V) == 32)
  {
    const Double2 two = __builtin_shufflevector(all, all, 0, 1) + __builtin_shufflevector(all, all, 2, 3);
    return two[0] + two[1];
  }
  else
    return all[0] + all[1];
}

template <typename M, int N>
MV_INLINE bool Any(const M (&masks)[N])
{
  M all = masks[0];
  for (int q = 1; q < N; ++q)
    all |= masks[q];
  return Any(all);
}

// log10 of one row, or of two rows side by side; with eight lanes the two half-used vectors share one.
template <typename V>
MV_INLINE void Log10Rows(const BandLanes<V>& a, BandLanes<V>& la)
{
  for (int q = 0; q < BandLanes<V>::kCount; ++q)
    Log10Lanes(a.q[q], la.q[q]);
}

template <typename V>
MV_INLINE void Log10Rows(const BandLanes<V>& a, const BandLanes<V>& b, BandLanes<V>& la, BandLanes<V>& lb)
{
  if constexpr (BandLanes<V>::kLanes == 8)
  {
    const V shared = __builtin_shufflevector(a.q[1], b.q[1], 0, 1, 2, 3, 8, 9, 10, 11);
    V sharedLog;
    Log10Lanes(a.q[0], la.q[0]);
    Log10Lanes(b.q[0], lb.q[0]);
    Log10Lanes(shared, sharedLog);
    la.q[1] = __builtin_shufflevector(sharedLog, V{}, 0, 1, 2, 3, 8, 8, 8, 8);
    lb.q[1] = __builtin_shufflevector(sharedLog, V{}, 4, 5, 6, 7, 8, 8, 8, 8);
  }
  else
    for (int q = 0; q < BandLanes<V>::kCount; ++q)
    {
      Log10Lanes(a.q[q], la.q[q]);
      Log10Lanes(b.q[q], lb.q[q]);
    }
}

// DesignPeaking's arithmetic on vectors of bands, with our own 10^x in place of the library's pow.
template <typename V>
MV_INLINE void DesignPeakingLanes(const V& gainDb, const V& cosW0, const V& alpha, V& b0, V& b1, V& b2, V& a2)
{
  V a;
  Exp10Lanes(gainDb / 40.0, a);
  const V alphaOverA = alpha / a;
  const V alphaTimesA = alpha * a;
  const V a0 = 1.0 + alphaOverA;
  b0 = (1.0 + alphaTimesA) / a0;
  b1 = -2.0 * cosW0 / a0;
  b2 = (1.0 - alphaTimesA) / a0;
  a2 = (1.0 - alphaOverA) / a0;
}

// Counters saturate instead of wrapping: a signal that stays above the threshold for weeks must
// keep qualifying.
MV_INLINE void CountUp(std::int32_t& counter)
{
  if (counter < std::numeric_limits<std::int32_t>::max())
    ++counter;
}

// Everything of the control step after the glides and the check for a non-finite input.
template <typename V, typename Engine, typename State>
void Step(Engine& e, State& c)
{
  using Lanes = BandLanes<V>;
  using Mask = typename Lanes::Mask;
  constexpr int kCount = Lanes::kCount;

  Mask enabled[kCount], middle[kCount];
  LoadRow(c.enabledBits, enabled);
  LoadRow(c.middleBits, middle);
  const int middleCount = c.middleCount;

  // When this step may qualify, the averages it would take are computed before knowing, so that
  // their levels come out of the same log10 call as the band levels (the delayed row is never the
  // one written below).
  const int delayedRow = (e.historyIndex + 1 - e.lookback + kHistoryRows) % kHistoryRows;
  const bool mayQualify = e.aboveCount >= e.lookback + e.guard;
  Lanes powers = Load<V>(e.bandPower);
  for (int q = 0; q < kCount; ++q)
    powers.q[q] += 1e-30;
  Lanes logs, delayedPower, nextPower, nextLogs;
  if (mayQualify)
  {
    delayedPower = Load<V>(e.powerHistory[delayedRow]);
    nextPower = Load<V>(e.smoothedBandPower);
    Lanes nextIn;
    for (int q = 0; q < kCount; ++q)
    {
      const V p = delayedPower.q[q], power = nextPower.q[q];
      V next = Fma(p - power, V{} + e.analysisCoef, power);
      Pick(power < 0.0, p, next);
      Pick(enabled[q], next, nextPower.q[q]);
      nextIn.q[q] = nextPower.q[q] + 1e-30;
    }
    Log10Rows(powers, nextIn, logs, nextLogs);
  }
  else
    Log10Rows(powers, logs);

  e.aboveThreshold = AboveGate(e.inputPower, c.GatePowerFor(e.settings.thresholdDb));

  Lanes d, rowPower;
  {
    const Lanes calibration = Load<V>(e.bandCalibrationDb), factor = Load<V>(c.calibrationFactor);
    for (int q = 0; q < kCount; ++q)
    {
      d.q[q] = (V)(enabled[q] & (Mask)Fma(logs.q[q], V{} + 10.0, -calibration.q[q]));
      rowPower.q[q] = V{} + 1.0; // 10^(0/10), the power of a disabled band's level
      Pick(enabled[q], powers.q[q] * factor.q[q], rowPower.q[q]);
    }
  }
  Store(d, e.latestBandDb);
  Store(rowPower, e.latestBandPower);

  e.historyIndex = (e.historyIndex + 1) % kHistoryRows;
  e.levelHistory[e.historyIndex] = e.latestBandDb;
  e.powerHistory[e.historyIndex] = e.latestBandPower;

  if (e.aboveThreshold)
  {
    CountUp(e.aboveCount);
    e.belowCount = 0;
  }
  else
  {
    e.aboveCount = 0;
    CountUp(e.belowCount);
  }

  // Read the history 50 ms late, and only when everything since well before that row was above the
  // threshold, so onsets and tails of loud passages never reach the averages. Qualifying implies
  // mayQualify, so the averages above were computed.
  const bool qualifies = e.aboveCount > e.lookback + e.guard;

  Lanes measured; // the balance, when this step measured it
  if (qualifies)
  {
    const Lanes x = Load<V>(e.levelHistory[delayedRow]);
    Lanes sums = Load<V>(e.learnSums), db = Load<V>(e.smoothedBandDb), level;
    for (int q = 0; q < kCount; ++q)
    {
      if (e.learning)
        Pick(enabled[q], sums.q[q] + delayedPower.q[q], sums.q[q]);
      V nextDb = Fma(x.q[q] - db.q[q], V{} + e.analysisCoef, db.q[q]);
      Pick(db.q[q] <= -1000.0, x.q[q], nextDb);
      Pick(enabled[q], nextDb, db.q[q]);
      level.q[q] = 10.0 * nextLogs.q[q];
    }
    Store(sums, e.learnSums);
    Store(nextPower, e.smoothedBandPower);
    Store(db, e.smoothedBandDb);
    // As ComputeBalance(smoothedBandPower, bandEnabled) computes it.
    double sum = 0.0;
    for (int k = kFirstMiddleBand; k <= kLastMiddleBand; ++k)
      if (e.bandEnabled[k])
        sum += LaneOf(level, k);
    const double mean = sum / std::max(middleCount, 1);
    for (int q = 0; q < kCount; ++q)
      measured.q[q] = (V)(enabled[q] & (Mask)(level.q[q] - mean));
    Store(measured, e.measuredBalance);
  }
  else if (e.belowCount > e.lookback)
  {
    Lanes floor = Load<V>(e.noiseFloorDb);
    for (int q = 0; q < kCount; ++q)
    {
      V next = Fma(d.q[q] - floor.q[q], V{} + e.noiseFloorCoef, floor.q[q]);
      Pick(floor.q[q] <= -1000.0, d.q[q], next);
      Pick(enabled[q], next, floor.q[q]);
    }
    Store(floor, e.noiseFloorDb);
  }

  if (e.learning && qualifies)
  {
    CountUp(e.learnCount);
    if (static_cast<double>(e.learnCount) >= e.LearnStepsNeeded())
    {
      const BandBalance learned = ComputeBalance(e.learnSums, e.bandEnabled);
      for (int k = 0; k < kNumBands; ++k)
      {
        if (e.bandEnabled[k])
        {
          e.targetRelative[k] = learned[k] - e.desiredCompensated[k];
          e.targetAbsolute[k] = learned[k] - (e.desiredCompensated[k] - e.desiredCurve[k]);
        }
        else
        {
          e.targetRelative[k] = 0.0;
          e.targetAbsolute[k] = 0.0;
        }
      }
      e.hasTarget = true;
      e.learning = false;
      ++e.learnsCompleted;
    }
  }

  // The errors, less their mean over the middle bands and how far the desired curve moved there
  // since the target was set.
  const double amount = e.settings.amount;
  Lanes err{};
  double meanErr = 0.0;
  if ((qualifies ? LaneOf(measured, 0) : e.measuredBalance[0]) > -1000.0)
  {
    const Lanes relative = Load<V>(e.targetRelative), desired = Load<V>(e.desiredCompensated),
                curve = Load<V>(e.desiredCurve), absolute = Load<V>(e.targetAbsolute);
    if (!qualifies)
      measured = Load<V>(e.measuredBalance);
    Lanes centred;
    for (int q = 0; q < kCount; ++q)
    {
      err.q[q] = (V)(enabled[q] & (Mask)(amount * (relative.q[q] + desired.q[q] - measured.q[q])));
      const V shift = relative.q[q] + curve.q[q] - absolute.q[q];
      centred.q[q] = (V)(middle[q] & (Mask)Fma(V{} - amount, shift, err.q[q]));
    }
    meanErr = SumOf(centred) / std::max(middleCount, 1);
  }

  Lanes w;
  {
    const double maxBoost = e.settings.maxBoostDb;
    const double maxCut = -e.settings.maxCutDb;
    const Lanes floor = Load<V>(e.noiseFloorDb), db = Load<V>(e.smoothedBandDb),
                exclusion = Load<V>(e.exclusionWeight), range = Load<V>(e.rangeWeight);
    for (int q = 0; q < kCount; ++q)
    {
      V er = err.q[q] - meanErr;
      V limited = er;
      Pick(er < maxCut, V{} + maxCut, limited);
      Pick(er > maxBoost, V{} + maxBoost, limited);
      er = limited;
      // Boosting a band that barely rises above its own noise floor would only lift noise.
      V margin = (db.q[q] - floor.q[q] - 6.0) * (1.0 / 12.0);
      Pick(margin < 0.0, V{}, margin);
      Pick(margin > 1.0, V{} + 1.0, margin);
      const V boost = maxBoost * margin;
      V capped = boost;
      Pick(er < boost, er, capped);
      Pick((er > 0.0) & (floor.q[q] > -1000.0) & (db.q[q] > -1000.0), capped, er);
      w.q[q] = (V)(enabled[q] & (Mask)(er * exclusion.q[q] * range.q[q]));
    }
  }

  // The matrix product, column by column so that it runs on whole rows; each band still sums its
  // terms from j = 0 up. The same weighted errors give the same targets, so they are kept.
  Lanes target;
  {
    const Lanes lastInput = Load<V>(c.gainTargetInput);
    Mask changed[kCount];
    for (int q = 0; q < kCount; ++q)
      changed[q] = (Mask)w.q[q] != (Mask)lastInput.q[q];
    if (c.gainTargetsValid && !Any(changed))
      target = Load<V>(c.gainTargets);
    else
    {
      Lanes sum{};
      for (int j = 0; j < kNumBands; ++j)
      {
        const Lanes column = Load<V>(c.correctionColumns[j]);
        const double weight = LaneOf(w, j);
        for (int q = 0; q < kCount; ++q)
          sum.q[q] = Fma(column.q[q], V{} + weight, sum.q[q]);
      }
      for (int q = 0; q < kCount; ++q)
      {
        V limited = sum.q[q];
        Pick(sum.q[q] < -kMaxBandGainDb, V{} - kMaxBandGainDb, limited);
        Pick(kMaxBandGainDb < sum.q[q], V{} + kMaxBandGainDb, limited);
        target.q[q] = (V)(enabled[q] & (Mask)limited);
      }
      Store(target, c.gainTargets);
      Store(w, c.gainTargetInput);
      c.gainTargetsValid = true;
    }
  }

  // Each gain glides towards its target; a section is redesigned only when its gain moved far
  // enough or landed, so a settled gain keeps its coefficients.
  const Lanes designed = Load<V>(e.designedGainDb);
  Lanes current = Load<V>(e.currentGainDb);
  Mask again[kCount], kept[kCount];
  for (int q = 0; q < kCount; ++q)
  {
    const V t = target.q[q];
    const V cur = current.q[q];
    const Mask abs = Mask{} + kAbs; // clears the sign bit
    const V curAbs = (V)((Mask)cur & abs), tAbs = (V)((Mask)t & abs);
    V coef = V{} + e.attackCoef;
    Pick((curAbs > tAbs) | (cur * t < 0.0), V{} + e.releaseCoef, coef);
    const V step = Fma(t - cur, coef, cur) - cur;
    V delta = step;
    Pick(step < -0.05, V{} - 0.05, delta);
    Pick(0.05 < step, V{} + 0.05, delta);
    V next = cur + delta;
    const V gap = t - next;
    Pick((V)((Mask)gap & abs) < 0.005, t, next);
    current.q[q] = next;
    const V moved = next - designed.q[q];
    // Disabled bands (and idle lanes) sit at 0 on every side and never move.
    again[q] = (((V)((Mask)moved & abs) >= 0.01) | ((next == t) & (next != designed.q[q]))) & enabled[q];
    // A section designed with a gain other than 0 stays in the path.
    kept[q] = (~again[q] & (designed.q[q] != 0.0)) | (again[q] & (next != 0.0));
  }
  Store(current, e.currentGainDb);
  if (Any(again))
  {
    const Lanes cosW0 = Load<V>(c.peakCosW0), alpha = Load<V>(c.peakAlpha);
    Lanes b0, b1, b2, a2, nextDesigned = designed;
    for (int q = 0; q < kCount; ++q)
    {
      if (!Any(again[q]))
        continue;
      DesignPeakingLanes(current.q[q], cosW0.q[q], alpha.q[q], b0.q[q], b1.q[q], b2.q[q], a2.q[q]);
      Pick(again[q], current.q[q], nextDesigned.q[q]);
    }
    Store(nextDesigned, e.designedGainDb);
    for (int k = 0; k < kNumBands; ++k)
    {
      if (!again[k / Lanes::kLanes][k % Lanes::kLanes])
        continue;
      const BiquadCoefficients coefs = {LaneOf(b0, k), LaneOf(b1, k), LaneOf(b2, k), LaneOf(b1, k), LaneOf(a2, k)};
      for (auto& channel : e.correction)
        channel[k].SetCoefficients(coefs);
      c.correctionRedesigned |= 1u << k;
    }
  }

  // Flat correction is bypassed; its sections restart from silence when it comes back.
  const bool anyGain = Any(kept);
  if (!anyGain && e.eqActive)
    for (auto& channel : e.correction)
      for (BiquadSection& section : channel)
        section.ClearState();
  e.eqActive = anyGain;
}

#undef MV_INLINE
