// The program-start values that the first performance relies on.
#include <gtest/gtest.h>

#include <memory>

#include "performance/PerformanceState.h"

TEST(PerformanceState, ProgramStartValues) {
    auto state = std::make_unique<vesk::PerformanceState>();
    EXPECT_EQ(state->replayMode, vesk::ReplayMode::Backward);
    EXPECT_EQ(state->screenWidth, 1024);
    EXPECT_EQ(state->screenHeight, 768);
    EXPECT_EQ(state->screenBits, 32);
    EXPECT_EQ(state->cameraX, 0.0f);
    EXPECT_EQ(state->cameraY, 0.0f);
    EXPECT_EQ(state->cameraZ, -5.0f);
    EXPECT_EQ(state->tickIntervalMs, 200);
    EXPECT_EQ(state->spinSpeed, -0.08f);
    EXPECT_EQ(state->flake.segmentCount, 0);
    EXPECT_EQ(state->flake.currentTip, nullptr);
    EXPECT_EQ(state->sceneReady, 0);
    EXPECT_EQ(state->noteOnCount, 0);
}
