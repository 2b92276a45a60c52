// Real one-shot timers: one thread of our own that sleeps until the earliest absolute
// deadline on steady_clock and runs the callbacks one at a time, in deadline order.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <thread>
#include <utility>

#include "platform/OneShotTimers.h"

namespace vesk::platform {

class ThreadTimers final : public OneShotTimers {
public:
    ThreadTimers();
    // Kills every pending timer and joins the thread.
    ~ThreadTimers() override;

    unsigned minimumPeriodMs() const override { return 1; }
    // Microseconds of steady_clock since this object was made.
    std::int64_t nowUs() const override;
    TimerId startAt(std::int64_t deadlineUs, unsigned resolutionMs,
                    std::function<void()> callback) override;
    void kill(TimerId id) override;

    // True on the timers' own thread (inside a callback).
    bool onTimerThread() const;

private:
    void run();

    using Key = std::pair<std::int64_t, TimerId>;  // deadline, then order of arming
    const std::chrono::steady_clock::time_point epoch_ = std::chrono::steady_clock::now();
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::map<Key, std::function<void()>> pending_;
    std::map<TimerId, Key> keys_;
    TimerId lastId_ = noTimer;
    TimerId running_ = noTimer;  // the timer whose callback runs now
    std::condition_variable callbackDone_;
    bool stopping_ = false;
    std::thread thread_;  // last: started once everything above exists
};

}  // namespace vesk::platform
