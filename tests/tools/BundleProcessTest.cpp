// Audio through the bundle: bit-exact bypass and neutral settings in every
// sample size, layout and block size; zero-frame and parameter-only calls;
// bus arrangements; and the correction doing its job on a tilted signal.

#include "BundleFixture.h"

#include <pluginterfaces/vst/vstspeaker.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

using namespace bundle_test;
using namespace Steinberg;
using namespace Steinberg::Vst;

namespace {

// Runs the first `in` channels of the signal through the instance with the
// block sizes taken in turn, and returns `out` output channels.
template <typename Sample>
std::vector<std::vector<Sample>> RunBlocks(mvhost::PluginInstance& instance,
                                           const std::vector<std::vector<Sample>>& input,
                                           int outChannels, const std::vector<int>& blockSizes,
                                           tresult* firstFailure = nullptr)
{
    const std::size_t frames = input.at(0).size();
    std::vector<std::vector<Sample>> output(static_cast<std::size_t>(outChannels),
                                            std::vector<Sample>(frames, Sample(-7)));
    std::vector<Sample*> in(input.size());
    std::vector<Sample*> out(output.size());
    std::size_t pos = 0;
    std::size_t turn = 0;
    while (pos < frames) {
        const auto n = std::min<std::size_t>(
            static_cast<std::size_t>(blockSizes[turn++ % blockSizes.size()]), frames - pos);
        for (std::size_t c = 0; c < in.size(); ++c) {
            in[c] = const_cast<Sample*>(input[c].data()) + pos;
        }
        for (std::size_t c = 0; c < out.size(); ++c) {
            out[c] = output[c].data() + pos;
        }
        const tresult r = instance.Process(in.data(), static_cast<int32>(in.size()), out.data(),
                                           static_cast<int32>(out.size()), static_cast<int32>(n));
        if (r != kResultOk && firstFailure != nullptr && *firstFailure == kResultOk) {
            *firstFailure = r;
        }
        pos += n;
    }
    return output;
}

template <typename Sample>
std::vector<std::vector<Sample>> SignalAs(int channels, double seconds, std::uint32_t seed)
{
    const mvhost::Audio a = mvhost::MakeTiltedNoise(48000.0, seconds, channels, seed);
    std::vector<std::vector<Sample>> out;
    for (const auto& ch : a.channels) {
        out.emplace_back(ch.begin(), ch.end());
    }
    return out;
}

const std::vector<int> kBlockSizes = {1, 7, 31, 32, 33, 64, 100, 511, 512, 4096, 2, 1000};

} // namespace

class ProcessTest : public BundleTest {
protected:
    template <typename Sample>
    void CheckTransparent(bool bypass, int channels,
                          std::unique_ptr<mvhost::PluginInstance> instance);
};

template <typename Sample>
void ProcessTest::CheckTransparent(bool bypass, int channels,
                                   std::unique_ptr<mvhost::PluginInstance> instance)
{
    ASSERT_NE(instance, nullptr);
    if (bypass) {
        // Everything else at settings that would colour the sound.
        SetPlain(*instance, idx::kAmount, 100.0);
        SetPlain(*instance, idx::kOutput, 6.0);
        SetPlain(*instance, idx::kPreEq2Gain, 9.0);
        SetPlain(*instance, idx::kBypass, 1.0);
    } else {
        SetNeutral(*instance);
    }
    const auto input = SignalAs<Sample>(channels, 0.5, 21);
    tresult failure = kResultOk;
    const auto output = RunBlocks(*instance, input, channels, kBlockSizes, &failure);
    EXPECT_EQ(failure, kResultOk);
    for (int c = 0; c < channels; ++c) {
        // Bit for bit: compare as raw sample values, first mismatch reported.
        const auto& want = input[static_cast<std::size_t>(c)];
        const auto& got = output[static_cast<std::size_t>(c)];
        std::size_t firstDiff = want.size();
        for (std::size_t i = 0; i < want.size(); ++i) {
            if (std::memcmp(&want[i], &got[i], sizeof(Sample)) != 0) {
                firstDiff = i;
                break;
            }
        }
        EXPECT_EQ(firstDiff, want.size()) << "channel " << c << ": " << want[firstDiff] << " vs "
                                          << got[firstDiff];
    }
}

TEST_F(ProcessTest, BypassAndNeutralSettingsAreBitIdentical)
{
    for (const bool bypass : {true, false}) {
        for (const int channels : {1, 2}) {
            SCOPED_TRACE(std::string(bypass ? "bypass" : "neutral") + ", " +
                         std::to_string(channels) + " channel(s)");
            {
                SCOPED_TRACE("32-bit");
                CheckTransparent<float>(bypass, channels,
                                        StartedInstance(channels, channels, false));
            }
            {
                SCOPED_TRACE("64-bit");
                CheckTransparent<double>(bypass, channels,
                                         StartedInstance(channels, channels, true));
            }
        }
    }
}

TEST_F(ProcessTest, SilenceInGivesSilenceOut)
{
    auto instance = StartedInstance(2, 2, false, 512);
    ASSERT_NE(instance, nullptr);
    const std::vector<std::vector<float>> zeros(2, std::vector<float>(48000, 0.0f));
    const auto out = RunBlocks(*instance, zeros, 2, {512});
    for (const auto& ch : out) {
        for (float s : ch) {
            ASSERT_EQ(s, 0.0f);
        }
    }
}

TEST_F(ProcessTest, ZeroFrameAndParameterOnlyCalls)
{
    auto instance = StartedInstance(2, 2, false, 512);
    ASSERT_NE(instance, nullptr);

    // Zero frames with real buffers: nothing is written.
    float inL[4] = {0.5f, 0.5f, 0.5f, 0.5f}, inR[4] = {0.25f, 0.25f, 0.25f, 0.25f};
    float outL[4] = {9, 9, 9, 9}, outR[4] = {9, 9, 9, 9};
    float* ins[2] = {inL, inR};
    float* outs[2] = {outL, outR};
    EXPECT_EQ(instance->Process(ins, 2, outs, 2, 0), kResultOk);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(outL[i], 9.0f);
        EXPECT_EQ(outR[i], 9.0f);
    }

    // No audio buses at all, only parameter changes: the processor takes them.
    const auto amountId = IdOf(*instance, idx::kAmount);
    const auto tiltId = IdOf(*instance, idx::kTilt);
    mvhost::ParameterChanges changes;
    changes.Add(amountId, instance->PlainToNormalized(amountId, 80.0));
    ProcessData flush;
    flush.symbolicSampleSize = kSample32;
    flush.inputParameterChanges = &changes;
    EXPECT_EQ(instance->ProcessRaw(flush), kResultOk);

    // Buses with no channels and no buffers, another change.
    AudioBusBuffers none[2];
    ProcessData empty;
    empty.symbolicSampleSize = kSample32;
    empty.numInputs = 1;
    empty.numOutputs = 1;
    empty.inputs = &none[0];
    empty.outputs = &none[1];
    mvhost::ParameterChanges more;
    more.Add(tiltId, instance->PlainToNormalized(tiltId, -3.0));
    empty.inputParameterChanges = &more;
    EXPECT_EQ(instance->ProcessRaw(empty), kResultOk);

    const auto s = ParsedStateOf(*instance);
    EXPECT_NEAR(s.params[idx::kAmount], 80.0, 1e-9);
    EXPECT_NEAR(s.params[idx::kTilt], -3.0, 1e-9);

    // Audio still flows afterwards.
    const auto input = SignalAs<float>(2, 0.05, 3);
    const auto out = RunBlocks(*instance, input, 2, {256});
    double energy = 0.0;
    for (float v : out[0]) {
        ASSERT_TRUE(std::isfinite(v));
        energy += double(v) * v;
    }
    EXPECT_GT(energy, 0.0);
}

TEST_F(ProcessTest, OnlyMonoAndStereoPairsAreAccepted)
{
    auto instance = NewInstance();
    ASSERT_NE(instance, nullptr);
    auto* component = instance->Component();
    auto* processor = instance->Processor();
    EXPECT_EQ(component->getBusCount(kAudio, kInput), 1);
    EXPECT_EQ(component->getBusCount(kAudio, Vst::kOutput), 1);
    EXPECT_EQ(component->getBusCount(kEvent, kInput), 0);
    EXPECT_EQ(component->getBusCount(kEvent, Vst::kOutput), 0);
    BusInfo info{};
    ASSERT_EQ(component->getBusInfo(kAudio, Vst::kOutput, 0, info), kResultOk);
    EXPECT_EQ(info.mediaType, kAudio);
    EXPECT_EQ(info.direction, Vst::kOutput);
    EXPECT_EQ(info.busType, kMain);
    EXPECT_NE(component->getBusInfo(kAudio, Vst::kOutput, 1, info), kResultOk);

    EXPECT_EQ(processor->canProcessSampleSize(kSample32), kResultTrue);
    EXPECT_EQ(processor->canProcessSampleSize(kSample64), kResultTrue);
    EXPECT_NE(processor->canProcessSampleSize(7), kResultTrue);
    EXPECT_EQ(processor->getLatencySamples(), 0u);

    auto accepts = [&](SpeakerArrangement in, SpeakerArrangement out) {
        return processor->setBusArrangements(&in, 1, &out, 1) == kResultTrue;
    };
    EXPECT_TRUE(accepts(SpeakerArr::kMono, SpeakerArr::kMono));
    EXPECT_TRUE(accepts(SpeakerArr::kStereo, SpeakerArr::kStereo));
    EXPECT_FALSE(accepts(SpeakerArr::kStereo, SpeakerArr::kMono));
    EXPECT_FALSE(accepts(SpeakerArr::kMono, SpeakerArr::kStereo));
    EXPECT_FALSE(accepts(SpeakerArr::k51, SpeakerArr::k51));
    EXPECT_FALSE(accepts(SpeakerArr::kEmpty, SpeakerArr::kStereo));
    SpeakerArrangement stereo = SpeakerArr::kStereo;
    EXPECT_NE(processor->setBusArrangements(nullptr, 0, &stereo, 1), kResultTrue);
    SpeakerArrangement two[2] = {SpeakerArr::kStereo, SpeakerArr::kStereo};
    EXPECT_NE(processor->setBusArrangements(two, 2, two, 2), kResultTrue);

    // After the refusals the buses still hold the last accepted layout.
    SpeakerArrangement in = 0, out = 0;
    ASSERT_EQ(processor->getBusArrangement(kInput, 0, in), kResultOk);
    ASSERT_EQ(processor->getBusArrangement(Vst::kOutput, 0, out), kResultOk);
    EXPECT_EQ(in, SpeakerArr::kStereo);
    EXPECT_EQ(out, SpeakerArr::kStereo);
    EXPECT_NE(processor->getBusArrangement(Vst::kOutput, 1, out), kResultOk);

    // The host's own set-up refuses the same way.
    mvhost::ProcessSettings settings;
    settings.inputChannels = 2;
    settings.outputChannels = 1;
    std::string error;
    EXPECT_FALSE(instance->Configure(settings, error));
    EXPECT_NE(error.find("does not accept"), std::string::npos) << error;
}

TEST_F(ProcessTest, BlocksWithChannelCountsOtherThanTheLayout)
{
    // A host that passes fewer or more channels than it arranged: the plug-in
    // either refuses the block or handles the channels it was given.
    struct Case {
        int arranged, in, out;
    };
    for (const Case c : {Case{2, 2, 1}, Case{2, 1, 2}, Case{1, 1, 2}, Case{2, 0, 2}, Case{1, 2, 1}}) {
        SCOPED_TRACE(std::to_string(c.in) + " in, " + std::to_string(c.out) + " out");
        auto instance = StartedInstance(c.arranged, c.arranged, false, 512);
        ASSERT_NE(instance, nullptr);
        SetNeutral(*instance);
        const auto input = SignalAs<float>(std::max(c.in, 1), 0.05, 8);
        std::vector<std::vector<float>> used(input.begin(), input.begin() + c.in);
        tresult failure = kResultOk;
        std::vector<std::vector<float>> out;
        if (c.in == 0) {
            // No input channels at all.
            std::vector<float> a(2400, 9.0f), b(2400, 9.0f);
            float* outs[2] = {a.data(), b.data()};
            failure = instance->Process(static_cast<float**>(nullptr), 0, outs, 2, 2400);
            out = {a, b};
        } else {
            out = RunBlocks(*instance, used, c.out, {480}, &failure);
        }
        if (failure != kResultOk) {
            continue; // refused: nothing more to check
        }
        for (std::size_t ch = 0; ch < out.size(); ++ch) {
            // Output 0 follows input 0 and output 1 input 1 when there is one;
            // with no input everything is silent. An output beyond the given
            // inputs copies output 0, or is silent when the plug-in treats a
            // missing input of its layout as a silent one.
            const bool extra = c.in > 0 && ch >= used.size();
            const bool copies = extra && out[ch] == out[0];
            for (std::size_t i = 0; i < out[ch].size(); ++i) {
                const float want = c.in == 0 ? 0.0f
                                   : extra   ? (copies ? out[0][i] : 0.0f)
                                             : used[ch][i];
                ASSERT_EQ(out[ch][i], want) << "channel " << ch << " frame " << i;
            }
        }
    }
}

TEST_F(ProcessTest, CorrectionFlattensABassHeavySignal)
{
    auto instance = StartedInstance(2, 2, false, 512);
    ASSERT_NE(instance, nullptr);
    SetPlain(*instance, idx::kAmount, 100.0);
    SetPlain(*instance, idx::kSpeed, 100.0);
    const mvhost::Audio input = mvhost::MakeTiltedNoise(48000.0, 12.0, 2, 99);
    std::vector<std::vector<float>> in;
    for (const auto& ch : input.channels) {
        in.emplace_back(ch.begin(), ch.end());
    }
    const auto out = RunBlocks(*instance, in, 2, {512});
    mvhost::Audio output;
    output.sampleRate = 48000.0;
    for (const auto& ch : out) {
        output.channels.emplace_back(ch.begin(), ch.end());
    }
    // Judge the last four seconds, after the correction has settled.
    const std::size_t begin = input.Frames() - 4 * 48000;
    const auto before = mvhost::MeasureBandLevels(input, begin, input.Frames());
    const auto after = mvhost::MeasureBandLevels(output, begin, output.Frames());
    auto spread = [](const std::array<double, 12>& l) {
        return *std::max_element(l.begin(), l.end()) - *std::min_element(l.begin(), l.end());
    };
    EXPECT_GT(spread(before), 18.0);
    EXPECT_LT(spread(after), spread(before) - 8.0);
    // Bass comes down relative to the top.
    EXPECT_LT(after[0] - after[11], before[0] - before[11] - 8.0);
    for (double l : after) {
        EXPECT_TRUE(std::isfinite(l));
    }
}

TEST_F(ProcessTest, HostBypassPassesAudioAndPersists)
{
    for (const bool doubles : {false, true}) {
        SCOPED_TRACE(doubles ? "64-bit" : "32-bit");
        auto instance = StartedInstance(2, 2, doubles, 4096);
        ASSERT_NE(instance, nullptr);
        const auto params = instance->Parameters();
        ASSERT_EQ(params.size(), 47u);
        const auto bypassId = params[46].id;
        // Colouring settings, then the host's own bypass switch.
        SetPlain(*instance, idx::kAmount, 100.0);
        SetPlain(*instance, idx::kOutput, -12.0);
        instance->SetParameter(bypassId, 1.0);
        if (doubles) {
            const auto input = SignalAs<double>(2, 0.2, 4);
            EXPECT_EQ(RunBlocks(*instance, input, 2, kBlockSizes), input);
        } else {
            const auto input = SignalAs<float>(2, 0.2, 4);
            EXPECT_EQ(RunBlocks(*instance, input, 2, kBlockSizes), input);
        }
        EXPECT_EQ(instance->Normalized(bypassId), 1.0);
        const auto saved = StateOf(*instance);
        SavedState s;
        ASSERT_TRUE(ParseState(saved, s));
        EXPECT_EQ(s.bypass, 1);
        EXPECT_EQ(s.bypass2, 1);
        // ... and once more after the plug-in's layout, for the host's own use.
        ASSERT_EQ(saved.size(), s.size + 4);
        EXPECT_EQ(std::vector<std::uint8_t>(saved.end() - 4, saved.end()),
                  (std::vector<std::uint8_t>{1, 0, 0, 0}));
        // The plug-in's own Bypass parameter was never touched.
        EXPECT_EQ(s.params[idx::kBypass], 0.0);

        // A host restoring the state finds its bypass switch as it left it.
        auto restored = NewInstance();
        ASSERT_NE(restored, nullptr);
        ASSERT_EQ(restored->SetState(saved), kResultOk);
        EXPECT_EQ(restored->Normalized(bypassId), 1.0);

        // A chunk with nothing after the plug-in's layout leaves the switch off.
        auto plain = NewInstance();
        ASSERT_NE(plain, nullptr);
        plain->SetParameter(bypassId, 1.0);
        ASSERT_EQ(plain->SetState(std::vector<std::uint8_t>(saved.begin(), saved.begin() + static_cast<long>(s.size))),
                  kResultOk);
        EXPECT_EQ(plain->Normalized(bypassId), 0.0);
    }
}

TEST_F(ProcessTest, ChangesWithinABlockEndAtTheirLastPoint)
{
    auto instance = StartedInstance(2, 2, false, 512);
    ASSERT_NE(instance, nullptr);
    const auto id = IdOf(*instance, idx::kThreshold);
    // Points out of order in time; the one latest in the block is the value
    // the parameter holds after it.
    mvhost::ParameterChanges changes;
    int32 index = 0;
    auto* queue = changes.addParameterData(id, index);
    int32 point = 0;
    queue->addPoint(300, instance->PlainToNormalized(id, -20.0), point);
    queue->addPoint(0, instance->PlainToNormalized(id, -60.0), point);
    queue->addPoint(120, instance->PlainToNormalized(id, -30.0), point);
    const auto input = SignalAs<float>(2, 0.01, 2);
    std::vector<std::vector<float>> output(2, std::vector<float>(480));
    float* in[2] = {const_cast<float*>(input[0].data()), const_cast<float*>(input[1].data())};
    float* out[2] = {output[0].data(), output[1].data()};
    AudioBusBuffers inBus, outBus;
    inBus.numChannels = 2;
    inBus.channelBuffers32 = in;
    outBus.numChannels = 2;
    outBus.channelBuffers32 = out;
    ProcessData data;
    data.symbolicSampleSize = kSample32;
    data.numSamples = 480;
    data.numInputs = 1;
    data.numOutputs = 1;
    data.inputs = &inBus;
    data.outputs = &outBus;
    data.inputParameterChanges = &changes;
    ASSERT_EQ(instance->ProcessRaw(data), kResultOk);
    EXPECT_NEAR(ParsedStateOf(*instance).params[idx::kThreshold], -20.0, 1e-9);
}

TEST_F(ProcessTest, ControllerAnswersOutOfRangeQueriesSafely)
{
    auto instance = NewInstance();
    ASSERT_NE(instance, nullptr);
    auto* controller = instance->Controller();
    Vst::ParameterInfo info{};
    EXPECT_NE(controller->getParameterInfo(-1, info), kResultOk);
    EXPECT_NE(controller->getParameterInfo(47, info), kResultOk);
    String128 text{};
    EXPECT_NE(controller->getParamStringByValue(9999, 0.5, text), kResultOk);
    EXPECT_NE(controller->setParamNormalized(9999, 0.5), kResultOk);
    BusInfo bus{};
    EXPECT_NE(instance->Component()->getBusInfo(kAudio, kInput, 1, bus), kResultOk);
    EXPECT_NE(instance->Component()->getBusInfo(kEvent, kInput, 0, bus), kResultOk);
    EXPECT_NE(instance->Component()->activateBus(kAudio, kInput, 3, true), kResultOk);
    // Values outside 0..1 are held to the range.
    const auto id = IdOf(*instance, idx::kAmount);
    controller->setParamNormalized(id, 1.5);
    EXPECT_LE(instance->Normalized(id), 1.0);
    controller->setParamNormalized(id, -0.5);
    EXPECT_GE(instance->Normalized(id), 0.0);
    // The controller's own state calls work on an empty stream and back.
    Steinberg::IPtr<mvhost::MemoryStream> stream = Steinberg::owned(new mvhost::MemoryStream());
    EXPECT_EQ(controller->getState(stream.get()), kResultOk);
    stream->seek(0, IBStream::kIBSeekSet, nullptr);
    EXPECT_EQ(controller->setState(stream.get()), kResultOk);
}

TEST_F(ProcessTest, ReactivatedAtOtherRatesStaysSoundAndTransparent)
{
    // One instance taken through several rates, as a host does when the
    // project's rate changes: stop, set up again, start.
    auto instance = NewInstance();
    ASSERT_NE(instance, nullptr);
    SetPlain(*instance, idx::kAmount, 100.0);
    SetPlain(*instance, idx::kSpeed, 100.0);
    SetPlain(*instance, idx::kPreEq2Gain, 6.0);
    for (const double rate : {44100.0, 96000.0, 8000.0, 192000.0, 22050.0}) {
        SCOPED_TRACE(rate);
        instance->Stop();
        mvhost::ProcessSettings settings;
        settings.sampleRate = rate;
        settings.maxBlockSize = 1024;
        std::string error;
        ASSERT_TRUE(instance->Configure(settings, error)) << error;
        ASSERT_TRUE(instance->Start(error)) << error;
        const mvhost::Audio noise = mvhost::MakeTiltedNoise(rate, 0.5, 2, 12);
        std::vector<std::vector<float>> input;
        for (const auto& ch : noise.channels) {
            input.emplace_back(ch.begin(), ch.end());
        }
        // Correcting at full strength: finite and within sensible bounds.
        tresult failure = kResultOk;
        auto out = RunBlocks(*instance, input, 2, {1024, 37}, &failure);
        EXPECT_EQ(failure, kResultOk);
        float peak = 0.0f;
        for (const auto& ch : out) {
            for (float v : ch) {
                ASSERT_TRUE(std::isfinite(v));
                peak = std::max(peak, std::abs(v));
            }
        }
        EXPECT_LT(peak, 4.0f);
        EXPECT_GT(peak, 0.0f);
        // Bypassed: exact.
        SetPlain(*instance, idx::kBypass, 1.0);
        out = RunBlocks(*instance, input, 2, {1024, 37}, &failure);
        EXPECT_EQ(out, input);
        SetPlain(*instance, idx::kBypass, 0.0);
    }
}
