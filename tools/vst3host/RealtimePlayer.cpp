#include "RealtimePlayer.h"

#include <chrono>
#include <vector>

namespace mvhost {

bool RealtimePlayer::Start(PluginInstance& instance, Audio input, int32 blockSize, std::string& error)
{
    if (input.channels.empty() || input.Frames() == 0 || !(input.sampleRate > 0.0)) {
        error = "the input holds no audio";
        return false;
    }
    ProcessSettings settings;
    settings.sampleRate = input.sampleRate;
    settings.maxBlockSize = blockSize;
    settings.inputChannels = static_cast<int32>(input.channels.size());
    settings.outputChannels = settings.inputChannels;
    if (!instance.Configure(settings, error) || !instance.Start(error)) {
        return false;
    }
    mInstance = &instance;
    mInput = std::move(input);
    mBlockSize = blockSize;
    mStop = false;
    mThread = std::thread([this] { Play(); });
    return true;
}

void RealtimePlayer::Stop()
{
    mStop = true;
    if (mThread.joinable()) {
        mThread.join();
    }
    if (mInstance != nullptr) {
        mInstance->Stop();
        mInstance = nullptr;
    }
}

void RealtimePlayer::Play()
{
    const std::size_t channels = mInput.channels.size();
    const std::size_t frames = mInput.Frames();
    const auto block = static_cast<std::size_t>(mBlockSize);
    std::vector<std::vector<float>> in(channels, std::vector<float>(block));
    std::vector<std::vector<float>> out(channels, std::vector<float>(block));
    std::vector<float*> inPtrs(channels);
    std::vector<float*> outPtrs(channels);
    for (std::size_t c = 0; c < channels; ++c) {
        inPtrs[c] = in[c].data();
        outPtrs[c] = out[c].data();
    }
    const auto period = std::chrono::duration<double>(static_cast<double>(block) / mInput.sampleRate);
    auto next = std::chrono::steady_clock::now();
    std::size_t pos = 0;
    while (!mStop) {
        for (std::size_t c = 0; c < channels; ++c) {
            for (std::size_t i = 0; i < block; ++i) {
                in[c][i] = static_cast<float>(mInput.channels[c][(pos + i) % frames]);
            }
        }
        pos = (pos + block) % frames;
        mInstance->Process(inPtrs.data(), static_cast<int32>(channels), outPtrs.data(),
                           static_cast<int32>(channels), mBlockSize);
        ++mBlocks;
        next += std::chrono::duration_cast<std::chrono::steady_clock::duration>(period);
        const auto now = std::chrono::steady_clock::now();
        // Fell behind (a slow machine, a debugger): carry on from now, no burst to catch up.
        if (next < now) {
            next = now;
        }
        std::this_thread::sleep_until(next);
    }
}

} // namespace mvhost
