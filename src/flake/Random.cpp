// Random draws for the flake.
#include "flake/Random.h"

#include <algorithm>
#include <cassert>
#include <cstdlib>

namespace vesk::flake {

int CLibraryRandom::next() { return std::rand(); }

int randomInRange(RandomSource& random, int lo, int hi) {
    assert(lo <= hi && "randomInRange needs lo <= hi");
    if (lo >= hi) return lo;
    // The span is computed in 64 bits so that even [INT_MIN, INT_MAX] cannot overflow.
    const long long span = static_cast<long long>(hi) - lo + 1;
    const long long r = std::max(0, random.next());  // a draw is never negative
    return int(lo + r % span);
}

}  // namespace vesk::flake
