// A viewport: the camera's view of a scene, drawn into a rectangle of a device with a
// perspective projection, a z-buffer and flat shading by the scene's lights.
#pragma once

#include "retained/Device.h"
#include "retained/Frame.h"

namespace vesk::retained {

class Viewport {
public:
    // The viewport must not outlive `device` or `camera`.
    Viewport(Device& device, Frame& camera, int x, int y, int width, int height);

    // Distances along the camera's +z of the front and back clipping planes.
    void setFront(float distance) { front_ = distance; }
    void setBack(float distance) { back_ = distance; }
    float front() const { return front_; }
    float back() const { return back_; }
    // Half the viewport's height at unit distance in front of the camera: with the
    // default 0.5, a flake of radius 2.5 seen from 5 units away just fills the height.
    void setField(float field) { field_ = field; }
    float field() const { return field_; }

    // Clears colour (to the background of the camera's root frame) and depth.
    void clear();
    // Draws every visual of `scene` and its descendants, lit by their lights.
    void render(const Frame& scene);

    Device& device() const { return *device_; }
    Frame& camera() const { return *camera_; }

private:
    Device* device_;
    Frame* camera_;
    Rect area_;  // the requested rectangle clipped to the device
    // Centre and half-height of the rectangle as requested: a viewport that runs off the
    // device keeps its projection and loses only the pixels outside.
    float centreX_ = 0.0f;
    float centreY_ = 0.0f;
    float halfHeight_ = 0.0f;
    float front_ = 1.0f;
    float back_ = 100.0f;
    float field_ = 0.5f;
};

}  // namespace vesk::retained
