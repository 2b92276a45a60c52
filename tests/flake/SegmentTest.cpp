// Segment construction, links and the tip questions.
#include <gtest/gtest.h>

#include <cmath>

#include "flake/Segment.h"

using namespace vesk::flake;

namespace {
constexpr float tolerance = 1e-4f;
}

TEST(Segment, SeedArmGeometry) {
    Segment arm(nullptr, turnSeedPlus120, climbLevel, 1, 72, 0);
    EXPECT_EQ(arm.startX, 0.0f);
    EXPECT_EQ(arm.startY, 0.0f);
    EXPECT_EQ(arm.heading, 2.094f);
    EXPECT_EQ(arm.length, 0.31f);
    EXPECT_EQ(arm.depth, 0);
    EXPECT_EQ(arm.turnBalance, 0);
    EXPECT_NEAR(arm.endX, 0.2685f, tolerance);
    EXPECT_NEAR(arm.endY, -0.1549f, tolerance);
    EXPECT_EQ(arm.endZ, 0.0f);
    EXPECT_EQ(arm.parent, nullptr);

    // The sixth arm turns by 3.141, not pi, so it ends just off the y axis.
    Segment last(nullptr, turnSeed180, climbLevel, 5, 72, 0);
    EXPECT_GT(last.endX, 0.0f);
    EXPECT_LT(last.endX, 0.001f);
    EXPECT_NEAR(last.endY, -0.31f, tolerance);
}

TEST(Segment, ChildrenTurnShortenAndLinkByDirection) {
    struct Case {
        int direction;
        float heading;
        int balance;
        Segment* Segment::*link;
    };
    const Case cases[] = {
        {1, 1.0f, 2, &Segment::childSharpPlus},    {2, 0.5f, 1, &Segment::childGentlePlus},
        {3, 0.0f, 0, &Segment::childStraight},     {4, -0.5f, -1, &Segment::childGentleMinus},
        {5, -1.0f, -2, &Segment::childSharpMinus},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.direction);
        Segment arm(nullptr, turnStraight, climbLevel, 0, 72, 0);
        Segment child(&arm, c.direction, climbLevel, 6, 60, 4);
        EXPECT_EQ(child.heading, c.heading);
        EXPECT_EQ(child.turnBalance, c.balance);
        EXPECT_EQ(child.depth, 1);
        EXPECT_EQ(child.parent, &arm);
        EXPECT_EQ(arm.*c.link, &child);
        EXPECT_EQ(freeSlotCount(&arm), 4);
        EXPECT_EQ(child.birthTick, 4);
        EXPECT_EQ(child.endTick, 5);
        EXPECT_EQ(child.startY, arm.endY);
        // One generation shrinks by 0.9, each unit of turn balance by 0.95 more.
        float expected = float(double(0.31f) * double(0.9f));
        for (int i = 0; i < std::abs(c.balance); ++i) expected = float(double(expected) * double(0.95f));
        EXPECT_EQ(child.length, expected);
    }

    Segment arm(nullptr, turnStraight, climbLevel, 0, 72, 0);
    Segment sharp(&arm, turnSharpPlus, climbLevel, 6, 60, 0);
    EXPECT_NEAR(sharp.length, 0.2518f, tolerance);
    EXPECT_NEAR(sharp.endX, 0.2119f, tolerance);
    EXPECT_NEAR(sharp.endY, 0.4460f, tolerance);
    Segment straight(&arm, turnStraight, climbLevel, 7, 62, 0);
    EXPECT_NEAR(straight.length, 0.279f, 1e-6f);
    EXPECT_EQ(straight.endX, 0.0f);
    EXPECT_NEAR(straight.endY, 0.589f, 1e-6f);

    // Turn balance is inherited, so a chain turning one way shortens quickly.
    Segment grandchild(&sharp, turnSharpPlus, climbLevel, 8, 60, 0);
    EXPECT_EQ(grandchild.turnBalance, 4);
    EXPECT_EQ(grandchild.heading, 2.0f);
}

TEST(Segment, WithoutParentATurnLinksNothingAndWeighsNothing) {
    Segment lone(nullptr, turnSharpPlus, climbLevel, 0, 0x1FF, 0);
    EXPECT_EQ(lone.heading, 1.0f);
    EXPECT_EQ(lone.turnBalance, 0);
    EXPECT_EQ(lone.length, 0.31f);
    EXPECT_EQ(lone.note, 0xFF);  // only the low 8 bits of the note
}

TEST(Segment, ClimbCodes) {
    const std::pair<int, float> cases[] = {{0, 0.0f}, {1, 0.1f},  {2, 0.05f}, {3, 0.0f},
                                           {4, -0.05f}, {5, -0.1f}, {6, 0.0f}};
    for (auto [code, climb] : cases) {
        Segment s(nullptr, turnStraight, code, 0, 72, 0);
        EXPECT_EQ(s.climb, climb) << code;
        EXPECT_EQ(s.endZ, climb) << code;
    }
}

TEST(Segment, FreeSlotsAndBlocking) {
    EXPECT_EQ(freeSlotCount(nullptr), 0);
    Segment arm(nullptr, turnStraight, climbLevel, 0, 72, 0);
    EXPECT_EQ(freeSlotCount(&arm), 5);
    Segment a(&arm, 1, climbLevel, 1, 60, 0), b(&arm, 4, climbLevel, 2, 60, 0);
    EXPECT_EQ(freeSlotCount(&arm), 3);
    EXPECT_TRUE(arm.isBlocked(1));
    EXPECT_TRUE(arm.isBlocked(4));
    EXPECT_FALSE(arm.isBlocked(3));
    EXPECT_FALSE(arm.isBlocked(0));  // not a direction: only the depth counts

    arm.depth = 19;
    EXPECT_FALSE(arm.isBlocked(2));
    arm.depth = 20;
    for (int direction = 0; direction <= 6; ++direction) EXPECT_TRUE(arm.isBlocked(direction));
}

TEST(Segment, DetachUnlinksBothSides) {
    Segment root(nullptr, turnStraight, climbLevel, 0, 72, 0);
    Segment middle(&root, turnGentlePlus, climbLevel, 1, 60, 0);
    Segment sibling(&root, turnSharpMinus, climbLevel, 2, 60, 0);
    Segment c1(&middle, turnStraight, climbLevel, 3, 60, 0);
    Segment c2(&middle, turnSharpPlus, climbLevel, 4, 60, 0);

    middle.detach();
    EXPECT_EQ(c1.parent, nullptr);
    EXPECT_EQ(c2.parent, nullptr);
    EXPECT_EQ(root.childGentlePlus, nullptr);
    EXPECT_EQ(root.childSharpMinus, &sibling);  // other links of the parent stay
    EXPECT_EQ(sibling.parent, &root);
}
