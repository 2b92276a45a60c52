// A whole program run on the headless backend for scenario tests: the application's
// start-up, window procedure and message loop, MIDI into a recorder, and what every
// complete tick left behind. Tests script the dialog and the input on `platform`.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/VeskWindow.h"
#include "platform/ForwardingPorts.h"
#include "platform/headless/HeadlessPlatform.h"
#include "platform/midi/RecordingMidiOutput.h"
#include "support/FileDialogAnswers.h"
#include "support/TestRandom.h"

namespace vesk::test {

struct TickSeen {
    std::int64_t ms;
    int scoreTick, silentTicks, segmentCount, meshSegmentCount, rippleStage, ringOffset;
    bool finaleStarted;
    int performance;  // 1 for the first performance
    int finaleTick;
};

class HeadlessRun final : public VeskObserver {
public:
    explicit HeadlessRun(std::uint32_t seed = 7,
                         platform::headless::HeadlessClock clock = platform::headless::HeadlessClock::Virtual,
                         platform::Size window = platform::windowSize)
        : platform(window.width, window.height, clock), random_(seed) {
        vesk.observer = this;
    }

    platform::headless::HeadlessPlatform platform;
    platform::midi::RecordingMidiOutput midi{[this] { return platform.timers().nowUs(); }};
    Vesk vesk{platform, random_};
    std::vector<TickSeen> ticks;
    std::vector<ReplayMode> performances;  // the replay mode of each performance started
    // Called after each complete tick has been recorded, and at each performance start.
    std::function<void(const Vesk&)> onTick, onPerformance;

    static platform::headless::DialogAnswer play(const std::string& file, const std::string& channel = "1") {
        return runAnswer(file, channel);
    }
    static platform::headless::DialogAnswer quit() { return quitAnswer(); }

    // Runs the program until it quits or `untilMs`; returns the exit code.
    int run(std::int64_t untilMs) {
        platform.setDefaultDialogAnswer(quit());
        platform.stopAt(untilMs, 99);
        return app::runApplication(vesk, &ports_);
    }

    std::vector<std::vector<std::uint8_t>> sent() const {
        std::vector<std::vector<std::uint8_t>> out;
        for (const auto& m : midi.entries()) out.push_back(m.bytes);
        return out;
    }
    std::vector<std::string> boxes() const {
        std::vector<std::string> out;
        for (const auto& r : platform.records(platform::headless::Record::Kind::MessageBox)) out.push_back(r.text);
        return out;
    }

    void performanceStarted(const Vesk& v) override {
        performances.push_back(v.state.replayMode);
        if (onPerformance) onPerformance(v);
    }
    void tickCompleted(const Vesk& v) override {
        const PerformanceState& s = v.state;
        ticks.push_back({platform.nowMs(), s.scoreTick, s.silentTicks, s.flake.segmentCount,
                         s.flake.meshSegmentCount, s.rippleStage, s.ringOffset, bool(s.finaleStarted),
                         int(performances.size()), s.finaleTick});
        if (onTick) onTick(v);
    }

private:
    LcgRandom random_;
    // Outputs that forward to the recorder, which outlives them.
    platform::ForwardingPorts ports_{midi, "recorder"};
};

}  // namespace vesk::test
