#pragma once

#include "Biquad.h"

// The section designs and responses as the engine had them: the C library's pow, log10, sin and
// cos, one division per coefficient. Called qualified (exact::), so that the engine's own designs,
// which argument-dependent lookup also sees, never stand in for them.
namespace morvellan::exact {

BandShape MakeBandShape(double freqHz, double q, double sampleRate);
BiquadCoefficients DesignPeaking(double freqHz, double gainDb, double q, double sampleRate);
BiquadCoefficients DesignPeaking(double gainDb, const BandShape& shape);
BiquadCoefficients DesignBandPass(double freqHz, double q, double sampleRate);
BiquadCoefficients DesignHighPass(double freqHz, double sampleRate);
BiquadCoefficients DesignLowPass(double freqHz, double sampleRate);
BiquadCoefficients DesignShelf(bool high, double freqHz, double gainDb, double q, double sampleRate);
ResponsePoint MakeResponsePoint(double freqHz, double sampleRate);
double MagnitudeDbAt(const BiquadCoefficients& c, const ResponsePoint& p);
double BiquadMagnitudeDb(const BiquadCoefficients& c, double freqHz, double sampleRate);

} // namespace morvellan::exact
