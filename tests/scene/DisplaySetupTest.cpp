// Display and scene set-up on the headless backend: the mode search, the six messages
// and the silent failures, what exists afterwards, the repaint and the release.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "flake/Meshing.h"
#include "overlay/StarRing.h"
#include "platform/headless/HeadlessPlatform.h"
#include "scene/Colouring.h"
#include "scene/DisplaySetup.h"
#include "support/GrownFlake.h"

namespace vesk::scene {
namespace {

using platform::headless::DisplayMode;
using platform::headless::HeadlessPlatform;
using platform::headless::Record;
using platform::headless::SetupFailure;

std::vector<DisplayMode> attempts(const HeadlessPlatform& p) {
    std::vector<DisplayMode> out;
    for (const Record& r : p.records(Record::Kind::DisplayMode)) out.push_back({r.width, r.height, r.bits});
    return out;
}

TEST(DisplaySetup, ModeSearchTakesTheFirstAcceptedInItsOrderAndKeepsTheWindowSize) {
    HeadlessPlatform p;
    p.acceptModes({{800, 600, 16}, {640, 480, 32}});
    PerformanceState state;
    SceneObjects objects;
    ASSERT_TRUE(initDisplay(objects, state, p));
    const std::vector<DisplayMode> expected = {{1024, 768, 32}, {1024, 768, 24}, {1024, 768, 16},
                                               {1024, 768, 8},  {800, 600, 32},  {800, 600, 24},
                                               {800, 600, 16}};
    EXPECT_EQ(attempts(p), expected);
    EXPECT_EQ(state.screenWidth, 800);
    EXPECT_EQ(state.screenHeight, 600);
    EXPECT_EQ(state.screenBits, 16);
    // The device and viewport take the window's client size, not the mode's.
    EXPECT_EQ(objects.device->width(), 1024);
    EXPECT_EQ(objects.device->height(), 768);
    EXPECT_TRUE(objects.complete());
    EXPECT_EQ(objects.scene->child(0), objects.camera);
    EXPECT_EQ(objects.scene->child(1), objects.flakeFrame);
    ASSERT_EQ(objects.flakeFrame->visuals().size(), 1u);
    EXPECT_EQ(objects.flakeFrame->visuals()[0], objects.flakeMesh);
    EXPECT_EQ(objects.scene->lights().size(), 2u);
    EXPECT_EQ(objects.viewport->back(), 5000.0f);
    EXPECT_EQ(objects.device->quality(), 11u);
    EXPECT_TRUE(state.sceneReady);
    EXPECT_TRUE(p.records(Record::Kind::MessageBox).empty());
}

TEST(DisplaySetup, NoAcceptedModeFailsSilentlyAndKeepsTheScreenValues) {
    HeadlessPlatform p;
    p.acceptModes({{1280, 1024, 32}});
    PerformanceState state;
    state.screenWidth = 123;
    SceneObjects objects;
    EXPECT_FALSE(initDisplay(objects, state, p));
    EXPECT_EQ(attempts(p).size(), 12u);
    EXPECT_EQ(state.screenWidth, 123);
    EXPECT_EQ(state.screenHeight, 768);
    EXPECT_EQ(state.screenBits, 32);
    EXPECT_TRUE(p.records(Record::Kind::MessageBox).empty());
    EXPECT_FALSE(state.sceneReady);
    EXPECT_FALSE(objects.device);
}

TEST(DisplaySetup, EachFailingStepTellsWhatTheUserSeesAndLeavesOnlyWhatExists) {
    const struct {
        SetupFailure step;
        std::optional<std::string> box;
        bool ownedByWindow;
        bool sceneReady;  // set once the viewport exists, and kept
    } cases[] = {
        {SetupFailure::Connect, "Could not create DirectDraw!", false, false},
        {SetupFailure::ShareWithWindow, "Could not set cooplevel!", false, false},
        {SetupFailure::CreateWindowTarget, "Could not create clipper!", true, false},
        {SetupFailure::AttachWindowTarget, "Could not associate clipper with window!", true, false},
        {SetupFailure::CreateEngine, std::nullopt, false, false},
        {SetupFailure::EmptyClientArea, std::nullopt, false, false},
        {SetupFailure::CreateDevice, std::nullopt, false, false},
        {SetupFailure::CreateSceneFrame, "Could not create scene!", true, false},
        {SetupFailure::CreateCameraFrame, "Could not create camera frame!", true, false},
        {SetupFailure::CreateViewport, std::nullopt, false, false},
        {SetupFailure::AddLight, std::nullopt, false, true},
        {SetupFailure::CreateMeshBuilder, std::nullopt, false, true},
        {SetupFailure::CreateFlakeFrame, std::nullopt, false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(int(c.step));
        HeadlessPlatform p;
        p.failSetup(c.step);
        PerformanceState state;
        SceneObjects objects;
        EXPECT_FALSE(initDisplay(objects, state, p));
        const auto boxes = p.records(Record::Kind::MessageBox);
        if (c.box) {
            ASSERT_EQ(boxes.size(), 1u);
            EXPECT_EQ(boxes[0].text, *c.box);
            EXPECT_EQ(boxes[0].owner == platform::BoxOwner::Window, c.ownedByWindow);
        } else {
            EXPECT_TRUE(boxes.empty());
        }
        EXPECT_EQ(bool(state.sceneReady), c.sceneReady);
        EXPECT_FALSE(objects.complete());

        // Whatever exists can be painted and released; nothing absent is touched.
        repaint(objects, state, p);
        releaseScene(objects, state, p.display());
        EXPECT_FALSE(state.sceneReady);
        EXPECT_FALSE(p.windowTargetAttached());
        EXPECT_FALSE(objects.viewport || objects.device || objects.scene || objects.camera ||
                     objects.flakeFrame);
    }
}

TEST(DisplaySetup, PaintRendersOnlyWhenTheSceneIsReadyAndReleaseIsRepeatable) {
    HeadlessPlatform p;
    PerformanceState state;
    SceneObjects objects;
    ASSERT_TRUE(initDisplay(objects, state, p));
    objects.scene->setSceneBackground(0xFF102030);

    state.sceneReady = 0;  // a tick is in progress further out
    EXPECT_FALSE(repaint(objects, state, p));
    EXPECT_EQ(p.surface().pixel(5, 5), 0xFF000000u);
    EXPECT_FALSE(state.sceneReady);

    state.sceneReady = 1;
    EXPECT_TRUE(repaint(objects, state, p));
    EXPECT_EQ(p.surface().pixel(5, 5), 0xFF102030u);
    EXPECT_TRUE(state.sceneReady);

    releaseScene(objects, state, p.display());
    releaseScene(objects, state, p.display());
    EXPECT_FALSE(state.sceneReady);
    EXPECT_FALSE(repaint(objects, state, p));
    EXPECT_TRUE(objects.flakeMesh);  // the mesh outlives the scene until the next set-up

    // A new performance builds a whole new scene and searches the modes again.
    ASSERT_TRUE(initDisplay(objects, state, p));
    EXPECT_EQ(attempts(p).size(), 2u);
    EXPECT_TRUE(repaint(objects, state, p));
    EXPECT_EQ(p.surface().pixel(5, 5), 0xFF000000u);
}

TEST(DisplaySetup, RingDotsBesideTheFlakeSurviveRepaintsAndGoOnlyByTheirOwnErase) {
    HeadlessPlatform p;
    PerformanceState state;
    SceneObjects objects;
    ASSERT_TRUE(initDisplay(objects, state, p));
    flake::CLibraryRandom random;
    ASSERT_TRUE(test::growSeedArms(state, *objects.flakeMesh, random));
    initColours(state, *objects.flakeMesh);
    ASSERT_TRUE(repaint(objects, state, p));

    overlay::StarRing ring;
    overlay::initStarRing(ring, state);
    overlay::drawStarRing(ring, state, p.surface());
    constexpr std::uint32_t ringGreen = 0xFF00A000u;
    std::vector<int> dots;
    for (int i = 0; i < int(p.surface().pixels().size()); ++i)
        if (p.surface().pixels()[i] == ringGreen) dots.push_back(i);
    ASSERT_GT(dots.size(), 300u);

    auto updated = [&](int i) {
        for (const retained::Rect& r : objects.device->lastUpdateRects())
            if (i % 1024 >= r.left && i % 1024 < r.right && i / 1024 >= r.top && i / 1024 < r.bottom)
                return true;
        return false;
    };
    std::size_t beside = 0;
    for (int turn = 0; turn < 3; ++turn) {
        objects.flakeFrame->addRotation(retained::Combine::After, {0, 0, 1}, 0.3f);
        ASSERT_TRUE(repaint(objects, state, p));
        beside = 0;
        for (int i : dots) {
            if (updated(i)) continue;
            ++beside;
            EXPECT_EQ(p.surface().pixels()[i], ringGreen) << i % 1024 << "," << i / 1024;
        }
    }
    EXPECT_GT(beside, 200u);

    // The ring's next drawing erases its old dots (where no new dot lands on them).
    overlay::drawStarRing(ring, state, p.surface());
    int erased = 0;
    for (int i : dots) erased += p.surface().pixels()[i] == 0xFF000000u;
    EXPECT_GT(erased, 300);
}

}  // namespace
}  // namespace vesk::scene
