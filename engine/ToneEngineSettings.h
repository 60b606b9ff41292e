#pragma once

#include <array>

namespace morvellan {

constexpr int kNumTargetBands = 4;
constexpr int kNumPreEqBands = 4;

// The engine's whole configuration, filled once per audio block from the parameters.
struct ToneEngineSettings
{
  struct TargetBand
  {
    double freqHz = 1000.0;
    double gainDb = 0.0;
    bool on = true;
    bool operator==(const TargetBand&) const = default;
  };

  struct PreEqBand
  {
    double freqHz = 1000.0;
    double gainDb = 0.0;
    double q = 1.0;
    bool on = true;
    bool shelf = false;
    bool operator==(const PreEqBand&) const = default;
  };

  static constexpr std::array<TargetBand, kNumTargetBands> kDefaultTargetBands = {
      TargetBand{120.0, 0.0, true}, TargetBand{300.0, 0.0, true}, TargetBand{3000.0, 0.0, true},
      TargetBand{10000.0, 0.0, true}};

  // Band 1 may be a low shelf and band 4 a high shelf; bands 2 and 3 are always peaks.
  static constexpr std::array<PreEqBand, kNumPreEqBands> kDefaultPreEqBands = {
      PreEqBand{100.0, 0.0, 0.707, true, true}, PreEqBand{400.0, 0.0, 1.0, true, false},
      PreEqBand{2500.0, 0.0, 1.0, true, false}, PreEqBand{8000.0, 0.0, 0.707, true, true}};

  double amount = 0.0; // 0..1
  double speed = 0.5;  // 0..1
  double thresholdDb = -40.0;
  double maxBoostDb = 6.0;
  double maxCutDb = 9.0;
  std::array<TargetBand, kNumTargetBands> targetBands = kDefaultTargetBands;
  bool hpOn = false;
  double hpFreqHz = 20.0;
  bool lpOn = false;
  double lpFreqHz = 20000.0;
  double outputDb = 0.0;
  double tiltDbPerOct = 0.0;
  double rangeLowHz = 20.0;
  double rangeHighHz = 20000.0;
  std::array<PreEqBand, kNumPreEqBands> preEqBands = kDefaultPreEqBands;
  double respect = 0.5; // 0..1

  // Exact comparison of every number and switch: the audio callback reconfigures only on a difference.
  bool operator==(const ToneEngineSettings&) const = default;
};

} // namespace morvellan
