// A reproducible random source for tests: the same numbers on every machine and library,
// unlike rand(), so reference pictures do not depend on the C library.
#pragma once

#include <cstdint>

#include "flake/Random.h"

namespace vesk::test {

class LcgRandom final : public flake::RandomSource {
public:
    explicit LcgRandom(std::uint32_t seed) : state_(seed) {}
    int next() override {
        state_ = state_ * 1103515245u + 12345u;
        return int((state_ >> 16) & 0x7FFF);
    }

private:
    std::uint32_t state_;
};

}  // namespace vesk::test
