// Live input far faster than the picture, on the real clock: a melody plays while 20,000
// messages a second (notes and garbage) are posted from a thread of their own, as a MIDI
// port's thread posts them. Prints how late each completed tick comes against its due
// time during the flood (median, p99, max), the most live input that waited, what was
// dropped, the memory the allocator holds at the flood's start and end, and how long after
// the flood the finale starts. It measures, it never fails.
// Usage: vesk_bench_flood [seconds of flood, default 10] [messages a second, default 20000]
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <thread>
#include <vector>

#include "support/AllocatedBytes.h"
#include "support/HeadlessRun.h"
#include "support/LiveInputFlood.h"
#include "support/SmfBuilder.h"

using namespace vesk;

namespace {

constexpr double mib = 1024.0 * 1024.0;

// How late each tick completed against when the window timer was due, as the message loop
// keeps its cadence: the next is due one period after the last was due, unless the loop
// fell a whole period behind, when it starts again from the late tick. Ticks are stamped
// in whole milliseconds.
std::vector<double> lateness(const std::vector<test::TickSeen>& ticks, std::int64_t fromMs, std::int64_t toMs,
                             int periodMs) {
    std::vector<double> late;
    std::int64_t due = -1;
    for (const test::TickSeen& t : ticks) {
        if (t.ms < fromMs || t.ms > toMs) continue;
        if (due < 0) {
            due = t.ms;
            continue;
        }
        due += periodMs;
        late.push_back(double(t.ms - due));
        if (t.ms - due >= periodMs) due = t.ms;
    }
    std::sort(late.begin(), late.end());
    // Measured from the earliest in the cadence: the first tick may itself have been late.
    if (!late.empty() && late.front() < 0)
        for (double& l : late) l -= late.front();
    return late;
}

double at(const std::vector<double>& sorted, double fraction) {
    if (sorted.empty()) return 0;
    return sorted[std::min(sorted.size() - 1, std::size_t(fraction * double(sorted.size())))];
}

}  // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
    const int rate = argc > 2 ? std::max(1000, std::atoi(argv[2])) : 20'000;
    test::HeadlessRun run(7, platform::headless::HeadlessClock::Real);
    run.platform.setMessageBoxOpenMs(0);  // the full mesh's box is not what is measured
    test::SmfBuilder smf(480);
    for (int i = 0; i < 4 * seconds; ++i)
        smf.event(i ? 60 : 0, {0x90, std::uint8_t(60 + i % 24), 100}).event(60, {0x80, std::uint8_t(60 + i % 24), 0});
    run.platform.answerDialog(test::HeadlessRun::play(test::writeTestFile("tune.mid", smf.endOfTrack().bytes())));

    std::size_t mostWaiting = 0;
    std::int64_t floodStartMs = -1, finaleMs = -1;
    std::atomic<std::int64_t> floodEndMs = -1;
    std::size_t bytesAtStart = 0, bytesAtEnd = 0;
    std::unique_ptr<test::LiveInputFlood> flood;
    run.onPerformance = [&](const Vesk&) {
        if (flood) return;
        floodStartMs = run.platform.nowMs();
        bytesAtStart = test::allocatedBytes();
        flood = std::make_unique<test::LiveInputFlood>(run.platform.loop(), rate, std::chrono::seconds(seconds),
                                                       [&] { floodEndMs = run.platform.nowMs(); });
    };
    run.onTick = [&](const Vesk& v) {
        mostWaiting = std::max(mostWaiting, run.platform.loop().pendingMidiInput());
        if (flood && flood->flooding()) bytesAtEnd = test::allocatedBytes();
        if (flood && !flood->flooding() && v.state.finaleStarted) {
            finaleMs = run.platform.nowMs();
            run.platform.loop().postQuit(0);
        }
    };
    const int code = run.run(std::int64_t(seconds) * 1000 + 60'000);
    const std::vector<double> late = lateness(run.ticks, floodStartMs, floodEndMs, startTickIntervalMs);
    std::printf("Flood of %d messages a second for %d s (%llu posted) on the real clock, exit %d:\n", rate,
                seconds, (unsigned long long)(flood ? flood->posted() : 0), code);
    std::printf("  ticks during the flood: %zu; late against their due time: median %.0f ms, p99 %.0f ms, "
                "max %.0f ms\n",
                late.size() + 1, at(late, 0.5), at(late, 0.99), late.empty() ? 0.0 : late.back());
    std::printf("  live input waiting at a tick: at most %zu (bound %zu); dropped: %llu messages, %llu notes\n",
                mostWaiting, platform::MessageLoop::midiInputQueueCapacity,
                (unsigned long long)run.platform.loop().droppedMidiInput(),
                (unsigned long long)run.vesk.inbox.dropped());
    std::printf("  allocator holds %.1f MiB at the flood's start, %.1f MiB at its end\n", bytesAtStart / mib,
                bytesAtEnd / mib);
    std::printf("  the finale started %.1f s after the flood\n", finaleMs < 0 ? -1.0 : (finaleMs - floodEndMs) / 1000.0);
    return 0;
}
