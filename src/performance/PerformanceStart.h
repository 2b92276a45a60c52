// The start of a performance: the pointer off the picture, the display and scene, the
// reset with the six seed arms, the tick timer, and playback (which asks for the file).
#pragma once

#include "performance/Vesk.h"

namespace vesk {

// Returns once the file dialog has been closed for good (a file playing, no file, or the
// quit request posted). Called at start-up and by the restart at the end of a wind-down.
void startPerformance(Vesk& vesk);

// When a performance ends (its restart, or the program's end): one line on standard error
// if live input came faster than it could be taken, with how much of it was dropped.
void tellDroppedInput(Vesk& vesk);

// Puts the state back for a new performance and grows the six seed arms. False after
// the box "Could not create scene!" when the seed arms could not be grown.
bool resetPerformance(Vesk& vesk);

}  // namespace vesk
