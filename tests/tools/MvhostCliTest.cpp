// The mvhost program itself, run as a user would run it.

#include "AudioFile.h"
#include "BundleFixture.h"
#include "MvhostRun.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

namespace {

std::filesystem::path Temp(const std::string& name)
{
    return std::filesystem::temp_directory_path() /
           ("mvhost-cli-" + std::to_string(::getpid()) + "-" + name);
}

} // namespace

TEST(MvhostCliTest, ListsClassAndParameters)
{
    const CliRun r = Mvhost("info " + bundle_test::BundlePath());
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("vendor: Halvorsted"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("sub-categories: Fx|EQ"), std::string::npos);
    EXPECT_NE(r.out.find("SDK version: VST 3.8.1"), std::string::npos);
    EXPECT_NE(r.out.find("class ID: F2AEE70D 00DE4F4E 486C7664 4D72766E"), std::string::npos);
    EXPECT_NE(r.out.find("Parameters of \"Morvellan\" (47)"), std::string::npos);
    EXPECT_NE(r.out.find("Unused (was Auto Gain)"), std::string::npos);
}

TEST(MvhostCliTest, RendersAFileAndKeepsTheState)
{
    // A short stereo file, bypassed: the written output equals it.
    mvhost::Audio input = mvhost::MakeTiltedNoise(44100.0, 0.5, 2, 77);
    for (auto& ch : input.channels) {
        for (auto& s : ch) {
            s = static_cast<float>(s); // exactly representable in the float file
        }
    }
    const auto in = Temp("in.wav");
    const auto out = Temp("out.wav");
    const auto state = Temp("state.bin");
    std::string error;
    ASSERT_TRUE(mvhost::WriteWavFile(in, input, false, error)) << error;

    CliRun r = Mvhost("render " + bundle_test::BundlePath() + " --in " + in.string() + " --out " +
                   out.string() + " --block 100 --set Bypass=1 --set 'Analysis Threshold=-55.5'" +
                   " --save-state " + state.string());
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("spread"), std::string::npos) << r.out;
    mvhost::Audio output;
    ASSERT_TRUE(mvhost::ReadAudioFile(out, output, error)) << error;
    EXPECT_EQ(output.sampleRate, 44100.0);
    EXPECT_EQ(output.channels, input.channels);

    std::ifstream stateFile(state, std::ios::binary);
    const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(stateFile)),
                                          std::istreambuf_iterator<char>());
    bundle_test::SavedState s;
    ASSERT_TRUE(bundle_test::ParseState(bytes, s));
    EXPECT_EQ(s.params[bundle_test::idx::kThreshold], -55.5);
    EXPECT_EQ(s.params[bundle_test::idx::kBypass], 1.0);

    // The parameter list shows what the saved state holds.
    r = Mvhost("info " + bundle_test::BundlePath() + " --load-state " + state.string());
    ASSERT_EQ(r.status, 0) << r.out;
    const auto line = r.out.find("Analysis Threshold");
    ASSERT_NE(line, std::string::npos) << r.out;
    std::istringstream row(r.out.substr(line, r.out.find('\n', line) - line));
    std::vector<std::string> words{std::istream_iterator<std::string>(row),
                                   std::istream_iterator<std::string>()};
    ASSERT_GE(words.size(), 5u);
    // ... units, default, current, steps, flags.
    EXPECT_EQ(words[words.size() - 4], "-40");
    EXPECT_EQ(words[words.size() - 3], "-55.5");

    // The saved state brings the bypass back in a new run, in 64-bit.
    r = Mvhost("render " + bundle_test::BundlePath() + " --in " + in.string() + " --out " +
               out.string() + " --double --load-state " + state.string());
    ASSERT_EQ(r.status, 0) << r.out;
    ASSERT_TRUE(mvhost::ReadAudioFile(out, output, error)) << error;
    EXPECT_EQ(output.channels, input.channels);

    for (const auto& p : {in, out, state}) {
        std::filesystem::remove(p);
    }
}

TEST(MvhostCliTest, ReportsBadRequestsClearly)
{
    CliRun r = Mvhost("render " + bundle_test::BundlePath() + " --seconds 0.1 --set Nope=3");
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.out.find("no parameter named \"Nope\""), std::string::npos) << r.out;

    r = Mvhost("render " + bundle_test::BundlePath() + " --block 0");
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.out.find("--block"), std::string::npos) << r.out;

    r = Mvhost("render " + bundle_test::BundlePath() + " --seconds 600 --rate 192000");
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.out.find("too long"), std::string::npos) << r.out;

    const auto junk = Temp("junk.wav");
    std::ofstream(junk) << "not audio";
    r = Mvhost("render " + bundle_test::BundlePath() + " --in " + junk.string());
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.out.find(junk.string()), std::string::npos) << r.out;
    std::filesystem::remove(junk);

    const auto badState = Temp("bad.state");
    std::ofstream(badState) << "MVS";
    r = Mvhost("render " + bundle_test::BundlePath() + " --seconds 0.1 --load-state " +
               badState.string());
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.out.find("refused the state"), std::string::npos) << r.out;
    std::filesystem::remove(badState);

    r = Mvhost("frobnicate");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.out.find("unknown command"), std::string::npos) << r.out;
}

TEST(MvhostCliTest, BlankPresetNameSaysNothingWasSaved)
{
    const CliRun r = Mvhost("render " + bundle_test::BundlePath() + " --seconds 0.1 --save-preset '   '");
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("Saved no preset: the name \"   \" is blank\n"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("Saved the preset"), std::string::npos) << r.out;
}

TEST(MvhostCliTest, GeneratedSignalComesOutFlatter)
{
    const CliRun r = Mvhost("render " + bundle_test::BundlePath() +
                            " --seconds 8 --set Amount=100 --set Speed=100");
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("stereo pink noise with a bass tilt"), std::string::npos) << r.out;
    // One row per band, then the spread of each column.
    int rows = 0;
    for (std::size_t at = r.out.find("\n  "); at != std::string::npos; at = r.out.find("\n  ", at + 1)) {
        double centre = 0, in = 0, out = 0, change = 0;
        if (std::sscanf(r.out.c_str() + at, "%lf %lf %lf %lf", &centre, &in, &out, &change) == 4) {
            // Each column is rounded to a tenth on its own.
            EXPECT_NEAR(out - in, change, 0.1001) << r.out;
            ++rows;
        }
    }
    EXPECT_EQ(rows, 12) << r.out;
    double inSpread = 0, outSpread = 0;
    const auto at = r.out.find("spread (highest - lowest band):");
    ASSERT_NE(at, std::string::npos) << r.out;
    ASSERT_EQ(std::sscanf(r.out.c_str() + at,
                          "spread (highest - lowest band): input %lf dB, output %lf dB", &inSpread,
                          &outSpread),
              2)
        << r.out;
    EXPECT_GT(inSpread, 18.0);
    EXPECT_LT(outSpread, inSpread - 8.0);
}
