// Display and scene set-up in its fixed order, the repaint and the release. The texts
// are the system's own; which boxes belong to the window is part of what the user sees.
#include "scene/DisplaySetup.h"

namespace vesk::scene {

namespace {

using platform::BoxOwner;

constexpr const char* noDisplayText = "Could not create DirectDraw!";
constexpr const char* noCooperationText = "Could not set cooplevel!";
constexpr const char* noTargetText = "Could not create clipper!";
constexpr const char* noAttachText = "Could not associate clipper with window!";
constexpr const char* noCameraText = "Could not create camera frame!";

// Directional light along the scene's +z (where the camera looks) and a soft ambient.
constexpr retained::Light directionalLight{retained::LightType::Directional, 0.99f, 0.99f, 0.99f};
constexpr retained::Light ambientLight{retained::LightType::Ambient, 0.5f, 0.5f, 0.5f};
constexpr retained::Vector3 cameraDirection{0.0f, 0.0f, 1.0f};
constexpr retained::Vector3 cameraUp{0.0f, 1.0f, 0.0f};

bool addLights(SceneObjects& objects) {
    if (!objects.engine->addLight(*objects.scene, directionalLight)) return false;
    if (!objects.engine->addLight(*objects.scene, ambientLight)) return false;
    objects.scene->setSceneBackground(setupBackground);
    objects.device->setQuality(sceneRenderQuality);
    return true;
}

bool findDisplayMode(PerformanceState& state, platform::Display& display) {
    for (const auto& size : displaySizes) {
        for (int bits : displayDepths) {
            if (display.setDisplayMode(size[0], size[1], bits)) {
                state.screenWidth = size[0];
                state.screenHeight = size[1];
                state.screenBits = bits;
                return true;
            }
        }
    }
    return false;
}

// Objects left from a scene that was never released go first, viewport before device.
void dropScene(SceneObjects& objects, platform::Display& display) {
    objects.viewport.reset();
    objects.device.reset();
    if (objects.windowTarget) display.releaseWindowTarget();
    objects.windowTarget = false;
    objects.camera = nullptr;
    objects.flakeFrame = nullptr;
    objects.scene.reset();
}

// The display, its mode and the window's target for the picture, each failure told in
// the box the user sees (none when no mode is accepted: the screen variables keep
// their values).
bool prepareDisplay(SceneObjects& objects, PerformanceState& state, platform::Platform& platform) {
    platform::Display& display = platform.display();
    platform::ModalUi& ui = platform.modalUi();
    if (!display.connect()) {
        ui.reportError(noDisplayText, BoxOwner::None, "the display cannot be reached");
        return false;
    }
    if (!display.shareWithWindow()) {
        ui.reportError(noCooperationText, BoxOwner::None, "the display cannot be shared with the window");
        return false;
    }
    if (!findDisplayMode(state, display)) return false;
    if (!display.createWindowTarget()) {
        ui.reportError(noTargetText, BoxOwner::Window, "the window cannot be given a picture");
        return false;
    }
    objects.windowTarget = true;
    if (!display.attachWindowTarget()) {
        ui.reportError(noAttachText, BoxOwner::Window, "the picture cannot be tied to the window");
        return false;
    }
    return true;
}

// The engine, the device, the root frame, the camera and the viewport that renders them.
bool createView(SceneObjects& objects, platform::Platform& platform) {
    platform::ModalUi& ui = platform.modalUi();
    objects.engine = platform.createEngine();
    if (!objects.engine) return false;
    // The device takes the window's size, not the display mode's.
    const platform::Size client = platform.display().clientSize();
    if (client.width <= 0 || client.height <= 0) return false;
    objects.device = objects.engine->createDevice(client.width, client.height);
    if (!objects.device) return false;

    objects.scene = objects.engine->createRootFrame();
    if (!objects.scene) {
        ui.reportError(noSceneText, BoxOwner::Window, "the 3D scene cannot be made; nothing is drawn");
        return false;
    }
    objects.camera = objects.engine->createFrame(*objects.scene);
    if (!objects.camera) {
        ui.reportError(noCameraText, BoxOwner::Window, "the camera cannot be made; nothing is drawn");
        return false;
    }
    objects.viewport = objects.engine->createViewport(*objects.device, *objects.camera, 0, 0,
                                                      objects.device->width(),
                                                      objects.device->height());
    if (!objects.viewport) return false;
    objects.viewport->setBack(backClippingPlane);
    return true;
}

// Lights, the flake's mesh and frame, and the camera in its place, looking along +z.
bool furnishScene(SceneObjects& objects, const PerformanceState& state) {
    if (!addLights(objects)) return false;
    objects.flakeMesh = objects.engine->createMeshBuilder();
    if (!objects.flakeMesh) return false;
    objects.flakeFrame = objects.engine->createFrame(*objects.scene);
    if (!objects.flakeFrame) return false;
    objects.flakeFrame->addVisual(objects.flakeMesh);

    objects.camera->setPosition(objects.scene.get(),
                                {state.cameraX, state.cameraY, state.cameraZ});
    objects.camera->setOrientation(objects.scene.get(), cameraDirection, cameraUp);
    return true;
}

}  // namespace

bool initDisplay(SceneObjects& objects, PerformanceState& state, platform::Platform& platform) {
    dropScene(objects, platform.display());
    if (!prepareDisplay(objects, state, platform)) return false;
    if (!createView(objects, platform)) return false;
    // From here a repaint can render, even if a later step fails.
    state.sceneReady = 1;
    return furnishScene(objects, state);
}

void setBackground(SceneObjects& objects, std::uint32_t colour) {
    if (objects.scene) objects.scene->setSceneBackground(colour);
}

std::function<void(std::uint32_t)> backgroundSetter(SceneObjects& objects) {
    return [&objects](std::uint32_t colour) { setBackground(objects, colour); };
}

void releaseScene(SceneObjects& objects, PerformanceState& state, platform::Display& display) {
    state.sceneReady = 0;
    dropScene(objects, display);
}

bool repaint(SceneObjects& objects, PerformanceState& state, platform::Platform& platform) {
    if (!state.sceneReady || !objects.viewport || !objects.scene || !objects.device) {
        platform.loop().defaultProcessing({platform::MessageType::Paint, 0});
        return false;
    }
    state.sceneReady = 0;
    objects.viewport->clear();
    objects.viewport->render(*objects.scene);
    objects.device->update(platform.surface().view());
    state.sceneReady = 1;
    return true;
}

}  // namespace vesk::scene
