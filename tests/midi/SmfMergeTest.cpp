// Format-1 files merged into the player's format 0: the merged order and timing through a
// conductor track's tempo changes, a round trip through the player's own loader and
// sequencer, what is left out, what cannot be read, and the channel "auto" listens to.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "midi/Sequencer.h"
#include "midi/SmfMerge.h"
#include "platform/headless/HeadlessPlatform.h"
#include "platform/midi/RecordingMidiOutput.h"
#include "support/SmfBuilder.h"

namespace vesk::midi {
namespace {

using test::Bytes;
using test::SmfBuilder;
using Timed = std::pair<std::uint64_t, Bytes>;  // a tick and an event's bytes

std::vector<Timed> eventsOf(const MergedSmf& smf) {
    std::vector<Timed> out;
    for (const MergedEvent& e : smf.events)
        out.emplace_back(e.tick, Bytes(smf.bytes.begin() + e.offset, smf.bytes.begin() + e.offset + e.length));
    return out;
}

// A conductor track with two tempos and a name, the piano on channel 1, and channel 2
// written with running status; at ticks 480 and 960 all three tracks have events.
Bytes conductedPiece() {
    SmfBuilder conductor;
    conductor.event(0, {0xFF, 0x03, 0x03, 'C', 'o', 'n'}).tempo(0, 500'000).tempo(960, 250'000).endOfTrack();
    SmfBuilder piano;
    piano.event(0, {0x90, 60, 100}).event(480, {0x80, 60, 0}).event(0, {0x90, 62, 100}).event(480, {0x80, 62, 0});
    piano.endOfTrack();
    SmfBuilder strings;
    strings.event(480, {0x91, 64, 90}).event(480, {67, 90}).event(240, {64, 0}).event(0, {67, 0}).endOfTrack(240);
    return test::multiTrackFile(1, 480, {conductor, piano, strings});
}

const std::vector<Timed> conductedMerge = {
    {0, {0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20}}, {0, {0x90, 60, 100}},
    {480, {0x80, 60, 0}},  {480, {0x90, 62, 100}}, {480, {0x91, 64, 90}},
    {960, {0xFF, 0x51, 0x03, 0x03, 0xD0, 0x90}}, {960, {0x80, 62, 0}}, {960, {0x91, 67, 90}},
    {1200, {0x91, 64, 0}}, {1200, {0x91, 67, 0}},
};

TEST(SmfMerge, TracksMergeInTimeOrderWithTiesInTrackOrderAndRunningStatusWrittenOut) {
    std::string error;
    const auto merged = mergeSmf(conductedPiece(), error);
    ASSERT_TRUE(merged) << error;
    EXPECT_EQ(merged->format, 1);
    EXPECT_EQ(merged->tracks, 3);
    EXPECT_EQ(merged->division, 480);
    EXPECT_TRUE(merged->runningStatus);
    EXPECT_EQ(merged->dropped, 1);  // the track's name
    EXPECT_EQ(merged->endTick, 1440u);
    EXPECT_EQ(eventsOf(*merged), conductedMerge);

    // Written and read again, it is the same music in one track, nothing leaning on running status.
    const auto copy = writeFormat0(*merged, error);
    ASSERT_TRUE(copy) << error;
    const auto again = mergeSmf(*copy, error);
    ASSERT_TRUE(again) << error;
    EXPECT_EQ(again->format, 0);
    EXPECT_EQ(again->tracks, 1);
    EXPECT_FALSE(again->runningStatus);
    EXPECT_EQ(again->endTick, 1440u);
    EXPECT_EQ(eventsOf(*again), conductedMerge);
}

// The copy played by the player's own loader and sequencer on virtual time: every message
// at its time through the tempo map (500 ms a quarter, then 250 ms from tick 960).
TEST(SmfMerge, TheCopyPlaysThroughThePlayersLoaderOnTheOneTempoMap) {
    std::string error;
    const auto merged = mergeSmf(conductedPiece(), error);
    ASSERT_TRUE(merged) << error;
    const auto copy = writeFormat0(*merged, error);
    ASSERT_TRUE(copy) << error;

    platform::headless::HeadlessPlatform platform;
    platform::midi::RecordingMidiOutput midi{[&platform] { return platform.timers().nowUs(); }};
    SmfFile file;
    ASSERT_TRUE(allocSmfBuffer(file));
    ASSERT_LT(copy->size(), std::size_t(smfBufferSize));
    std::copy(copy->begin(), copy->end(), file.smfBuffer.get());
    file.smfLength = int(copy->size());
    PerformanceState state;
    NoteInbox inbox;
    Sequencer sequencer(file, state, inbox, platform, &midi);
    platform.runAt(0, [&] { sequencer.startLoaded(); });
    platform.stopAt(5000);
    platform.loop().run();

    std::vector<std::pair<std::int64_t, Bytes>> heard;
    for (const auto& m : midi.entries()) heard.emplace_back(m.timeUs / 1000, m.bytes);
    ASSERT_FALSE(heard.empty());
    const std::int64_t start = heard.front().first;
    for (auto& h : heard) h.first -= start;
    const std::vector<std::pair<std::int64_t, Bytes>> expected = {
        {0, {0x90, 60, 100}},     {500, {0x80, 60, 0}},     {500, {0x90, 62, 100}}, {500, {0x91, 64, 90}},
        {1000, {0x80, 62, 0}},    {1000, {0x91, 67, 90}},   {1125, {0x91, 64, 0}},  {1125, {0x91, 67, 0}},
    };
    EXPECT_EQ(heard, expected);
}

TEST(SmfMerge, WhatThePlayerCannotPlayIsLeftOutAndTheLongestTrackSetsTheEnd) {
    SmfBuilder first;
    first.event(0, {0xF0, 0x03, 0x7E, 0x09, 0xF7})             // whole: kept
        .event(0, {0xF0, 0x02, 0x43, 0x10})                   // split: left out ...
        .event(10, {0xF7, 0x02, 0x4C, 0x00})                  // ... with what continues it
        .event(10, {0xF7, 0x02, 0x01, 0xF7})                  // ... to its end
        .event(10, {0xF7, 0x01, 0xF8})                        // an escape of its own: kept
        .event(0, {0xFF, 0x01, 0x02, 'h', 'i'})               // text: left out
        .event(0, {0xFF, 0x58, 0x04, 4, 2, 24, 8})            // time signature: kept
        .endOfTrack(100);
    SmfBuilder second;
    second.event(500, {0x99, 36, 100}).endOfTrack(50);
    std::string error;
    const auto merged = mergeSmf(test::multiTrackFile(1, 96, {first, second}), error);
    ASSERT_TRUE(merged) << error;
    EXPECT_EQ(merged->dropped, 4);
    const std::vector<Timed> expected = {
        {0, {0xF0, 0x03, 0x7E, 0x09, 0xF7}}, {30, {0xF7, 0x01, 0xF8}},
        {30, {0xFF, 0x58, 0x04, 4, 2, 24, 8}}, {500, {0x99, 36, 100}},
    };
    EXPECT_EQ(eventsOf(*merged), expected);
    EXPECT_EQ(merged->endTick, 550u);
}

TEST(SmfMerge, FilesItCannotReadAreRefusedWithTheReason) {
    const Bytes track = SmfBuilder().event(0, {0x90, 60, 100}).endOfTrack().trackChunk();
    auto withHeader = [&](int format, int division) {
        Bytes b = test::multiTrackFile(format, division, {});
        b.insert(b.end(), track.begin(), track.end());
        return b;
    };
    Bytes notMidi = withHeader(0, 480);
    notMidi[0] = 'R';
    const struct {
        Bytes file;
        std::string says;
    } cases[] = {
        {notMidi, "is not a Standard MIDI File"},
        {[&] { Bytes b = withHeader(0, 480); b[7] = 5; return b; }(), "header too short"},
        {withHeader(2, 480), "is format 2"},
        {withHeader(1, 0xE728), "SMPTE frames"},
        {withHeader(1, 0), "division of 0"},
        {test::multiTrackFile(1, 480, {}), "has no track"},
        {SmfBuilder().event(0, {60, 100}).bytes(), "a data byte where an event must begin at byte 23"},
        {SmfBuilder().event(0, {0x90, 60, 0x90}).bytes(), "a status byte where a data byte is due"},
        {SmfBuilder().event(0, {0xF1, 0x10}).bytes(), "a system message"},
    };
    for (const auto& c : cases) {
        std::string error;
        EXPECT_FALSE(mergeSmf(c.file, error)) << c.says;
        EXPECT_NE(error.find(c.says), std::string::npos) << error;
    }
}

TEST(SmfMerge, ATrackCutOffEndsWhereItsBytesEndAndACopyTooLargeIsRefused) {
    Bytes cut = SmfBuilder().event(0, {0x90, 60, 100}).event(10, {0x80, 60, 0}).bytes();
    cut.pop_back();  // the note-off loses its last byte
    std::string error;
    const auto merged = mergeSmf(cut, error);
    ASSERT_TRUE(merged) << error;
    EXPECT_EQ(eventsOf(*merged), (std::vector<Timed>{{0, {0x90, 60, 100}}}));

    // Two bytes a note with running status, three in the copy: it outgrows the buffer.
    SmfBuilder many;
    many.event(0, {0x90, 60, 100});
    for (int i = 0; i < smfBufferSize / 4; ++i) many.event(0, {60, std::uint8_t(i % 2 ? 100 : 0)});
    const auto big = mergeSmf(many.endOfTrack().bytes(), error);
    ASSERT_TRUE(big) << error;
    EXPECT_FALSE(writeFormat0(*big, error));
    EXPECT_NE(error.find("under 196608 bytes"), std::string::npos) << error;
}

TEST(SmfMerge, AutoListensToTheMelodicChannelWithTheMostNoteOns) {
    const struct {
        std::vector<std::uint8_t> statuses;  // a note-on each
        std::optional<int> channel;
    } cases[] = {
        {{0x99, 0x99, 0x99, 0x91, 0x91, 0x92}, 1},  // the drums play most, but are not melodic
        {{0x93, 0x92, 0x92, 0x93}, 2},              // a tie goes to the lower channel
        {{0x99, 0x99}, 9},                          // only drums: the drums
        {{0xB0, 0x80}, std::nullopt},               // no note-on at all
    };
    for (const auto& c : cases) {
        SmfBuilder smf;
        for (std::uint8_t status : c.statuses) smf.event(0, {status, 60, 100});
        smf.event(0, {0x90, 61, 0});  // velocity 0 is a note-off
        std::string error;
        const auto merged = mergeSmf(smf.endOfTrack().bytes(), error);
        ASSERT_TRUE(merged) << error;
        EXPECT_EQ(busiestMelodicChannel(*merged), c.channel);
    }
}

}  // namespace
}  // namespace vesk::midi
