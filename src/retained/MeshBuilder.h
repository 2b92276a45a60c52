// A mesh builder: an ordered list of flat, coloured polygon faces. Faces keep the order
// in which they were added; deleting one closes the gap. A face is reached through a
// handle that stays valid (and keeps naming the same face) while other faces are
// deleted; a handle to a deleted face is simply ignored.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "retained/Frame.h"
#include "retained/Math.h"

namespace vesk::retained {

struct FaceHandle {
    static constexpr std::uint32_t noSlot = 0xFFFFFFFFu;
    std::uint32_t slot = noSlot;
    std::uint32_t generation = 0;
    explicit operator bool() const { return slot != noSlot; }
    bool operator==(const FaceHandle&) const = default;
};

class MeshBuilder;

// A view of a mesh's faces in their present order. It copies nothing: it reads the mesh
// it came from, so it sees later additions and deletions.
class FaceArray {
public:
    explicit FaceArray(const MeshBuilder& mesh) : mesh_(&mesh) {}
    std::size_t size() const;
    // The face at `index`, or an empty handle past the end.
    FaceHandle element(std::size_t index) const;

private:
    const MeshBuilder* mesh_;
};

class MeshBuilder {
public:
    static constexpr std::size_t maxFaceVertices = 8;
    static constexpr Colour defaultFaceColour = 0xFFFFFFFF;

    struct Face {
        std::array<Vector3, maxFaceVertices> vertices{};
        std::uint8_t vertexCount = 0;
        Colour colour = defaultFaceColour;
    };

    // Appends one face after all faces added before. The polygon must be convex and
    // planar enough to be drawn flat; its front is the side from which its vertices run
    // clockwise. Fewer than 3 or more than maxFaceVertices vertices add nothing and give
    // an empty handle.
    FaceHandle addFace(std::span<const Vector3> vertices);

    FaceArray faces() const { return FaceArray(*this); }
    std::size_t faceCount() const { return order_.size(); }
    FaceHandle faceAt(std::size_t index) const;

    // Removes the face; the faces after it move down one place. False for a handle
    // that names no live face.
    bool deleteFace(FaceHandle face);
    bool setFaceColour(FaceHandle face, Colour colour);
    // The face's data, or nullptr for a handle that names no live face.
    const Face* face(FaceHandle face) const;

    // Faces in order, for the renderer.
    template <typename Visit>
    void forEachFace(Visit&& visit) const {
        for (std::uint32_t slot : order_) visit(slots_[slot].face);
    }

private:
    struct Slot {
        Face face;
        std::uint32_t generation = 0;
        bool live = false;
    };
    std::vector<Slot> slots_;
    std::vector<std::uint32_t> freeSlots_;
    std::vector<std::uint32_t> order_;  // slot of each face, in face order
};

}  // namespace vesk::retained
