// The engine's own creations, which cannot fail but for an empty device.
#include "retained/Engine.h"

namespace vesk::retained {

std::unique_ptr<Device> Engine::createDevice(int width, int height) {
    if (width <= 0 || height <= 0) return nullptr;
    return std::make_unique<Device>(width, height);
}

std::unique_ptr<Frame> Engine::createRootFrame() { return Frame::createRoot(); }

Frame* Engine::createFrame(Frame& parent) { return &parent.createChild(); }

std::unique_ptr<Viewport> Engine::createViewport(Device& device, Frame& camera, int x, int y,
                                                 int width, int height) {
    return std::make_unique<Viewport>(device, camera, x, y, width, height);
}

std::shared_ptr<MeshBuilder> Engine::createMeshBuilder() { return std::make_shared<MeshBuilder>(); }

bool Engine::addLight(Frame& frame, const Light& light) {
    frame.addLight(light);
    return true;
}

}  // namespace vesk::retained
