#pragma once
// Audio through a plug-in at the pace of a sound card, on an audio thread of its
// own, while the host's UI thread shows the editor. The input loops; the output is
// dropped.

#include "PluginInstance.h"
#include "Signal.h"

#include <atomic>
#include <string>
#include <thread>

namespace mvhost {

class RealtimePlayer {
public:
    RealtimePlayer() = default;
    ~RealtimePlayer() { Stop(); }
    RealtimePlayer(const RealtimePlayer&) = delete;
    RealtimePlayer& operator=(const RealtimePlayer&) = delete;

    // Sets the instance up for the input's channels and rate and starts the thread;
    // false with a reason.
    bool Start(PluginInstance& instance, Audio input, int32 blockSize, std::string& error);
    // Joins the thread and switches processing off.
    void Stop();

    long long BlocksPlayed() const { return mBlocks.load(); }

private:
    void Play();

    PluginInstance* mInstance = nullptr;
    Audio mInput;
    int32 mBlockSize = 512;
    std::atomic<bool> mStop{false};
    std::atomic<long long> mBlocks{0};
    std::thread mThread;
};

} // namespace mvhost
