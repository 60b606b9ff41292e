#pragma once

#include <array>

#include "IParam.h"
#include "MorvellanIds.h"

namespace morvellan {

enum class ParamKind
{
  kDouble,    // linear, or exponential for the Q parameters
  kFrequency, // exponential, "Hz", step 0.1
  kSwitch     // stepped off/on
};

struct ParamSpec
{
  EParams index;
  const char* name;
  ParamKind kind;
  double defaultValue; // a switch's default is 0 or 1
  double minValue;
  double maxValue;
  double step;
  const char* label;
  bool exponential;
  bool automatable;
};

// Every host-visible parameter, in index order.
extern const std::array<ParamSpec, kNumParams>& kParamTable;

// Declares one parameter from its row.
void DeclareParameter(iplug::IParam& param, const ParamSpec& spec);

} // namespace morvellan
