// Colour words, depth and accent colours, the drift, the band recolouring and the switch.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>

#include "flake/Meshing.h"
#include "scene/Colouring.h"
#include "support/GrownFlake.h"
#include "support/TestRandom.h"

using namespace vesk;
using namespace vesk::scene;
using retained::MeshBuilder;

namespace {

// A performance's flake after the reset: the six seed arms, meshed and coloured.
struct ColouredFlake {
    std::unique_ptr<PerformanceState> state = std::make_unique<PerformanceState>();
    MeshBuilder mesh;
    test::LcgRandom random{5};

    ColouredFlake() {
        EXPECT_TRUE(test::growSeedArms(*state, mesh, random));
        initColours(*state, mesh);
    }
    void grow(int note) { EXPECT_TRUE(test::growMeshed(*state, mesh, random, note, state->scoreTick)); }
    // Grows notes as one tick does, then accents them.
    void tickWithNotes(std::initializer_list<int> notes) {
        state->noteOnCount = 0;
        for (int n : notes) {
            state->noteOnQueue[state->noteOnCount++] = std::uint8_t(n);
            grow(n);
        }
        accentNewNotes(*state, mesh);
    }
    std::uint32_t word(int face) const { return mesh.face(mesh.faceAt(face))->colour; }
    void paintAll(std::uint32_t colour) {
        for (std::size_t f = 0; f < mesh.faceCount(); ++f) mesh.setFaceColour(mesh.faceAt(f), colour);
    }
};

constexpr std::uint32_t sentinel = 0x12345678;

}  // namespace

TEST(Colouring, ColourWordsTruncateWithoutClamping) {
    EXPECT_EQ(colourWord(0.5, 0.4f, 0.5f), 0xFF7F667Fu);
    EXPECT_EQ(colourWord(0.5 - double(0.1f), 0.4f, 0.5f), 0xFF65667Fu);  // 101.99999962 -> 101
    // A negative red spills its sign bits through the alpha byte: -12 -> 0xF4.
    EXPECT_EQ(colourWord(0.05 - double(0.1f), 0.4f, 0.5f), 0xFFF4667Fu);
    EXPECT_EQ(colourWord(0.0, 0.0, 1.5), 0xFF00017Eu);  // 382 carries into green
}

TEST(Colouring, DepthColoursOfTheFlake) {
    ColouredFlake f;
    EXPECT_EQ(f.word(0), 0xFF65667Fu);  // seed arm, first face: red 0.4
    EXPECT_EQ(f.word(1), 0xFF7F667Fu);  // second face: red 0.5
    EXPECT_EQ(f.word(11), 0xFF7F667Fu);

    struct Case {
        int depth;
        std::uint32_t first, second;
    };
    const Case cases[] = {
        {16, 0xFF00667Fu, 0xFF19667Fu},
        {18, 0xFFF4667Fu, 0xFF0C667Fu},
        {20, 0xFFE7667Fu, 0xFF00667Fu},
    };
    for (const Case& c : cases) {
        f.state->flake.segments[3]->depth = c.depth;
        initColours(*f.state, f.mesh);
        EXPECT_EQ(f.word(6), c.first) << c.depth;
        EXPECT_EQ(f.word(7), c.second) << c.depth;
    }
}

TEST(Colouring, AccentsAndThePaletteSwitch) {
    ColouredFlake f;
    f.state->scoreTick = 2;
    f.tickWithNotes({62});
    EXPECT_EQ(f.word(12), 0xFF59B27Fu);
    EXPECT_EQ(f.word(13), 0xFF72B27Fu);

    f.state->silentTicks = 14;
    f.state->scoreTick = 3;
    spinAndRecolour(*f.state, f.mesh, nullptr);
    EXPECT_EQ(f.word(0), 0xFF7F667Fu);
    EXPECT_EQ(f.word(1), 0xFF99667Fu);
    EXPECT_EQ(f.state->ringSpin, 0.07f);
    f.state->silentTicks = 0;
    f.state->scoreTick = 4;
    f.tickWithNotes({64});
    EXPECT_EQ(f.word(14), 0xFF989966u);
    EXPECT_EQ(f.word(15), 0xFFB29966u);
}

TEST(Colouring, SwitchWithOnlySeedArmsSpinsButChangesNoColour) {
    ColouredFlake f;
    auto frame = retained::Frame::createRoot();
    f.state->silentTicks = 14;
    f.state->scoreTick = 0;
    f.paintAll(sentinel);
    spinAndRecolour(*f.state, f.mesh, frame.get());
    EXPECT_EQ(f.state->baseRed, 0.0f);
    EXPECT_EQ(f.state->accentRed, 0.45f);
    EXPECT_EQ(f.state->ringSpin, 0.02f);
    EXPECT_EQ(f.word(0), sentinel);
    const retained::Vector3 up = frame->worldTransform().transformDirection({0, 1, 0});
    EXPECT_NEAR(up.x, -std::sin(-0.08f), 1e-6f);  // turned by spinSpeed about z

    f.state->scoreTick = 1;  // odd ticks do not spin
    spinAndRecolour(*f.state, f.mesh, frame.get());
    EXPECT_NEAR(frame->worldTransform().transformDirection({0, 1, 0}).x, up.x, 1e-7f);
}

TEST(Colouring, DriftOfTheBaseColours) {
    ColouredFlake f;
    const float greens[] = {0.45f, 0.5f, 0.55f, 0.545f, 0.54f};
    for (float green : greens) {
        f.state->scoreTick += 2;
        pulseColours(*f.state, f.mesh);
        EXPECT_NEAR(f.state->baseGreen, green, 1e-6f);
    }
    EXPECT_EQ(f.state->greenStep, -0.1f);
    EXPECT_NEAR(f.state->baseBlue, 0.5 - 3 * 0.03 + 2 * 0.003, 1e-6);
    // Once below the floor the drift turns up again.
    f.state->baseGreen = 0.401f;
    f.state->scoreTick += 2;
    pulseColours(*f.state, f.mesh);
    EXPECT_EQ(f.state->greenStep, 0.1f);
}

TEST(Colouring, AccentsLastUntilTheNextOddTick) {
    ColouredFlake f;
    f.state->scoreTick = 2;
    f.tickWithNotes({62});
    const int child = 6;
    flake::Segment* parent = f.state->flake.segments[child]->parent;
    ASSERT_NE(parent, nullptr);
    EXPECT_EQ(f.state->accentCount, 2);  // the new segment and its seed-arm parent
    f.state->scoreTick = 3;
    pulseColours(*f.state, f.mesh);
    EXPECT_EQ(f.state->accentCount, 0);
    EXPECT_EQ(f.word(2 * child + 1), 0xFF79667Fu);  // depth 1: red 0.475
    for (int i = 0; i < flake::seedArmCount; ++i) EXPECT_EQ(f.word(2 * i + 1), 0xFF7F667Fu);
}

TEST(Colouring, ThreeChildrenOfOneParentListItThreeTimes) {
    ColouredFlake f;
    // Always the same seed arm, so three different directions grow from it in one tick.
    f.random = test::LcgRandom(1);
    flake::FlakeState& fl = f.state->flake;
    flake::Segment* arm = fl.segments[0].get();
    std::vector<std::uint8_t> notes = {60, 61, 62};
    f.state->noteOnCount = 0;
    for (int n : notes) {
        fl.tips[1] = arm;
        fl.currentTipIndex = 1;
        fl.currentTip = arm;
        f.state->noteOnQueue[f.state->noteOnCount++] = std::uint8_t(n);
        f.grow(n);
    }
    accentNewNotes(*f.state, f.mesh);
    EXPECT_EQ(std::count(f.state->accentList.begin(), f.state->accentList.begin() + f.state->accentCount, arm), 3);
    EXPECT_EQ(f.state->accentCount, 6);
}

TEST(Colouring, BandRecolouringByScoreTick) {
    ColouredFlake f;
    while (f.state->flake.segmentCount < 1000) f.grow(40 + f.state->flake.segmentCount % 50);
    struct Case {
        int scoreTick, first, last;  // positions expected recoloured; first > last: none
    };
    const Case cases[] = {{7, 800, 999}, {8, 1, 0}, {10, 0, 399}, {6, 400, 799}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.scoreTick);
        f.paintAll(sentinel);
        f.state->scoreTick = c.scoreTick;
        f.state->silentTicks = 0;
        spinAndRecolour(*f.state, f.mesh, nullptr);
        for (int i = 0; i < 1000; ++i) {
            const bool recoloured = i >= c.first && i <= c.last;
            ASSERT_EQ(f.word(2 * i) != sentinel, recoloured) << i;
        }
    }
    // Only on ticks with notes.
    f.paintAll(sentinel);
    f.state->silentTicks = 3;
    f.state->scoreTick = 10;
    spinAndRecolour(*f.state, f.mesh, nullptr);
    EXPECT_EQ(f.word(0), sentinel);
}

TEST(Colouring, ABandOnTheSameTickOverwritesTheNewAccents) {
    ColouredFlake f;
    f.state->scoreTick = 5;  // a multiple of 5: band 0..399 covers the new segments
    f.tickWithNotes({62, 64});
    spinAndRecolour(*f.state, f.mesh, nullptr);
    EXPECT_EQ(f.word(13), 0xFF79667Fu);  // depth colour again, not the accent
    f.state->scoreTick = 6;
    f.tickWithNotes({62});
    spinAndRecolour(*f.state, f.mesh, nullptr);
    EXPECT_EQ(f.word(2 * 8 + 1), 0xFF72B27Fu);  // band 400..799 lies beyond: the accent stays
}

TEST(Colouring, FinaleAccentsFollowTheReplayMode) {
    ColouredFlake f;
    for (int tick = 1; tick <= 4; ++tick) {
        f.state->scoreTick = tick;
        f.grow(60 + tick);
    }
    auto& segs = f.state->flake.segments;
    // Segments 6..9 were born on ticks 1..4 and end a tick later.
    f.state->silentTicks = 50;
    f.state->accentCount = 0;
    f.state->replayMode = ReplayMode::ForwardMirrored;
    f.state->scoreTick = 3;  // replayed last tick: births on tick 2
    accentFinaleNotes(*f.state, f.mesh);
    ASSERT_EQ(f.state->accentCount, 1);
    EXPECT_EQ(f.state->accentList[0], segs[7].get());

    f.state->accentCount = 0;
    f.state->replayMode = ReplayMode::Backward;
    f.state->scoreTick = 2;  // replayed last tick: notes ending on tick 3, i.e. born on 2
    accentFinaleNotes(*f.state, f.mesh);
    ASSERT_GE(f.state->accentCount, 1);
    EXPECT_EQ(f.state->accentList[0], segs[7].get());
    EXPECT_EQ(f.word(2 * 7 + 1), 0xFF72B27Fu);

    f.state->accentCount = 0;
    f.state->silentTicks = 14;  // before the finale's first step nothing happens
    accentFinaleNotes(*f.state, f.mesh);
    EXPECT_EQ(f.state->accentCount, 0);
}

TEST(Colouring, AFullAccentListAndAFullMeshAreLeftAlone) {
    ColouredFlake f;
    f.state->accentCount = accentListCapacity - 1;
    f.state->scoreTick = 2;
    f.tickWithNotes({62});  // two accents, room for one
    EXPECT_EQ(f.state->accentCount, accentListCapacity);

    f.paintAll(sentinel);
    f.state->flake.segmentCount = flake::meshCapacitySegments;
    colourSegment(*f.state, f.mesh, 0, 0.5f, 0.5f, 0.5f);
    EXPECT_EQ(f.word(0), sentinel);
}
