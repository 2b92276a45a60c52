// A whole performance on virtual time: a three-minute file (a note every eighth, chords
// every bar) grows, goes silent, is replayed and taken apart, winds down and restarts;
// prints the virtual time covered, the wall time taken and their ratio. It measures, it
// never fails. Usage: vesk_bench_performance [minutes of music, default 3]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "../tests/support/SmfBuilder.h"
#include "app/Trace.h"
#include "app/VeskWindow.h"
#include "midi/SmfLoading.h"
#include "support/TestRandom.h"

using namespace vesk;

int main(int argc, char** argv) {
    const double minutes = argc > 1 ? std::max(0.1, std::atof(argv[1])) : 3.0;
    test::SmfBuilder smf(480);
    const int eighths = int(minutes * 60 * 4);  // at 120 quarters a minute
    for (int i = 0; i < eighths; ++i) {
        const std::uint8_t note = std::uint8_t(48 + (i * 7) % 36);
        smf.event(i == 0 ? 0 : 120, {0x90, note, 90});
        if (i % 8 == 0) smf.event(0, {0x90, std::uint8_t(note + 4), 80}).event(0, {0x90, std::uint8_t(note + 7), 80});
        smf.event(120, {0x80, note, 0});
        if (i % 8 == 0) smf.event(0, {0x80, std::uint8_t(note + 4), 0}).event(0, {0x80, std::uint8_t(note + 7), 0});
    }
    const std::string path = test::writeTestFile("bench.mid", smf.endOfTrack().bytes());

    platform::headless::HeadlessPlatform platform;
    platform::headless::DialogAnswer play;
    play.typed = {{midi::fileNameControl, path}, {midi::channelControl, "1"}};
    play.controlId = midi::runButton;
    play.openMs = 0;
    platform.answerDialog(play);
    platform::headless::DialogAnswer quit;
    quit.controlId = midi::quitButton;
    quit.openMs = 0;
    platform.setDefaultDialogAnswer(quit);  // the restart's dialog ends the run

    test::LcgRandom random(11);
    Vesk vesk(platform, random);
    app::Trace trace(platform, nullptr, "");
    int ticks = 0, repaints = 0, segments = 0;
    struct Count final : VeskObserver {
        int& ticks;
        int& repaints;
        int& segments;
        Count(int& t, int& r, int& s) : ticks(t), repaints(r), segments(s) {}
        void tickCompleted(const Vesk& v) override {
            ++ticks;
            segments = std::max(segments, v.state.flake.segmentCount);
        }
        void repainted(const Vesk&) override { ++repaints; }
    } count(ticks, repaints, segments);
    vesk.observer = &count;

    const auto start = std::chrono::steady_clock::now();
    const int code = app::runApplication(vesk, &trace.ports());
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double virtualSeconds = double(platform.nowMs()) / 1000.0;
    std::printf("A %.1f-minute file with its finale and restart: %.1f s of virtual time in %.3f s "
                "(%d ticks, %d repaints, %d segments at most, exit %d); real-time factor %.0f\n",
                minutes, virtualSeconds, wall, ticks, repaints, segments, code, virtualSeconds / wall);
    return 0;
}
