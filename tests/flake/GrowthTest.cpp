// The growth step: seed arms, directions, tips, collision, balance, give-up and the bound.
#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>

#include "flake/Growth.h"
#include "support/TestRandom.h"

using namespace vesk::flake;

namespace {

void growSeedArms(FlakeState& flake, RandomSource& random) {
    for (int i = 0; i < seedArmCount; ++i) growSegment(flake, random, 72, 0);
}

// Puts a free-standing segment into `segments` by hand, with the given end points.
Segment& placeSegment(FlakeState& flake, int slot, float sx, float sy, float ex, float ey) {
    flake.segments[slot] = std::make_unique<Segment>(nullptr, turnStraight, climbLevel, slot, 60, 0);
    Segment& s = *flake.segments[slot];
    s.startX = sx, s.startY = sy, s.endX = ex, s.endY = ey;
    return s;
}

// Makes `tip` the current tip (at position 1) and grows one note on it.
void growOn(FlakeState& flake, RandomSource& random, Segment* tip, int note) {
    flake.tips[1] = tip;
    flake.currentTipIndex = 1;
    flake.currentTip = tip;
    growSegment(flake, random, note, 1);
}

bool isTip(const FlakeState& flake, const Segment* s) {
    return std::find(flake.tips.begin() + 1, flake.tips.begin() + flake.tipCount + 1, s) !=
           flake.tips.begin() + flake.tipCount + 1;
}

}  // namespace

TEST(Growth, SeedArmsComeFirstWhateverTheNote) {
    FlakeState flake;
    vesk::test::ScriptedRandom random({2});
    growSegment(flake, random, 61, 0);
    EXPECT_EQ(flake.segmentCount, 1);
    EXPECT_EQ(flake.tipCount, 1);
    EXPECT_EQ(flake.currentTip, nullptr);
    EXPECT_EQ(flake.segments[0]->heading, 0.0f);
    EXPECT_EQ(random.drawsTaken(), 0u);  // randomInRange(1, 1) draws nothing

    for (int i = 1; i < seedArmCount; ++i) growSegment(flake, random, 40 + i, 0);
    EXPECT_EQ(flake.segmentCount, 6);
    EXPECT_EQ(flake.tipCount, 6);
    EXPECT_EQ(flake.currentTipIndex, 3);  // 1 + 2 mod 6
    EXPECT_EQ(flake.currentTip, flake.segments[2].get());
    const float headings[] = {0.0f, 2.094f, -2.094f, -1.047f, 1.047f, 3.141f};
    for (int i = 0; i < seedArmCount; ++i) {
        EXPECT_EQ(flake.segments[i]->heading, headings[i]);
        EXPECT_EQ(flake.tips[i + 1], flake.segments[i].get());
    }
    EXPECT_TRUE(std::all_of(flake.depthPopulation.begin(), flake.depthPopulation.end(),
                            [](int n) { return n == 0; }));
}

TEST(Growth, PitchClassPicksTheDirection) {
    const std::pair<int, int> cases[] = {{60, 1}, {61, 2}, {62, 3}, {63, 5}, {64, 4}, {65, 3},
                                         {66, 1}, {67, 2}, {68, 3}, {69, 5}, {70, 4}, {71, 3},
                                         {0x100 + 60, 1}};  // only the low 8 bits count
    for (auto [note, direction] : cases) EXPECT_EQ(directionForNote(note), direction) << note;
}

TEST(Growth, TipsOfShallowDepthStayBesideTheirChild) {
    FlakeState flake;
    vesk::test::ScriptedRandom random({0});  // always the first tip: the arm pointing up
    growSeedArms(flake, random);
    ASSERT_EQ(flake.currentTip, flake.segments[0].get());

    growSegment(flake, random, 62, 3);
    EXPECT_EQ(flake.segmentCount, 7);
    EXPECT_EQ(flake.tipCount, 7);
    EXPECT_EQ(flake.tips[7], flake.segments[6].get());
    EXPECT_EQ(flake.depthPopulation[1], 1);
    EXPECT_EQ(flake.segments[6]->parent, flake.segments[0].get());
    EXPECT_EQ(flake.segments[6]->birthTick, 3);
}

TEST(Growth, DeepTipWithRoomIsReplacedByItsChild) {
    FlakeState flake;
    vesk::test::ScriptedRandom random({0});
    growSeedArms(flake, random);
    // A chain up the y axis: seed arm, then depths 1, 2 and 3 straight on.
    growOn(flake, random, flake.segments[0].get(), 62);
    growOn(flake, random, flake.segments[6].get(), 62);
    growOn(flake, random, flake.segments[7].get(), 62);
    Segment* deep = flake.segments[8].get();
    ASSERT_EQ(deep->depth, 3);
    flake.tips[1] = deep;
    flake.currentTipIndex = 1;
    flake.currentTip = deep;
    const int tipsBefore = flake.tipCount;
    const auto listed = std::count(flake.tips.begin(), flake.tips.end(), deep);

    growSegment(flake, random, 60, 2);  // direction 1 leaves the tip 4 empty links
    EXPECT_EQ(flake.tipCount, tipsBefore);
    EXPECT_EQ(flake.tips[1], flake.segments[9].get());
    EXPECT_EQ(flake.segments[9]->parent, deep);
    EXPECT_EQ(std::count(flake.tips.begin(), flake.tips.end(), deep), listed - 1);
}

TEST(Growth, CollisionWindowsAndStrictBounds) {
    FlakeState flake;
    // Candidate ends at (0, 1); earlier segment r spans x 0.1..0.2, y 0.5..1.5.
    auto setUp = [&](int count, int obstacleSlot, float qx, float qy) {
        flake = FlakeState{};
        for (int j = 0; j < count; ++j) placeSegment(flake, j, 5, 5, 5, 6);  // far away
        placeSegment(flake, obstacleSlot, 0.1f, 0.5f, 0.2f, 1.5f);
        placeSegment(flake, count, 0, 0, qx, qy);
        flake.segmentCount = count;
    };
    struct Case {
        int count, obstacleSlot;
        float qx, qy;
        bool hit;
    };
    const Case cases[] = {
        {10, 3, 0.15f, 1.0f, true},
        {10, 3, 0.089f, 1.0f, true},    // 0.011 left of the x range: inside the margin
        {10, 3, 0.211f, 1.0f, true},    // 0.011 right of it
        {10, 3, 0.087f, 1.0f, false},   // 0.013 outside
        {10, 3, 0.15f, 1.5f, false},    // exactly on the y bound: strict, no hit
        {10, 3, 0.15f, 0.5f, false},
        {250, 0, 0.15f, 1.0f, true},    // below 300 every earlier segment counts
        {350, 99, 0.15f, 1.0f, false},  // 350: only slots 100 to 349
        {350, 100, 0.15f, 1.0f, true},
        {499, 199, 0.15f, 1.0f, false},
        {499, 200, 0.15f, 1.0f, true},
        {1, 0, 0.15f, 1.0f, false},     // a flake of one segment never collides
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.count << " " << c.obstacleSlot << " " << c.qx
                                          << "," << c.qy);
        setUp(c.count, c.obstacleSlot, c.qx, c.qy);
        EXPECT_EQ(collidesWithFlake(flake), c.hit);
    }

    // An earlier segment parallel to the x axis has an empty y range: never a hit.
    setUp(10, 3, 0.15f, 1.0f);
    placeSegment(flake, 3, 0.0f, 1.0f, 0.3f, 1.0f);
    EXPECT_FALSE(collidesWithFlake(flake));
}

TEST(Growth, DepthBalanceRule) {
    FlakeState flake;
    auto candidateOfDepth = [&](int depth, int count) {
        flake.segmentCount = count;
        Segment& q = placeSegment(flake, count, 0, 0, 0, 1);
        q.depth = depth;
    };
    candidateOfDepth(5, 300);
    flake.depthPopulation[3] = 1;
    EXPECT_TRUE(depthUnbalanced(flake));
    flake.depthPopulation[3] = 2;
    EXPECT_FALSE(depthUnbalanced(flake));
    flake.depthPopulation[3] = 1;
    candidateOfDepth(5, 301);  // the rule stops above 300 segments
    EXPECT_FALSE(depthUnbalanced(flake));

    candidateOfDepth(4, 10);  // shallow candidates are never unbalanced
    EXPECT_FALSE(depthUnbalanced(flake));
    candidateOfDepth(7, 10);
    flake.depthPopulation[5] = 7;
    EXPECT_TRUE(depthUnbalanced(flake));
    flake.depthPopulation[5] = 8;
    EXPECT_FALSE(depthUnbalanced(flake));
    candidateOfDepth(60, 10);  // past any table a flake could fill: unbalanced, no overflow
    EXPECT_TRUE(depthUnbalanced(flake));
}

TEST(Growth, CollisionOnARoomyTipReplacesItInTheTipList) {
    FlakeState flake;
    vesk::test::ScriptedRandom random({0, 0, 1, 0});
    growSeedArms(flake, random);  // 5 draws of the script: current tip is the up arm
    random = vesk::test::ScriptedRandom({0});
    ASSERT_EQ(flake.currentTip, flake.segments[0].get());
    // A grown segment straight above the up arm, where its straight child would end.
    Segment& obstacle = placeSegment(flake, 6, 0.0f, 0.5f, 0.0f, 0.7f);
    obstacle.depth = 1;
    flake.segmentCount = 7;

    growSegment(flake, random, 62, 0);
    // The up arm left the list, the obstacle took the last place, and the retry grew on
    // the tip drawn next (position 1, now the arm at +2.094) and was appended beside it.
    EXPECT_FALSE(isTip(flake, flake.segments[0].get()));
    EXPECT_EQ(flake.tips[6], &obstacle);
    EXPECT_EQ(flake.tipCount, 7);
    EXPECT_EQ(flake.segmentCount, 8);
    EXPECT_EQ(flake.segments[7]->parent, flake.segments[1].get());
    EXPECT_EQ(flake.segments[0]->childStraight, nullptr);  // the rejected candidate is unlinked
    EXPECT_EQ(flake.tips[7], flake.segments[7].get());
}

TEST(Growth, GiveUpBuildsOnTheTenthDrawUntested) {
    FlakeState flake;
    vesk::test::ScriptedRandom random({1});
    growSeedArms(flake, random);
    // Every seed arm already has a straight child (not part of the flake).
    Segment blocker(nullptr, turnStraight, climbLevel, 99, 60, 0);
    for (int i = 0; i < seedArmCount; ++i) flake.segments[i]->childStraight = &blocker;
    const std::size_t drawsBefore = random.drawsTaken();

    growSegment(flake, random, 62, 0);
    EXPECT_EQ(random.drawsTaken() - drawsBefore, 11u);  // ten redraws, then the next tip
    EXPECT_EQ(flake.segmentCount, 7);
    EXPECT_EQ(flake.segments[6]->parent, flake.segments[1].get());
    EXPECT_EQ(flake.segments[1]->childStraight, flake.segments[6].get());
}

TEST(Growth, AStepAlwaysEndsEvenWhenEveryCandidateIsRejected) {
    FlakeState flake;
    vesk::test::ScriptedRandom random({3});
    growSeedArms(flake, random);
    // Tips too deep to grow: every give-up candidate is deeper still and unbalanced.
    for (int i = 0; i < seedArmCount; ++i) flake.segments[i]->depth = 20;

    EXPECT_TRUE(growSegment(flake, random, 62, 0));
    EXPECT_EQ(flake.segmentCount, 7);
    EXPECT_EQ(flake.segments[6]->depth, 21);
    EXPECT_EQ(flake.depthPopulation[21], 1);  // deep segments are counted too
}

TEST(Growth, ALongRunKeepsTheFlakeConsistent) {
    FlakeState flake;
    vesk::test::LcgRandom random(7);
    growSeedArms(flake, random);
    for (int n = 0; n < 700; ++n) {
        ASSERT_TRUE(growSegment(flake, random, 40 + (random.next() % 48), n / 3));
        ASSERT_EQ(flake.segmentCount, 7 + n);
        ASSERT_EQ(flake.currentTip, flake.tips[flake.currentTipIndex]);
    }
    EXPECT_EQ(std::accumulate(flake.depthPopulation.begin(), flake.depthPopulation.end(), 0),
              flake.segmentCount - seedArmCount);
    for (int p = 1; p <= flake.tipCount; ++p) {
        const Segment* tip = flake.tips[p];
        bool live = false;
        for (int i = 0; i < flake.segmentCount; ++i) live |= flake.segments[i].get() == tip;
        ASSERT_TRUE(live) << "tip " << p << " is not a live segment";
    }
    for (int i = seedArmCount; i < flake.segmentCount; ++i) {
        const Segment& s = *flake.segments[i];
        ASSERT_NE(s.parent, nullptr);
        EXPECT_EQ(s.depth, s.parent->depth + 1);
        EXPECT_EQ(s.startX, s.parent->endX);
        EXPECT_GE(s.birthTick, flake.segments[i - 1]->birthTick);
    }
}

TEST(Growth, RemovingASegmentKeepsTipsDepthsAndLinksInStep) {
    FlakeState flake;
    vesk::test::ScriptedRandom random({0});
    growSeedArms(flake, random);
    growOn(flake, random, flake.segments[0].get(), 62);
    growOn(flake, random, flake.segments[6].get(), 62);
    growOn(flake, random, flake.segments[7].get(), 60);
    Segment* middle = flake.segments[7].get();  // depth 2, listed twice in `tips` now
    Segment* child = flake.segments[8].get();
    ASSERT_EQ(child->parent, middle);
    ASSERT_EQ(std::count(flake.tips.begin(), flake.tips.end(), middle), 2);
    // A give-up elsewhere may have displaced a child that still names `middle`.
    Segment& displaced = placeSegment(flake, 9, 0, 0, 0, 1);
    displaced.parent = middle;
    displaced.depth = 3;
    ++flake.depthPopulation[3];
    flake.segmentCount = 10;
    flake.meshSegmentCount = 10;
    flake.currentTip = middle;
    const int depth2 = flake.depthPopulation[2];

    removeSegment(flake, 7);
    EXPECT_EQ(flake.segmentCount, 9);
    EXPECT_EQ(flake.meshSegmentCount, 9);
    EXPECT_EQ(flake.segments[7].get(), child);
    EXPECT_EQ(flake.segments[8].get(), &displaced);
    EXPECT_EQ(flake.segments[9], nullptr);
    EXPECT_EQ(child->parent, nullptr);
    EXPECT_EQ(displaced.parent, nullptr);
    EXPECT_EQ(flake.segments[6]->childStraight, nullptr);
    EXPECT_EQ(flake.depthPopulation[2], depth2 - 1);
    EXPECT_EQ(flake.currentTip, nullptr);
    EXPECT_EQ(std::count(flake.tips.begin(), flake.tips.end(), middle), 0);
    for (int p = 1; p <= flake.tipCount; ++p) EXPECT_NE(flake.tips[p], nullptr);

    // With the current tip gone the next growth draws a live one.
    EXPECT_TRUE(growSegment(flake, random, 62, 2));
    EXPECT_EQ(flake.segmentCount, 10);
}

TEST(Growth, RandomInRange) {
    vesk::test::ScriptedRandom random({5, 0, 11, 0x7FFF});
    EXPECT_EQ(randomInRange(random, 6, 6), 6);
    EXPECT_EQ(random.drawsTaken(), 0u);
    EXPECT_EQ(randomInRange(random, 1, 6), 6);  // 1 + 5 mod 6
    EXPECT_EQ(randomInRange(random, 1, 6), 1);
    EXPECT_EQ(randomInRange(random, 1, 6), 6);  // 1 + 11 mod 6
    EXPECT_EQ(randomInRange(random, 60, 84), 60 + 0x7FFF % 25);
}
