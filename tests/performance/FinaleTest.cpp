// The finale step: settling, the replay clock, replayed notes and pedal, the dismantling of
// the flake and its mesh, the speed-up of the tick timer and the spin. Messages are stamped
// with the silentTicks of the step that sent them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <tuple>
#include <vector>

#include "flake/Meshing.h"
#include "performance/Finale.h"
#include "platform/headless/HeadlessPlatform.h"
#include "platform/midi/RecordingMidiOutput.h"
#include "support/GrownFlake.h"
#include "support/TestRandom.h"

using namespace vesk;
using flake::Segment;
using retained::Frame;
using retained::Matrix4;

namespace {

constexpr auto forwardMode = ReplayMode::ForwardMirrored;
constexpr auto backwardMode = ReplayMode::Backward;
constexpr int never = 9999;  // a tick neither clock reaches in these tests

// silentTicks of the step, status, note or controller, and (controllers only) value.
using Sent = std::tuple<int, int, int, int>;
Sent noteOn(int at, int pitch) { return {at, 0x90, pitch, 0}; }
Sent noteOff(int at, int pitch) { return {at, 0x80, pitch, 0}; }
Sent pedal(int at, bool down) { return {at, 0xB0, 64, down ? 127 : 0}; }

// Segment i's two faces carry its growth slot, so the mesh's order can be read back.
std::uint32_t faceTag(int slot, int face) { return 0xFF000000u | std::uint32_t(slot) << 8 | std::uint32_t(face); }

bool sameTransform(const Matrix4& a, const Matrix4& b) {
    return std::equal(&a.m[0][0], &a.m[0][0] + 16, &b.m[0][0]);
}

// The transform a flake frame has after one replay step's tumble and spin.
Matrix4 tumbledAndSpun(float spinSpeed) {
    auto root = Frame::createRoot();
    Frame& f = root->createChild();
    f.addRotation(retained::Combine::After, {1, 1, 0}, 0.1f);
    f.addRotation(retained::Combine::After, {0, 0, 1}, float(double(spinSpeed) * 1.2));
    return f.localTransform();
}

struct Finale {
    std::unique_ptr<PerformanceState> state = std::make_unique<PerformanceState>();
    retained::MeshBuilder mesh;
    std::unique_ptr<Frame> root = Frame::createRoot();
    Frame& frame = root->createChild();
    platform::headless::HeadlessPlatform platform;
    platform::midi::RecordingMidiOutput midi{[this] { return std::int64_t(state->silentTicks); }};
    test::LcgRandom random{7};
    bool withMesh = true, withFrame = true;
    std::vector<int> removals;  // silentTicks of each segment removed

    // `scoreTick` is where the tick driver left the clock: the finale tick.
    explicit Finale(ReplayMode mode, int scoreTick = 30) {
        for (int i = 0; i < flake::seedArmCount; ++i) grow(flake::seedArmNote, 0);
        state->replayMode = mode;
        state->scoreTick = scoreTick;
        state->pedalTicks.fill(never);
        state->pedalIndex = -1;
    }
    Segment& grow(int note, int tick) {
        const int i = state->flake.meshSegmentCount;
        EXPECT_TRUE(test::growMeshed(*state, mesh, random, note, tick));
        mesh.setFaceColour(mesh.faceAt(2 * i), faceTag(i, 0));
        mesh.setFaceColour(mesh.faceAt(2 * i + 1), faceTag(i, 1));
        return *state->flake.segments[i];
    }
    Segment& add(int note, int birth, int end) {
        Segment& s = grow(note, birth);
        s.endTick = end;
        return s;
    }
    void step() {
        finaleStep(*state, withMesh ? &mesh : nullptr, withFrame ? &frame : nullptr, platform.loop(), &midi);
    }
    // The steps of silentTicks `from` to `to`, as the tick driver hands them over.
    void run(int from, int to) {
        for (int s = from; s <= to; ++s) {
            state->silentTicks = s;
            const int before = state->flake.segmentCount;
            step();
            removals.insert(removals.end(), before - state->flake.segmentCount, s);
        }
    }
    std::vector<Sent> sent() const {
        std::vector<Sent> out;
        for (const auto& e : midi.entries()) {
            const int status = e.bytes.at(0);
            out.emplace_back(int(e.timeUs), status, e.bytes.at(1), status == 0xB0 ? e.bytes.at(2) : 0);
        }
        return out;
    }
    // Every segment still owns the two faces it was given, in segment order.
    void expectFacesInOrder() const {
        const auto& f = state->flake;
        ASSERT_EQ(mesh.faceCount(), 2 * std::size_t(f.segmentCount));
        for (int j = 0; j < f.segmentCount; ++j) {
            EXPECT_EQ(mesh.face(mesh.faceAt(2 * j))->colour, faceTag(f.segments[j]->index, 0)) << j;
            EXPECT_EQ(mesh.face(mesh.faceAt(2 * j + 1))->colour, faceTag(f.segments[j]->index, 1)) << j;
        }
    }
};

}  // namespace

TEST(Finale, SettlingSlowsTheTurnWithoutTouchingSpinOrReplay) {
    const std::pair<int, double> cases[] = {{15, 0.9}, {30, 0.9}, {31, 0.6}, {45, 0.6}};
    for (auto mode : {forwardMode, backwardMode}) {
        for (auto [silentTicks, factor] : cases) {
            SCOPED_TRACE(::testing::Message() << int(mode) << " " << silentTicks);
            Finale f(mode, 20);
            f.add(60, 20, 20);  // due on either clock, yet the settling replays nothing
            f.state->pedalIndex = 0;
            f.state->pedalTicks[0] = 20;
            f.state->silentTicks = silentTicks;
            f.step();

            auto root = Frame::createRoot();
            Frame& expected = root->createChild();
            expected.addRotation(retained::Combine::After, {0, 0, 1}, float(double(-0.08f) * factor));
            EXPECT_TRUE(sameTransform(f.frame.localTransform(), expected.localTransform()));
            EXPECT_EQ(f.state->spinSpeed, -0.08f);
            EXPECT_EQ(f.state->scoreTick, 20);
            EXPECT_EQ(f.state->pedalIndex, 0);
            EXPECT_EQ(f.state->flake.segmentCount, 7);
            EXPECT_TRUE(f.sent().empty());
        }
    }
}

TEST(Finale, ReplayClockByMode) {
    struct Case {
        ReplayMode mode;
        int silentTicks, scoreTick, pedalIndex;
        int scoreTickAfter, pedalIndexAfter;
        bool turns;
    };
    const Case cases[] = {
        {forwardMode, 46, 33, 7, 0, 0, false},  // rewound, and the flake holds still
        {backwardMode, 46, 40, 7, 39, 7, true},  // the backward replay begins at once
        {forwardMode, 47, 0, 0, 1, 0, true},
        {forwardMode, 200, 154, 3, 155, 3, true},
        {backwardMode, 90, 1, 3, 0, 3, true},
        {backwardMode, 91, 0, 3, 0, 3, true},  // the backward clock stops at 0
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << int(c.mode) << " " << c.silentTicks);
        Finale f(c.mode, c.scoreTick);
        f.add(60, never, never);
        f.state->pedalIndex = c.pedalIndex;
        f.state->silentTicks = c.silentTicks;
        f.step();
        EXPECT_EQ(f.state->scoreTick, c.scoreTickAfter);
        EXPECT_EQ(f.state->pedalIndex, c.pedalIndexAfter);
        EXPECT_TRUE(sameTransform(f.frame.localTransform(), c.turns ? tumbledAndSpun(-0.08f) : Matrix4{}));
        EXPECT_TRUE(f.sent().empty());
    }
}

TEST(Finale, LateNotesGoUpAnOctaveAndAreReleasedThere) {
    struct Case {
        ReplayMode mode;
        int finaleTick, birth, end;
        std::vector<Sent> sent;
    };
    const Case cases[] = {
        // Forward: step 46 + k runs at tick k. Sounded before 121, released after it.
        {forwardMode, 30, 70, 80, {noteOn(116, 71), noteOff(126, 83)}},
        {forwardMode, 30, 75, 76, {noteOn(121, 83), noteOff(122, 83)}},
        // Backward: step 46 + k runs at tick 199 - k.
        {backwardMode, 200, 120, 130, {noteOn(115, 61), noteOff(125, 73)}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(int(c.mode));
        Finale f(c.mode, c.finaleTick);
        f.add(61, c.birth, c.end);
        f.run(46, 130);
        EXPECT_EQ(f.sent(), c.sent);
    }
}

TEST(Finale, PitchesAboveTheKeyboardAreFoldedOnAndOffAlike) {
    Finale forward(forwardMode);
    forward.add(120, 2, 3);  // 132
    forward.add(127, 2, 3);  // 125
    forward.run(46, 50);
    EXPECT_EQ(forward.sent(), (std::vector<Sent>{noteOn(48, 120), noteOn(48, 125), noteOff(49, 120),
                                                 noteOff(49, 125)}));

    Finale backward(backwardMode, 100);  // step 46 + k at tick 99 - k
    backward.add(120, 19, 20);           // 132 once the octave shift applies
    backward.run(46, 130);
    EXPECT_EQ(backward.sent(), (std::vector<Sent>{noteOn(125, 120), noteOff(126, 120)}));
}

TEST(Finale, PedalLogReplay) {
    struct Case {
        const char* name;
        ReplayMode mode;
        int finaleTick, pedalIndex;
        std::vector<std::pair<int, int>> log;  // tick, value
        std::vector<Sent> sent;
        int pedalIndexAfter;
    };
    const Case cases[] = {
        {"forward in order", forwardMode, 30, 5, {{2, 127}, {4, 0}}, {pedal(48, true), pedal(50, false)}, 2},
        {"two on one tick: the second is never reached", forwardMode, 30, 5,
         {{3, 127}, {3, 0}, {5, 127}}, {pedal(49, true)}, 1},
        {"backward, pressing and releasing exchanged", backwardMode, 40, 2,
         {{5, 127}, {10, 0}, {12, 127}}, {pedal(73, false), pedal(75, true), pedal(80, false)}, -1},
        {"backward from a change at the finale tick", backwardMode, 40, 1, {{5, 127}, {40, 127}}, {}, 1},
        {"backward with nothing recorded", backwardMode, 40, -1, {}, {}, -1},
        {"backward from past the log", backwardMode, 40, pedalLogCapacity, {}, {}, pedalLogCapacity},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Finale f(c.mode, c.finaleTick);
        f.add(60, never, never);
        for (std::size_t k = 0; k < c.log.size(); ++k)
            std::tie(f.state->pedalTicks[k], f.state->pedalValues[k]) = c.log[k];
        f.state->pedalIndex = c.pedalIndex;
        f.run(46, 120);
        EXPECT_EQ(f.sent(), c.sent);
        EXPECT_EQ(f.state->pedalIndex, c.pedalIndexAfter);
    }
}

TEST(Finale, SegmentsEndingTogetherGoInOneStepInModeOrder) {
    struct Case {
        ReplayMode mode;
        int finaleTick;
        int births[4], ends[4];  // of slots 6 to 9, notes 60, 62, 64, 65
        int at;                  // the step that removes three
        std::vector<Sent> sent;  // on that step
        int survivor;            // growth slot of the one grown segment left
    };
    const Case cases[] = {
        // Forward removes at the end tick 10, oldest first: slots 6, 8, 9 (mirrored 72, 68, 67).
        {forwardMode, 30, {3, 3, 3, 5}, {10, 20, 10, 10}, 56,
         {noteOff(56, 72), noteOff(56, 68), noteOff(56, 67)}, 7},
        // Backward removes at the birth tick 3, newest first: slots 9, 8, 7 (step 46 + k at 19 - k).
        {backwardMode, 20, {2, 3, 3, 3}, {10, 10, 10, 11}, 62,
         {noteOff(62, 65), noteOff(62, 64), noteOff(62, 62)}, 6},
    };
    const int notes[] = {60, 62, 64, 65};
    for (const Case& c : cases) {
        SCOPED_TRACE(int(c.mode));
        Finale f(c.mode, c.finaleTick);
        for (int k = 0; k < 4; ++k) f.add(notes[k], c.births[k], c.ends[k]);
        f.run(46, c.at - 1);
        ASSERT_EQ(f.state->flake.segmentCount, 10);
        f.midi.clear();
        f.run(c.at, c.at);
        EXPECT_EQ(f.sent(), c.sent);
        EXPECT_EQ(f.state->flake.segmentCount, 7);
        EXPECT_EQ(f.state->flake.meshSegmentCount, 7);
        EXPECT_EQ(f.state->flake.segments[6]->index, c.survivor);
        f.expectFacesInOrder();
    }
}

TEST(Finale, SeedArmsAreNeverReplayedNorRemoved) {
    for (auto mode : {forwardMode, backwardMode}) {
        SCOPED_TRACE(int(mode));
        Finale f(mode, 20);
        std::vector<const Segment*> seeds;
        for (int i = 0; i < flake::seedArmCount; ++i) {
            Segment& s = *f.state->flake.segments[i];
            s.birthTick = i + 1;  // on both clocks' way
            s.endTick = i + 2;
            seeds.push_back(&s);
        }
        f.add(50, 3, 4);
        f.run(46, 150);
        const int pitch = mode == forwardMode ? 58 : 50;
        const int on = mode == forwardMode ? 49 : 61, off = mode == forwardMode ? 50 : 62;
        EXPECT_EQ(f.sent(), (std::vector<Sent>{noteOn(on, pitch), noteOff(off, pitch)}));
        ASSERT_EQ(f.state->flake.segmentCount, 6);
        for (int i = 0; i < flake::seedArmCount; ++i) EXPECT_EQ(f.state->flake.segments[i].get(), seeds[i]);
        f.expectFacesInOrder();
    }
}

TEST(Finale, WithOnlySeedArmsMeshedTheClockAndSpeedUpStillRun) {
    Finale f(forwardMode, 5);
    f.add(60, 6, 6);
    f.state->flake.meshSegmentCount = flake::seedArmCount;
    f.state->silentTicks = 80;
    f.step();
    EXPECT_EQ(f.state->scoreTick, 6);
    EXPECT_TRUE(sameTransform(f.frame.localTransform(), tumbledAndSpun(-0.08f)));
    EXPECT_EQ(f.state->tickIntervalMs, 186);
    EXPECT_FLOAT_EQ(f.state->spinSpeed, -0.096f);
    EXPECT_TRUE(f.sent().empty());
    EXPECT_EQ(f.state->flake.segmentCount, 7);
}

// Window timer 1 drives the steps as it drives the ticks; its messages show the interval.
TEST(Finale, TickTimerAndSpinSpeedUp) {
    Finale f(forwardMode);
    f.add(60, never, never);
    struct Ticker final : platform::WindowHandler {
        Finale& f;
        std::vector<std::int64_t> times;  // of the step with silentTicks 46 + index
        std::vector<float> spins;         // after it
        explicit Ticker(Finale& finale) : f(finale) {}
        void handleMessage(const platform::Message& m) override {
            if (m.type != platform::MessageType::Timer || m.param != 1) return;
            times.push_back(f.platform.nowMs());
            f.run(46 + int(spins.size()), 46 + int(spins.size()));
            spins.push_back(f.state->spinSpeed);
            if (f.state->silentTicks == 400) f.platform.loop().postQuit(0);
        }
    } ticker(f);
    f.platform.loop().setHandler(&ticker);
    f.platform.loop().setTimer(1, 200);
    f.platform.loop().run();
    ASSERT_EQ(ticker.times.size(), 400u - 46 + 1);

    const std::pair<int, int> intervals[] = {  // from the step with this silentTicks on
        {46, 200},  {80, 186},  {100, 172}, {120, 159}, {140, 147}, {160, 136},
        {180, 126}, {200, 117}, {220, 108}, {240, 100}, {260, 93},  {280, 86},
        {300, 79},  {320, 73},  {340, 67},  {360, 62},  {380, 60},
    };
    for (int s = 46; s < 400; ++s) {
        const auto in = std::find_if(std::rbegin(intervals), std::rend(intervals),
                                     [s](auto e) { return e.first <= s; });
        EXPECT_EQ(ticker.times[s - 46 + 1] - ticker.times[s - 46], in->second) << s;
    }
    const std::pair<int, float> spins[] = {{79, -0.08f},     {80, -0.096f},   {100, -0.1152f},
                                           {120, -0.13824f}, {140, -0.165888f}, {159, -0.165888f}};
    for (auto [s, spin] : spins) EXPECT_FLOAT_EQ(ticker.spins[s - 46], spin) << s;
    for (int s : {160, 180, 400}) EXPECT_EQ(ticker.spins[s - 46], -0.18f) << s;  // the limit holds
    EXPECT_EQ(f.state->tickIntervalMs, 60);
}

TEST(Finale, RemovedSegmentsLeaveTheAccentList) {
    Finale f(forwardMode);
    Segment* early = &f.add(60, 1, 2);
    Segment* late = &f.add(62, 1, 50);
    f.state->accentList[0] = early;
    f.state->accentList[1] = late;
    f.state->accentList[2] = early;
    f.state->accentCount = 3;
    f.run(46, 48);
    ASSERT_EQ(f.removals, std::vector<int>{48});
    EXPECT_EQ(f.state->accentList[0], nullptr);
    EXPECT_EQ(f.state->accentList[1], late);
    EXPECT_EQ(f.state->accentList[2], nullptr);
    EXPECT_EQ(f.state->accentCount, 3);
}

// A note that reaches the tick driver after removals grows on live tips only; the sanitizer
// build reports any use of a freed segment.
TEST(Finale, GrowthAfterRemovalsUsesOnlyLiveSegments) {
    Finale f(backwardMode, 41);  // step 46 + k at tick 40 - k
    for (int t = 1; t <= 40; ++t) f.grow(60 + t % 12, t);
    auto& flake = f.state->flake;
    Segment* newest = flake.segments[flake.segmentCount - 1].get();
    flake.currentTip = newest;
    f.run(46, 66);  // back to tick 20: the segments born from 20 on go
    ASSERT_EQ(flake.segmentCount, 6 + 19);
    EXPECT_EQ(flake.currentTip, nullptr);

    for (int n = 0; n < 30; ++n) f.grow(60 + n % 12, 100);
    auto live = [&](const Segment* s) {
        return std::any_of(flake.segments.begin(), flake.segments.begin() + flake.segmentCount,
                           [s](const auto& p) { return p.get() == s; });
    };
    for (int p = 1; p <= flake.tipCount; ++p) EXPECT_TRUE(live(flake.tips[p])) << p;
    for (int j = 0; j < flake.segmentCount; ++j) {
        const Segment* parent = flake.segments[j]->parent;
        EXPECT_TRUE(!parent || live(parent)) << j;
    }
    f.expectFacesInOrder();
}

// Notes and pedal on the replayed clock, with or without the picture's parts.
TEST(Finale, WithoutMeshOrFrameEverythingElseStillHappens) {
    struct Case {
        bool mesh, frame;
    };
    const Case cases[] = {{false, false}, {false, true}, {true, false}, {true, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.mesh << c.frame);
        Finale f(forwardMode);
        f.withMesh = c.mesh;
        f.withFrame = c.frame;
        f.add(61, 5, 8);
        f.add(62, 40, 45);
        // Pedal changes on the same ticks come after the notes sounded and before the releases.
        f.state->pedalTicks[0] = 5, f.state->pedalValues[0] = 127;
        f.state->pedalTicks[1] = 8, f.state->pedalValues[1] = 0;
        f.run(15, 100);
        EXPECT_EQ(f.sent(), (std::vector<Sent>{noteOn(51, 71), pedal(51, true), pedal(54, false),
                                               noteOff(54, 71), noteOn(86, 70), noteOff(91, 70)}));
        EXPECT_EQ(f.removals, (std::vector<int>{54, 91}));
        EXPECT_EQ(f.state->flake.meshSegmentCount, 6);
        EXPECT_EQ(f.state->tickIntervalMs, 172);
        EXPECT_FLOAT_EQ(f.state->spinSpeed, -0.1152f);
        EXPECT_EQ(f.mesh.faceCount(), c.mesh ? 12u : 16u);
        EXPECT_EQ(sameTransform(f.frame.localTransform(), Matrix4{}), !c.frame);
    }
}
