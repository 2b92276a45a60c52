// Random draws for the flake.
#include "flake/Random.h"

#include <cassert>
#include <cstdlib>

namespace vesk::flake {

int CLibraryRandom::next() { return std::rand(); }

ScriptedRandom::ScriptedRandom(std::vector<int> draws) : draws_(std::move(draws)) {
    assert(!draws_.empty() && "a scripted random source needs at least one draw");
}

int ScriptedRandom::next() {
    if (draws_.empty()) return 0;
    const int r = draws_[taken_ % draws_.size()];
    ++taken_;
    return r & 0x7FFFFFFF;  // like rand(), never negative
}

int randomInRange(RandomSource& random, int lo, int hi) {
    assert(lo <= hi && "randomInRange needs lo <= hi");
    if (lo >= hi) return lo;
    // The span is computed in 64 bits so that even [INT_MIN, INT_MAX] cannot overflow.
    const long long span = static_cast<long long>(hi) - lo + 1;
    return int(lo + static_cast<long long>(random.next()) % span);
}

}  // namespace vesk::flake
