// The star ring's layout, colour and per-tick motion. Angles are stepped, never
// recomputed: every step is worked out in double precision from single-precision
// constants and stored as a single-precision float, and that rounding is part of the
// figure's motion, so the steps below keep exactly that shape.
#include "overlay/StarRing.h"

#include <cmath>
#include <cstdint>
#include <limits>

namespace vesk::overlay {
namespace {

using platform::OverlayColour;

// Layout: base radii 200 + 1.8 i (1.8 as a float, 1.79999995, so every fifth dot lands
// one pixel lower than the exact product), angles 0.05 i - 1, then 3000 passes that wind
// the dots into a spiral of about five and a half turns.
constexpr int innerRadius = 200;
constexpr float radiusPerDot = 1.8f;
constexpr float anglePerDot = 0.05f;
constexpr double firstAngle = 1.0;
constexpr int windingPasses = 3000;
constexpr float windingTurn = 0.07f;
// Each dot turns this much less per drawing than the one before it: the inner dots turn
// about twice as fast as the outer ones.
constexpr float turnLagPerDot = 0.0001f;

// Colours (0x00BBGGRR). Green during the music; in the wind-down the figure fades in
// four steps as the offset passes -240, -260, -280 and -300.
constexpr OverlayColour musicGreen = 0x00A000;
constexpr OverlayColour fade1 = 0x008000;
constexpr OverlayColour fade2 = 0x006000;
constexpr OverlayColour fade3 = 0x004000;
constexpr OverlayColour fade4 = 0x002000;
constexpr int fade1Below = -240;
constexpr int fade2Below = -260;
constexpr int fade3Below = -280;
constexpr int fade4Below = -300;

// The finale's drift: the packed word is added to as one 32-bit number, so carries run
// across the bytes: each add raises red by 2, lowers green by 1, raises blue by 3; each
// subtraction lowers red by 1, raises green by 2, lowers blue by 2.
constexpr std::uint32_t driftUp = 0x02FF02;
constexpr std::uint32_t driftDown = 0x01FE01;
constexpr int driftUpFirstSilentTick = 16;  // the tick after the finale's first step
constexpr int driftUpLastSilentTick = 74;
constexpr int driftDownLastSilentTick = 134;

// Bounce limits: before the finale the drawn offset runs between -51 and 101; in the
// finale, until the wind-down takes over the step, between -101 and 101.
constexpr int outerTurn = 100;
constexpr int innerTurnMusic = -50;
constexpr int innerTurnFinale = -100;

// Positions this far out lie beyond any window; skipping them keeps the integer
// conversion defined and leaves room for the dot's second column and row.
constexpr double farBeyondAnyWindow = 1.0e9;

float windStep(float angle, float turn, int dot) {
    return float((double(angle) - double(turn)) + double(dot) * double(turnLagPerDot));
}

void paintDot(platform::Surface& surface, const PerformanceState& state, std::int64_t radius,
              float angle, OverlayColour colour) {
    const auto p = overlayPixel(state, double(radius), angle);
    if (!p) return;
    // The order of the four pixels is the order the window sees them painted.
    surface.setPixel(p->x, p->y, colour);
    surface.setPixel(p->x + 1, p->y, colour);
    surface.setPixel(p->x + 1, p->y + 1, colour);
    surface.setPixel(p->x, p->y + 1, colour);
}

OverlayColour nextColour(const StarRing& ring, const PerformanceState& state) {
    if (!state.finaleStarted) return musicGreen;
    const int offset = state.ringOffset;
    if (offset < fade4Below) return fade4;
    if (offset < fade3Below) return fade3;
    if (offset < fade2Below) return fade2;
    if (offset < fade1Below) return fade1;
    const int silent = state.silentTicks;
    if (silent >= driftUpFirstSilentTick && silent <= driftUpLastSilentTick)
        return ring.ringColour + driftUp;  // unsigned: wraps like the packed word
    if (silent > driftUpLastSilentTick && silent <= driftDownLastSilentTick)
        return ring.ringColour - driftDown;
    return ring.ringColour;
}

// A step that cannot leave the int range, however the offset and step were set.
int steppedOffset(int offset, int step) {
    const std::int64_t next = std::int64_t(offset) + std::int64_t(step);
    if (next > std::numeric_limits<int>::max()) return std::numeric_limits<int>::max();
    if (next < std::numeric_limits<int>::min()) return std::numeric_limits<int>::min();
    return int(next);
}

// The wound layout is the same at every performance start, so it is stepped once (its
// 300,000 steps) and copied from then on.
struct Layout {
    std::array<int, starDotCount> radius{};
    std::array<float, starDotCount> angle{};
};

const Layout& woundLayout() {
    static const Layout layout = [] {
        Layout l;
        for (int i = 0; i < starDotCount; ++i) {
            l.angle[i] = float(double(i) * double(anglePerDot) - firstAngle);
            l.radius[i] = int(double(innerRadius) + double(i) * double(radiusPerDot));
        }
        for (int pass = 0; pass < windingPasses; ++pass)
            for (int j = 0; j < starDotCount; ++j) l.angle[j] = windStep(l.angle[j], windingTurn, j);
        return l;
    }();
    return layout;
}

}  // namespace

std::optional<OverlayPixel> overlayPixel(const PerformanceState& state, double radius, float angle) {
    const double x = radius * std::sin(double(angle)) + double(state.screenWidth / 2);
    const double y = radius * std::cos(double(angle)) + double(state.screenHeight / 2);
    if (!(std::fabs(x) < farBeyondAnyWindow && std::fabs(y) < farBeyondAnyWindow)) return {};
    return OverlayPixel{int(x), int(y)};  // truncation toward zero, as the window's was
}

void initStarRing(StarRing& ring, PerformanceState& state) {
    const Layout& layout = woundLayout();
    ring.ringRadius = layout.radius;
    ring.ringAngle = layout.angle;
    state.ringSpin = startRingSpin;
    state.ringOffset = 0;
    state.ringStep = startRingStep;
}

void drawStarRing(StarRing& ring, PerformanceState& state, platform::Surface& surface) {
    ring.ringColour = nextColour(ring, state);
    // Erase and draw alternate dot by dot, so a dot erased where an earlier dot was just
    // drawn leaves a hole in that one; the figure's look includes those holes.
    for (int i = 0; i < starDotCount; ++i) {
        paintDot(surface, state, std::int64_t(ring.ringRadius[i]) + ring.ringPrevOffset,
                 ring.ringAngle[i], overlayErased);
        ring.ringAngle[i] = windStep(ring.ringAngle[i], state.ringSpin, i);
        paintDot(surface, state, std::int64_t(ring.ringRadius[i]) + state.ringOffset,
                 ring.ringAngle[i], ring.ringColour);
    }
    ring.ringPrevOffset = state.ringOffset;
    state.ringOffset = steppedOffset(state.ringOffset, state.ringStep);

    // In the wind-down the tick driver owns the step (always negative), so the finale's
    // inner turn applies only while windDownTicks is 0.
    if (state.ringOffset > outerTurn)
        state.ringStep = -1;
    else if ((state.ringOffset < innerTurnMusic && !state.finaleStarted) ||
             (state.finaleStarted && state.windDownTicks == 0 && state.ringOffset < innerTurnFinale))
        state.ringStep = 1;
}

}  // namespace vesk::overlay
