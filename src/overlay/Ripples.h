// The ripple rings: three concentric circles of single pixels that spread from the screen
// centre, one stage per window tick, as the count-down to the finale. Their end releases
// the finale's long opening note and returns the voice to program 0 for the replay.
#pragma once

#include "performance/PerformanceState.h"
#include "platform/MidiOutput.h"
#include "platform/Surface.h"

namespace vesk::overlay {

// Stages 1..29 are drawn, 30 means the ripple has finished.
constexpr int lastRippleStage = 29;
constexpr int rippleFinished = 30;

// One stage: erase the circles of stage `rippleStage`, advance, and draw the next stage,
// or, on reaching the end, release note 30 and select program 0 on `output` (null: no
// device) without drawing. The window calls it only for stages 1 to 29; any other stage
// is left as it is and nothing is painted or sent.
void drawRipples(PerformanceState& state, platform::Surface& surface, platform::MidiOutput* output);

}  // namespace vesk::overlay
