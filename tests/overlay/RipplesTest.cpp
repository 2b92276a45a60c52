// The ripple rings: which circles a stage erases and draws, where their points fall, the
// ripple's end, told once, and that a whole ripple leaves nothing behind.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <vector>

#include "overlay/Ripples.h"

using namespace vesk;
using overlay::RippleStep;
using platform::Surface;

namespace {

constexpr std::uint32_t black = 0xFF000000u;
constexpr std::uint32_t white = 0xFFFFFFFFu;
constexpr std::uint32_t rippleColour = 0xFFFF8888u;  // 0x8888FF as the surface holds it

struct RippleOnScreen {
    std::unique_ptr<PerformanceState> state = std::make_unique<PerformanceState>();
    Surface surface{1024, 768};

    RippleOnScreen() {
        for (int y = 0; y < surface.height(); ++y)
            for (int x = 0; x < surface.width(); ++x) surface.setPixel(x, y, 0xFFFFFF);
    }
    RippleStep step() { return overlay::drawRipples(*state, surface); }

    // Pixels of `colour`, counted by the circle radius they lie on (the point's
    // truncation moves it by less than 1.5 pixels); -1 counts pixels on none of them.
    std::vector<int> countByRadius(std::uint32_t colour, const std::vector<int>& radii) const {
        std::vector<int> counts(radii.size() + 1, 0);
        for (int y = 0; y < surface.height(); ++y)
            for (int x = 0; x < surface.width(); ++x) {
                if (surface.pixel(x, y) != colour) continue;
                const double d = std::hypot(x - 512.0, y - 384.0);
                std::size_t k = 0;
                while (k < radii.size() && std::fabs(d - radii[k]) > 1.5) ++k;
                ++counts[k];
            }
        return counts;
    }
};

}  // namespace

TEST(Ripples, FirstStageErasesItselfAndDrawsTheSecond) {
    RippleOnScreen r;
    r.state->rippleStage = 1;
    EXPECT_EQ(r.step(), RippleStep::Drawn);
    EXPECT_EQ(r.state->rippleStage, 2);
    EXPECT_EQ(r.countByRadius(black, {154, 132, 110}), (std::vector<int>{63, 63, 63, 0}));
    EXPECT_EQ(r.countByRadius(rippleColour, {168, 144, 120}), (std::vector<int>{63, 63, 63, 0}));
    // The first point, radius 168 at -3.14: x = 512 + 168 sin(-3.14) = 511.73 and
    // y = 384 + 168 cos(-3.14) = 216.0002, both truncated: just left of straight up.
    EXPECT_EQ(r.surface.pixel(511, 216), rippleColour);
    EXPECT_EQ(r.surface.pixel(512, 216), white);
}

TEST(Ripples, LastStageErasesDrawsNothingAndTellsTheEnd) {
    RippleOnScreen r;
    r.state->rippleStage = 29;
    EXPECT_EQ(r.step(), RippleStep::Ended);
    EXPECT_EQ(r.state->rippleStage, 30);
    // Circles of 546, 468 and 390 run partly off the 768 rows; what is on screen is erased.
    const auto erased = r.countByRadius(black, {546, 468, 390});
    EXPECT_GT(erased[0], 0);
    EXPECT_GT(erased[1], 0);
    EXPECT_GT(erased[2], 0);
    EXPECT_EQ(erased[3], 0);
    EXPECT_EQ(r.countByRadius(rippleColour, {}), (std::vector<int>{0}));
}

TEST(Ripples, WholeRippleLeavesNoCircleBehind) {
    RippleOnScreen r;
    r.state->rippleStage = 1;
    int calls = 0, ends = 0;
    while (overlay::rippleInProgress(*r.state) && calls < 100) {
        ends += r.step() == RippleStep::Ended;
        ++calls;
    }
    EXPECT_EQ(calls, 29);
    EXPECT_EQ(ends, 1);
    EXPECT_EQ(r.countByRadius(rippleColour, {}), (std::vector<int>{0}));
}

TEST(Ripples, OutsideARippleNothingHappens) {
    for (const int stage : {0, 30, 1000}) {
        RippleOnScreen r;
        r.state->rippleStage = stage;
        EXPECT_EQ(r.step(), RippleStep::Drawn);
        EXPECT_EQ(r.state->rippleStage, stage);
        EXPECT_EQ(r.countByRadius(white, {}), (std::vector<int>{1024 * 768}));
    }
}
