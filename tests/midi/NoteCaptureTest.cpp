// Capture rules in their order, the pedal log and its echo, the finale's background
// flash, and the bounds of the inbox and the queues.
#include <gtest/gtest.h>

#include <vector>

#include "midi/NoteCapture.h"
#include "platform/midi/RecordingMidiOutput.h"

namespace vesk::midi {
namespace {

using Bytes = std::vector<std::uint8_t>;

struct Capturing {
    PerformanceState state;
    NoteInbox inbox;
    platform::midi::RecordingMidiOutput midi;
    Capture capture{inbox, state, &midi};
    std::uint32_t background = 0;  // the scene's, as the flash sets it

    Capturing() { state.pedalIndex = -1; }
    void input(std::uint32_t word) { onMidiInput(capture, [this](std::uint32_t c) { background = c; }, word); }
    std::vector<int> ons() {
        inbox.drainInto(state);
        return {state.noteOnQueue.begin(), state.noteOnQueue.begin() + state.noteOnCount};
    }
    std::vector<int> offs() {
        inbox.drainInto(state);
        return {state.noteOffQueue.begin(), state.noteOffQueue.begin() + state.noteOffCount};
    }
};

TEST(NoteCapture, LiveInputFollowsTheRulesInOrder) {
    const struct {
        std::uint32_t word;  // status | data1 << 8 | data2 << 16
        std::vector<int> on, off;
    } cases[] = {
        {0x403C93, {60}, {}},      // note-on, any channel
        {0x003C93, {}, {60}},      // note-on with velocity 0 releases
        {0x403C83, {}, {60}},      // note-off
        {0x400083, {}, {}},        // note-off for note 0 is dropped
        {0x010090, {0}, {}},       // note-on for note 0 is queued
        {0x003CA0, {}, {60}},      // key pressure 0 counts as a release
        {0x103CA0, {}, {}},        // key pressure otherwise nothing
        {0x7F07B0, {}, {}},        // volume: nothing
        {0x0000F8, {}, {}},        // timing clock
        {0x0000FE, {}, {}},        // active sensing
        {0xFF403C93, {60}, {}},    // the top byte is ignored
    };
    for (const auto& c : cases) {
        Capturing k;
        k.input(c.word);
        EXPECT_EQ(k.ons(), c.on) << std::hex << c.word;
        EXPECT_EQ(k.offs(), c.off) << std::hex << c.word;
        EXPECT_TRUE(k.midi.entries().empty());
    }
}

TEST(NoteCapture, SustainPedalIsLoggedWithTheScoreTickAndEchoedOnTheVoice) {
    Capturing k;
    k.state.scoreTick = 17;
    k.input(0x4040B5);  // value 64: down
    k.state.scoreTick = 19;
    k.input(0x3F40B0);  // value 63: up
    ASSERT_EQ(k.state.pedalIndex, 1);
    EXPECT_EQ(k.state.pedalTicks[0], 17);
    EXPECT_EQ(k.state.pedalValues[0], 127);
    EXPECT_EQ(k.state.pedalTicks[1], 19);
    EXPECT_EQ(k.state.pedalValues[1], 0);
    const auto sent = k.midi.entries();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0].bytes, (Bytes{0xB0, 0x40, 0x7F}));
    EXPECT_EQ(sent[1].bytes, (Bytes{0xB0, 0x40, 0x00}));
    EXPECT_TRUE(k.ons().empty());

    // A full log keeps its 1000 changes; later ones are still echoed.
    k.state.pedalIndex = pedalLogCapacity - 1;
    k.state.pedalValues[pedalLogCapacity - 1] = 5;
    k.input(0x7F40B0);
    EXPECT_EQ(k.state.pedalIndex, pedalLogCapacity - 1);
    EXPECT_EQ(k.state.pedalValues[pedalLogCapacity - 1], 5);
    EXPECT_EQ(k.midi.entries().size(), 3u);
}

TEST(NoteCapture, DuringTheFinaleInputOnlyFlashesTheBackground) {
    Capturing k;
    k.state.finaleStarted = 1;
    k.input(0x403C90);
    EXPECT_EQ(k.background, 0xFF7F0000u);
    k.input(0x003C80);
    EXPECT_EQ(k.background, 0xFF000000u);
    k.input(0x403C90);
    k.input(0x0040B0);  // a released pedal darkens too, and is neither logged nor echoed
    EXPECT_EQ(k.background, 0xFF000000u);
    EXPECT_TRUE(k.ons().empty());
    EXPECT_TRUE(k.offs().empty());
    EXPECT_EQ(k.state.pedalIndex, -1);
    EXPECT_TRUE(k.midi.entries().empty());
    // Nothing to flash (no scene between performances): nothing happens.
    onMidiInput(k.capture, {}, 0x403C90);
}

TEST(NoteCapture, InboxAndQueuesKeepTheirBoundsAndTheArrivalOrder) {
    Capturing k;
    for (int i = 0; i < noteQueueCapacity + 10; ++i) captureEvent(k.capture, i & 0x7F, 1, 0x90);
    EXPECT_EQ(k.inbox.dropped(), 10u);
    // A tick that ended early left 100 notes in the queue: the drain appends after them
    // and drops what does not fit.
    k.state.noteOnCount = 100;
    k.inbox.drainInto(k.state);
    EXPECT_EQ(k.state.noteOnCount, noteQueueCapacity);
    EXPECT_EQ(k.state.noteOnQueue[100], 0);
    EXPECT_EQ(k.state.noteOnQueue[255], (255 - 100) & 0x7F);
    EXPECT_EQ(k.inbox.dropped(), 10u + 100u);
    EXPECT_EQ(k.inbox.pending(), 0);
}

}  // namespace
}  // namespace vesk::midi
