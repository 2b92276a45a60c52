// Two hundred performances back to back on virtual time with live input: what the
// allocator holds must not grow from one performance to the next. bench/soak_bench runs
// ten thousand and prints the figures.
#include <gtest/gtest.h>

#include <vector>

#include "support/SoakRun.h"

namespace vesk {
namespace {

constexpr int performances = 200;
// Measured from here on: the first performances fill what stays for the whole run (the
// pedal log's later entries, the allocator's own caches).
constexpr int settledPerformance = 20;
constexpr std::size_t allowedGrowthBytes = 1024 * 1024;

TEST(Soak, TwoHundredPerformancesWithLiveInputHoldNoMoreMemoryAtTheEndThanAtTheStart) {
    std::vector<std::size_t> held;
    EXPECT_EQ(test::runSoak(performances, [&](int, std::size_t bytes) { held.push_back(bytes); }), 0);
    ASSERT_EQ(held.size(), std::size_t(performances));
    const std::size_t settled = held[settledPerformance - 1], last = held.back();
    EXPECT_LT(last, settled + allowedGrowthBytes) << settled << " bytes at performance " << settledPerformance
                                                  << ", " << last << " at performance " << performances;
}

}  // namespace
}  // namespace vesk
