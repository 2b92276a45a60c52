// Whole runs of the program on the headless backend, from small files: the recorded MIDI
// bytes, boxes, dialogs and ticks tell what a user would have heard and seen.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/FileDialogAnswers.h"
#include "support/HeadlessRun.h"
#include "support/SmfBuilder.h"

namespace vesk {
namespace {

using Bytes = std::vector<std::uint8_t>;
using test::HeadlessRun;
using test::SmfBuilder;
using test::TickSeen;

// Eight notes a quarter apart on channel 2 (status 0x91: the voice has channel 1 to
// itself), each held an eighth.
const std::string melodyChannel = "2";
std::string melodyFile(const std::vector<int>& notes = {60, 64, 67, 72, 71, 65, 62, 69}) {
    SmfBuilder smf(480);
    for (std::size_t i = 0; i < notes.size(); ++i) {
        smf.event(i == 0 ? 0 : 240, {0x91, std::uint8_t(notes[i]), 100});
        smf.event(240, {0x81, std::uint8_t(notes[i]), 0});
    }
    return test::writeTestFile("melody.mid", smf.endOfTrack().bytes());
}

// Note-ons on the voice channel (0x90) after the finale's long note 30 sounded.
std::vector<int> replayedNotes(const HeadlessRun& run) {
    std::vector<int> notes;
    bool finale = false;
    for (const Bytes& m : run.sent()) {
        if (m.size() == 3 && m[0] == 0x90 && m[1] == 30) finale = true;
        else if (finale && m.size() == 3 && m[0] == 0x90 && m[2] > 0) notes.push_back(m[1]);
    }
    return notes;
}

const TickSeen* firstTick(const HeadlessRun& run, auto&& predicate) {
    auto it = std::find_if(run.ticks.begin(), run.ticks.end(), predicate);
    return it == run.ticks.end() ? nullptr : &*it;
}

TEST(Scenario, APerformanceGrowsWaitsRipplesReplaysBackwardWindsDownAndRestartsMirrored) {
    HeadlessRun run;
    run.platform.answerDialog(HeadlessRun::play(melodyFile(), melodyChannel));
    EXPECT_EQ(run.run(600'000), 0);  // the second performance's dialog answers quit

    EXPECT_EQ(run.performances, (std::vector<ReplayMode>{ReplayMode::Backward, ReplayMode::ForwardMirrored}));
    EXPECT_TRUE(run.boxes().empty());
    const auto most = std::max_element(run.ticks.begin(), run.ticks.end(), [](auto& a, auto& b) {
        return a.segmentCount < b.segmentCount;
    });
    EXPECT_EQ(most->segmentCount, 14);

    // Silence: the ripple on the 10th silent tick, the finale on the 15th.
    const TickSeen* ripple = firstTick(run, [](const TickSeen& t) { return t.rippleStage > 0; });
    ASSERT_NE(ripple, nullptr);
    EXPECT_EQ(ripple->silentTicks, 10);
    const TickSeen* finale = firstTick(run, [](const TickSeen& t) { return t.finaleStarted; });
    ASSERT_NE(finale, nullptr);
    EXPECT_EQ(finale->silentTicks, 15);

    // The backward replay sounds the melody from its last note to its first.
    const std::vector<int> notes = replayedNotes(run);
    ASSERT_GE(notes.size(), 8u);  // then the wind-down's high notes
    const std::vector<int> replay(notes.begin(), notes.begin() + 8);
    EXPECT_EQ(replay, (std::vector<int>{69, 62, 65, 71, 72, 67, 64, 60}));

    // The wind-down took the flake back to its seed arms and the ring below -320.
    const TickSeen* last = nullptr;
    for (const TickSeen& t : run.ticks)
        if (t.performance == 1) last = &t;
    ASSERT_NE(last, nullptr);
    EXPECT_EQ(last->segmentCount, 6);
    const auto dialogs = run.platform.records(platform::headless::Record::Kind::Dialog);
    ASSERT_EQ(dialogs.size(), 2u);
}

// The voice's note-ons of each finale: everything sounded on channel 0 after each long
// note 30, as (note, velocity).
std::vector<std::vector<std::pair<int, int>>> finales(const HeadlessRun& run) {
    std::vector<std::vector<std::pair<int, int>>> out;
    for (const Bytes& m : run.sent()) {
        if (m.size() == 3 && m[0] == 0x90 && m[1] == 30) out.emplace_back();
        else if (!out.empty() && m.size() == 3 && m[0] == 0x90 && m[2] > 0) out.back().emplace_back(m[1], m[2]);
    }
    return out;
}

TEST(Scenario, TheSecondPerformanceReplaysForwardMirroredWithTheRegistersVelocities) {
    HeadlessRun run;
    run.platform.answerDialog(HeadlessRun::play(melodyFile(), melodyChannel));
    run.platform.answerDialog(HeadlessRun::play(melodyFile(), melodyChannel));
    EXPECT_EQ(run.run(600'000), 0);
    ASSERT_EQ(run.performances.size(), 3u);
    const auto all = finales(run);
    ASSERT_GE(all.size(), 3u);  // each finale's note 30, and the wind-downs' at -296
    // The second performance's finale: the melody in file order, each pitch mirrored in
    // its octave; 14 segments at its start, so the loud row by register throughout.
    std::vector<std::pair<int, int>> secondFinale;
    for (const auto& f : all)
        if (f.size() >= 8 && secondFinale.empty() && &f != &all.front()) secondFinale = f;
    ASSERT_GE(secondFinale.size(), 8u);
    const std::vector<std::pair<int, int>> expected = {{72, 88}, {68, 79}, {65, 79}, {84, 88},
                                                       {61, 79}, {67, 79}, {70, 79}, {63, 79}};
    const std::vector<std::pair<int, int>> firstEight(secondFinale.begin(), secondFinale.begin() + 8);
    EXPECT_EQ(firstEight, expected);
}

// The first tick of a performance that shows `predicate`.
const TickSeen* firstTickOf(const HeadlessRun& run, int performance, auto&& predicate) {
    return firstTick(run, [&](const TickSeen& t) { return t.performance == performance && predicate(t); });
}

// The tick on which the voice first sounded a replayed note (any note but the finale's
// long 30) after `after`.
const TickSeen* firstReplayedNoteTick(const HeadlessRun& run, const TickSeen& after) {
    for (const auto& m : run.midi.entries()) {
        const std::int64_t ms = m.timeUs / 1000;
        const bool replayed = m.bytes.size() == 3 && m.bytes[0] == 0x90 && m.bytes[1] != 30 && m.bytes[2] > 0;
        if (replayed && ms > after.ms) return firstTick(run, [ms](const TickSeen& t) { return t.ms == ms; });
    }
    return nullptr;
}

TEST(Scenario, TheFinaleStartsAndReplaysOnItsTicksInBothModes) {
    // The melody's last note-on comes on score tick 18 and its note-off on 19, so its
    // segment ends at 20; its first note was born on score tick 1. Silence is counted from
    // the tick after the last note-on: the finale starts on the 15th silent tick, when the
    // score clock reaches 33, and the replay begins on the 47th.
    const struct {
        ReplayMode mode;
        int replayStartScoreTick;  // on the 47th silent tick
        int firstNoteSilentTicks, firstNoteScoreTick;
    } cases[] = {
        // Backward from finaleTick - 1, one tick a step: the last note's end, 20, after 12.
        {ReplayMode::Backward, 32, 59, 20},
        // Forward: the clock is rewound to 0, and the first note sounds at its birth, 1.
        {ReplayMode::ForwardMirrored, 0, 48, 1},
    };
    HeadlessRun run;
    run.platform.answerDialog(HeadlessRun::play(melodyFile(), melodyChannel));
    run.platform.answerDialog(HeadlessRun::play(melodyFile(), melodyChannel));
    run.run(600'000);
    ASSERT_EQ(run.performances, (std::vector<ReplayMode>{ReplayMode::Backward, ReplayMode::ForwardMirrored,
                                                         ReplayMode::Backward}));
    for (int performance = 1; const auto& c : cases) {
        SCOPED_TRACE(performance);
        const TickSeen* start = firstTickOf(run, performance, [](const TickSeen& t) { return t.finaleStarted; });
        ASSERT_NE(start, nullptr);
        EXPECT_EQ(start->silentTicks, 15);
        EXPECT_EQ(start->scoreTick, 33);
        EXPECT_EQ(start->finaleTick, 33);

        const TickSeen* replayStart = firstTickOf(run, performance, [](const TickSeen& t) {
            return t.finaleStarted && t.silentTicks == 47;
        });
        ASSERT_NE(replayStart, nullptr);
        EXPECT_EQ(replayStart->scoreTick, c.replayStartScoreTick);

        const TickSeen* firstNote = firstReplayedNoteTick(run, *start);
        ASSERT_NE(firstNote, nullptr);
        EXPECT_EQ(firstNote->performance, performance);
        EXPECT_EQ(firstNote->silentTicks, c.firstNoteSilentTicks);
        EXPECT_EQ(firstNote->scoreTick, c.firstNoteScoreTick);
        ++performance;
    }
}

TEST(Scenario, PedalFromTheKeyboardIsEchoedAndReplayedBackwardExchanged) {
    HeadlessRun run;
    run.platform.answerDialog(HeadlessRun::play(melodyFile(), melodyChannel));
    run.platform.postAt(300, {platform::MessageType::MidiInput, 0x7F40B0});
    run.platform.postAt(1300, {platform::MessageType::MidiInput, 0x0040B0});
    run.run(600'000);
    std::vector<Bytes> pedal;
    for (const Bytes& m : run.sent())
        if (m.size() == 3 && m[0] == 0xB0 && m[1] == 0x40) pedal.push_back(m);
    // Echoed as played, then replayed backward: the release first, as a press.
    EXPECT_EQ(pedal, (std::vector<Bytes>{{0xB0, 0x40, 0x7F}, {0xB0, 0x40, 0x00},
                                         {0xB0, 0x40, 0x7F}, {0xB0, 0x40, 0x00}}));
}

TEST(Scenario, NotesComingBackDuringTheSilenceStopTheRippleAndTheCount) {
    HeadlessRun run;
    SmfBuilder smf(480);
    smf.event(0, {0x90, 60, 100}).event(240, {0x80, 60, 0});
    smf.event(2112, {0x90, 64, 100}).event(240, {0x80, 64, 0});  // eleven ticks of silence later
    run.platform.answerDialog(HeadlessRun::play(test::writeTestFile("gap.mid", smf.endOfTrack().bytes())));
    run.run(20'000);
    const TickSeen* ripple = firstTick(run, [](const TickSeen& t) { return t.rippleStage > 0; });
    ASSERT_NE(ripple, nullptr);
    const TickSeen* back = firstTick(run, [&](const TickSeen& t) { return t.ms > ripple->ms && t.segmentCount == 8; });
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(back->silentTicks, 0);
    EXPECT_EQ(back->rippleStage, 0);
    EXPECT_FALSE(back->finaleStarted);
}

TEST(Scenario, AFullMeshShowsItsBoxOncePerPerformanceAndTheCycleGoesOn) {
    // Chords of 42 notes three semitones apart (no cluster drops), one a quarter: the
    // mesh fills on the 48th, and twelve more chords come after it.
    SmfBuilder smf(480);
    for (int chord = 0; chord < 60; ++chord)
        for (int n = 0; n < 42; ++n) smf.event(n == 0 && chord > 0 ? 480 : 0, {0x90, std::uint8_t(n * 3), 100});
    const std::string dense = test::writeTestFile("dense.mid", smf.endOfTrack().bytes());
    HeadlessRun run(7, platform::headless::HeadlessClock::Virtual, {64, 48});  // four full flakes drawn small
    run.platform.setMessageBoxOpenMs(3000);
    // The forward replay of the second performance thins the chords of a large flake, so
    // the mesh fills again in the third.
    for (int performance = 0; performance < 3; ++performance) run.platform.answerDialog(HeadlessRun::play(dense));
    EXPECT_EQ(run.run(900'000), 0);  // the fourth performance's dialog answers quit

    ASSERT_EQ(run.performances.size(), 4u);
    EXPECT_EQ(run.boxes(), (std::vector<std::string>{"Buffer is full!", "Buffer is full!"}));
    const auto box = run.platform.records(platform::headless::Record::Kind::MessageBox).front();
    EXPECT_NE(firstTick(run, [](const TickSeen& t) { return t.meshSegmentCount == 2000; }), nullptr);
    // The chords after the box (half a second apart, the last twelve after it) grow
    // nothing but hold the silence off, so the finale comes after the last of them and
    // takes the full flake apart.
    const std::int64_t lastChordMs = box.timeMs + 12 * 500 - 200;
    for (const TickSeen& t : run.ticks) {
        if (t.performance != 1) break;
        EXPECT_LE(t.meshSegmentCount, 2000);
        if (t.ms > box.timeMs && t.ms < lastChordMs) {
            EXPECT_LE(t.silentTicks, 2) << t.ms;
        }
    }
    const TickSeen* finale = firstTickOf(run, 1, [](const TickSeen& t) { return t.finaleStarted; });
    ASSERT_NE(finale, nullptr);
    EXPECT_GT(finale->ms, lastChordMs);
    const TickSeen* windDown = firstTickOf(run, 1, [](const TickSeen& t) { return t.finaleStarted && t.segmentCount == 6; });
    EXPECT_NE(windDown, nullptr);
}

TEST(Scenario, KeyboardDuringTheFinaleOnlyFlashesTheBackground) {
    HeadlessRun run;
    run.platform.answerDialog(HeadlessRun::play(melodyFile(), melodyChannel));
    std::uint32_t flashed = 0;
    int segmentsBefore = 0;
    // Well inside the finale's replay (it starts 15 silent ticks after the last note).
    run.platform.runAt(9000, [&] { segmentsBefore = run.vesk.state.flake.segmentCount; });
    run.platform.postAt(9001, {platform::MessageType::MidiInput, 0x403090});
    run.platform.runAt(9002, [&] { flashed = run.vesk.scene.scene->sceneBackground(); });
    run.run(600'000);
    ASSERT_TRUE(run.ticks.size() > 0);
    EXPECT_EQ(flashed, 0xFF7F0000u);
    const TickSeen* after = firstTick(run, [](const TickSeen& t) { return t.ms > 9002; });
    ASSERT_NE(after, nullptr);
    EXPECT_LE(after->segmentCount, segmentsBefore);  // nothing grew from it
}

TEST(Scenario, EscTheDialogsQuitAndItsCloseBoxEndTheRun) {
    {
        HeadlessRun run;
        run.platform.answerDialog(HeadlessRun::play(melodyFile(), melodyChannel));
        run.platform.postAt(3000, {platform::MessageType::KeyDown, platform::keyEscape});
        EXPECT_EQ(run.run(600'000), 0);
        EXPECT_EQ(run.platform.nowMs(), 3000);
    }
    {
        HeadlessRun run;
        run.platform.answerDialog(HeadlessRun::quit());
        EXPECT_EQ(run.run(600'000), 0);
        EXPECT_TRUE(run.ticks.empty());
    }
    {
        // The close box keeps the empty name of the first showing: the open fails, the
        // dialog comes again, and its (default) quit ends the run.
        HeadlessRun run;
        run.platform.answerDialog(test::closeBoxAnswer());
        EXPECT_EQ(run.run(600'000), 0);
        EXPECT_EQ(run.boxes(), std::vector<std::string>{"ファイルオープンのエラーです！"});
    }
    {
        // The window's close destroys it: the same release, exit 0.
        HeadlessRun run;
        run.platform.answerDialog(HeadlessRun::play(melodyFile(), melodyChannel));
        run.platform.postAt(2500, {platform::MessageType::Close, 0});
        EXPECT_EQ(run.run(600'000), 0);
        EXPECT_TRUE(run.platform.loop().destroyed());
        EXPECT_FALSE(run.vesk.sequencer.playing());
    }
}

TEST(Scenario, AChannelWithoutNotesWaitsWhileTheKeyboardCanStillPlay) {
    HeadlessRun run;
    run.platform.answerDialog(HeadlessRun::play(melodyFile(), "3"));
    run.platform.postAt(50'000, {platform::MessageType::MidiInput, 0x403C90});
    EXPECT_EQ(run.run(52'000), 99);
    for (const TickSeen& t : run.ticks) {
        if (t.ms >= 50'000) break;
        EXPECT_EQ(t.silentTicks, 0);
        EXPECT_EQ(t.segmentCount, 6);
    }
    EXPECT_EQ(run.ticks.back().segmentCount, 7);
}

TEST(Scenario, FileErrorsLeadToAPerformanceWithoutMusicOrBackToTheDialog) {
    const struct {
        const char* name;
        Bytes file;
        std::string box;
    } cases[] = {
        {"format 1", SmfBuilder(480, 1).event(0, {0x90, 60, 100}).endOfTrack().bytes(),
         "このフォーマットはサポートしていません！"},
        {"empty", {}, "ファイルサイズのエラーです！"},
        {"division 501", SmfBuilder(501).event(0, {0x90, 60, 100}).endOfTrack().bytes(), "CPUクロックが遅すぎます！"},
        {"running status", SmfBuilder(480).event(0, {0x90, 60, 100}).event(10, {0x3C, 0}).bytes(),
         "未定義のMIDIイベントが含まれています。市販のシーケンスソフトで開いて、フォーマット０で保存してからもう一度開いてみて下さい。"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        HeadlessRun run;
        run.platform.answerDialog(HeadlessRun::play(test::writeTestFile("bad.mid", c.file)));
        // Before any silence could start a finale.
        run.platform.postAt(300, {platform::MessageType::MidiInput, 0x403C90});
        run.platform.postAt(700, {platform::MessageType::MidiInput, 0x404090});
        EXPECT_EQ(run.run(6'000), 99);
        EXPECT_EQ(run.boxes(), std::vector<std::string>{c.box});
        // The keyboard still grows the flake.
        EXPECT_GE(run.ticks.back().segmentCount, 8);
    }
    // A file that does not open, and a bad channel, bring the dialog back.
    HeadlessRun run;
    run.platform.answerDialog(HeadlessRun::play("/nonexistent/file.mid"));
    run.platform.answerDialog(HeadlessRun::play(melodyFile(), "17"));  // then the default quit
    EXPECT_EQ(run.run(6'000), 0);
    EXPECT_EQ(run.boxes(), (std::vector<std::string>{"ファイルオープンのエラーです！", "チャネルのエラーです。"}));
    EXPECT_EQ(run.platform.records(platform::headless::Record::Kind::Dialog).size(), 3u);
}

}  // namespace
}  // namespace vesk
