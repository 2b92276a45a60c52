// The random draws of the flake: which tip grows next, and (in the wind-down) which
// notes sound. The program draws from the C library's rand, seeded once at start-up;
// tests and reproducible runs put a scripted source in its place.
#pragma once

#include <cstddef>
#include <vector>

namespace vesk::flake {

class RandomSource {
public:
    virtual ~RandomSource() = default;
    // The next draw: a non-negative int, like rand().
    virtual int next() = 0;
};

// Draws from std::rand. Seeding belongs to the program's start-up (srand), not here.
class CLibraryRandom final : public RandomSource {
public:
    int next() override;
};

// Replays a fixed list of draws, over and over; counts how many were taken.
class ScriptedRandom final : public RandomSource {
public:
    explicit ScriptedRandom(std::vector<int> draws);
    int next() override;
    std::size_t drawsTaken() const { return taken_; }

private:
    std::vector<int> draws_;
    std::size_t taken_ = 0;
};

// A uniform-ish int in [lo, hi]: lo + (r mod (hi - lo + 1)) for the next draw r, with no
// draw at all when lo equals hi. Callers pass lo <= hi; anything else gives lo, undrawn.
int randomInRange(RandomSource& random, int lo, int hi);

}  // namespace vesk::flake
