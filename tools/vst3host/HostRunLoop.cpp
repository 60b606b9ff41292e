#include "HostRunLoop.h"

#include <poll.h>

#include <algorithm>

namespace mvhost {

using namespace Steinberg;
using Clock = std::chrono::steady_clock;

HostRunLoop::~HostRunLoop()
{
    // A plug-in that never unregistered still gets its references back.
    for (auto& e : mFds) {
        e.handler->release();
    }
    for (auto& t : mTimers) {
        t.handler->release();
    }
}

tresult PLUGIN_API HostRunLoop::queryInterface(const TUID iid, void** obj)
{
    if (obj == nullptr) {
        return kInvalidArgument;
    }
    if (FUnknownPrivate::iidEqual(iid, Linux::IRunLoop::iid) ||
        FUnknownPrivate::iidEqual(iid, FUnknown::iid)) {
        *obj = static_cast<Linux::IRunLoop*>(this);
        return kResultOk;
    }
    *obj = nullptr;
    return kNoInterface;
}

tresult PLUGIN_API HostRunLoop::registerEventHandler(Linux::IEventHandler* handler,
                                                     Linux::FileDescriptor fd)
{
    if (handler == nullptr || fd < 0) {
        return kInvalidArgument;
    }
    handler->addRef();
    mFds.push_back({handler, fd});
    return kResultTrue;
}

tresult PLUGIN_API HostRunLoop::unregisterEventHandler(Linux::IEventHandler* handler)
{
    bool found = false;
    for (auto it = mFds.begin(); it != mFds.end();) {
        if (it->handler == handler) {
            it->handler->release();
            it = mFds.erase(it);
            found = true;
        } else {
            ++it;
        }
    }
    return found ? kResultTrue : kResultFalse;
}

tresult PLUGIN_API HostRunLoop::registerTimer(Linux::ITimerHandler* handler,
                                              Linux::TimerInterval milliseconds)
{
    if (handler == nullptr || milliseconds == 0) {
        return kInvalidArgument;
    }
    handler->addRef();
    const auto interval = std::chrono::milliseconds(std::min<Linux::TimerInterval>(milliseconds, 3600000));
    mTimers.push_back({handler, interval, Clock::now() + interval});
    return kResultTrue;
}

tresult PLUGIN_API HostRunLoop::unregisterTimer(Linux::ITimerHandler* handler)
{
    bool found = false;
    for (auto it = mTimers.begin(); it != mTimers.end();) {
        if (it->handler == handler) {
            it->handler->release();
            it = mTimers.erase(it);
            found = true;
        } else {
            ++it;
        }
    }
    return found ? kResultTrue : kResultFalse;
}

bool HostRunLoop::HasFdHandler(Linux::IEventHandler* handler) const
{
    return std::any_of(mFds.begin(), mFds.end(), [handler](const FdEntry& e) { return e.handler == handler; });
}

bool HostRunLoop::HasTimer(Linux::ITimerHandler* handler) const
{
    return std::any_of(mTimers.begin(), mTimers.end(), [handler](const TimerEntry& t) { return t.handler == handler; });
}

void HostRunLoop::RunUntil(Clock::time_point deadline, const std::function<bool()>& stop)
{
    std::vector<pollfd> polled;
    std::vector<FdEntry> fds;
    std::vector<Linux::ITimerHandler*> due;
    while (!(stop && stop())) {
        auto now = Clock::now();
        if (now >= deadline) {
            return;
        }
        auto wake = deadline;
        for (const auto& t : mTimers) {
            wake = std::min(wake, t.due);
        }
        // Rounded up: waking early would only spin until the timer is due.
        const auto waitMs = std::chrono::ceil<std::chrono::milliseconds>(wake - now).count();
        fds = mFds;
        polled.clear();
        for (const auto& e : fds) {
            polled.push_back(pollfd{e.fd, POLLIN, 0});
        }
        poll(polled.data(), polled.size(), static_cast<int>(std::clamp<long long>(waitMs, 0, 1000)));

        // A handler may unregister itself or others: each is looked up again first, and
        // held while it runs.
        for (std::size_t i = 0; i < fds.size(); ++i) {
            if (polled[i].revents != 0 && HasFdHandler(fds[i].handler)) {
                auto* h = fds[i].handler;
                h->addRef();
                h->onFDIsSet(fds[i].fd);
                h->release();
            }
        }
        now = Clock::now();
        due.clear();
        for (auto& t : mTimers) {
            if (t.due <= now) {
                due.push_back(t.handler);
                t.due += t.interval;
                if (t.due <= now) {
                    t.due = now + t.interval;
                }
            }
        }
        for (auto* h : due) {
            if (HasTimer(h)) {
                h->addRef();
                h->onTimer();
                h->release();
            }
        }
    }
}

} // namespace mvhost
