// Requests a host sends through the connection point: learning a target
// from a reference file and saving and loading presets, end to end.

#include "AudioFile.h"
#include "BundleFixture.h"
#include "HostMessage.h"

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <unistd.h>

using namespace bundle_test;
using namespace Steinberg;

namespace {

// A folder of its own for each test, also standing in as the user's data home.
class TempHome {
public:
    TempHome()
        : mPath(std::filesystem::temp_directory_path() /
                ("mvhost-home-" + std::to_string(::getpid()) + "-" + std::to_string(sCount++)))
    {
        std::filesystem::create_directories(mPath);
        const char* old = std::getenv("XDG_DATA_HOME");
        mOld = old ? std::optional<std::string>(old) : std::nullopt;
        ::setenv("XDG_DATA_HOME", mPath.c_str(), 1);
    }
    ~TempHome()
    {
        if (mOld) {
            ::setenv("XDG_DATA_HOME", mOld->c_str(), 1);
        } else {
            ::unsetenv("XDG_DATA_HOME");
        }
        std::error_code ec;
        std::filesystem::remove_all(mPath, ec);
    }
    const std::filesystem::path& Path() const { return mPath; }

private:
    static inline int sCount = 0;
    std::filesystem::path mPath;
    std::optional<std::string> mOld;
};

tresult Send(mvhost::PluginInstance& instance, const char* id, mvhost::AttributeList& attributes)
{
    return mvhost::SendMessage(instance, id, attributes);
}

} // namespace

using MessagesTest = BundleTest;

TEST_F(MessagesTest, LearnsATargetFromAReferenceFile)
{
    TempHome home;
    // Ten seconds of noise falling 3 dB per octave more than pink.
    const mvhost::Audio reference = mvhost::MakeTiltedNoise(48000.0, 10.0, 2, 31);
    const auto file = home.Path() / "dark mix.wav";
    std::string error;
    ASSERT_TRUE(mvhost::WriteWavFile(file, reference, false, error)) << error;

    auto instance = StartedInstance(2, 2, false, 512);
    ASSERT_NE(instance, nullptr);
    mvhost::AttributeList attributes;
    attributes.SetText("path", file.string());
    attributes.setInt("wait", 1);
    ASSERT_EQ(Send(*instance, "MorvellanLearnReference", attributes), kResultOk);
    std::string failure;
    EXPECT_FALSE(attributes.GetText("error", failure)) << failure;
    std::string source;
    EXPECT_TRUE(attributes.GetText("source", source));
    EXPECT_EQ(source, "dark mix.wav");

    // The next block adopts the target; then the state carries it.
    const std::vector<std::vector<float>> silence(2, std::vector<float>(512, 0.0f));
    float* in[2] = {const_cast<float*>(silence[0].data()), const_cast<float*>(silence[1].data())};
    std::vector<float> l(512), r(512);
    float* out[2] = {l.data(), r.data()};
    ASSERT_EQ(instance->Process(in, 2, out, 2, 512), kResultOk);
    const auto s = ParsedStateOf(*instance);
    EXPECT_EQ(s.hasTarget, 1);
    EXPECT_EQ(s.source, "dark mix.wav");
    // Relative to the mean of bands 2 to 8, a -3 dB/octave tilt puts each
    // band 2 dB below the one before: about +6 dB at 100 Hz, -6 dB at 6.4 kHz.
    for (std::size_t b = 1; b < 10; ++b) {
        EXPECT_NEAR(s.relative[b - 1] - s.relative[b], 2.0, 1.0) << "band " << b;
    }
    double mean = 0.0;
    for (std::size_t b = 2; b <= 8; ++b) {
        mean += s.relative[b] / 7.0;
    }
    EXPECT_NEAR(mean, 0.0, 0.05);
}

TEST_F(MessagesTest, ReferenceThatIsNotAudioReportsAndKeepsTheTarget)
{
    TempHome home;
    const auto file = home.Path() / "notes.wav";
    std::ofstream(file) << "these are not samples";
    auto instance = StartedInstance(2, 2, false, 512);
    ASSERT_NE(instance, nullptr);
    const auto before = StateOf(*instance);
    mvhost::AttributeList attributes;
    attributes.SetText("path", file.string());
    attributes.setInt("wait", 1);
    ASSERT_EQ(Send(*instance, "MorvellanLearnReference", attributes), kResultOk);
    std::string failure;
    EXPECT_TRUE(attributes.GetText("error", failure));
    EXPECT_FALSE(failure.empty());
    EXPECT_EQ(StateOf(*instance), before);
}

TEST_F(MessagesTest, SavedPresetLoadsIntoAnotherInstance)
{
    TempHome home;
    auto a = NewInstance();
    ASSERT_NE(a, nullptr);
    SetPlain(*a, idx::kAmount, 73.0);
    SetPlain(*a, idx::kTilt, -1.5);
    SetPlain(*a, idx::kLowFreq, 200.0);
    mvhost::AttributeList save;
    save.SetText("name", "Warm Vox");
    ASSERT_EQ(Send(*a, "MorvellanSavePreset", save), kResultOk);
    std::string failure;
    ASSERT_FALSE(save.GetText("error", failure)) << failure;
    std::string path;
    ASSERT_TRUE(save.GetText("path", path));
    ASSERT_TRUE(std::filesystem::exists(path)) << path;
    // It lives under the data home we gave.
    EXPECT_EQ(std::filesystem::path(path).string().rfind(home.Path().string(), 0), 0u) << path;
    const auto saved = ParsedStateOf(*a);
    EXPECT_EQ(saved.preset, "Warm Vox");

    auto b = NewInstance();
    ASSERT_NE(b, nullptr);
    mvhost::AttributeList load;
    load.SetText("path", path);
    ASSERT_EQ(Send(*b, "MorvellanLoadPreset", load), kResultOk);
    ASSERT_FALSE(load.GetText("error", failure)) << failure;
    const auto loaded = ParsedStateOf(*b);
    EXPECT_EQ(loaded.preset, "Warm Vox");
    // Telling the host about the loaded values must not move them: a state saved
    // right after the load holds the preset's exact values.
    for (std::size_t i = 0; i < static_cast<std::size_t>(kParams); ++i)
        EXPECT_EQ(loaded.params[i], saved.params[i]) << kParamTable[i].title;
    EXPECT_EQ(loaded.params[idx::kAmount], 73.0);

    // A damaged preset file changes nothing and says so.
    const auto before = StateOf(*b);
    std::ofstream(path, std::ios::trunc) << "garbage\n";
    mvhost::AttributeList bad;
    bad.SetText("path", path);
    ASSERT_EQ(Send(*b, "MorvellanLoadPreset", bad), kResultOk);
    EXPECT_TRUE(bad.GetText("error", failure));
    EXPECT_EQ(StateOf(*b), before);
}

TEST_F(MessagesTest, UnknownMessagesAreRefused)
{
    auto instance = NewInstance();
    ASSERT_NE(instance, nullptr);
    mvhost::AttributeList attributes;
    EXPECT_NE(Send(*instance, "NoSuchRequest", attributes), kResultOk);
    // A known request without its argument answers with an error text.
    ASSERT_EQ(Send(*instance, "MorvellanLoadPreset", attributes), kResultOk);
    std::string failure;
    EXPECT_TRUE(attributes.GetText("error", failure));
}
