#pragma once

#include "BandGeometry.h"

#include <string>
#include <vector>

// Derives a target balance from a decoded reference recording. Runs on the learning worker only.

namespace morvellan {

// Runs a private engine over the loud parts of `samples` at `sampleRate` and fills `out` with their
// balance; false with `error` set when the material is too short, too quiet or not loud for long
// enough. Bands the rate cannot carry come out as 0 dB and stay out of the reference mean.
bool LearnTargetFromSamples(const std::vector<float>& samples, double sampleRate, BandBalance& out,
                            std::string& error);

} // namespace morvellan
