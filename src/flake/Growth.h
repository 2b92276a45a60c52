// The growth step: one note-on becomes one new segment of the flake. The note's pitch
// class picks a branch direction; a tip is chosen, a candidate built on it, tested for
// collision and depth balance, and kept or freed and tried again.
#pragma once

#include "flake/FlakeState.h"
#include "flake/Random.h"

namespace vesk::flake {

// Rejected candidates after which the step stops testing and keeps the next candidate as
// it is, so that a step always ends. Ten full rounds of tip draws (30 tries times 10
// draws each) is far more than a flake below 500 segments ever needs in practice.
constexpr int maxRejectedCandidates = 3000;
// The collision test runs only while the flake has fewer segments than this.
constexpr int collisionTestLimit = 500;
// The depth-balance rule applies only while the flake has at most this many segments.
constexpr int balanceRuleLimit = 300;

// The branch direction (1 to 5) of a note's pitch class.
int directionForNote(int note);

// Adds one segment for `note`, stamped with `scoreTick`: a seed arm while fewer than six
// segments exist, else a branch. Returns false only when the flake is at capacity and
// nothing was added. Without a current tip on a grown flake (the finale removed it), a
// tip is drawn first; without any tip at all, the seed arms become tips again.
bool growSegment(FlakeState& flake, RandomSource& random, int note, int scoreTick);

// Whether the candidate in segments[segmentCount] ends on an earlier segment.
bool collidesWithFlake(const FlakeState& flake);
// Whether the candidate in segments[segmentCount] would make its depth too crowded
// compared with the depth two levels above it.
bool depthUnbalanced(const FlakeState& flake);

}  // namespace vesk::flake
