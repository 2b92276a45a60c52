// The real one-shot timers: deadline order on their own thread, kill (pending, from a
// callback, while a callback runs), self re-arming at absolute deadlines, teardown with
// timers pending, and callbacks that throw. Threads meet on latches; the only sleeps give a
// kill or a destructor that fails to wait the time to return too early.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <latch>
#include <limits>
#include <memory>
#include <mutex>
#include <set>
#include <stdexcept>
#include <thread>
#include <vector>

#include "platform/ThreadTimers.h"

using namespace vesk::platform;
using namespace std::chrono_literals;

namespace {

constexpr std::int64_t neverUs = std::numeric_limits<std::int64_t>::max();
constexpr auto hangGuard = 60s;          // only so a lost timer fails instead of hanging
constexpr auto chanceToMisbehave = 5ms;  // a kill that does not wait returns well within this

// What the callbacks did, in the order they did it, and on which thread.
class Log {
public:
    void add(int tag) {
        std::lock_guard lock(mutex_);
        tags_.push_back(tag);
        threads_.insert(std::this_thread::get_id());
        changed_.notify_all();
    }
    bool waitFor(std::size_t count) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, hangGuard, [&] { return tags_.size() >= count; });
    }
    std::vector<int> tags() const {
        std::lock_guard lock(mutex_);
        return tags_;
    }
    std::set<std::thread::id> threads() const {
        std::lock_guard lock(mutex_);
        return threads_;
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<int> tags_;
    std::set<std::thread::id> threads_;
};

// Holds the timer thread in a callback due before anything else, so every timer armed
// meanwhile is pending when it opens, however slow the machine.
class Gate {
public:
    explicit Gate(ThreadTimers& timers) {
        timers.startAt(std::numeric_limits<std::int64_t>::min(), 1, [latch = latch_] { latch->wait(); });
    }
    ~Gate() { open(); }
    void open() {
        if (!opened_) latch_->count_down();
        opened_ = true;
    }

private:
    std::shared_ptr<std::latch> latch_ = std::make_shared<std::latch>(1);
    bool opened_ = false;
};

TEST(ThreadTimers, FiresInDeadlineOrderThenArmingOrderOnItsOwnThread) {
    struct Case {
        const char* name;
        std::vector<int> deadlinesMs;  // from now, in order of arming
        std::vector<int> expected;     // indices in firing order
    };
    const Case cases[] = {
        {"armed out of order", {3, 1, 2}, {1, 2, 0}},
        {"ties in arming order", {2, 2, 2}, {0, 1, 2}},
        {"ties among others", {2, 1, 2, 1, 0}, {4, 1, 3, 0, 2}},
        {"already past", {1, -5, -2}, {1, 2, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Log log;
        ThreadTimers timers;
        Gate gate(timers);
        const std::int64_t nowUs = timers.nowUs();
        for (int i = 0; i < int(c.deadlinesMs.size()); ++i)
            timers.startAt(nowUs + c.deadlinesMs[i] * 1000, 1, [&log, i] { log.add(i); });
        EXPECT_EQ(timers.startAt(nowUs, 1, {}), noTimer);
        gate.open();
        ASSERT_TRUE(log.waitFor(c.expected.size()));
        EXPECT_EQ(log.tags(), c.expected);
        const std::set<std::thread::id> threads = log.threads();
        EXPECT_EQ(threads.size(), 1u);
        EXPECT_FALSE(threads.contains(std::this_thread::get_id()));
    }
}

// Kill from the test thread waits for any running callback, so these cases are arranged
// from callbacks behind a gate, or with nothing running.
TEST(ThreadTimers, KilledTimersNeverFire) {
    Log log;
    ThreadTimers timers;
    Gate gate(timers);
    const std::int64_t nowUs = timers.nowUs();
    std::vector<TimerId> ids(4);
    // 0 kills 2, which is due before 3, and kills itself while it runs.
    ids[0] = timers.startAt(nowUs + 1000, 1, [&] {
        timers.kill(ids[2]);
        timers.kill(ids[0]);
        log.add(0);
    });
    for (int i = 1; i < 4; ++i) ids[i] = timers.startAt(nowUs + (i + 1) * 1000, 1, [&log, i] { log.add(i); });
    gate.open();
    ASSERT_TRUE(log.waitFor(3));
    EXPECT_EQ(log.tags(), (std::vector<int>{0, 1, 3}));
}

TEST(ThreadTimers, KillDropsOnlyThePendingTimerItNames) {
    Log log;
    ThreadTimers timers;
    const TimerId fired = timers.start(0, 1, [&] { log.add(0); });
    ASSERT_TRUE(log.waitFor(1));
    // A pending timer holds its callback, and with it the callback's captures.
    const auto capture = std::make_shared<int>();
    const TimerId pending = timers.startAt(neverUs, 1, [capture] {});
    for (TimerId stale : {fired, noTimer, TimerId(123456)}) timers.kill(stale);
    EXPECT_EQ(capture.use_count(), 2);
    timers.kill(pending);
    EXPECT_EQ(capture.use_count(), 1);
    EXPECT_EQ(log.tags(), (std::vector<int>{0}));
}

TEST(ThreadTimers, KillReturnsOnlyOnceTheRunningCallbackHasFinished) {
    // The running callback may be an earlier one that has just armed the timer being
    // killed, so kill waits for it whichever id it is given.
    for (const bool killRunningId : {true, false}) {
        SCOPED_TRACE(killRunningId ? "the running timer's id" : "a pending timer's id");
        std::latch entered{1}, release{1}, killing{1};
        std::atomic<bool> finished{false}, killReturned{false};
        bool finishedWhenKillReturned = false;
        ThreadTimers timers;
        const TimerId running = timers.start(0, 1, [&] {
            entered.count_down();
            release.wait();
            finished = true;
        });
        const TimerId pending = timers.startAt(neverUs, 1, [] {});
        entered.wait();
        std::thread killer([&] {
            killing.count_down();
            timers.kill(killRunningId ? running : pending);
            finishedWhenKillReturned = finished;
            killReturned = true;
        });
        killing.wait();
        std::this_thread::sleep_for(chanceToMisbehave);
        EXPECT_FALSE(killReturned);
        release.count_down();
        killer.join();
        EXPECT_TRUE(finishedWhenKillReturned);
    }
}

TEST(ThreadTimers, ReArmsAtAbsoluteDeadlinesAndNeverFiresEarly) {
    constexpr int fireCount = 20;
    constexpr std::int64_t periodUs = 1000;
    Log log;
    std::vector<std::int64_t> latenessUs;  // timer thread only until the log hands it over
    ThreadTimers timers;
    const std::int64_t firstUs = timers.nowUs() + periodUs;
    std::function<void()> tick = [&] {
        const int k = int(latenessUs.size());
        const std::int64_t deadlineUs = firstUs + k * periodUs;
        latenessUs.push_back(timers.nowUs() - deadlineUs);
        if (k + 1 < fireCount) timers.startAt(deadlineUs + periodUs, 1, tick);
        log.add(k);
    };
    timers.startAt(firstUs, 1, tick);
    ASSERT_TRUE(log.waitFor(fireCount));
    EXPECT_GE(*std::min_element(latenessUs.begin(), latenessUs.end()), 0);
}

TEST(ThreadTimers, DestructionWaitsForTheRunningCallbackAndDropsThePending) {
    std::latch entered{1}, release{1}, destroying{1};
    std::atomic<bool> finished{false}, pendingRan{false}, destroyed{false};
    bool finishedWhenDestroyed = false;
    auto timers = std::make_unique<ThreadTimers>();
    timers->start(0, 1, [&] {
        entered.count_down();
        release.wait();
        finished = true;
    });
    entered.wait();
    // Far off, so a slow destructor cannot let them come due; one runs to the clock's end.
    timers->start(3600 * 1000, 1, [&] { pendingRan = true; });
    timers->startAt(neverUs, 1, [&] { pendingRan = true; });
    std::thread destroyer([&] {
        destroying.count_down();
        timers.reset();
        finishedWhenDestroyed = finished;
        destroyed = true;
    });
    destroying.wait();
    std::this_thread::sleep_for(chanceToMisbehave);
    EXPECT_FALSE(destroyed);
    release.count_down();
    destroyer.join();
    EXPECT_TRUE(finishedWhenDestroyed);
    EXPECT_FALSE(pendingRan);
}

TEST(ThreadTimers, ThrowingCallbacksAreReportedOnceAndTheThreadGoesOn) {
    Log log;
    ThreadTimers timers;
    testing::internal::CaptureStderr();
    Gate gate(timers);
    timers.startAt(0, 1, [] { throw std::runtime_error("bad event"); });
    timers.startAt(0, 1, [] { throw 7; });
    timers.startAt(1, 1, [&] { log.add(0); });
    gate.open();
    const bool ran = log.waitFor(1);
    const std::string reported = testing::internal::GetCapturedStderr();
    ASSERT_TRUE(ran);
    EXPECT_NE(reported.find("bad event"), std::string::npos);
    EXPECT_EQ(std::count(reported.begin(), reported.end(), '\n'), 1);
}

}  // namespace
