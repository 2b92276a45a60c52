// Playback stopped from the window thread while the real timer thread plays: whichever
// thread ends it, the notes and pedals the file left down are released once, after the
// last firing, and nothing is left sounding. Runs under ThreadSanitizer in CI.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <random>
#include <thread>

#include "midi/Sequencer.h"
#include "platform/headless/HeadlessPlatform.h"
#include "platform/midi/RecordingMidiOutput.h"
#include "support/SmfBuilder.h"
#include "support/SoundingNotes.h"

namespace vesk::midi {
namespace {

TEST(StopWhilePlaying, StopsFromTheWindowThreadAtAnyMomentLeaveNothingSounding) {
    // Notes on four channels every tick under pedals pressed and lifted, at division 480
    // and 480 quarters a minute: an event every quarter of a millisecond.
    test::SmfBuilder smf(480);
    smf.tempo(0, 125'000);
    for (int step = 0; step < 4000; ++step) {
        const auto channel = std::uint8_t(step % 4);
        const auto note = std::uint8_t(40 + step % 48);
        smf.event(1, {std::uint8_t(0x90 | channel), note, 90});
        if (step % 7 == 0) smf.event(0, {std::uint8_t(0xB0 | channel), std::uint8_t(step % 2 ? 64 : 66), 127});
        if (step % 5 == 0) smf.event(0, {std::uint8_t(0x80 | channel), std::uint8_t(note - 3), 0});
    }
    const test::Bytes bytes = smf.endOfTrack().bytes();

    platform::headless::HeadlessPlatform platform(8, 8, platform::headless::HeadlessClock::Real);
    platform::midi::RecordingMidiOutput midi;
    SmfFile file;
    ASSERT_TRUE(allocSmfBuffer(file));
    PerformanceState state;
    NoteInbox inbox;
    Sequencer sequencer(file, state, inbox, platform, &midi);
    std::mt19937 random(5);
    for (int run = 0; run < 40; ++run) {
        std::memcpy(file.smfBuffer.get(), bytes.data(), bytes.size());
        file.smfLength = int(bytes.size());
        sequencer.startLoaded();
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 20'000));
        sequencer.stopPlayback();
        EXPECT_TRUE(platform.records().empty()) << "a box: the file did not play";
        std::vector<test::Bytes> sent;
        for (const auto& m : midi.entries()) sent.push_back(m.bytes);
        ASSERT_EQ(test::leftDown(sent), std::vector<std::string>{}) << "stopped after run " << run;
        midi.clear();
    }
}

}  // namespace
}  // namespace vesk::midi
