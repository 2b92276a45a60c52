// Mesh builder: one face per call, kept in order; deletes close the gap; handles taken
// before a delete keep naming their face.
#include <gtest/gtest.h>

#include <vector>

#include "retained/MeshBuilder.h"

using namespace vesk::retained;

namespace {

// A quad whose first vertex's x tells the faces apart.
std::vector<Vector3> quad(float id) { return {{id, 0, 0}, {id, 1, 0}, {id + 1, 1, 0}, {id + 1, 0, 0}}; }

std::vector<float> order(const MeshBuilder& mesh) {
    std::vector<float> ids;
    mesh.forEachFace([&](const MeshBuilder::Face& f) { ids.push_back(f.vertices[0].x); });
    return ids;
}

}  // namespace

TEST(MeshBuilder, FacesStayInOrderAndDeletesCloseTheGap) {
    MeshBuilder mesh;
    const FaceArray faces = mesh.faces();  // a view: it sees later changes
    for (int i = 0; i < 6; ++i) EXPECT_TRUE(mesh.addFace(quad(float(i))));
    EXPECT_EQ(faces.size(), 6u);
    EXPECT_EQ(order(mesh), (std::vector<float>{0, 1, 2, 3, 4, 5}));

    // The finale takes a segment's two faces from the array, then deletes both: the
    // second handle must still name face 3 after face 2 is gone.
    const FaceHandle first = faces.element(2), second = faces.element(3);
    EXPECT_TRUE(mesh.deleteFace(first));
    EXPECT_TRUE(mesh.deleteFace(second));
    EXPECT_EQ(order(mesh), (std::vector<float>{0, 1, 4, 5}));
    EXPECT_EQ(mesh.face(faces.element(2))->vertices[0].x, 4.0f);

    // Deleted handles are ignored, also once their storage is reused by a new face.
    EXPECT_FALSE(mesh.deleteFace(first));
    EXPECT_TRUE(mesh.addFace(quad(6)));
    EXPECT_FALSE(mesh.setFaceColour(first, 0xFF112233));
    EXPECT_FALSE(mesh.setFaceColour(second, 0xFF112233));
    EXPECT_EQ(mesh.face(first), nullptr);
    EXPECT_EQ(order(mesh), (std::vector<float>{0, 1, 4, 5, 6}));
    EXPECT_EQ(mesh.face(mesh.faceAt(4))->colour, MeshBuilder::defaultFaceColour);

    EXPECT_FALSE(faces.element(5));  // past the end: an empty handle
    EXPECT_FALSE(mesh.deleteFace(FaceHandle{}));
}

TEST(MeshBuilder, ColoursFollowTheirFace) {
    MeshBuilder mesh;
    for (int i = 0; i < 4; ++i) mesh.addFace(quad(float(i)));
    const FaceHandle last = mesh.faceAt(3);
    mesh.deleteFace(mesh.faceAt(0));
    EXPECT_TRUE(mesh.setFaceColour(last, 0xFF102030));
    EXPECT_EQ(mesh.face(mesh.faceAt(2))->colour, 0xFF102030u);
    EXPECT_EQ(mesh.face(mesh.faceAt(1))->colour, MeshBuilder::defaultFaceColour);
}

TEST(MeshBuilder, RejectsFacesItCannotDraw) {
    MeshBuilder mesh;
    const std::vector<Vector3> two = {{0, 0, 0}, {1, 0, 0}};
    const std::vector<Vector3> nine(9, Vector3{});
    EXPECT_FALSE(mesh.addFace(two));
    EXPECT_FALSE(mesh.addFace(nine));
    EXPECT_EQ(mesh.faceCount(), 0u);
}
