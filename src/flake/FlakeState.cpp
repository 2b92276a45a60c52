// Bookkeeping of the flake's segments and tips outside the growth step.
#include "flake/FlakeState.h"

#include <algorithm>
#include <cassert>

namespace vesk::flake {

void clearFlake(FlakeState& flake) {
    for (auto& s : flake.segments) s.reset();
    flake.segmentCount = 0;
    flake.meshSegmentCount = 0;
    flake.tips.fill(nullptr);
    flake.tipCount = 0;
    flake.currentTip = nullptr;
    flake.depthPopulation.fill(0);
}

void removeSegment(FlakeState& flake, int i) {
    assert(i >= seedArmCount && i < flake.segmentCount && "only grown segments are removed");
    if (i < seedArmCount || i >= flake.segmentCount) return;
    Segment* segment = flake.segments[i].get();

    // A collision can put a segment in `tips` a second time; every entry goes.
    auto first = flake.tips.begin() + 1, last = flake.tips.begin() + flake.tipCount + 1;
    auto kept = std::remove(first, last, segment);
    std::fill(kept, last, nullptr);
    flake.tipCount = int(kept - first);
    if (flake.currentTip == segment) flake.currentTip = nullptr;

    if (segment->depth >= 0 && segment->depth < segmentCapacity)
        --flake.depthPopulation[segment->depth];

    segment->detach();
    // A child displaced from its link by a give-up still names this segment as parent,
    // though no link leads to it; it must not keep a pointer to freed memory.
    for (int j = 0; j < flake.segmentCount; ++j)
        if (flake.segments[j] && flake.segments[j]->parent == segment)
            flake.segments[j]->parent = nullptr;

    std::move(flake.segments.begin() + i + 1, flake.segments.begin() + flake.segmentCount,
              flake.segments.begin() + i);
    flake.segments[flake.segmentCount - 1].reset();
    --flake.segmentCount;
    --flake.meshSegmentCount;
}

}  // namespace vesk::flake
