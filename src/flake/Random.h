// The random draws of the flake: which tip grows next, and (in the wind-down) which
// notes sound. The program draws from the C library's rand, seeded once at start-up;
// tests put a scripted source in its place.
#pragma once

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

// A uniform-ish int in [lo, hi]: lo + (r mod (hi - lo + 1)) for the next draw r, with no
// draw at all when lo equals hi. Callers pass lo <= hi; anything else gives lo, undrawn.
int randomInRange(RandomSource& random, int lo, int hi);

}  // namespace vesk::flake
