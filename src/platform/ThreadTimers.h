// Real one-shot timers: one thread of our own that sleeps until the earliest absolute
// deadline on steady_clock and runs the callbacks one at a time, in deadline order.
#pragma once

#include <chrono>
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
    void runCallback(const std::function<void()>& callback);

    using Key = std::pair<std::int64_t, std::uint64_t>;  // deadline, then order of arming
    struct Timer {
        TimerId id;
        std::function<void()> callback;
    };
    const std::chrono::steady_clock::time_point epoch_ = std::chrono::steady_clock::now();
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::map<Key, Timer> pending_;
    std::map<TimerId, Key> keys_;
    TimerId lastId_ = noTimer;
    std::uint64_t armedCount_ = 0;     // orders ties; unlike ids it never wraps
    TimerId running_ = noTimer;        // the timer whose callback runs now
    std::uint64_t finishedCount_ = 0;  // callbacks returned so far; kill waits for it to move
    std::condition_variable callbackDone_;
    bool stopping_ = false;
    bool reportedFailure_ = false;  // timer thread only
    std::thread thread_;  // last: started once everything above exists
};

}  // namespace vesk::platform
