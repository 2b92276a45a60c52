// Performances back to back on virtual time, as an installation runs for days: a melody
// from the file on channel 2, notes and the pedal from the keyboard while it grows and a
// note during its finale, then the finale, the wind-down and the restart, again and again.
// Each performance's start reports what the allocator holds then.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "support/AllocatedBytes.h"
#include "support/HeadlessRun.h"
#include "support/SmfBuilder.h"

namespace vesk::test {

// Keyboard playing, in ms from a performance's start: notes and the pedal while the file
// plays, and a note during the finale, which only flashes the background.
struct KeyboardPlay {
    std::int64_t ms;
    std::uint32_t message;
};
constexpr KeyboardPlay soakKeyboard[] = {
    {1500, 0x403090}, {1700, 0x7F40B0}, {1900, 0x003080}, {2300, 0x504890},
    {2600, 0x004880}, {3000, 0x0040B0}, {20'000, 0x403C90}, {20'100, 0x003C80},
};

// Runs `performances` performances (the dialog after the last one quits) and returns the
// run's exit code. `atStart(n, bytes)` comes at the start of performance n (from 1).
inline int runSoak(int performances, const std::function<void(int, std::size_t)>& atStart) {
    SmfBuilder smf(480);
    for (int i = 0; i < 8; ++i)
        smf.event(i ? 240 : 0, {0x91, std::uint8_t(60 + i * 2), 100}).event(240, {0x81, std::uint8_t(60 + i * 2), 0});
    const std::string melody = writeTestFile("soak.mid", smf.endOfTrack().bytes());

    // A small window: the picture is drawn at every tick, and its size is not what is soaked.
    HeadlessRun run(7, platform::headless::HeadlessClock::Virtual, {64, 48});
    // Boxes and dialogs go to a listener, as they go to the trace in a headless run, and
    // are not kept: nothing here reads them.
    run.platform.onRecord([](const platform::headless::Record&) {});
    for (int i = 0; i < performances; ++i) run.platform.answerDialog(HeadlessRun::play(melody, "2"));
    int started = 0;
    run.onPerformance = [&](const Vesk&) {
        // What the run's recorders keep of it is the test's, not the program's.
        run.ticks = {};
        run.midi.clear();
        if (++started <= performances) atStart(started, allocatedBytes());
        for (const KeyboardPlay& p : soakKeyboard)
            run.platform.postAt(run.platform.nowMs() + p.ms, {platform::MessageType::MidiInput, p.message});
    };
    // Far more virtual time than the performances need: the quit ends the run.
    constexpr std::int64_t hourMs = 3600 * 1000;
    const int code = run.run(std::int64_t(performances) * hourMs);
    return started == performances + 1 ? code : -1;
}

}  // namespace vesk::test
