// The hand-over of notes from the sequencer's timer thread to the ticks on the window
// thread, on the real timer thread: a million notes, none lost, doubled or reordered.
// Runs under ThreadSanitizer in CI.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <thread>
#include <vector>

#include "midi/NoteCapture.h"
#include "platform/ThreadTimers.h"

namespace vesk::midi {
namespace {

TEST(NoteHandOver, AMillionNotesFromTheTimerThreadReachTheTicksInOrder) {
    constexpr int total = 1'000'000;
    constexpr int perFiring = 64;
    PerformanceState state;
    NoteInbox inbox;
    Capture capture{inbox, state, nullptr};
    platform::ThreadTimers timers;

    std::atomic<int> produced{0};
    std::function<void()> firing = [&] {
        int n = produced.load();
        bool full = false;
        for (int k = 0; k < perFiring && n < total; ++k) {
            // The producer keeps within the bounds (a real file does by far): it gives the
            // ticks a millisecond when the inbox is full, only so that the test can demand
            // that nothing is lost.
            if ((full = inbox.pending() >= noteQueueCapacity)) break;
            captureEvent(capture, n % 251, 1, 0x90);
            ++n;
        }
        produced.store(n);
        if (n < total) timers.start(full ? 1 : 0, 1, firing);
    };
    timers.start(0, 1, firing);

    std::vector<std::uint8_t> received;
    received.reserve(total);
    while (int(received.size()) < total) {
        // One tick: take what was captured, use it, clear the queue.
        inbox.drainInto(state);
        received.insert(received.end(), state.noteOnQueue.begin(),
                        state.noteOnQueue.begin() + state.noteOnCount);
        state.noteOnCount = 0;
        std::this_thread::yield();
    }
    ASSERT_EQ(received.size(), std::size_t(total));
    EXPECT_EQ(inbox.dropped(), 0u);
    for (int i = 0; i < total; ++i)
        if (received[std::size_t(i)] != i % 251) FAIL() << "note " << i << " out of order";
    inbox.drainInto(state);
    EXPECT_EQ(state.noteOnCount, 0);
}

}  // namespace
}  // namespace vesk::midi
