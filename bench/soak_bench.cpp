// Performances back to back on virtual time with live input, as the soak test runs them
// but many more: prints what the allocator holds at the start of performances 100, 1,000
// and 10,000 (or of every tenfold step up to the number asked for), and the wall time.
// It measures, it never fails. Usage: vesk_bench_soak [performances, default 10000]
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "support/SoakRun.h"

using namespace vesk;

int main(int argc, char** argv) {
    const int performances = argc > 1 ? std::max(100, std::atoi(argv[1])) : 10'000;
    constexpr double mib = 1024.0 * 1024.0;
    const auto start = std::chrono::steady_clock::now();
    const int code = test::runSoak(performances, [](int n, std::size_t bytes) {
        for (int at = 100; at <= n; at *= 10)
            if (n == at) std::printf("performance %6d: the allocator holds %.2f MiB\n", n, double(bytes) / mib);
    });
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%d performances in %.1f s of wall time (exit %d)\n", performances, wall, code);
    return 0;
}
