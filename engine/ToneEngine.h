#pragma once

#include "BandGeometry.h"
#include "Biquad.h"
#include "ToneEngineSettings.h"

#include <array>
#include <cmath>
#include <cstdint>

namespace morvellan {

constexpr int kControlInterval = 32; // samples per control step
constexpr int kHistoryRows = 512;    // control steps of level history
constexpr int kMaxProcessedChannels = 2;

// Level of each enabled band in dB relative to the mean of the enabled middle bands; 0 for disabled bands.
BandBalance ComputeBalance(const std::array<double, kNumBands>& powers, const std::array<bool, kNumBands>& enabled);

// The gate compares powers: 10·log10(P) > T is P > 10^(T/10).
inline double GatePower(double thresholdDb) { return std::pow(10.0, thresholdDb / 10.0); }
inline bool AboveGate(double inputPower, double gatePower) { return inputPower + 1e-30 > gatePower; }

// Copies inputs to outputs when the engine does not run; outputs beyond the inputs get output 0 (or silence).
void PassThroughChannels(const double* const* inputs, int nInputs, double* const* outputs, int nOutputs, int nFrames);

// One running tone engine: pre-filters, 12-band analysis, 12 correction peaks and the output gain,
// with a control step every 32 samples. A plain object without heap storage, used by one thread at a
// time (the audio thread for the plug-in's engine, a worker for a file learner's). Its fields are
// public so that the owner can read what it publishes after each block.
class ToneEngine
{
public:
  using Row = std::array<double, kNumBands>;

  struct PreEqValues
  {
    double freqHz = 1000.0;
    double gainDb = 0.0;
    double q = 1.0;
    bool operator==(const PreEqValues&) const = default;
  };

  // kPlain runs the straightforward per-frame loop; the blocked kernels give the same bits faster.
  // kBlocked picks the best one this processor supports; the others pin one (falling back to the
  // best when the processor lacks it), so tests can compare each with the plain loop.
  enum class Kernel
  {
    kBlocked,
    kPlain,
    kBlockedBaseline,
    kBlockedAvx2,
    kBlockedAvx512
  };

  ToneEngine();

  void Prepare(double sampleRate);
  // A reset that starts at these settings: every filter and the output gain are at them from
  // the first sample, with nothing gliding towards them.
  void Prepare(double sampleRate, const ToneEngineSettings& s);
  // Puts the cut corners, the pre-EQ and the output gain at their targets at once, as a reset at
  // the current settings would. Only for an engine that has processed nothing since its reset.
  void SettleGlides();
  void ApplySettings(const ToneEngineSettings& s);
  void Configure();
  void BuildCorrectionMatrix();
  void ComputeBandCalibration();
  void DesignPreEq();
  void DesignCutFilters(double hpHz, double lpHz);
  void ResetState();

  // Channels beyond the second are copied unchanged; an output may be its own input buffer.
  void ProcessSamples(const double* const* inputs, double* const* outputs, int nChannels, int nFrames);
  void ProcessSamples(const float* const* inputs, float* const* outputs, int nChannels, int nFrames);

  void GlideCutFilters();
  void GlidePreEq();
  void ControlStep();

  void SetTargetBalance(const BandBalance& t);
  void RestoreTarget(const BandBalance& relative, const BandBalance& absolute);
  void ClearLearnedTarget();
  void StartLearning();
  void StopLearning();

  // Qualifying control steps a learn from the input needs: 3 seconds of material above the threshold.
  double LearnStepsNeeded() const;

  double sampleRate = 48000.0;
  ToneEngineSettings settings;
  std::array<bool, kNumBands> bandEnabled{};

  std::array<BiquadSection, kNumBands> analysisStage1{};
  std::array<BiquadSection, kNumBands> analysisStage2{};
  std::array<BandShape, kNumBands> bandShape{};

  std::array<std::array<BiquadSection, kNumBands>, kMaxProcessedChannels> correction{};
  std::array<Row, kNumBands> correctionMatrix{}; // gains that bring the band errors to zero, row-major

  Row bandPower{};       // band-pass power, 15 ms average
  Row measuredBalance{}; // -1000: nothing measured yet
  Row smoothedBandDb{};
  Row noiseFloorDb{};
  Row designedGainDb{}; // gain the correction sections were last designed with
  Row currentGainDb{};
  Row exclusionWeight{};
  Row rangeWeight{};

  double attackCoef = 0.0;
  double releaseCoef = 0.0;
  std::array<Row, kHistoryRows> levelHistory{};
  // The same rows as powers, 10^(level/10), written beside them so the delayed averages need no 10^x.
  std::array<Row, kHistoryRows> powerHistory{};
  Row latestBandDb{};
  Row latestBandPower{};
  Row smoothedBandPower{}; // -1: nothing measured yet

  std::array<BiquadSection, kMaxProcessedChannels> highPass{};
  std::array<BiquadSection, kMaxProcessedChannels> lowPass{};
  std::array<std::array<BiquadSection, kNumPreEqBands>, kMaxProcessedChannels> preEq{};

  std::array<PreEqValues, kNumPreEqBands> preEqCurrent{};
  std::array<PreEqValues, kNumPreEqBands> preEqTarget{};
  bool preEqInitialised = false;
  bool preEqActive = false;
  bool preEqForceRedesign = false;

  double hpCurrentHz = 0.0;
  double lpCurrentHz = 0.0;
  double hpTargetHz = 20.0;
  double lpTargetHz = 20000.0;
  double outputGain = 1.0;
  double outputGainTarget = 1.0;
  double outputGainCoef = 0.0;

  Row targetRelative{}; // target minus the desired curve when it was set
  Row targetAbsolute{}; // the target balance itself
  Row learnSums{};
  Row desiredCurve{};
  Row desiredCompensated{};
  Row bandCalibrationDb{};
  double calibrationRate = 0.0;

  bool hasTarget = false;
  bool learning = false;
  std::int32_t learnCount = 0;
  std::int32_t historyIndex = 0;
  std::int32_t aboveCount = 0;
  std::int32_t belowCount = 0;
  std::int32_t lookback = 1;
  std::int32_t guard = 1;

  double inputPower = 0.0;
  double inputPowerCoef = 0.0;
  double bandPowerCoef = 0.0;
  double analysisCoef = 0.0;
  double noiseFloorCoef = 0.0;
  int sampleCounter = 0;
  bool eqActive = false;
  bool aboveThreshold = false;

  // False until the first Prepare: until then audio passes through untouched.
  bool prepared = false;
  // Counts learns from the input that reached their step count. Stops, resets and restores never
  // move it, so an owner can tell a completed learn from any other end of learning.
  std::uint32_t learnsCompleted = 0;

  Kernel kernel = Kernel::kBlocked;

  // For a file learner, which reads nothing of a step but its gate and calibrated band powers: the
  // control step computes only those (as the full step does) and leaves levels, history, gains and
  // learning alone.
  bool analysisOnly = false;

  // Called after every control step with the engine as that step left it, so an owner can read each
  // step's gate and levels while handing over many steps' worth of samples per call.
  using StepListener = void (*)(void* context, const ToneEngine& engine);
  StepListener stepListener = nullptr;
  void* stepListenerContext = nullptr;

private:
  template <typename T>
  void ProcessPlain(const T* const* inputs, T* const* outputs, int n, int nFrames);
  template <typename T>
  void ProcessBlocked(const T* const* inputs, T* const* outputs, int n, int nFrames);
  template <typename T>
  void ProcessAny(const T* const* inputs, T* const* outputs, int nChannels, int nFrames);

  BiquadCoefficients DesignPreEqBand(int band, const PreEqValues& v) const;
  // The control step's band arithmetic compiled for each instruction set; all give the same bits.
  void ControlStepBaseline();
  void ControlStepAvx2();
  void ControlStepAvx512();
  void PublishAnalysis();
  void ClearFilterStates();
  double LimitCorner(double hz) const;

  // Per-band values that Configure derives from a few settings, kept until those settings change:
  // a host automating one knob should not pay for every curve again.
  struct CachedCurve
  {
    std::array<double, 4> key{};
    bool valid = false;
    Row values{};
    Row extra{};
    bool Matches(const std::array<double, 4>& k) const { return valid && key == k; }
  };
  const Row& CutCurve(CachedCurve& cache, bool high, double cornerHz);

  std::array<ResponsePoint, kNumBands> centrePoints{}; // response points of the band centres at sampleRate
  std::array<double, kNumBands> centreOctaves{};       // log2(centre / 1000)
  std::array<CachedCurve, kNumTargetBands> targetCurves{}; // values: target weight, extra: exclusion factor
  CachedCurve rangeCurve;
  CachedCurve highPassCurve, lowPassCurve;
  std::array<CachedCurve, kNumPreEqBands> preEqCurves{};
  // What the cut and pre-EQ sections were last designed from, so a glide of one filter does not
  // redesign the others (the result would be the same coefficients).
  double hpDesignedHz = -1.0;
  double lpDesignedHz = -1.0;
  std::array<std::array<double, 4>, kNumPreEqBands> preEqDesigned{};
  std::array<bool, kNumPreEqBands> preEqDesignedValid{};
  // Set when a control step cleared the filter states, so a blocked run reloads its copies, and
  // when a glide redesigned a cut or pre-EQ section, so that it reloads their coefficients.
  bool filterStatesCleared = false;
  bool preSectionsRedesigned = false;
  // What the control step keeps beside the published fields; its code for each instruction set
  // reaches it through this member.
  struct ControlState
  {
    // Per-band constants at this rate, as rows loaded whole.
    Row calibrationFactor{}; // 10^(-calibration/10): band power to calibrated power
    Row peakCosW0{};
    Row peakAlpha{};
    std::array<std::int64_t, kNumBands> enabledBits{}; // all ones for an enabled band
    std::array<std::int64_t, kNumBands> middleBits{};  // all ones for an enabled middle band
    int middleCount = 0;
    // The gate compares powers: the threshold as a power, and the threshold it was computed from.
    double gatePower = 0.0;
    double gateDb = 0.0;
    bool gateValid = false;

    double GatePowerFor(double thresholdDb)
    {
      if (!gateValid || !(thresholdDb == gateDb))
      {
        gateDb = thresholdDb;
        gatePower = GatePower(thresholdDb);
        gateValid = true;
      }
      return gatePower;
    }
    // correctionMatrix by columns, and the gains it last aimed at for the weighted errors it was given.
    std::array<Row, kNumBands> correctionColumns{};
    Row gainTargetInput{};
    Row gainTargets{};
    bool gainTargetsValid = false;
    // Bit k set when a step redesigned correction band k, so a blocked run reloads it.
    std::uint32_t correctionRedesigned = 0;
  };
  ControlState control;
};

} // namespace morvellan
