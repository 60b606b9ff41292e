#include "Signal.h"

#include <cmath>
#include <limits>
#include <numbers>
#include <random>

namespace mvhost {

namespace {

// Direct-form-I biquad with RBJ cookbook coefficients.
struct Biquad {
    double b0 = 1, b1 = 0, b2 = 0, a1 = 0, a2 = 0;
    // x1, x2: last inputs; y1, y2: last outputs.
    double x1 = 0, x2 = 0, y1 = 0, y2 = 0;

    double Run(double x)
    {
        const double y = b0 * x + b1 * x1 + b2 * x2 - a1 * y1 - a2 * y2;
        x2 = x1;
        x1 = x;
        y2 = y1;
        y1 = y;
        return y;
    }

    // Constant 0 dB peak; the bandwidth in octaves is held in the digital
    // domain (the cookbook's warping-corrected form).
    static Biquad BandPass(double fs, double f, double octaves)
    {
        const double w = 2.0 * std::numbers::pi * f / fs;
        const double alpha =
            std::sin(w) * std::sinh(std::numbers::ln2 / 2.0 * octaves * w / std::sin(w));
        const double a0 = 1.0 + alpha;
        Biquad s;
        s.b0 = alpha / a0;
        s.b1 = 0.0;
        s.b2 = -alpha / a0;
        s.a1 = -2.0 * std::cos(w) / a0;
        s.a2 = (1.0 - alpha) / a0;
        return s;
    }
};

// Paul Kellet's refined pink filter on white noise: within ±0.05 dB of a
// -3 dB/octave slope across the audio band.
class PinkFilter {
public:
    double Run(double white)
    {
        b0 = 0.99886 * b0 + white * 0.0555179;
        b1 = 0.99332 * b1 + white * 0.0750759;
        b2 = 0.96900 * b2 + white * 0.1538520;
        b3 = 0.86650 * b3 + white * 0.3104856;
        b4 = 0.55000 * b4 + white * 0.5329522;
        b5 = -0.7616 * b5 - white * 0.0168980;
        const double pink = b0 + b1 + b2 + b3 + b4 + b5 + b6 + white * 0.5362;
        b6 = white * 0.115926;
        return pink * 0.11;
    }

private:
    double b0 = 0, b1 = 0, b2 = 0, b3 = 0, b4 = 0, b5 = 0, b6 = 0;
};

// -20 dBFS RMS leaves the noise peaks well clear of full scale.
constexpr double kNoiseRms = 0.1;

void ScaleToRms(Audio& audio, double rms)
{
    double sum = 0.0;
    std::size_t count = 0;
    for (const auto& samples : audio.channels) {
        for (double s : samples) {
            sum += s * s;
        }
        count += samples.size();
    }
    if (count == 0 || sum <= 0.0) {
        return;
    }
    const double gain = rms / std::sqrt(sum / static_cast<double>(count));
    for (auto& samples : audio.channels) {
        for (auto& s : samples) {
            s *= gain;
        }
    }
}

} // namespace

Audio MakePinkNoise(double sampleRate, double seconds, int channels, std::uint32_t seed)
{
    Audio audio;
    audio.sampleRate = sampleRate;
    const auto frames = static_cast<std::size_t>(std::llround(sampleRate * seconds));
    for (int c = 0; c < channels; ++c) {
        std::mt19937 rng(seed + static_cast<std::uint32_t>(c) * 7919u);
        std::uniform_real_distribution<double> uniform(-1.0, 1.0);
        PinkFilter pink;
        std::vector<double> samples(frames);
        for (auto& s : samples) {
            s = pink.Run(uniform(rng));
        }
        audio.channels.push_back(std::move(samples));
    }
    ScaleToRms(audio, kNoiseRms);
    return audio;
}

Audio MakeTiltedNoise(double sampleRate, double seconds, int channels, std::uint32_t seed)
{
    Audio audio = MakePinkNoise(sampleRate, seconds, channels, seed);
    // A second pink filter adds another -3 dB/octave across the whole range.
    for (auto& samples : audio.channels) {
        PinkFilter again;
        for (auto& s : samples) {
            s = again.Run(s);
        }
    }
    ScaleToRms(audio, kNoiseRms);
    return audio;
}

std::array<double, kNumBands> MeasureBandLevels(const Audio& audio, std::size_t begin,
                                                std::size_t end)
{
    std::array<double, kNumBands> levels;
    levels.fill(std::numeric_limits<double>::quiet_NaN());
    end = std::min(end, audio.Frames());
    if (begin >= end || audio.channels.empty()) {
        return levels;
    }
    const double ratio = std::pow(2.0, 2.0 / 3.0);
    // Let each filter settle on the samples before the window where it can.
    const std::size_t settle = static_cast<std::size_t>(audio.sampleRate * 0.1);
    const std::size_t start = begin > settle ? begin - settle : 0;
    for (std::size_t b = 0; b < kNumBands; ++b) {
        if (kBandCentresHz[b] * std::sqrt(ratio) >= 0.5 * audio.sampleRate) {
            continue;
        }
        double power = 0.0;
        for (const auto& samples : audio.channels) {
            // Two sections in series: neighbouring centres fall some 14 dB.
            Biquad first = Biquad::BandPass(audio.sampleRate, kBandCentresHz[b], 2.0 / 3.0);
            Biquad second = first;
            double sum = 0.0;
            for (std::size_t i = start; i < end; ++i) {
                const double y = second.Run(first.Run(samples[i]));
                if (i >= begin) {
                    sum += y * y;
                }
            }
            power += sum / static_cast<double>(end - begin);
        }
        power /= static_cast<double>(audio.channels.size());
        levels[b] = 10.0 * std::log10(std::max(power, 1e-30));
    }
    return levels;
}

} // namespace mvhost
