// Ripple stages: three circles of 63 points, radii 14, 12 and 10 times (stage + 10), each
// circle sampled every 0.1 radians and shifted 0.05 radians against the one before. The
// angles are single-precision floats worked out in double, as the star ring's are.
#include "overlay/Ripples.h"

#include "overlay/StarRing.h"

namespace vesk::overlay {
namespace {

using platform::OverlayColour;

constexpr int pointsPerCircle = 63;  // just under a full turn at 0.1 radians apart
constexpr float angleStep = 0.1f;
constexpr float firstPointAngle = 3.14f;  // from -3.14: the first point is almost straight up
constexpr float circleShift = 0.05f;

// Radius factors of the three circles; stage s has radii factor x (s + 10).
constexpr int circleRadiusFactor[3] = {14, 12, 10};
constexpr int stageRadiusBase = 10;

constexpr OverlayColour rippleColour = 0x8888FF;  // red 0xFF, green and blue 0x88

void paintStage(const PerformanceState& state, platform::Surface& surface, int stage,
                OverlayColour colour) {
    const int base = stage + stageRadiusBase;
    for (int i = 0; i < pointsPerCircle; ++i) {
        // Each angle is stored as a float before the next is derived from it.
        float angles[3];
        angles[0] = float(double(i) * double(angleStep) - double(firstPointAngle));
        angles[1] = float(double(angles[0]) + double(circleShift));
        angles[2] = float(double(angles[1]) + double(circleShift));
        for (int c = 0; c < 3; ++c)
            if (const auto p = overlayPixel(state, double(circleRadiusFactor[c] * base), angles[c]))
                surface.setPixel(p->x, p->y, colour);
    }
}

}  // namespace

RippleStep drawRipples(PerformanceState& state, platform::Surface& surface) {
    const int stage = state.rippleStage;
    if (stage < 1 || stage > lastRippleStage) return RippleStep::Drawn;
    paintStage(state, surface, stage, overlayErased);
    state.rippleStage = stage + 1;
    if (state.rippleStage == rippleFinished) return RippleStep::Ended;
    paintStage(state, surface, state.rippleStage, rippleColour);
    return RippleStep::Drawn;
}

}  // namespace vesk::overlay
