// Frames of the retained-mode scene.
#include "retained/Frame.h"

#include "retained/MeshBuilder.h"

namespace vesk::retained {

Frame::~Frame() = default;

std::unique_ptr<Frame> Frame::createRoot() { return std::unique_ptr<Frame>(new Frame()); }

Frame& Frame::createChild() {
    children_.push_back(std::unique_ptr<Frame>(new Frame()));
    children_.back()->parent_ = this;
    return *children_.back();
}

const Frame& Frame::root() const {
    const Frame* f = this;
    while (f->parent_) f = f->parent_;
    return *f;
}

Frame* Frame::child(std::size_t index) const {
    return index < children_.size() ? children_[index].get() : nullptr;
}

Matrix4 Frame::worldTransform() const {
    Matrix4 world = local_;
    for (const Frame* f = parent_; f; f = f->parent_) world = world * f->local_;
    return world;
}

// Maps coordinates given relative to `reference` into this frame's parent space.
Matrix4 Frame::toParentSpace(const Frame* reference) const {
    if (!reference || reference == parent_) return Matrix4::identity();
    const Matrix4 parentWorld = parent_ ? parent_->worldTransform() : Matrix4::identity();
    return reference->worldTransform() * parentWorld.inverseAffine();
}

void Frame::setPosition(const Frame* reference, Vector3 position) {
    const Vector3 p = toParentSpace(reference).transformPoint(position);
    local_.m[3][0] = p.x;
    local_.m[3][1] = p.y;
    local_.m[3][2] = p.z;
}

void Frame::setOrientation(const Frame* reference, Vector3 direction, Vector3 up) {
    const Matrix4 toParent = toParentSpace(reference);
    const Vector3 d = toParent.transformDirection(direction);
    const Vector3 u = toParent.transformDirection(up);
    auto norm = [](double v[3]) {
        const double l = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
        if (l == 0.0) return false;
        for (int i = 0; i < 3; ++i) v[i] /= l;
        return true;
    };
    double z[3] = {d.x, d.y, d.z};
    if (!norm(z)) return;
    // Up loses its part along the direction; x = y cross z in a left-handed space.
    const double along = u.x * z[0] + u.y * z[1] + u.z * z[2];
    double y[3] = {u.x - along * z[0], u.y - along * z[1], u.z - along * z[2]};
    if (!norm(y)) return;
    const double x[3] = {y[1] * z[2] - y[2] * z[1], y[2] * z[0] - y[0] * z[2],
                         y[0] * z[1] - y[1] * z[0]};
    for (int j = 0; j < 3; ++j) {
        local_.m[0][j] = x[j];
        local_.m[1][j] = y[j];
        local_.m[2][j] = z[j];
    }
}

void Frame::addRotation(Combine combine, Vector3 axis, float angle) {
    const Matrix4 r = Matrix4::rotation(axis, angle);
    switch (combine) {
        case Combine::Replace: local_ = r; break;
        case Combine::Before: local_ = r * local_; break;
        case Combine::After: local_ = local_ * r; break;
    }
}

void Frame::addVisual(std::shared_ptr<MeshBuilder> mesh) {
    if (mesh) visuals_.push_back(std::move(mesh));
}

}  // namespace vesk::retained
