// The tick: what one message of window timer 1 does to a performance. It takes the notes
// captured since the last tick, lets the chord analysis and the camera react, decides the
// phase (notes, waiting, silence with its ripple and finale, the finale's steps, the
// wind-down and the restart), grows a segment per note, colours, releases, spins, and
// asks for a repaint.
#pragma once

#include "performance/Vesk.h"

namespace vesk {

// Silence thresholds, in silent ticks.
constexpr int rippleStartSilentTicks = 9;
constexpr int finaleStartSilentTicks = 14;
constexpr int firstFinaleStepSilentTicks = 15;

// False when the scene was not ready (a tick or repaint is in progress further out, or
// the scene is gone) or after an error box; true after a complete tick.
bool onTick(Vesk& vesk);

// The performance waits for its first note and holds none on its way: nothing captured
// since the last tick, no segment beyond the seed arms, no finale. Only a note can move
// it on from here.
bool waitingForFirstNote(const Vesk& vesk);

}  // namespace vesk
