// Picture benchmarks: render plus update of a full flake (1999 segments) at 1024x768,
// against the floor of clearing and copying buffers of that size, and the growth step at
// its worst (a flake of 499 segments, where every candidate is still tested for
// collisions). Runs on one core and prints medians; it measures, it never fails.
#include <sched.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <vector>

#include "../tests/support/FlakeScene.h"
#include "../tests/support/TestRandom.h"
#include "flake/Growth.h"
#include "flake/Meshing.h"
#include "scene/Colouring.h"

using namespace vesk;
using Clock = std::chrono::steady_clock;

namespace {

struct Timing {
    double median;
    double worst;
};

Timing measure(int runs, const std::function<void()>& work) {
    std::vector<double> ms;
    ms.reserve(std::size_t(runs));
    for (int i = 0; i < runs; ++i) {
        const auto start = Clock::now();
        work();
        ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    std::sort(ms.begin(), ms.end());
    return {ms[ms.size() / 2], ms.back()};
}

struct GrownFlake {
    std::unique_ptr<PerformanceState> state = std::make_unique<PerformanceState>();
    test::FlakeScene view;
    test::LcgRandom random{42};

    explicit GrownFlake(int segments) {
        while (state->flake.segmentCount < segments) {
            flake::growAndMesh(state->flake, *view.mesh, random, 36 + random.next() % 60, 0);
            ++state->flake.meshSegmentCount;
        }
        scene::initColours(*state, *view.mesh);
    }
};

volatile std::uint32_t sink;

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(5, std::atoi(argv[1])) : 200;
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(0, &one);
    const bool pinned = sched_setaffinity(0, sizeof one, &one) == 0;

    GrownFlake full(flake::meshCapacitySegments - 1);
    platform::Image window = full.view.picture();
    const Timing render = measure(runs, [&] {
        // The flake turns between repaints, so each one draws it somewhere new.
        full.view.flakeFrame.addRotation(retained::Combine::After, {0, 0, 1}, -0.08f);
        full.view.repaint(window);
        sink = window.pixels[window.pixels.size() / 2];
    });

    const std::size_t n = std::size_t(test::FlakeScene::width) * test::FlakeScene::height;
    std::vector<std::uint32_t> back(n), target(n);
    std::vector<float> depth(n);
    const Timing floor = measure(runs, [&] {
        std::fill(back.begin(), back.end(), 0xFF000000u);
        std::fill(depth.begin(), depth.end(), 0.0f);
        std::memcpy(target.data(), back.data(), n * sizeof(std::uint32_t));
        sink = target[n / 2] + std::uint32_t(depth[n / 3]);
    });

    GrownFlake grown(499);
    test::LcgRandom notes(5);
    auto& fl = grown.state->flake;
    std::vector<double> steps;
    for (int i = 0; i < runs * 10; ++i) {
        const Timing t = measure(1, [&] { flake::growSegment(fl, grown.random, 36 + notes.next() % 60, 1); });
        steps.push_back(t.median);
        flake::removeSegment(fl, 499);  // back to 499 segments for the next step
    }
    std::sort(steps.begin(), steps.end());

    std::printf("picture benchmark, %d runs%s\n", runs, pinned ? ", pinned to cpu 0" : "");
    std::printf("render+update, 1999 segments (%zu faces), 1024x768: median %.3f ms, worst %.3f ms\n",
                full.view.mesh->faceCount(), render.median, render.worst);
    std::printf("floor (clear colour and depth, copy) 1024x768:        median %.3f ms, worst %.3f ms\n",
                floor.median, floor.worst);
    std::printf("ratio render+update / floor: %.2f (target: at most 3)\n", render.median / floor.median);
    std::printf("growth step at 499 segments: median %.1f us, worst %.1f us\n", steps[steps.size() / 2] * 1000,
                steps.back() * 1000);
    return 0;
}
