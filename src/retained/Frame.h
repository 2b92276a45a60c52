// Frames of the retained-mode scene: a tree with ordered children, each frame placed
// relative to its parent, carrying visuals (mesh builders), lights and, on the root,
// the scene background. Relies on Math.h only.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "retained/Math.h"

namespace vesk::retained {

class MeshBuilder;

using Colour = std::uint32_t;  // 0xAARRGGBB

// How a rotation joins the frame's present transform.
enum class Combine {
    Replace,  // the rotation becomes the whole transform: position and orientation go
    Before,   // applied in the frame's own space, before the present transform
    After,    // applied in the parent's space, after the present transform; rotations accumulate
};

enum class LightType { Ambient, Directional };

struct Light {
    LightType type = LightType::Ambient;
    float red = 1.0f;
    float green = 1.0f;
    float blue = 1.0f;
};

class Frame {
public:
    Frame(const Frame&) = delete;
    Frame& operator=(const Frame&) = delete;
    ~Frame();

    static std::unique_ptr<Frame> createRoot();
    // The new child comes after every existing child; the parent owns it.
    Frame& createChild();

    Frame* parent() const { return parent_; }
    const Frame& root() const;
    std::size_t childCount() const { return children_.size(); }
    // Children in the order they were created; nullptr past the end.
    Frame* child(std::size_t index) const;

    // `reference` null means the parent's space.
    void setPosition(const Frame* reference, Vector3 position);
    // Points the frame's +z along `direction` with its +y as near `up` as possible.
    void setOrientation(const Frame* reference, Vector3 direction, Vector3 up);
    void addRotation(Combine combine, Vector3 axis, float angle);

    const Matrix4& localTransform() const { return local_; }
    Matrix4 worldTransform() const;

    void addVisual(std::shared_ptr<MeshBuilder> mesh);
    const std::vector<std::shared_ptr<MeshBuilder>>& visuals() const { return visuals_; }

    // A directional light shines along this frame's +z axis.
    void addLight(const Light& light) { lights_.push_back(light); }
    const std::vector<Light>& lights() const { return lights_; }

    // Meaningful on the root frame: the colour a viewport clears to.
    void setSceneBackground(Colour colour) { background_ = colour; }
    Colour sceneBackground() const { return background_; }

private:
    Frame() = default;
    Matrix4 toParentSpace(const Frame* reference) const;

    Frame* parent_ = nullptr;
    std::vector<std::unique_ptr<Frame>> children_;
    Matrix4 local_;
    std::vector<std::shared_ptr<MeshBuilder>> visuals_;
    std::vector<Light> lights_;
    Colour background_ = 0xFF000000;
};

}  // namespace vesk::retained
