// The display and the 3D scene of one performance: the display-mode search, the scene's
// objects (camera, lights, the flake's mesh and frame), the repaint that renders them
// into the window, and their release at the end of a performance. Every step that can
// fail is checked, and the user is told of the six that matter.
#pragma once

#include <functional>
#include <memory>
#include <string_view>

#include "state/PerformanceState.h"
#include "platform/Platform.h"
#include "retained/Engine.h"

namespace vesk::scene {

// The objects of the scene. Absent objects are null; nothing is touched through a null.
struct SceneObjects {
    std::unique_ptr<retained::Engine> engine;  // kept from one performance to the next
    bool windowTarget = false;                 // the display's target bound to the window
    std::unique_ptr<retained::Device> device;
    std::unique_ptr<retained::Frame> scene;    // the root frame; owns camera and flakeFrame
    retained::Frame* camera = nullptr;         // child 0 of scene
    std::unique_ptr<retained::Viewport> viewport;
    std::shared_ptr<retained::MeshBuilder> flakeMesh;  // outlives a release, like its segments
    retained::Frame* flakeFrame = nullptr;     // child 1 of scene, carries flakeMesh

    // Everything a tick and a repaint use exists.
    bool complete() const {
        return device && scene && camera && viewport && flakeMesh && flakeFrame;
    }
};

// Display modes in the order they are tried: each size at 32, 24, 16 and 8 bits.
constexpr int displaySizes[3][2] = {{1024, 768}, {800, 600}, {640, 480}};
constexpr int displayDepths[4] = {32, 24, 16, 8};

// Said when the scene or the flake in it cannot be made: by the set-up, the reset and the tick.
constexpr std::string_view noSceneText = "Could not create scene!";

constexpr float backClippingPlane = 5000.0f;
constexpr std::uint32_t setupBackground = 0xFF000000u;
// Lights on, shade value 3, point fill: the engine draws it lit, flat and solid.
constexpr std::uint32_t sceneRenderQuality = 11;

// Builds the scene for a performance. True when every object exists; false after the
// failing step (with its message box where the user is told). `sceneReady` becomes true
// once the viewport exists and stays so even if a later step fails.
bool initDisplay(SceneObjects& objects, PerformanceState& state, platform::Platform& platform);

// Sets the scene's background; nothing while there is no scene (between performances).
void setBackground(SceneObjects& objects, std::uint32_t colour);
// The same, as the MIDI side takes it: looked up at each call, so it always reaches the
// scene of the moment.
std::function<void(std::uint32_t)> backgroundSetter(SceneObjects& objects);

// Releases viewport, device, the window target, camera and scene, in that order, each
// only if present; `sceneReady` becomes false. The engine and the flake's mesh stay.
void releaseScene(SceneObjects& objects, PerformanceState& state, platform::Display& display);

// The window's paint message. When the scene is ready and has a viewport it clears,
// renders and updates the window's pixels (true); otherwise it hands the paint to the
// window's default processing (false). `sceneReady` is false while it renders, so a
// paint or tick entered again meanwhile stays out.
bool repaint(SceneObjects& objects, PerformanceState& state, platform::Platform& platform);

}  // namespace vesk::scene
