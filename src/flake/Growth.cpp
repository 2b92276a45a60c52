// The growth step: tips, branch directions, collision and depth balance.
#include "flake/Growth.h"

#include <algorithm>
#include <cassert>
#include <iterator>

namespace vesk::flake {
namespace {

constexpr int triesPerTip = 30;
constexpr int drawsBeforeGiveUp = 10;
// An earlier segment's x range is widened by this on both sides; its y range is not.
constexpr float collisionMarginX = 0.012f;
// Once the flake is large, a candidate is tested only against the segments from the
// hundred two hundreds back on: whole blocks of 100, two blocks before the present one.
constexpr int collisionBlock = 100;
constexpr int collisionBlocksBack = 2;
// A colliding tip with more free child slots than this gives way to another segment.
constexpr int collidingTipKeepsAtMostFreeSlots = 2;
// The tip a candidate grew on stays a tip beside it while it has fewer free slots than
// this, or lies shallower than tipStaysBelowDepth; otherwise the candidate takes its place.
constexpr int tipStaysBelowFreeSlots = 2;
constexpr int tipStaysBelowDepth = 3;
// From depth 5 on, depth d needs 2^(d - 4) accepted segments two levels above it, at d - 2.
constexpr int balanceFromDepth = 5;
constexpr int balanceNeedShift = 4;
constexpr int balanceLevelsAbove = 2;
// 2^30 segments at one depth are more than any flake holds.
constexpr int largestBalanceNeedShift = 30;

// Where the search for an open tip stands in one growth step; it carries on from one
// candidate to the next.
struct TipSearch {
    int tries = 0;     // on the current tip
    int draws = 0;     // tips drawn since the last give-up
    int rejected = 0;  // candidates rejected in this step
};

constexpr int seedTurnCodes[seedArmCount] = {turnStraight,    turnSeedPlus120, turnSeedMinus120,
                                             turnSeedMinus60, turnSeedPlus60,  turnSeed180};

void drawCurrentTip(FlakeState& flake, RandomSource& random) {
    flake.currentTipIndex = randomInRange(random, 1, flake.tipCount);
    flake.currentTip = flake.tips[flake.currentTipIndex];
}

void growSeedArm(FlakeState& flake, RandomSource& random, int note, int scoreTick) {
    if (flake.segmentCount < seedArmCount) {
        const int n = flake.segmentCount;
        flake.segments[n] =
            std::make_unique<Segment>(nullptr, seedTurnCodes[n], climbLevel, n, note, scoreTick);
        flake.tips[++flake.tipCount] = flake.segments[n].get();
        ++flake.segmentCount;
    }
    flake.currentTipIndex = randomInRange(random, 1, flake.tipCount);
    if (flake.segmentCount == seedArmCount) flake.currentTip = flake.tips[flake.currentTipIndex];
}

// The tip that leaves `tips` after a collision is replaced, at the end of the list, by a
// random grown segment (neither a seed arm nor the candidate).
void replaceCollidingTip(FlakeState& flake, RandomSource& random) {
    for (int p = 1; p <= flake.tipCount; ++p) {
        if (flake.tips[p] != flake.currentTip) continue;
        std::copy(flake.tips.begin() + p + 1, flake.tips.begin() + flake.tipCount + 1,
                  flake.tips.begin() + p);
        break;
    }
    const int pick = randomInRange(random, seedArmCount, flake.segmentCount - 1);
    flake.tips[flake.tipCount] = flake.segments[pick].get();
    drawCurrentTip(flake, random);
}

// Without a current tip on a grown flake (the finale removed it) one is drawn; without
// any tip at all, the seed arms become tips again first.
void ensureCurrentTip(FlakeState& flake, RandomSource& random) {
    if (flake.currentTip) return;
    if (flake.tipCount == 0) {
        for (int i = 0; i < seedArmCount; ++i) flake.tips[i + 1] = flake.segments[i].get();
        flake.tipCount = seedArmCount;
    }
    drawCurrentTip(flake, random);
}

// Tries the current tip, and draws another after every 30 tries, until one is open in
// `direction`. After ten draws the search gives up and builds on the tip just drawn,
// blocked or not.
void pickOpenTip(FlakeState& flake, RandomSource& random, int direction, TipSearch& search) {
    for (;;) {
        if (search.tries == triesPerTip) {
            drawCurrentTip(flake, random);
            search.tries = 0;
            ++search.draws;
        }
        if (search.draws == drawsBeforeGiveUp) {
            search.draws = 0;
            return;
        }
        ++search.tries;
        if (!flake.currentTip->isBlocked(direction)) return;
    }
}

// Builds the candidate on the current tip in the next free slot and tests it. False when
// it collided or unbalanced its depth: it is freed again (and a colliding tip with room
// to spare has given way). Past maxRejectedCandidates every candidate is kept untested.
bool candidateKept(FlakeState& flake, RandomSource& random, int direction, int note,
                   int scoreTick, TipSearch& search) {
    const int slot = flake.segmentCount;
    flake.segments[slot] =
        std::make_unique<Segment>(flake.currentTip, direction, climbLevel, slot, note, scoreTick);
    if (search.rejected >= maxRejectedCandidates) return true;
    const bool collision = slot < collisionTestLimit && collidesWithFlake(flake);
    if (collision && freeSlotCount(flake.currentTip) > collidingTipKeepsAtMostFreeSlots)
        replaceCollidingTip(flake, random);
    const bool unbalanced = depthUnbalanced(flake);
    if (!collision && !unbalanced) return true;
    flake.segments[slot]->detach();
    flake.segments[slot].reset();
    ++search.rejected;
    return false;
}

// The kept candidate joins the flake: as a new tip beside the one it grew on, or in that
// tip's place; it is counted at its depth, and the next tip is drawn.
void adoptCandidate(FlakeState& flake, RandomSource& random) {
    Segment* candidate = flake.segments[flake.segmentCount].get();
    Segment* tip = flake.tips[flake.currentTipIndex];
    const bool tipStays =
        freeSlotCount(tip) < tipStaysBelowFreeSlots || tip->depth < tipStaysBelowDepth;
    if (tipStays && flake.tipCount < tipCapacity)
        flake.tips[++flake.tipCount] = candidate;
    else
        flake.tips[flake.currentTipIndex] = candidate;
    if (candidate->depth >= 0 && candidate->depth < segmentCapacity)
        ++flake.depthPopulation[candidate->depth];
    ++flake.segmentCount;
    drawCurrentTip(flake, random);
}

}  // namespace

int directionForNote(int note) {
    static constexpr int byPitchClass[] = {1, 2, 3, 5, 4, 3, 1, 2, 3, 5, 4, 3};
    return byPitchClass[(note & noteByteMask) % int(std::size(byPitchClass))];
}

bool collidesWithFlake(const FlakeState& flake) {
    const int count = flake.segmentCount;
    if (count <= 1) return false;
    const Segment* q = flake.segmentAt(count);
    if (!q) return false;
    // From 300 segments on, only the segments from the hundred two hundreds back count.
    const int first = std::max(0, (count / collisionBlock - collisionBlocksBack) * collisionBlock);
    const double qx = q->endX, qy = q->endY, margin = collisionMarginX;
    for (int j = first; j < count; ++j) {
        const Segment& r = *flake.segments[j];
        const double lowX = std::min(r.startX, r.endX), highX = std::max(r.startX, r.endX);
        const double lowY = std::min(r.startY, r.endY), highY = std::max(r.startY, r.endY);
        if (lowX - margin < qx && qx < highX + margin && lowY < qy && qy < highY) return true;
    }
    return false;
}

bool depthUnbalanced(const FlakeState& flake) {
    if (flake.segmentCount > balanceRuleLimit) return false;
    const Segment* q = flake.segmentAt(flake.segmentCount);
    if (!q) return false;
    const int d = q->depth;
    if (d < balanceFromDepth) return false;
    const int needShift = d - balanceNeedShift;
    const int levelAbove = d - balanceLevelsAbove;
    if (needShift > largestBalanceNeedShift || levelAbove >= segmentCapacity) return true;
    return flake.depthPopulation[levelAbove] < (1 << needShift);
}

bool growSegment(FlakeState& flake, RandomSource& random, int note, int scoreTick) {
    if (!flake.currentTip && flake.segmentCount < seedArmCount) {
        growSeedArm(flake, random, note, scoreTick);
        return true;
    }
    if (flake.segmentCount >= segmentCapacity) return false;
    ensureCurrentTip(flake, random);

    const int direction = directionForNote(note);
    TipSearch search;
    do pickOpenTip(flake, random, direction, search);
    while (!candidateKept(flake, random, direction, note, scoreTick, search));
    adoptCandidate(flake, random);
    return true;
}

}  // namespace vesk::flake
