#pragma once

#include <cstdint>

// Identities shared by the plug-in, the editor and the tests.

namespace morvellan {

constexpr std::uint32_t FourCC(const char (&code)[5])
{
  return (std::uint32_t(std::uint8_t(code[0])) << 24) | (std::uint32_t(std::uint8_t(code[1])) << 16) |
         (std::uint32_t(std::uint8_t(code[2])) << 8) | std::uint32_t(std::uint8_t(code[3]));
}

constexpr std::uint32_t kMakerCode = FourCC("Hlvd");
constexpr std::uint32_t kPluginCode = FourCC("Mrvn");

// The class ID's four words; the factory lays them out in the SDK's byte order.
constexpr std::uint32_t kClassIdWords[4] = {0xF2AEE70Du, 0x00DE4F4Eu, kMakerCode, kPluginCode};

// 0.9.14: major in the upper 16 bits, minor and revision in the two lower bytes.
constexpr int kVendorVersion = 0x090E;

} // namespace morvellan

// Host-visible parameter indices. The order is part of the saved state and of the host's view.
enum EParams
{
  kAmount = 0,
  kSpeed,
  kThreshold,
  kMaxBoost,
  kMaxCut,
  kLowTarget,
  kLowFreq,
  kLowOn,
  kBodyTarget,
  kBodyFreq,
  kBodyOn,
  kPresenceTarget,
  kPresenceFreq,
  kPresenceOn,
  kAirTarget,
  kAirFreq,
  kAirOn,
  kHPFreq,
  kHPOn,
  kLPFreq,
  kLPOn,
  kOutput,
  kBypass,
  kTilt,
  kUnusedAutoGain,
  kRangeLow,
  kRangeHigh,
  kPreEq1Gain,
  kPreEq1Freq,
  kPreEq1Q,
  kPreEq1On,
  kPreEq2Gain,
  kPreEq2Freq,
  kPreEq2Q,
  kPreEq2On,
  kPreEq3Gain,
  kPreEq3Freq,
  kPreEq3Q,
  kPreEq3On,
  kPreEq4Gain,
  kPreEq4Freq,
  kPreEq4Q,
  kPreEq4On,
  kPreEq1Shelf,
  kPreEq4Shelf,
  kPreEqRespect,
  kNumParams
};

static_assert(kPreEqRespect == 45 && kNumParams == 46);
static_assert(kTilt == 23 && kUnusedAutoGain == 24);

// Control tags shared by the editor and the idle callback.
enum EControlTags
{
  kCtrlTagTitle = 0,
  kCtrlTagStatus = 1,
  kCtrlTagInputMeter = 2,
  kCtrlTagOutputMeter = 3,
  kCtrlTagPresetBar = 4
};
