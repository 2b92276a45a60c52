// The flake's scene as the display set-up builds it, for picture tests and benchmarks:
// a root frame with the camera (child 0) and the flake frame (child 1), a directional and
// an ambient light, a black background, and a 1024x768 device and viewport.
#pragma once

#include <memory>

#include "platform/headless/PngFile.h"
#include "retained/Device.h"
#include "retained/Frame.h"
#include "retained/MeshBuilder.h"
#include "retained/Viewport.h"

namespace vesk::test {

struct FlakeScene {
    static constexpr int width = 1024;
    static constexpr int height = 768;

    std::unique_ptr<retained::Frame> scene = retained::Frame::createRoot();
    retained::Frame& camera = scene->createChild();
    retained::Frame& flakeFrame = scene->createChild();
    std::shared_ptr<retained::MeshBuilder> mesh = std::make_shared<retained::MeshBuilder>();
    retained::Device device{width, height};
    retained::Viewport viewport{device, camera, 0, 0, width, height};

    FlakeScene() {
        flakeFrame.addVisual(mesh);
        scene->addLight({retained::LightType::Directional, 0.99f, 0.99f, 0.99f});
        scene->addLight({retained::LightType::Ambient, 0.5f, 0.5f, 0.5f});
        scene->setSceneBackground(0xFF000000);
        device.setQuality(11);  // lights on, shade value 3, point fill: drawn lit, flat, solid
        viewport.setBack(5000.0f);
        camera.setPosition(scene.get(), {0.0f, 0.0f, -5.0f});
        camera.setOrientation(scene.get(), {0.0f, 0.0f, 1.0f}, {0.0f, 1.0f, 0.0f});
    }

    // One repaint: clear, render, and copy what changed onto `window`.
    void repaint(platform::Image& window) {
        viewport.clear();
        viewport.render(*scene);
        device.update({window.pixels.data(), window.width, window.height, window.width});
    }

    platform::Image picture() {
        platform::Image window{width, height, std::vector<std::uint32_t>(width * height, 0xFF000000)};
        repaint(window);
        return window;
    }
};

}  // namespace vesk::test
