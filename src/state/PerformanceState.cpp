// The shared performance state. Its values live in the header's initialisers; this unit
// checks at compile time what other subsystems assume about it.
#include "state/PerformanceState.h"

namespace vesk {

static_assert(accentListCapacity >= flake::segmentCapacity,
              "every live segment must fit in the accent list at least once");
static_assert(static_cast<int>(ReplayMode::ForwardMirrored) == 1 &&
                  static_cast<int>(ReplayMode::Backward) == 2,
              "replay modes keep their numbers: the restart toggles between 1 and 2");

}  // namespace vesk
