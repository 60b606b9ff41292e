#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "MorvellanIds.h"

// The saved-state chunk: one writer (always the newest layout) and one reader that
// accepts every older layout. Pure byte work, so the plug-in applies what was read.

namespace morvellan::state {

constexpr std::uint32_t kMagic = FourCC("MVS1");
constexpr int kCurrentVersion = 5;
constexpr int kBandCount = 12;
// The parameter values are stored in two runs, split after kTilt.
constexpr int kHeadParamCount = kTilt + 1;
constexpr int kTailParamCount = kNumParams - kHeadParamCount;

using Bands = std::array<double, kBandCount>;

struct SavedState
{
  int accent = 0;
  int editorWidth = 0;
  int editorHeight = 0;
  bool hasTarget = false;
  Bands relative{};
  Bands absolute{};
  std::string sourceName;
  std::array<double, kNumParams> params{};
  bool hostBypass = false;
  std::string presetName;
  bool modified = false;
};

// Appends the current layout to out.
void WriteStateChunk(std::vector<std::uint8_t>& out, const SavedState& state);

enum class ReadOutcome
{
  kRestored, // a state chunk; restore what RestoredState holds
  kPlain,    // no magic: a plain run of parameter values
  kRejected  // too short to tell, or our magic with a damaged header: change nothing
};

struct RestoredState
{
  int version = 0;
  int accent = 0; // as stored; the caller maps out-of-range values
  int editorWidth = 0;
  int editorHeight = 0;
  // False also when the stored target held a value that is not a finite number.
  bool hasTarget = false;
  Bands relative{};
  Bands absolute{};    // the relative values when the chunk holds no absolute run
  std::string sourceName; // empty unless hasTarget
  std::array<double, kNumParams> params{};
  int headCount = 0; // params[0, headCount) were read; the rest of the head keeps its values
  int tailCount = 0; // params[24, 24 + tailCount) were read; the rest of the tail takes defaults
  std::string presetName;
  bool modified = false;
  int endPos = -1; // position after the last field, or -1 when the chunk was cut short
};

// Reads a chunk from startPos. Never reads outside bytes and never loops on a count.
ReadOutcome ReadStateChunk(std::span<const std::uint8_t> bytes, int startPos, RestoredState& out);

} // namespace morvellan::state
