// One-shot timers that call back on their own thread (the sequencer's clock): each is
// armed for an absolute deadline on the timers' clock, fires once, and can be killed.
#pragma once

#include <cstdint>
#include <functional>

namespace vesk::platform {

using TimerId = std::uint32_t;
constexpr TimerId noTimer = 0;  // what a refused start returns

class OneShotTimers {
public:
    virtual ~OneShotTimers() = default;

    // The shortest period the timers can keep, in milliseconds (at least 1).
    virtual unsigned minimumPeriodMs() const = 0;
    // Microseconds on the timers' clock.
    virtual std::int64_t nowUs() const = 0;
    // Calls `callback` once, on the timer thread, at `deadlineUs` (at once if it has
    // passed); `resolutionMs` is how late it may come. Callbacks run one at a time, in
    // deadline order. noTimer when refused.
    virtual TimerId startAt(std::int64_t deadlineUs, unsigned resolutionMs,
                            std::function<void()> callback) = 0;
    TimerId start(unsigned delayMs, unsigned resolutionMs, std::function<void()> callback) {
        return startAt(nowUs() + std::int64_t(delayMs) * 1000, resolutionMs, std::move(callback));
    }
    // Cancels a timer that has not fired; no effect on one that has. When kill returns, no
    // callback is running any more, unless kill was called from a callback.
    virtual void kill(TimerId id) = 0;
};

}  // namespace vesk::platform
