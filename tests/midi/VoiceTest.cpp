// The voice's messages as bytes on the port, its velocity table, the octave folding of
// notes outside the keyboard, and the recording output the bytes are read from.
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "midi/Voice.h"
#include "platform/midi/RecordingMidiOutput.h"

using namespace vesk;
using platform::midi::RecordedMidi;
using platform::midi::RecordingMidiOutput;
using Bytes = std::vector<std::uint8_t>;

namespace {

std::vector<Bytes> sent(const RecordingMidiOutput& out) {
    std::vector<Bytes> bytes;
    for (const RecordedMidi& e : out.entries()) bytes.push_back(e.bytes);
    return bytes;
}

}  // namespace

TEST(Voice, MessagesOnChannelZero) {
    auto state = std::make_unique<PerformanceState>();
    state->flake.segmentCount = 40;
    struct Case {
        const char* what;
        std::function<void(platform::MidiOutput*)> send;
        std::vector<Bytes> bytes;
    };
    const Case cases[] = {
        {"program 100", [](auto* o) { midi::selectVoiceProgram(o, 100); },
         {{0xB0, 0x00, 0x00}, {0xB0, 0x20, 0x00}, {0xC0, 0x64}}},
        {"program 0", [](auto* o) { midi::selectVoiceProgram(o, 0); },
         {{0xB0, 0x00, 0x00}, {0xB0, 0x20, 0x00}, {0xC0, 0x00}}},
        {"note-off 30", [](auto* o) { midi::voiceNoteOff(o, 30); }, {{0x80, 0x1E, 0x00}}},
        {"pedal down", [](auto* o) { midi::sendVoicePedal(o, true); }, {{0xB0, 0x40, 0x7F}}},
        {"pedal up", [](auto* o) { midi::sendVoicePedal(o, false); }, {{0xB0, 0x40, 0x00}}},
        {"controllers", [](auto* o) { midi::setVoiceControllers(o); },
         {{0xB0, 0x5B, 0x7F}, {0xB0, 0x4A, 0x35}, {0xB0, 0x48, 0x60}}},
        {"note-on 30", [&](auto* o) { midi::playVoiceNote(o, *state, 30); }, {{0x90, 0x1E, 0x38}}},
    };
    for (const Case& c : cases) {
        RecordingMidiOutput out;
        c.send(&out);
        EXPECT_EQ(sent(out), c.bytes) << c.what;
        c.send(nullptr);  // no device: nothing to send to, and no harm done
    }
}

TEST(Voice, VelocityFollowsRegisterAndFinaleProgress) {
    struct Case {
        int finaleSegments, segments, windDown, note, velocity;
    };
    const Case cases[] = {
        // A flake of 15 or more when the finale began grows quieter as it is taken apart.
        {20, 40, 0, 30, 56}, {20, 40, 0, 65, 79}, {20, 16, 0, 100, 88},
        {20, 15, 0, 59, 40}, {20, 12, 0, 65, 63}, {20, 11, 0, 72, 72},
        {20, 10, 0, 59, 24}, {20, 10, 0, 60, 47}, {20, 8, 0, 80, 56},
        {20, 6, 3, 110, 88}, {20, 6, 3, 30, 88},  // the wind-down's notes come loud again
        {15, 8, 0, 71, 47},
        // A smaller flake replays at full strength throughout.
        {14, 8, 0, 71, 79}, {10, 12, 0, 65, 79}, {10, 6, 3, 30, 56}, {10, 0, 0, 127, 88},
        // Folded notes keep their register: 140 plays as 116, -3 as 9.
        {20, 12, 0, 140, 72}, {20, 12, 0, -3, 40},
    };
    for (const Case& c : cases) {
        auto state = std::make_unique<PerformanceState>();
        state->finaleSegmentCount = c.finaleSegments;
        state->flake.segmentCount = c.segments;
        state->windDownTicks = c.windDown;
        RecordingMidiOutput out;
        midi::playVoiceNote(&out, *state, c.note);
        ASSERT_EQ(out.entries().size(), 1u);
        EXPECT_EQ(out.entries()[0].bytes[2], c.velocity)
            << c.finaleSegments << " " << c.segments << " " << c.windDown << " " << c.note;
    }
}

TEST(Voice, NotesOutsideTheKeyboardFoldByOctavesAlikeOnAndOff) {
    struct Case {
        int note, sounds;
    };
    const Case cases[] = {{140, 116}, {128, 116}, {139, 127}, {127, 127},
                          {0, 0},     {-3, 9},    {-12, 0},   {-13, 11}};
    for (const Case& c : cases) {
        EXPECT_EQ(midi::foldNoteIntoRange(c.note), c.sounds) << c.note;
        auto state = std::make_unique<PerformanceState>();
        RecordingMidiOutput out;
        midi::playVoiceNote(&out, *state, c.note);
        midi::voiceNoteOff(&out, c.note);
        const auto e = out.entries();
        ASSERT_EQ(e.size(), 2u);
        EXPECT_EQ(e[0].bytes[1], c.sounds) << c.note;
        EXPECT_EQ(e[1].bytes[1], c.sounds) << c.note;  // released what was struck
    }
    // The extremes of int fold too, by whole octaves, without overflow.
    for (const int note : {INT_MAX, INT_MIN}) {
        const int folded = midi::foldNoteIntoRange(note);
        EXPECT_TRUE(folded >= 0 && folded <= 127) << note;
        EXPECT_EQ((std::int64_t(note) - folded) % 12, 0) << note;
    }
}

TEST(RecordingMidiOutput, KeepsTheBytesAPortWouldCarry) {
    std::int64_t now = 0;
    RecordingMidiOutput out([&] { return now += 250; });
    out.sendShort(0x00643C90);  // note-on
    out.sendShort(0xAB0064C0);  // program change: the third and fourth bytes are not sent
    out.sendShort(0x000040D5);  // channel pressure
    out.sendShort(0x00000AF8);  // clock: status only
    out.sendShort(0x001020F2);  // song position
    const std::uint8_t sysex[] = {0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7};
    out.sendLong(sysex);
    out.reset();

    const auto e = out.entries();
    ASSERT_EQ(e.size(), 7u);
    EXPECT_EQ(e[0].bytes, (Bytes{0x90, 0x3C, 0x64}));
    EXPECT_EQ(e[1].bytes, (Bytes{0xC0, 0x64}));
    EXPECT_EQ(e[2].bytes, (Bytes{0xD5, 0x40}));
    EXPECT_EQ(e[3].bytes, (Bytes{0xF8}));
    EXPECT_EQ(e[4].bytes, (Bytes{0xF2, 0x20, 0x10}));
    EXPECT_EQ(e[5].kind, RecordedMidi::Kind::Long);
    EXPECT_EQ(e[5].bytes, Bytes(std::begin(sysex), std::end(sysex)));
    EXPECT_EQ(e[6].kind, RecordedMidi::Kind::Reset);
    EXPECT_TRUE(e[6].bytes.empty());
    for (std::size_t i = 0; i < e.size(); ++i) EXPECT_EQ(e[i].timeUs, 250 * std::int64_t(i + 1));

    out.clear();
    EXPECT_TRUE(out.entries().empty());
}

TEST(RecordingMidiOutput, SendersOnTwoThreadsAreAllRecordedWhole) {
    RecordingMidiOutput out;
    constexpr int perThread = 5000;
    // Each thread sends on its own channel with a running count in the data bytes.
    auto sender = [&](std::uint32_t channel) {
        for (int i = 0; i < perThread; ++i)
            out.sendShort((0x90u | channel) | std::uint32_t(i & 0x7F) << 8 | std::uint32_t(i >> 7) << 16);
    };
    std::thread window(sender, 0u);
    std::thread timer(sender, 1u);
    window.join();
    timer.join();

    const auto e = out.entries();
    ASSERT_EQ(e.size(), 2u * perThread);
    int next[2] = {0, 0};
    for (const RecordedMidi& m : e) {
        ASSERT_EQ(m.bytes.size(), 3u);
        const int channel = m.bytes[0] & 0x0F;
        ASSERT_LT(channel, 2);
        // Each thread's messages arrive whole and in the order it sent them.
        EXPECT_EQ(m.bytes[1] | m.bytes[2] << 7, next[channel]++);
    }
    EXPECT_EQ(next[0], perThread);
    EXPECT_EQ(next[1], perThread);
}
