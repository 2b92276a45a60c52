// One segment of the flake: construction from the parent, links, and the questions the
// growth step asks of a tip.
#include "flake/Segment.h"

#include <cmath>
#include <initializer_list>
#include <iterator>

namespace vesk::flake {
namespace {

struct Turn {
    float headingChange;
    int turnWeight;
};

// Indexed by turn code. The seed angles are exactly 2.094, 1.047 and 3.141 (not pi), so
// the sixth seed arm ends a little off the y axis.
constexpr Turn turns[] = {
    {0.0f, 0},                                                 // unused
    {1.0f, 2},     {0.5f, 1},     {0.0f, 0}, {-0.5f, -1}, {-1.0f, -2},
    {2.094f, 0},   {-2.094f, 0},  {-1.047f, 0}, {1.047f, 0}, {3.141f, 0},
};

constexpr float climbChanges[] = {0.0f, 0.1f, 0.05f, 0.0f, -0.05f, -0.1f};

constexpr float seedLength = 0.31f;
constexpr float generationShrink = 0.9f;
constexpr float turnShrink = 0.95f;  // per unit of |turnBalance|

bool isBranchDirection(int direction) {
    return direction >= turnSharpPlus && direction <= turnSharpMinus;
}
bool isKnownTurn(int turnCode) { return turnCode >= turnSharpPlus && turnCode <= turnSeed180; }
bool isKnownClimb(int climbCode) {
    return climbCode >= 1 && climbCode < int(std::size(climbChanges));
}

}  // namespace

Segment::Segment(Segment* parentSegment, int turnCode, int climbCode, int indexInSegments,
                 int noteNumber, int scoreTick)
    : depth(0),
      index(indexInSegments),
      birthTick(scoreTick),
      endTick(scoreTick + 1),
      note(std::uint8_t(noteNumber & noteByteMask)) {
    continueFrom(parentSegment);

    const Turn turn = isKnownTurn(turnCode) ? turns[turnCode] : Turn{};
    heading = float(double(heading) + double(turn.headingChange));
    if (parentSegment && isBranchDirection(turnCode)) {
        *parentSegment->linkForDirection(turnCode) = this;
        turnBalance += turn.turnWeight;
    }
    climb = float(double(climb) + double(isKnownClimb(climbCode) ? climbChanges[climbCode] : 0.0f));

    // Each shortening is stored in single precision before the next one.
    for (int i = std::abs(turnBalance); i > 0; --i)
        length = float(double(length) * double(turnShrink));

    parent = parentSegment;
    endX = float(double(startX) + std::sin(double(heading)) * double(length));
    endY = float(double(startY) + std::cos(double(heading)) * double(length));
    endZ = float(double(startZ) + double(climb));
}

void Segment::continueFrom(const Segment* parentSegment) {
    if (!parentSegment) {
        startX = startY = startZ = 0.0f;
        heading = climb = 0.0f;
        length = seedLength;
        turnBalance = 0;
        return;
    }
    startX = parentSegment->endX;
    startY = parentSegment->endY;
    startZ = parentSegment->endZ;
    heading = parentSegment->heading;
    climb = parentSegment->climb;
    depth = parentSegment->depth + 1;
    length = float(double(parentSegment->length) * double(generationShrink));
    turnBalance = parentSegment->turnBalance;
}

Segment** Segment::linkForDirection(int direction) {
    switch (direction) {
        case turnSharpPlus: return &childSharpPlus;
        case turnGentlePlus: return &childGentlePlus;
        case turnStraight: return &childStraight;
        case turnGentleMinus: return &childGentleMinus;
        case turnSharpMinus: return &childSharpMinus;
        default: return nullptr;
    }
}

Segment* Segment::childInDirection(int direction) const {
    Segment** link = const_cast<Segment*>(this)->linkForDirection(direction);
    return link ? *link : nullptr;
}

void Segment::detach() {
    for (Segment* child : {childStraight, childSharpPlus, childGentlePlus, childSharpMinus,
                           childGentleMinus})
        if (child) child->parent = nullptr;
    if (parent) {
        for (Segment** link :
             {&parent->childStraight, &parent->childSharpPlus, &parent->childGentlePlus,
              &parent->childSharpMinus, &parent->childGentleMinus})
            if (*link == this) *link = nullptr;
    }
}

bool Segment::isBlocked(int direction) const {
    if (depth >= maxGrowingDepth) return true;
    return childInDirection(direction) != nullptr;
}

int freeSlotCount(const Segment* segment) {
    if (!segment) return 0;
    int free = 0;
    for (const Segment* child :
         {segment->childStraight, segment->childSharpPlus, segment->childGentlePlus,
          segment->childSharpMinus, segment->childGentleMinus})
        if (!child) ++free;
    return free;
}

}  // namespace vesk::flake
