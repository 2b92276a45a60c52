// The flake as the performance holds it: the live segments in order of growth (the six
// seed arms first), the growth tips, the current tip and the count of segments per depth.
// Segments are owned by their slot in `segments`; every other reference is non-owning.
#pragma once

#include <array>
#include <memory>

#include "flake/Segment.h"

namespace vesk::flake {

constexpr int segmentCapacity = 2100;
constexpr int seedArmCount = 6;
// The note each seed arm is grown for at the start of a performance.
constexpr int seedArmNote = 72;
// Slots in `tips` are used from position 1 on, so it holds one tip fewer than its size.
constexpr int tipCapacity = segmentCapacity - 1;

struct FlakeState {
    std::array<std::unique_ptr<Segment>, segmentCapacity> segments;
    int segmentCount = 0;
    // Segments whose two faces are in the mesh; segment i owns faces 2i and 2i + 1.
    int meshSegmentCount = 0;
    std::array<Segment*, segmentCapacity> tips{};  // positions 1 to tipCount
    int tipCount = 0;
    int currentTipIndex = 0;
    Segment* currentTip = nullptr;
    // Accepted non-seed segments per depth. Sized for every depth a segment can have
    // (a give-up can grow past the usual limit of 20), so no depth goes uncounted.
    std::array<int, segmentCapacity> depthPopulation{};

    Segment* segmentAt(int i) const {
        return i >= 0 && i < segmentCapacity ? segments[i].get() : nullptr;
    }
};

// Frees every segment and empties the flake: what a new performance starts from.
void clearFlake(FlakeState& flake);

// Takes segment i (a grown one, i >= seedArmCount) out of the flake: out of `tips` (every
// entry of it: a collision can list a segment twice), out
// of the depth count, unlinked from its parent and children (also from a child that a
// give-up displaced, which still names it as parent), freed, and the later segments moved
// down one slot. `currentTip` is cleared when it was this segment, so the next growth
// draws a live tip. The caller keeps the mesh and any lists of its own in step.
void removeSegment(FlakeState& flake, int i);

}  // namespace vesk::flake
