// The host's generated signals and band analysis, checked against levels
// worked out from first principles.

#include "AudioFile.h"
#include "Signal.h"

#include <sndfile.h>

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <unistd.h>

using namespace mvhost;

namespace {

Audio Sine(double fs, double hz, double amplitude, double seconds)
{
    Audio a;
    a.sampleRate = fs;
    a.channels.emplace_back(static_cast<std::size_t>(fs * seconds));
    for (std::size_t i = 0; i < a.channels[0].size(); ++i) {
        a.channels[0][i] = amplitude * std::sin(2.0 * std::numbers::pi * hz * i / fs);
    }
    return a;
}

std::filesystem::path TempFile(const std::string& name)
{
    return std::filesystem::temp_directory_path() /
           ("mvhost-" + std::to_string(::getpid()) + "-" + name);
}

} // namespace

TEST(BandAnalysisTest, ASineAtACentreReadsItsPowerInItsBandOnly)
{
    for (std::size_t band : {0u, 5u, 9u}) {
        const double amplitude = 0.5;
        const Audio a = Sine(48000.0, kBandCentresHz[band], amplitude, 2.0);
        const auto levels = MeasureBandLevels(a, 9600, a.Frames());
        // A sine's mean power is A²/2.
        const double expected = 10.0 * std::log10(amplitude * amplitude / 2.0);
        EXPECT_NEAR(levels[band], expected, 0.2) << "band " << band;

        // Two thirds of an octave away (ratio r = 2^(2/3)) each of the two
        // sections passes 1 / (1 + Q²(r - 1/r)²) of the power: -7.2 dB.
        const double r = std::pow(2.0, 2.0 / 3.0);
        const double q = std::sqrt(r) / (r - 1.0);
        const double perSection = 10.0 * std::log10(1.0 + q * q * (r - 1.0 / r) * (r - 1.0 / r));
        // Near Nyquist the digital filter's skirts lean; there only the
        // separation is checked.
        const double tolerance = band < 9 ? 0.5 : 1.5;
        if (band > 0) {
            EXPECT_NEAR(levels[band - 1], expected - 2.0 * perSection, tolerance);
        }
        EXPECT_NEAR(levels[band + 1], expected - 2.0 * perSection, tolerance);
    }
}

TEST(BandAnalysisTest, BandsNearNyquistReadAsMissing)
{
    const Audio a = Sine(22050.0, 1000.0, 0.5, 0.5);
    const auto levels = MeasureBandLevels(a, 0, a.Frames());
    EXPECT_TRUE(std::isnan(levels[11]));
    EXPECT_TRUE(std::isnan(levels[10]));
    EXPECT_FALSE(std::isnan(levels[9]));
    // An empty window measures nothing.
    EXPECT_TRUE(std::isnan(MeasureBandLevels(a, 100, 100)[5]));
}

TEST(SignalTest, PinkNoiseHasEqualPowerInEveryBand)
{
    const Audio pink = MakePinkNoise(48000.0, 8.0, 2, 11);
    ASSERT_EQ(pink.channels.size(), 2u);
    EXPECT_NE(pink.channels[0][1000], pink.channels[1][1000]); // independent channels
    const auto levels = MeasureBandLevels(pink, 0, pink.Frames());
    double mean = 0.0;
    for (double l : levels) {
        mean += l / kNumBands;
    }
    for (std::size_t b = 0; b < kNumBands; ++b) {
        EXPECT_NEAR(levels[b], mean, 1.0) << "band " << b;
    }
    // -20 dBFS RMS over both channels.
    double sum = 0.0;
    for (const auto& ch : pink.channels) {
        for (double s : ch) {
            sum += s * s;
        }
    }
    EXPECT_NEAR(10.0 * std::log10(sum / (2.0 * pink.Frames())), -20.0, 0.01);
}

TEST(SignalTest, TiltedNoiseFallsThreeDbPerOctave)
{
    const Audio tilted = MakeTiltedNoise(48000.0, 8.0, 1, 5);
    const auto levels = MeasureBandLevels(tilted, 0, tilted.Frames());
    // Bands are 2/3 octave apart: 2 dB per band, 22 dB over the 11 steps.
    for (std::size_t b = 1; b < kNumBands; ++b) {
        EXPECT_NEAR(levels[b - 1] - levels[b], 2.0, 1.0) << "band " << b;
    }
    EXPECT_NEAR(levels[0] - levels[11], 22.0, 2.0);
    double peak = 0.0;
    for (double s : tilted.channels[0]) {
        peak = std::max(peak, std::abs(s));
    }
    EXPECT_LT(peak, 1.0);
}

TEST(SignalTest, SameSeedSameNoise)
{
    const Audio a = MakeTiltedNoise(44100.0, 0.1, 2, 3);
    const Audio b = MakeTiltedNoise(44100.0, 0.1, 2, 3);
    const Audio c = MakeTiltedNoise(44100.0, 0.1, 2, 4);
    EXPECT_EQ(a.channels, b.channels);
    EXPECT_NE(a.channels, c.channels);
    EXPECT_EQ(a.Frames(), 4410u);
}

TEST(AudioFileTest, WritesFloatWavThatLibsndfileReadsBack)
{
    Audio a;
    a.sampleRate = 44100.0;
    a.channels = {{0.0, 0.5, -0.25, 1.0}, {0.125, -1.0, 0.75, 0.0}};
    const auto path = TempFile("out.wav");
    std::string error;
    ASSERT_TRUE(WriteWavFile(path, a, false, error)) << error;

    SF_INFO info{};
    SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(info.samplerate, 44100);
    EXPECT_EQ(info.channels, 2);
    EXPECT_EQ(info.format, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
    float frames[8] = {};
    EXPECT_EQ(sf_readf_float(f, frames, 4), 4);
    sf_close(f);
    const float expected[8] = {0.0f, 0.125f, 0.5f, -1.0f, -0.25f, 0.75f, 1.0f, 0.0f};
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(frames[i], expected[i]) << i;
    }

    Audio back;
    ASSERT_TRUE(ReadAudioFile(path, back, error)) << error;
    EXPECT_EQ(back.sampleRate, 44100.0);
    EXPECT_EQ(back.channels, a.channels);
    std::filesystem::remove(path);
}

TEST(AudioFileTest, RefusesFilesThatAreNotAudio)
{
    const auto path = TempFile("bad.wav");
    std::ofstream(path, std::ios::binary) << "RIFF\x10\0\0\0WAVEjunkjunkjunk";
    Audio a;
    std::string error;
    EXPECT_FALSE(ReadAudioFile(path, a, error));
    EXPECT_NE(error.find(path.string()), std::string::npos) << error;
    EXPECT_FALSE(ReadAudioFile(TempFile("missing.wav"), a, error));
    std::filesystem::remove(path);

    Audio empty;
    EXPECT_FALSE(WriteWavFile(TempFile("empty.wav"), empty, false, error));
}
