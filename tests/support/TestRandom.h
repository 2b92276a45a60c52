// Random sources for tests: a scripted list of draws, and a small generator that gives the
// same numbers on every machine and C library, so reference pictures do not depend on rand().
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

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

// Replays a fixed list of draws, over and over; counts how many were taken.
class ScriptedRandom final : public flake::RandomSource {
public:
    explicit ScriptedRandom(std::vector<int> draws) : draws_(std::move(draws)) {}
    int next() override {
        const int r = draws_.empty() ? 0 : draws_[taken_ % draws_.size()];
        ++taken_;
        return r;
    }
    std::size_t drawsTaken() const { return taken_; }

private:
    std::vector<int> draws_;
    std::size_t taken_ = 0;
};

}  // namespace vesk::test
