// The growth step: tips, branch directions, collision and depth balance.
#include "flake/Growth.h"

#include <algorithm>
#include <cassert>

namespace vesk::flake {
namespace {

constexpr int triesPerTip = 30;
constexpr int drawsBeforeGiveUp = 10;
// An earlier segment's x range is widened by this on both sides; its y range is not.
constexpr float collisionMarginX = 0.012f;
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

}  // namespace

int directionForNote(int note) {
    static constexpr int byPitchClass[12] = {1, 2, 3, 5, 4, 3, 1, 2, 3, 5, 4, 3};
    return byPitchClass[(note & 0xFF) % 12];
}

bool collidesWithFlake(const FlakeState& flake) {
    const int count = flake.segmentCount;
    if (count <= 1) return false;
    const Segment* q = flake.segmentAt(count);
    if (!q) return false;
    // From 300 segments on, only the segments from the hundred two hundreds back count.
    const int first = std::max(0, (count / 100 - 2) * 100);
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
    if (d < 5) return false;
    // Depth d needs 2^(d-4) accepted segments at depth d-2; past 2^30 no flake has them.
    if (d - 4 > 30 || d - 2 >= segmentCapacity) return true;
    return flake.depthPopulation[d - 2] < (1 << (d - 4));
}

bool growSegment(FlakeState& flake, RandomSource& random, int note, int scoreTick) {
    if (!flake.currentTip && flake.segmentCount < seedArmCount) {
        growSeedArm(flake, random, note, scoreTick);
        return true;
    }
    if (flake.segmentCount >= segmentCapacity) return false;
    if (!flake.currentTip) {
        if (flake.tipCount == 0) {
            for (int i = 0; i < seedArmCount; ++i) flake.tips[i + 1] = flake.segments[i].get();
            flake.tipCount = seedArmCount;
        }
        drawCurrentTip(flake, random);
    }

    const int direction = directionForNote(note);
    int tryCount = 0;
    int repickCount = 0;
    int rejected = 0;
    for (;;) {
        for (;;) {
            if (tryCount == triesPerTip) {
                drawCurrentTip(flake, random);
                tryCount = 0;
                ++repickCount;
            }
            if (repickCount == drawsBeforeGiveUp) {
                // Give up: build on the tip just drawn, blocked or not.
                repickCount = 0;
                break;
            }
            ++tryCount;
            if (!flake.currentTip->isBlocked(direction)) break;
        }

        const int slot = flake.segmentCount;
        flake.segments[slot] = std::make_unique<Segment>(flake.currentTip, direction, climbLevel,
                                                         slot, note, scoreTick);
        if (rejected < maxRejectedCandidates) {
            const bool collision = slot < collisionTestLimit && collidesWithFlake(flake);
            if (collision && freeSlotCount(flake.currentTip) > 2) replaceCollidingTip(flake, random);
            const bool unbalanced = depthUnbalanced(flake);
            if (collision || unbalanced) {
                flake.segments[slot]->detach();
                flake.segments[slot].reset();
                ++rejected;
                continue;
            }
        }

        Segment* candidate = flake.segments[slot].get();
        Segment* tip = flake.tips[flake.currentTipIndex];
        const bool tipStays = freeSlotCount(tip) < 2 || tip->depth < 3;
        if (tipStays && flake.tipCount < tipCapacity)
            flake.tips[++flake.tipCount] = candidate;
        else
            flake.tips[flake.currentTipIndex] = candidate;
        if (candidate->depth >= 0 && candidate->depth < segmentCapacity)
            ++flake.depthPopulation[candidate->depth];
        ++flake.segmentCount;
        drawCurrentTip(flake, random);
        return true;
    }
}

}  // namespace vesk::flake
