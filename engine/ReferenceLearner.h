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

// Decodes the file (up to kReferenceMaxSeconds) and learns from it as the two steps above do, with
// the same answers and errors, analysing what has been decoded while the decoder reads on. Only an
// allocation failure throws.
bool LearnTargetFromFile(const std::string& pathUtf8, BandBalance& out, std::string& error);

} // namespace morvellan
