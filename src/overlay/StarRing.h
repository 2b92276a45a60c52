// The star ring: 100 dots of 2 x 2 pixels painted over the 3D picture once per window
// tick, each turning at its own speed around the screen centre while a common radius
// offset makes the figure breathe; the wind-down reads the same offset for its timing.
// Relies on the performance state for the shared motion and on the window's surface.
#pragma once

#include <array>
#include <optional>

#include "state/PerformanceState.h"
#include "platform/Surface.h"

namespace vesk::overlay {

constexpr int starDotCount = 100;
// The overlay erases by painting black over what it drew.
constexpr platform::OverlayColour overlayErased = 0;

// The ring's own state; the offset, its step and the spin live in PerformanceState,
// because the tick driver and the palette switch move them too.
struct StarRing {
    std::array<int, starDotCount> ringRadius{};     // base radius of each dot, pixels
    std::array<float, starDotCount> ringAngle{};    // radians; single precision on purpose
    int ringPrevOffset = 0;                          // the offset the last drawing used
    platform::OverlayColour ringColour = 0;
};

struct OverlayPixel {
    int x = 0, y = 0;
};

// The overlay's geometry, shared with the ripple rings: radius r at angle a lies at
// x = r sin(a) + screenWidth / 2, y = r cos(a) + screenHeight / 2 (integer halves), each
// truncated toward zero; angle 0 points down the screen, a negative radius to the other
// side. Empty when the point is not a number or lies far beyond any window.
std::optional<OverlayPixel> overlayPixel(const PerformanceState& state, double radius, float angle);

// Lays the figure out afresh at a performance start. Keeps ringPrevOffset and
// ringColour, so the first drawing erases at the new angles with the old offset.
void initStarRing(StarRing& ring, PerformanceState& state);

// One tick of the figure: pick the colour, then per dot erase, turn and draw; then move
// the offset and bounce it.
void drawStarRing(StarRing& ring, PerformanceState& state, platform::Surface& surface);

}  // namespace vesk::overlay
