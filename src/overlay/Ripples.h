// The ripple rings: three concentric circles of single pixels that spread from the screen
// centre, one stage per window tick, as the count-down to the finale. Their end is told to
// the caller, which releases the finale's long opening note for the replay.
#pragma once

#include "platform/Surface.h"
#include "state/PerformanceState.h"

namespace vesk::overlay {

// Stages 1..29 are drawn, 30 means the ripple has finished.
constexpr int lastRippleStage = 29;
constexpr int rippleFinished = 30;

// Whether a ripple is in progress: the window draws a stage on each of its ticks then.
inline bool rippleInProgress(const PerformanceState& state) {
    return state.rippleStage > 0 && state.rippleStage < rippleFinished;
}

enum class RippleStep { Drawn, Ended };

// One stage: erase the circles of stage `rippleStage`, advance, and draw the next stage,
// or, on reaching the end, draw nothing and say so (Ended). Any stage outside 1 to 29 is
// left as it is and nothing is painted (Drawn).
RippleStep drawRipples(PerformanceState& state, platform::Surface& surface);

}  // namespace vesk::overlay
