// The star ring: its layout after the winding passes, the breathing offset and its turns,
// the colours in the music, the finale and the wind-down, and the dots' pixels.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <memory>

#include "overlay/StarRing.h"

using namespace vesk;
using overlay::StarRing;
using platform::Surface;

namespace {

constexpr std::uint32_t black = 0xFF000000u;
constexpr std::uint32_t white = 0xFFFFFFFFu;
constexpr std::uint32_t green = 0xFF00A000u;  // the music's 0x00A000 as the surface holds it

// A GDI colour word 0x00BBGGRR as the surface reports it, 0xFFRRGGBB.
std::uint32_t onSurface(std::uint32_t gdi) {
    return 0xFF000000u | (gdi & 0xFFu) << 16 | (gdi & 0xFF00u) | (gdi >> 16 & 0xFFu);
}

struct RingOnScreen {
    std::unique_ptr<PerformanceState> state = std::make_unique<PerformanceState>();
    StarRing ring;
    Surface surface;

    explicit RingOnScreen(int width = 640, int height = 480) : surface(width, height) {
        state->screenWidth = width;
        state->screenHeight = height;
        overlay::initStarRing(ring, *state);
    }
    // Every dot far outside the window and not turning, so a test places only the dots
    // it looks at.
    void parkDots() {
        ring.ringRadius.fill(100000);
        ring.ringAngle.fill(0.0f);
        state->ringSpin = 0.0f;
    }
    void paintWhite() {
        for (int y = 0; y < surface.height(); ++y)
            for (int x = 0; x < surface.width(); ++x) surface.setPixel(x, y, 0xFFFFFF);
    }
    void draw(int times = 1) {
        for (int i = 0; i < times; ++i) overlay::drawStarRing(ring, *state, surface);
    }
    int count(std::uint32_t colour) const {
        int n = 0;
        for (std::uint32_t p : surface.pixels()) n += p == colour;
        return n;
    }
    // The colour of dot 0 drawn straight down, 100 pixels below the centre.
    std::uint32_t dotColourAfterDrawing() {
        parkDots();
        ring.ringRadius[0] = 100 - state->ringOffset;
        draw();
        return surface.pixel(320, 340);
    }
};

}  // namespace

TEST(StarRing, LayoutAfterTheWindingPasses) {
    RingOnScreen r;
    r.ring.ringPrevOffset = -37;
    r.ring.ringColour = 0x123456;
    r.state->ringOffset = 80;
    r.state->ringStep = -2;
    r.state->ringSpin = 0.07f;
    overlay::initStarRing(r.ring, *r.state);

    const int radii[] = {200, 201, 203, 205, 207, 208};  // 1.8 as a float puts every fifth one lower
    for (int i = 0; i < 6; ++i) EXPECT_EQ(r.ring.ringRadius[i], radii[i]) << i;
    EXPECT_EQ(r.ring.ringRadius[10], 217);
    EXPECT_EQ(r.ring.ringRadius[99], 378);

    // Stepped in double and stored in single precision 3000 times: exact double stepping
    // would end at -211.0, -210.65, -193.5, -176.35, and pure single precision drifts
    // the last bits elsewhere (dot 1 at -210.651382, dot 99 at -176.350433).
    const struct {
        int dot;
        float angle;
    } angles[] = {{0, -211.008179f}, {1, -210.651367f}, {50, -193.504272f}, {99, -176.350449f}};
    for (const auto& a : angles) EXPECT_EQ(r.ring.ringAngle[a.dot], a.angle) << a.dot;

    EXPECT_EQ(r.state->ringOffset, 0);
    EXPECT_EQ(r.state->ringStep, 1);
    EXPECT_EQ(r.state->ringSpin, 0.02f);
    EXPECT_EQ(r.ring.ringPrevOffset, -37);  // the next drawing erases the last performance's dots
    EXPECT_EQ(r.ring.ringColour, 0x123456u);
}

TEST(StarRing, OffsetTurnsInTheMusicTheFinaleAndTheWindDown) {
    struct Case {
        bool finale;
        int windDown, offset, step, offsetAfter, stepAfter;
    };
    const Case cases[] = {
        {false, 0, 99, 1, 100, 1},
        {false, 0, 100, 1, 101, -1},
        {false, 0, -49, -1, -50, -1},
        {false, 0, -50, -1, -51, 1},
        {false, 0, -51, 1, -50, 1},
        {true, 0, -50, -1, -51, -1},  // the finale breathes deeper
        {true, 0, -100, -1, -101, 1},
        {true, 3, -100, -1, -101, -1},  // the wind-down keeps shrinking through the centre
        {true, 3, -319, -2, -321, -2},
        {true, 0, 100, 1, 101, -1},
    };
    for (const Case& c : cases) {
        RingOnScreen r;
        r.state->finaleStarted = c.finale;
        r.state->windDownTicks = c.windDown;
        r.state->ringOffset = c.offset;
        r.state->ringStep = c.step;
        r.draw();
        EXPECT_EQ(r.state->ringOffset, c.offsetAfter) << c.offset << " wind-down " << c.windDown;
        EXPECT_EQ(r.state->ringStep, c.stepAfter) << c.offset << " wind-down " << c.windDown;
        EXPECT_EQ(r.ring.ringPrevOffset, c.offset);  // where the next drawing erases
    }
}

TEST(StarRing, ColourInTheMusicTheFinaleAndTheFade) {
    struct Case {
        bool finale;
        int offset, silentTicks;
        std::uint32_t before, after;  // 0x00BBGGRR
    };
    const Case cases[] = {
        {false, 0, 16, 0x123456, 0x00A000},
        {true, -250, 16, 0x00A000, 0x008000},
        {true, -241, 0, 0x00A000, 0x008000},
        {true, -240, 0, 0x00A000, 0x00A000},
        {true, -261, 0, 0x00A000, 0x006000},
        {true, -281, 0, 0x00A000, 0x004000},
        {true, -300, 0, 0x00A000, 0x004000},
        {true, -301, 0, 0x00A000, 0x002000},
        {true, 0, 16, 0x00A000, 0x039F02},  // the add carries across the bytes
        {true, 0, 74, 0x00A000, 0x039F02},
        {true, 0, 15, 0x00A000, 0x00A000},
        {true, 0, 75, 0xB16576, 0xAF6775},
        {true, 0, 134, 0xB16576, 0xAF6775},
        {true, 0, 135, 0xB16576, 0xB16576},
    };
    for (const Case& c : cases) {
        RingOnScreen r;
        r.state->finaleStarted = c.finale;
        r.state->ringOffset = c.offset;
        r.state->silentTicks = c.silentTicks;
        r.ring.ringColour = c.before;
        EXPECT_EQ(r.dotColourAfterDrawing(), onSurface(c.after)) << c.offset << " " << c.silentTicks;
        EXPECT_EQ(r.ring.ringColour, c.after);
    }
}

TEST(StarRing, DotIsTwoByTwoPixelsBelowTheCentre) {
    RingOnScreen r;
    r.parkDots();
    r.ring.ringRadius[0] = 200;
    r.draw();
    for (auto [x, y] : {std::pair{320, 440}, {321, 440}, {321, 441}, {320, 441}})
        EXPECT_EQ(r.surface.pixel(x, y), green) << x << "," << y;
    EXPECT_EQ(r.count(green), 4);
}

TEST(StarRing, ErasesTheOldPlaceAndDrawsTheNew) {
    RingOnScreen r;
    r.parkDots();
    r.paintWhite();
    r.ring.ringRadius[0] = 200;
    r.ring.ringPrevOffset = -100;
    r.state->ringSpin = -0.5f;  // turns dot 0 from angle 0 to 0.5
    r.draw();
    EXPECT_EQ(r.surface.pixel(320, 340), black);  // old offset, old angle: radius 100 at 0
    EXPECT_EQ(r.surface.pixel(415, 415), green);  // new offset, new angle: radius 200 at 0.5
    EXPECT_EQ(r.surface.pixel(320, 440), white);  // not erased with the new offset
    EXPECT_EQ(r.surface.pixel(367, 327), white);  // nor at the new angle
    EXPECT_EQ(r.count(black), 4);
}

TEST(StarRing, EachDotErasesThenDrawsBeforeTheNext) {
    RingOnScreen r;
    r.parkDots();
    r.paintWhite();
    // All at angle 0.5; the drawing moves every dot out by 50 pixels.
    r.ring.ringAngle[0] = r.ring.ringAngle[1] = r.ring.ringAngle[2] = 0.5f;
    r.ring.ringRadius[0] = 100;
    r.ring.ringRadius[1] = 50;   // drawn where dot 0 was erased
    r.ring.ringRadius[2] = 150;  // erased where dot 0 was drawn
    r.ring.ringPrevOffset = 0;
    r.state->ringOffset = 50;
    r.draw();
    EXPECT_EQ(r.surface.pixel(343, 283), black);  // radius 50: dot 1 erased
    EXPECT_EQ(r.surface.pixel(367, 327), green);  // radius 100: dot 0 erased, dot 1 drawn
    EXPECT_EQ(r.surface.pixel(391, 371), black);  // radius 150: dot 0 drawn, dot 2 erased
    EXPECT_EQ(r.surface.pixel(415, 415), green);  // radius 200: dot 2 drawn
}

TEST(StarRing, DotsOutsideTheWindowAreSkipped) {
    // Half a dot at the left edge: x = 55 sin(-1.2) + 50 = -1.26, truncated toward zero
    // to -1, so its right column lands in the window.
    RingOnScreen edge(100, 100);
    edge.parkDots();
    edge.ring.ringAngle[0] = -1.2f;
    edge.ring.ringRadius[0] = 55;
    edge.draw();
    EXPECT_EQ(edge.surface.pixel(0, 69), green);
    EXPECT_EQ(edge.surface.pixel(0, 70), green);
    EXPECT_EQ(edge.count(green), 2);

    // The whole figure lies beyond a small window.
    RingOnScreen small(100, 100);
    small.draw(300);
    EXPECT_EQ(small.count(black), 100 * 100);

    // Absurd state paints nothing and stays defined.
    RingOnScreen odd(100, 100);
    odd.state->ringOffset = INT_MAX;
    odd.state->ringStep = INT_MAX;
    odd.state->ringSpin = NAN;
    odd.state->screenWidth = -7;
    odd.draw(3);
    EXPECT_EQ(odd.count(black), 100 * 100);
    EXPECT_EQ(odd.state->ringOffset, INT_MAX - 2);  // held at the top, then turned back
}
