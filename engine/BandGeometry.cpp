#include "BandGeometry.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace morvellan {

const double kBandQ = std::sqrt(std::pow(2.0, 2.0 / 3.0)) / (std::pow(2.0, 2.0 / 3.0) - 1.0);

double RangeTaper(double freqHz, double edgeA, double edgeB)
{
  const double lo = std::min(edgeA, edgeB);
  const double hi = std::max(edgeA, edgeB);
  const double d = std::max({std::log2(lo / freqHz), std::log2(freqHz / hi), 0.0});
  if (d >= 1.0 / 3.0)
    return 0.0;
  return (std::cos(d * std::numbers::pi / (1.0 / 3.0)) + 1.0) * 0.5;
}

} // namespace morvellan
