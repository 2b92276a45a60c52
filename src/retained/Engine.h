// The retained-mode engine's root object: it makes the devices, frames, viewports, mesh
// builders and lights of a scene. Any creation may fail (null, or false) and callers
// say so to the user; this engine fails only on impossible requests, but a platform may
// stand in its own (a test backend fails chosen creations).
#pragma once

#include <memory>

#include "retained/Device.h"
#include "retained/Frame.h"
#include "retained/MeshBuilder.h"
#include "retained/Viewport.h"

namespace vesk::retained {

class Engine {
public:
    virtual ~Engine() = default;

    // Null for an empty size.
    virtual std::unique_ptr<Device> createDevice(int width, int height);
    // A frame without a parent: the root of a scene.
    virtual std::unique_ptr<Frame> createRootFrame();
    // A new last child of `parent`, owned by it.
    virtual Frame* createFrame(Frame& parent);
    virtual std::unique_ptr<Viewport> createViewport(Device& device, Frame& camera, int x, int y,
                                                     int width, int height);
    virtual std::shared_ptr<MeshBuilder> createMeshBuilder();
    virtual bool addLight(Frame& frame, const Light& light);
};

}  // namespace vesk::retained
