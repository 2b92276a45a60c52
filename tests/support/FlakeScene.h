// The flake's scene as a performance builds it (display set-up on the headless backend),
// for picture tests and benchmarks: camera, flake frame, lights, black background, and a
// 1024x768 device and viewport. Repaints can go to any window image.
#pragma once

#include <cstdlib>
#include <memory>

#include "state/PerformanceState.h"
#include "platform/headless/HeadlessPlatform.h"
#include "platform/headless/PngFile.h"
#include "scene/DisplaySetup.h"

namespace vesk::test {

struct FlakeScene {
    static constexpr int width = 1024;
    static constexpr int height = 768;

    platform::headless::HeadlessPlatform platform{width, height};
    scene::SceneObjects objects = build(platform);
    std::shared_ptr<retained::MeshBuilder> mesh = objects.flakeMesh;
    retained::Frame& flakeFrame = *objects.flakeFrame;

    // One repaint: clear, render, and copy what changed onto `window`.
    void repaint(platform::Image& window) {
        objects.viewport->clear();
        objects.viewport->render(*objects.scene);
        objects.device->update({window.pixels.data(), window.width, window.height, window.width});
    }

    platform::Image picture() {
        platform::Image window{width, height, std::vector<std::uint32_t>(width * height, 0xFF000000)};
        repaint(window);
        return window;
    }

private:
    static scene::SceneObjects build(platform::headless::HeadlessPlatform& platform) {
        scene::SceneObjects objects;
        PerformanceState state;
        if (!scene::initDisplay(objects, state, platform) || !objects.complete()) std::abort();
        return objects;
    }
};

}  // namespace vesk::test
