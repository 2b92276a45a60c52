// The sequencer's clock on a thread of our own. Deadlines are absolute on steady_clock, so a
// callback that arms "previous deadline + delta" never accumulates its own latency. The
// mutex is never held while a callback runs, so callbacks may arm and kill timers freely;
// callbacks are also destroyed outside it, since their captures may do the same.
#include "platform/ThreadTimers.h"

#include <pthread.h>
#include <sched.h>
#include <sys/prctl.h>

#include <algorithm>
#include <cassert>
#include <exception>
#include <iostream>

namespace vesk::platform {

namespace {

// The longest single sleep. A far deadline is reached in several sleeps, which keeps
// epoch + deadline from overflowing steady_clock's nanoseconds for absurd deadlines.
constexpr std::int64_t longestSleepUs = std::int64_t(3600) * 1000 * 1000;
// Low among real-time priorities (1..99): above every ordinary thread, below audio servers.
constexpr int timerThreadPriority = 10;
// How long before a deadline the thread stops sleeping and waits awake: about what a
// wake-up from sleep can be late by on a busy machine; at most this much CPU per event.
constexpr std::int64_t spinBeforeDeadlineUs = 300;

}  // namespace

ThreadTimers::ThreadTimers() : thread_(&ThreadTimers::run, this) {}

ThreadTimers::~ThreadTimers() {
    assert(!onTimerThread() && "ThreadTimers destroyed from one of its own callbacks");
    std::map<Key, Timer> cancelled;  // destroyed after the join, outside the lock
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        cancelled.swap(pending_);
        keys_.clear();
    }
    changed_.notify_all();
    thread_.join();
}

std::int64_t ThreadTimers::nowUs() const {
    using namespace std::chrono;
    return duration_cast<microseconds>(steady_clock::now() - epoch_).count();
}

bool ThreadTimers::onTimerThread() const {
    return std::this_thread::get_id() == thread_.get_id();
}

// Every timer is kept as close to its deadline as the thread can manage, so the
// resolution the caller allows is not needed.
TimerId ThreadTimers::startAt(std::int64_t deadlineUs, unsigned /*resolutionMs*/,
                              std::function<void()> callback) {
    if (!callback) return noTimer;
    std::lock_guard lock(mutex_);
    // A callback still running while the timers are torn down gets nothing new.
    if (stopping_) return noTimer;
    // Ids wrap after four billion arms; skip any that is still pending.
    do ++lastId_;
    while (lastId_ == noTimer || keys_.contains(lastId_));
    const Key key{deadlineUs, armedCount_++};
    const bool earliest = pending_.empty() || key < pending_.begin()->first;
    pending_.emplace(key, Timer{lastId_, std::move(callback)});
    keys_.emplace(lastId_, key);
    if (earliest) changed_.notify_one();
    return lastId_;
}

void ThreadTimers::kill(TimerId id) {
    std::function<void()> dropped;  // declared before the lock, so destroyed after it
    std::unique_lock lock(mutex_);
    if (auto found = keys_.find(id); found != keys_.end()) {
        dropped = std::move(pending_.extract(found->second).mapped().callback);
        keys_.erase(found);
    }
    // The caller is about to touch what callbacks use (the sequencer reloads its buffer
    // after stopping), and the running callback may be an earlier one that has just armed
    // `id`; so wait for whichever callback is running, not only this id's. From the
    // timer thread that callback is the caller itself.
    if (running_ != noTimer && !onTimerThread()) {
        const std::uint64_t finished = finishedCount_;
        callbackDone_.wait(lock, [&] { return finishedCount_ != finished; });
    }
}

void ThreadTimers::run() {
    // The kernel may let a sleeping thread oversleep by its timer slack (50 us by
    // default) to batch wake-ups; the sequencer's deadlines want it as small as it goes.
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    // Like an audio thread, the timer thread asks for a real-time priority so that a busy
    // machine does not delay the music; where that is not allowed it runs as it is.
    sched_param priority{};
    priority.sched_priority = timerThreadPriority;
    pthread_setschedparam(pthread_self(), SCHED_FIFO, &priority);
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        if (pending_.empty()) {
            changed_.wait(lock);
            continue;
        }
        const std::int64_t deadlineUs = pending_.begin()->first.first;
        const std::int64_t now = nowUs();
        if (deadlineUs > now && deadlineUs - now > spinBeforeDeadlineUs) {
            const std::int64_t wakeUs = std::min(deadlineUs - spinBeforeDeadlineUs, now + longestSleepUs);
            changed_.wait_until(lock, epoch_ + std::chrono::microseconds(wakeUs));
            continue;  // woken early, by a new earliest timer, a kill or the destructor
        }
        if (deadlineUs > now) {
            // A wake-up can come a few hundred microseconds late; the last stretch is
            // waited out awake, off the lock, so arming and killing go on meanwhile.
            lock.unlock();
            while (nowUs() < deadlineUs) std::this_thread::yield();
            lock.lock();
            continue;
        }
        Timer due = std::move(pending_.extract(pending_.begin()).mapped());
        keys_.erase(due.id);
        running_ = due.id;
        lock.unlock();
        runCallback(due.callback);
        due.callback = nullptr;
        lock.lock();
        running_ = noTimer;
        ++finishedCount_;
        callbackDone_.notify_all();
    }
}

// No exception crosses the timer thread. A callback that throws usually throws on every
// event of a song, so only the first is reported.
void ThreadTimers::runCallback(const std::function<void()>& callback) {
    auto report = [this](const char* reason) {
        if (!reportedFailure_) std::cerr << "vesk: a timer callback failed: " << reason << '\n';
        reportedFailure_ = true;
    };
    try {
        callback();
    } catch (const std::exception& error) {
        report(error.what());
    } catch (...) {
        report("unknown exception");
    }
}

}  // namespace vesk::platform
