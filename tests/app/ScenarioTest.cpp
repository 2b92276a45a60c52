// Whole runs of the program on the headless backend, from small files: the recorded MIDI
// bytes, boxes, dialogs and ticks tell what a user would have heard and seen.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/HeadlessRun.h"
#include "support/SmfBuilder.h"

namespace vesk {
namespace {

using Bytes = std::vector<std::uint8_t>;
using test::HeadlessRun;
using test::SmfBuilder;
using test::TickSeen;

// Eight notes a quarter apart on channel 1 (status 0x90), each held an eighth.
std::string melodyFile(const std::vector<int>& notes = {60, 64, 67, 72, 71, 65, 62, 69}) {
    SmfBuilder smf(480);
    for (std::size_t i = 0; i < notes.size(); ++i) {
        smf.event(i == 0 ? 0 : 240, {0x90, std::uint8_t(notes[i]), 100});
        smf.event(240, {0x80, std::uint8_t(notes[i]), 0});
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
    run.platform.answerDialog(HeadlessRun::play(melodyFile()));
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

}  // namespace
}  // namespace vesk
