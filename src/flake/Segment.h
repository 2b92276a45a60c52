// One segment of the flake: a straight piece from a start to an end point in the flake
// frame's plane, linked to its parent and up to five children, tied to the note that
// grew it and to the score ticks of its birth and release. Geometry is stored in single
// precision on purpose: the flake's shape depends on that rounding.
#pragma once

#include <cstdint>

namespace vesk::flake {

// Branch directions (turn codes 1 to 5) and the seed-arm angles (6 to 10).
enum TurnCode : int {
    turnSharpPlus = 1,
    turnGentlePlus = 2,
    turnStraight = 3,
    turnGentleMinus = 4,
    turnSharpMinus = 5,
    turnSeedPlus120 = 6,
    turnSeedMinus120 = 7,
    turnSeedMinus60 = 8,
    turnSeedPlus60 = 9,
    turnSeed180 = 10,
};

constexpr int climbLevel = 3;  // the climb code the growth step always uses: no change
// A segment keeps the low eight bits of the note that grew it.
constexpr int noteByteMask = 0xFF;
// A segment this deep or deeper takes no further children.
constexpr int maxGrowingDepth = 20;

class Segment {
public:
    // Builds the segment from its parent (or as a seed arm from the origin when `parent`
    // is null) and, for a branch direction, links itself into the parent's child link of
    // that direction, whatever it held. `scoreTick` stamps its birth; `note` keeps its
    // low 8 bits.
    Segment(Segment* parent, int turnCode, int climbCode, int index, int note, int scoreTick);

    // Removes every link between this segment and its neighbours, from both sides.
    void detach();
    // True when no child may be grown in `direction` (1 to 5).
    bool isBlocked(int direction) const;
    // The child link of a branch direction 1 to 5; nullptr for any other value.
    Segment* childInDirection(int direction) const;

    float startX, startY, startZ;
    float endX, endY, endZ;
    float heading;  // radians; the segment runs along (sin heading, cos heading)
    float climb;
    Segment* childStraight = nullptr;
    Segment* childSharpPlus = nullptr;
    Segment* childGentlePlus = nullptr;
    Segment* childSharpMinus = nullptr;
    Segment* childGentleMinus = nullptr;
    std::int32_t depth;
    std::int32_t index;  // slot in `segments` when built; not kept up to date
    std::int32_t birthTick;
    std::int32_t endTick;
    std::uint8_t released = 0;
    Segment* parent = nullptr;
    std::uint8_t note;
    float length;
    std::int32_t turnBalance;

private:
    Segment** linkForDirection(int direction);
    // Start point, depth, length and turn balance from the parent, or those of a seed arm;
    // heading and climb start as the parent's.
    void continueFrom(const Segment* parentSegment);
};

// Empty child links of `segment`, 0 to 5; 0 for none.
int freeSlotCount(const Segment* segment);

}  // namespace vesk::flake
