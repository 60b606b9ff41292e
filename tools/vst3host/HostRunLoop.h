#pragma once
// The host's run loop for plug-in views on Linux: file descriptors the plug-in
// registers are polled, its timers called, all on the thread that runs the loop.

#include <pluginterfaces/gui/iplugview.h>

#include <chrono>
#include <functional>
#include <vector>

namespace mvhost {

class HostRunLoop final : public Steinberg::Linux::IRunLoop {
public:
    HostRunLoop() = default;
    ~HostRunLoop();
    HostRunLoop(const HostRunLoop&) = delete;
    HostRunLoop& operator=(const HostRunLoop&) = delete;

    // Stack-owned by the host: reference counting never deletes it.
    Steinberg::tresult PLUGIN_API queryInterface(const Steinberg::TUID iid, void** obj) override;
    Steinberg::uint32 PLUGIN_API addRef() override { return 1; }
    Steinberg::uint32 PLUGIN_API release() override { return 1; }

    Steinberg::tresult PLUGIN_API registerEventHandler(Steinberg::Linux::IEventHandler* handler,
                                                       Steinberg::Linux::FileDescriptor fd) override;
    Steinberg::tresult PLUGIN_API unregisterEventHandler(Steinberg::Linux::IEventHandler* handler) override;
    Steinberg::tresult PLUGIN_API registerTimer(Steinberg::Linux::ITimerHandler* handler,
                                                Steinberg::Linux::TimerInterval milliseconds) override;
    Steinberg::tresult PLUGIN_API unregisterTimer(Steinberg::Linux::ITimerHandler* handler) override;

    // Runs until the deadline or until stop() answers true (asked after every turn).
    void RunUntil(std::chrono::steady_clock::time_point deadline, const std::function<bool()>& stop);

    std::size_t HandlerCount() const { return mFds.size() + mTimers.size(); }

private:
    struct FdEntry {
        Steinberg::Linux::IEventHandler* handler;
        int fd;
    };
    struct TimerEntry {
        Steinberg::Linux::ITimerHandler* handler;
        std::chrono::milliseconds interval;
        std::chrono::steady_clock::time_point due;
    };

    bool HasFdHandler(Steinberg::Linux::IEventHandler* handler) const;
    bool HasTimer(Steinberg::Linux::ITimerHandler* handler) const;

    std::vector<FdEntry> mFds;
    std::vector<TimerEntry> mTimers;
};

} // namespace mvhost
