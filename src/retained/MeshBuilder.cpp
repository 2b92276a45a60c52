// A mesh builder: ordered faces with stable handles.
#include "retained/MeshBuilder.h"

#include <algorithm>

namespace vesk::retained {

std::size_t FaceArray::size() const { return mesh_->faceCount(); }

FaceHandle FaceArray::element(std::size_t index) const { return mesh_->faceAt(index); }

FaceHandle MeshBuilder::addFace(std::span<const Vector3> vertices) {
    if (vertices.size() < 3 || vertices.size() > maxFaceVertices) return {};
    std::uint32_t slot;
    if (!freeSlots_.empty()) {
        slot = freeSlots_.back();
        freeSlots_.pop_back();
    } else {
        slot = std::uint32_t(slots_.size());
        slots_.emplace_back();
    }
    Slot& s = slots_[slot];
    s.live = true;
    s.face = Face{};
    std::copy(vertices.begin(), vertices.end(), s.face.vertices.begin());
    s.face.vertexCount = std::uint8_t(vertices.size());
    order_.push_back(slot);
    return {slot, s.generation};
}

FaceHandle MeshBuilder::faceAt(std::size_t index) const {
    if (index >= order_.size()) return {};
    const std::uint32_t slot = order_[index];
    return {slot, slots_[slot].generation};
}

const MeshBuilder::Face* MeshBuilder::face(FaceHandle handle) const {
    if (handle.slot >= slots_.size()) return nullptr;
    const Slot& s = slots_[handle.slot];
    return s.live && s.generation == handle.generation ? &s.face : nullptr;
}

bool MeshBuilder::setFaceColour(FaceHandle handle, Colour colour) {
    if (!face(handle)) return false;
    slots_[handle.slot].face.colour = colour;
    return true;
}

bool MeshBuilder::deleteFace(FaceHandle handle) {
    if (!face(handle)) return false;
    Slot& s = slots_[handle.slot];
    s.live = false;
    ++s.generation;  // every handle to this face now names nothing
    freeSlots_.push_back(handle.slot);
    order_.erase(std::find(order_.begin(), order_.end(), handle.slot));
    return true;
}

}  // namespace vesk::retained
