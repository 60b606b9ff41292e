// Instances on several threads at once, state calls while audio runs,
// letting go of instances that are still processing, and the idle timer.

#include "BundleFixture.h"

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

using namespace bundle_test;
using namespace Steinberg;
using namespace std::chrono_literals;

namespace {

// One bypassed pass of a signal through an instance; true when the output
// equals the input bit for bit.
bool BypassedPassIsExact(mvhost::PluginInstance& instance, const std::vector<std::vector<float>>& input,
                         int block)
{
    const std::size_t frames = input[0].size();
    std::vector<std::vector<float>> output(input.size(), std::vector<float>(frames));
    for (std::size_t pos = 0; pos < frames; pos += static_cast<std::size_t>(block)) {
        const auto n = std::min<std::size_t>(static_cast<std::size_t>(block), frames - pos);
        float* in[2] = {const_cast<float*>(input[0].data()) + pos,
                        const_cast<float*>(input[1].data()) + pos};
        float* out[2] = {output[0].data() + pos, output[1].data() + pos};
        if (instance.Process(in, 2, out, 2, static_cast<int32>(n)) != kResultOk) {
            return false;
        }
    }
    return std::memcmp(output[0].data(), input[0].data(), frames * sizeof(float)) == 0 &&
           std::memcmp(output[1].data(), input[1].data(), frames * sizeof(float)) == 0;
}

std::vector<std::vector<float>> Stereo(double seconds, std::uint32_t seed)
{
    const auto a = mvhost::MakeTiltedNoise(48000.0, seconds, 2, seed);
    return {{a.channels[0].begin(), a.channels[0].end()},
            {a.channels[1].begin(), a.channels[1].end()}};
}

} // namespace

using ThreadsTest = BundleTest;

TEST_F(ThreadsTest, InstancesOnSeveralThreadsStayApart)
{
    constexpr int kThreads = 6;
    struct Result {
        bool created = false, exact = false;
        double amount = -1.0;
        std::string preset;
    };
    std::vector<Result> results(kThreads);
    std::vector<std::thread> threads;
    std::atomic<int> ready{0};
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            // Start together so the creations overlap.
            ++ready;
            while (ready.load() < kThreads) {
                std::this_thread::yield();
            }
            auto instance = StartedInstance(2, 2, false, 1024);
            Result& r = results[static_cast<std::size_t>(t)];
            if (!instance) {
                return;
            }
            r.created = true;
            const double amount = 10.0 * t + 5.0;
            SetPlain(*instance, idx::kAmount, amount);
            SetPlain(*instance, idx::kBypass, 1.0);
            const auto input = Stereo(0.5, static_cast<std::uint32_t>(100 + t));
            r.exact = BypassedPassIsExact(*instance, input, 64 + 100 * t);
            // A state round trip on this thread too.
            const auto chunk = MakeChunkV5(DefaultValues(), t % 6, 0, {}, {}, "",
                                           "thread " + std::to_string(t), 0);
            std::vector<std::uint8_t> mine = chunk;
            SavedState before;
            std::string error;
            std::vector<std::uint8_t> bytes;
            if (instance->GetState(bytes, error) && ParseState(bytes, before)) {
                r.amount = before.params[idx::kAmount];
            }
            instance->SetState(mine);
            SavedState after;
            if (instance->GetState(bytes, error) && ParseState(bytes, after)) {
                r.preset = after.preset;
            }
        });
    }
    for (auto& th : threads) {
        th.join();
    }
    for (int t = 0; t < kThreads; ++t) {
        SCOPED_TRACE(t);
        const auto& r = results[static_cast<std::size_t>(t)];
        EXPECT_TRUE(r.created);
        EXPECT_TRUE(r.exact);
        EXPECT_NEAR(r.amount, 10.0 * t + 5.0, 1e-9);
        EXPECT_EQ(r.preset, "thread " + std::to_string(t));
    }
}

TEST_F(ThreadsTest, StateCallsWhileAudioRuns)
{
    auto instance = StartedInstance(2, 2, false, 256);
    ASSERT_NE(instance, nullptr);
    auto valuesA = DefaultValues();
    auto valuesB = DefaultValues();
    valuesA[idx::kTilt] = 2.5;
    valuesB[idx::kTilt] = -4.0;
    // Both keep the audio untouched, so the audio thread can check every block.
    for (auto* v : {&valuesA, &valuesB}) {
        (*v)[idx::kBypass] = 1.0;
    }
    const auto chunkA = MakeChunkV5(valuesA, 1, 0, {}, {}, "", "A", 0);
    const auto chunkB = MakeChunkV5(valuesB, 2, 0, {}, {}, "", "B", 1);
    ASSERT_EQ(instance->SetState(chunkA), kResultOk);
    const auto stateA = StateOf(*instance);
    ASSERT_EQ(instance->SetState(chunkB), kResultOk);
    const auto stateB = StateOf(*instance);
    ASSERT_NE(stateA, stateB);

    std::atomic<bool> stop{false};
    std::atomic<bool> audioOk{true};
    std::atomic<int> blocks{0};
    const auto input = Stereo(0.1, 5);
    std::thread audio([&] {
        while (!stop.load()) {
            if (!BypassedPassIsExact(*instance, input, 256)) {
                audioOk = false;
            }
            ++blocks;
        }
    });
    int torn = 0;
    for (int i = 0; i < 200; ++i) {
        instance->SetState(i % 2 == 0 ? chunkA : chunkB);
        const auto now = StateOf(*instance);
        if (now != (i % 2 == 0 ? stateA : stateB)) {
            ++torn;
        }
    }
    // Let the audio thread finish at least a few passes.
    while (blocks.load() < 3) {
        std::this_thread::sleep_for(1ms);
    }
    stop = true;
    audio.join();
    EXPECT_EQ(torn, 0);
    EXPECT_TRUE(audioOk.load());
}

TEST_F(ThreadsTest, ReleasingInstancesThatAreStillProcessing)
{
    // One instance keeps running on an audio thread while others are made,
    // run and let go of without switching processing off.
    auto steady = StartedInstance(2, 2, false, 512);
    ASSERT_NE(steady, nullptr);
    SetPlain(*steady, idx::kBypass, 1.0);
    std::atomic<bool> stop{false};
    std::atomic<bool> steadyOk{true};
    std::atomic<int> passes{0};
    const auto input = Stereo(0.05, 9);
    std::thread audio([&] {
        while (!stop.load()) {
            if (!BypassedPassIsExact(*steady, input, 512)) {
                steadyOk = false;
            }
            ++passes;
        }
    });
    for (int i = 0; i < 12; ++i) {
        auto instance = StartedInstance(i % 2 + 1, i % 2 + 1, i % 3 == 0, 512);
        ASSERT_NE(instance, nullptr);
        ASSERT_TRUE(instance->Active());
        ASSERT_TRUE(instance->Processing());
        if (i % 2 == 1) {
            std::vector<std::vector<float>> in = Stereo(0.02, 3);
            BypassedPassIsExact(*instance, in, 128); // bypass is off: only that it runs
        }
        instance->ReleaseWithoutStopping();
        instance.reset();
    }
    while (passes.load() < 2) {
        std::this_thread::sleep_for(1ms);
    }
    stop = true;
    audio.join();
    EXPECT_TRUE(steadyOk.load());
    auto after = NewInstance();
    ASSERT_NE(after, nullptr);
    EXPECT_EQ(after->Parameters().size(), 47u);
}

TEST_F(ThreadsTest, IdleTimerRunsWithNoEditor)
{
    // With a preset current, the idle timer compares the parameters with the
    // baseline it took after the restore and sets the modified mark, which the
    // next saved state carries. Nothing but the timer sets it.
    auto instance = NewInstance();
    ASSERT_NE(instance, nullptr);
    ASSERT_EQ(instance->SetState(MakeChunkV5(DefaultValues(), 5, 0, {}, {}, "", "Vox", 0)),
              kResultOk);
    EXPECT_EQ(ParsedStateOf(*instance).modified, 0);
    // Give the timer time to take the baseline before anything changes.
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(ParsedStateOf(*instance).modified, 0);
    // Keep moving a knob: on a loaded machine the baseline may come late and
    // swallow the first move, never the later ones.
    int modified = 0;
    for (int i = 0; i < 60 && modified == 0; ++i) {
        SetPlain(*instance, idx::kAmount, 51.0 + i);
        std::this_thread::sleep_for(50ms);
        modified = ParsedStateOf(*instance).modified;
    }
    EXPECT_EQ(modified, 1);
}
