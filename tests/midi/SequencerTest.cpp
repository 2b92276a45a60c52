// The sequencer on virtual time: timer periods, the exact timeline, the event table,
// grouping by tick, the stops, and broken files that must end cleanly.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "midi/Sequencer.h"
#include "midi/SmfLoading.h"
#include "platform/headless/HeadlessPlatform.h"
#include "platform/midi/RecordingMidiOutput.h"
#include "support/FileDialogAnswers.h"
#include "support/SmfBuilder.h"
#include "support/SoundingNotes.h"

namespace vesk::midi {
namespace {

using platform::headless::HeadlessPlatform;
using platform::headless::Record;
using platform::midi::RecordedMidi;
using test::Bytes;
using test::SmfBuilder;

constexpr int dialogOpenMs = 100;
constexpr std::int64_t startUs = dialogOpenMs * 1000;

struct Player {
    HeadlessPlatform platform;
    platform::midi::RecordingMidiOutput midi{[this] { return platform.timers().nowUs(); }};
    SmfFile file;
    PerformanceState state;
    NoteInbox inbox;
    Sequencer sequencer{file, state, inbox, platform, &midi};

    Player() { allocSmfBuffer(file); }

    // Loads `bytes` as the answer to the dialog, listening to `channel` (1-based text), and
    // plays until `untilMs` of virtual time.
    void play(const Bytes& bytes, std::int64_t untilMs, const char* channel = "1") {
        const std::string path = test::writeTestFile("play.mid", bytes);
        platform.answerDialog(test::runAnswer(path, channel, dialogOpenMs));
        platform.runAt(0, [this] { sequencer.startPlayback({}); });
        platform.stopAt(untilMs);
        platform.loop().run();
    }
    std::vector<Bytes> sent() const {
        std::vector<Bytes> out;
        for (const RecordedMidi& m : midi.entries()) out.push_back(m.bytes);
        return out;
    }
    std::vector<std::string> boxes() const {
        std::vector<std::string> out;
        for (const Record& r : platform.records(Record::Kind::MessageBox)) out.push_back(r.text);
        return out;
    }
};

TEST(Sequencer, TimerPeriodFollowsTheDivisionAndTooFineADivisionIsRefused) {
    const struct {
        int division;
        unsigned periodMs;
        bool plays;
    } cases[] = {{480, 1, true}, {120, 4, true}, {96, 5, true}, {500, 1, true}, {501, 0, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.division);
        Player p;
        // The first event's delta of 960 does not delay it: it plays one period after the start.
        p.play(SmfBuilder(c.division).event(960, {0xB0, 7, 100}).endOfTrack().bytes(), 2000);
        EXPECT_EQ(p.sequencer.timerPeriodMs(), c.periodMs);
        const auto sent = p.midi.entries();
        if (c.plays) {
            ASSERT_EQ(sent.size(), 1u);
            EXPECT_EQ(sent[0].timeUs, startUs + c.periodMs * 1000);
            EXPECT_TRUE(p.boxes().empty());
        } else {
            EXPECT_TRUE(sent.empty());
            EXPECT_EQ(p.boxes(), std::vector<std::string>{"CPUクロックが遅すぎます！"});
        }
    }
}

TEST(Sequencer, EventsFallOnTheFilesExactTimelineThroughTempoChanges) {
    // Division 96 has ticks of 5208.33 us; 85.71 quarters a minute has no whole number.
    SmfBuilder smf(96);
    smf.event(0, {0x90, 60, 100});
    for (int k = 1; k <= 300; ++k) {
        if (k == 150) smf.tempo(0, 700000);
        smf.event(1, {std::uint8_t(k % 2 ? 0x90 : 0x80), 60, 100});  // ends released
    }
    Player p;
    p.play(smf.endOfTrack().bytes(), 10000);
    const auto sent = p.midi.entries();
    ASSERT_EQ(sent.size(), 301u);
    const std::int64_t origin = startUs + 5000;
    for (int k = 0; k <= 300; ++k) {
        // Ticks before the tempo change at 500000 us a quarter, after it at 700000.
        const std::int64_t scaled = std::int64_t(std::min(k, 149)) * 500000 +
                                    std::int64_t(std::max(k - 149, 0)) * 700000;
        EXPECT_EQ(sent[std::size_t(k)].timeUs, origin + scaled / 96) << "event " << k;
    }
    EXPECT_EQ(p.sequencer.tempoBpm(), 85);  // as shown, while the timing keeps 85.714
}

TEST(Sequencer, DelaysAtDivision480FollowSetTempo) {
    Player p;
    p.play(SmfBuilder(480)
               .event(0, {0x90, 60, 1})
               .event(480, {0x90, 61, 1})
               .tempo(0, 400000)
               .event(480, {0x90, 62, 1})
               .endOfTrack()
               .bytes(),
           5000);
    const auto sent = p.midi.entries();
    ASSERT_EQ(sent.size(), 6u);  // the three notes, then their release at the end
    EXPECT_EQ(sent[1].timeUs - sent[0].timeUs, 500'000);
    EXPECT_EQ(sent[2].timeUs - sent[1].timeUs, 400'000);
    EXPECT_EQ(p.sequencer.tempoBpm(), 150);
}

TEST(Sequencer, EventTablePassesThroughCapturesTheListenedChannelAndGroupsATick) {
    std::vector<std::uint8_t> text = {0xFF, 0x01, 0x81, 0x48};  // a 200-character text event
    text.insert(text.end(), 200, 'a');
    Player p;
    p.play(SmfBuilder(480)
               .event(0, {0x92, 0x40, 0x64})
               .event(0, {0xA1, 0x40, 0x10})
               .event(0, {0xB1, 0x07, 0x50})
               .event(0, {0xE1, 0x00, 0x40})
               .event(10, {0x93, 0x40, 0x64})
               .event(10, {0x85, 0x3C, 0x40})
               .event(10, {0x82, 0x40, 0x40})
               .event(10, {0xC3, 0x05})
               .event(0, {0xD1, 0x20})
               .event(10, {0xF0, 0x05, 0x7E, 0x7F, 0x09, 0x01, 0xF7})
               .event(10, {0xF7, 0x02, 0xF8, 0xFA})
               .raw(test::variableLength(10))
               .raw(text)
               .event(10, {0x92, 0x41, 0x00})
               .endOfTrack(10)
               .bytes(),
           3000, "3");
    const auto sent = p.midi.entries();
    const std::vector<Bytes> expected = {
        {0x92, 0x40, 0x64}, {0xA1, 0x40, 0x10}, {0xB1, 0x07, 0x50}, {0xE1, 0x00, 0x40},
        {0x93, 0x40, 0x64}, {0x85, 0x3C, 0x00}, {0x82, 0x40, 0x00}, {0xC3, 0x05}, {0xD1, 0x20},
        {0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7}, {0xF8, 0xFA}, {0x92, 0x41, 0x00},
        {0x83, 0x40, 0x00}};  // the end releases what the file left sounding
    EXPECT_EQ(p.sent(), expected);
    // Events of one tick go out in one firing.
    EXPECT_EQ(sent[3].timeUs, sent[0].timeUs);
    EXPECT_EQ(sent[8].timeUs, sent[7].timeUs);
    EXPECT_GT(sent[4].timeUs, sent[3].timeUs);
    EXPECT_EQ(sent[9].kind, RecordedMidi::Kind::Long);

    // Only channel 3's notes (0x_2) were captured: a note-on, then two releases.
    p.inbox.drainInto(p.state);
    ASSERT_EQ(p.state.noteOnCount, 1);
    EXPECT_EQ(p.state.noteOnQueue[0], 0x40);
    ASSERT_EQ(p.state.noteOffCount, 2);
    EXPECT_EQ(p.state.noteOffQueue[0], 0x40);
    EXPECT_EQ(p.state.noteOffQueue[1], 0x41);
    EXPECT_FALSE(p.sequencer.playing());
}

TEST(Sequencer, EachOfTheSixteenChannelsIsListenedToAndReleasedOnItsOwn) {
    // One note on every channel, all on the first tick, and a track cut off after them:
    // what sounds is released, each note on its own channel.
    SmfBuilder smf(480);
    std::vector<Bytes> played, released;
    for (std::uint8_t channel = 0; channel < 16; ++channel) {
        const std::uint8_t note = std::uint8_t(40 + channel);
        smf.event(0, {std::uint8_t(0x90 | channel), note, 100});
        played.push_back({std::uint8_t(0x90 | channel), note, 100});
        released.push_back({std::uint8_t(0x80 | channel), note, 0});
    }
    std::vector<Bytes> expected = played;
    expected.insert(expected.end(), released.begin(), released.end());
    // Channels above 8 share their low three bits with the one 8 below.
    for (int listened : {1, 3, 8, 9, 11, 16}) {
        SCOPED_TRACE(listened);
        Player p;
        p.play(smf.bytes(100000), 3000, std::to_string(listened).c_str());
        EXPECT_EQ(p.sent(), expected);
        p.inbox.drainInto(p.state);
        ASSERT_EQ(p.state.noteOnCount, 1);
        EXPECT_EQ(p.state.noteOnQueue[0], 40 + listened - 1);
    }
}

TEST(Sequencer, WhateverStopsPlaybackReleasesTheNotesAndLiftsThePedalsTheFileLeftDown) {
    // The tune on channel 1, an accompaniment held on channel 4 under its sustain pedal,
    // a chord held on channel 6 by sostenuto; one more event 2 s later.
    auto piece = [](Bytes last) {
        return SmfBuilder(480)
            .event(0, {0xB3, 64, 127}).event(0, {0x93, 48, 80}).event(0, {0x93, 55, 80})
            .event(0, {0x95, 60, 70}).event(0, {0xB5, 66, 100}).event(0, {0x85, 60, 0})
            .event(0, {0x90, 72, 100}).event(240, {0x80, 72, 0}).event(0, {0x90, 74, 100})
            .raw(test::variableLength(1920)).raw(last).endOfTrack().bytes();
    };
    const struct {
        const char* what;
        Bytes file;
        std::function<void(Player&)> stop;  // at 1 s, while the notes sound
        std::size_t boxes;
        std::size_t sent;  // the first nine, the last note if it played, and the releases
        bool playing;      // until the next start stops it
    } cases[] = {
        {"the finale's start", piece({0x90, 76, 100}), [](Player& p) { p.state.finaleStarted = 1; }, 0, 14, false},
        {"a stop from the window thread", piece({0x90, 76, 100}), [](Player& p) { p.sequencer.stopPlayback(); },
         0, 14, false},
        {"an event that cannot be played", piece({0x3C, 0x40}), nullptr, 1, 14, true},
        {"the end of the track", piece({0x90, 76, 100}), nullptr, 0, 16, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Player p;
        if (c.stop) p.platform.runAt(1000, [&] { c.stop(p); });
        p.play(c.file, 5000);
        EXPECT_EQ(p.boxes().size(), c.boxes);
        EXPECT_EQ(p.sequencer.playing(), c.playing);
        const std::vector<Bytes> sent = p.sent();
        ASSERT_EQ(sent.size(), c.sent);
        EXPECT_EQ(test::leftDown({sent.begin(), sent.begin() + 9}),
                  (std::vector<std::string>{"note 0:74", "note 3:48", "note 3:55", "pedal 3:64", "pedal 5:66"}));
        EXPECT_EQ(test::leftDown(sent), std::vector<std::string>{});
    }
}

TEST(Sequencer, BrokenFilesEndCleanlyWithinTheLoadedBytes) {
    const Bytes note = {0x90, 60, 100};
    const struct {
        const char* name;
        Bytes file;
        std::vector<Bytes> sent;
        std::vector<std::string> boxes;
    } cases[] = {
        {"track cut off inside a note: what sounds is released",
         [] { auto b = SmfBuilder(96).event(0, {0x91, 60, 100}).event(5, {0x90, 62}).bytes(); return b; }(),
         {{0x91, 60, 100}, {0x81, 60, 0}}, {}},
        {"track length past the end",
         SmfBuilder(96).event(0, {0x90, 60, 100}).event(5, {0x80, 60, 0}).bytes(100000),
         {note, {0x80, 60, 0}}, {}},
        {"sysex without its end",
         SmfBuilder(96).event(0, {0x90, 60, 100}).event(5, {0xF0, 0x05, 0x7E, 0x7F, 0x09}).bytes(),
         {note, {0x80, 60, 0}}, {}},
        {"endless variable-length number",
         SmfBuilder(96).event(0, {0x90, 60, 100}).raw(Bytes(40, 0xFF)).bytes(),
         {note, {0x80, 60, 0}}, {}},
        {"meta longer than the file",
         SmfBuilder(96).event(0, {0x90, 60, 100}).event(0, {0xFF, 0x01, 0x8F, 0xFF, 0xFF, 0x7F}).bytes(),
         {note, {0x80, 60, 0}}, {}},
        {"tempo 0 keeps the tempo", SmfBuilder(96).tempo(0, 0).event(96, {0x90, 60, 100}).endOfTrack().bytes(),
         {note, {0x80, 60, 0}}, {}},
        {"header only", [] { auto b = SmfBuilder(96).bytes(); b.resize(14); return b; }(),
         {}, {"このフォーマットはサポートしていません！"}},
        {"division 0", SmfBuilder(0).event(0, {0x90, 60, 100}).bytes(), {}, {"このフォーマットはサポートしていません！"}},
        {"empty track", SmfBuilder(96).bytes(), {}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Player p;
        p.play(c.file, 5000);
        EXPECT_EQ(p.sent(), c.sent);
        EXPECT_EQ(p.boxes(), c.boxes);
    }
}

TEST(Sequencer, HugeDeltaWaitsAndAStopKillsTheTimer) {
    Player p;
    p.play(SmfBuilder(1).event(0, {0x90, 60, 100}).event(0x0FFFFFFF, {0x80, 60, 0}).bytes(), 5000);
    EXPECT_EQ(p.sent().size(), 1u);
    EXPECT_TRUE(p.sequencer.playing());
    // 2^28 quarters of half a second each lie years ahead: armed, not wrapped.
    EXPECT_EQ(p.sequencer.lastDeadlineUs(), startUs + 500000 + 0x0FFFFFFFll * 500000);
    p.sequencer.stopPlayback();
    EXPECT_FALSE(p.sequencer.playing());
    p.platform.stopAt(0x0FFFFFFFll * 500 + 10000);
    p.platform.loop().run();
    EXPECT_EQ(p.sent(), (std::vector<Bytes>{{0x90, 60, 100}, {0x80, 60, 0}}));  // the stop released it
}

}  // namespace
}  // namespace vesk::midi
