// Frames: child order, rotations and their combine semantics, positions relative to a
// reference frame, and the camera's orientation.
#include <gtest/gtest.h>

#include <cmath>

#include "retained/Frame.h"

using namespace vesk::retained;

namespace {

constexpr float halfTurn = 3.14159265f / 2;

void expectNear(Vector3 actual, Vector3 expected) {
    EXPECT_NEAR(actual.x, expected.x, 1e-5f);
    EXPECT_NEAR(actual.y, expected.y, 1e-5f);
    EXPECT_NEAR(actual.z, expected.z, 1e-5f);
}

Vector3 worldOf(const Frame& f, Vector3 local) { return f.worldTransform().transformPoint(local); }

}  // namespace

TEST(Frame, ChildrenKeepTheirCreationOrder) {
    auto scene = Frame::createRoot();
    Frame& camera = scene->createChild();
    Frame& flake = scene->createChild();
    ASSERT_EQ(scene->childCount(), 2u);
    EXPECT_EQ(scene->child(0), &camera);
    EXPECT_EQ(scene->child(1), &flake);
    EXPECT_EQ(scene->child(2), nullptr);
    EXPECT_EQ(flake.parent(), scene.get());
    EXPECT_EQ(&flake.root(), scene.get());
}

TEST(Frame, RotationsCombine) {
    auto scene = Frame::createRoot();
    Frame& f = scene->createChild();

    // A positive turn about +z takes +x towards +y.
    f.addRotation(Combine::After, {0, 0, 1}, halfTurn);
    expectNear(worldOf(f, {1, 0, 0}), {0, 1, 0});
    // After: rotations accumulate.
    f.addRotation(Combine::After, {0, 0, 1}, halfTurn);
    expectNear(worldOf(f, {1, 0, 0}), {-1, 0, 0});
    // Replace with no axis and no angle throws the accumulated rotation away.
    f.addRotation(Combine::Replace, {0, 0, 0}, 0.0f);
    expectNear(worldOf(f, {1, 0, 0}), {1, 0, 0});

    // With a position, After turns the frame about its parent's origin, Before about its own.
    f.setPosition(nullptr, {2, 0, 0});
    f.addRotation(Combine::Before, {0, 0, 1}, halfTurn);
    expectNear(worldOf(f, {0, 0, 0}), {2, 0, 0});
    expectNear(worldOf(f, {1, 0, 0}), {2, 1, 0});
    f.addRotation(Combine::After, {0, 0, 1}, halfTurn);
    expectNear(worldOf(f, {0, 0, 0}), {0, 2, 0});
    // Replace also drops the position.
    f.addRotation(Combine::Replace, {0, 0, 1}, halfTurn);
    expectNear(worldOf(f, {0, 0, 0}), {0, 0, 0});
    expectNear(worldOf(f, {1, 0, 0}), {0, 1, 0});

    // Thousands of small steps do not drift from one rotation by their sum.
    Frame& spun = scene->createChild();
    for (int i = 0; i < 10000; ++i) spun.addRotation(Combine::After, {0, 0, 1}, -0.08f);
    const double total = 10000 * double(-0.08f);
    expectNear(worldOf(spun, {1, 0, 0}), {float(std::cos(total)), float(std::sin(total)), 0});
}

TEST(Frame, PositionsAndOrientationRelativeToAReference) {
    auto scene = Frame::createRoot();
    Frame& moved = scene->createChild();
    moved.setPosition(nullptr, {1, 0, 0});
    moved.addRotation(Combine::Before, {0, 0, 1}, halfTurn);
    Frame& child = moved.createChild();

    // Placed at (0, 3, 0) of the scene although its parent is moved and turned.
    child.setPosition(scene.get(), {0, 3, 0});
    expectNear(worldOf(child, {0, 0, 0}), {0, 3, 0});

    // A camera looking along the scene's +z with +y up, from wherever its parent stands.
    child.setOrientation(scene.get(), {0, 0, 1}, {0, 1, 0});
    const Matrix4 w = child.worldTransform();
    expectNear(w.transformDirection({0, 0, 1}), {0, 0, 1});
    expectNear(w.transformDirection({0, 1, 0}), {0, 1, 0});
    expectNear(w.transformDirection({1, 0, 0}), {1, 0, 0});  // left-handed: x = y cross z

    // An up vector not square to the direction is straightened; a zero direction is ignored.
    child.setOrientation(scene.get(), {0, 0, 2}, {0, 1, 1});
    expectNear(child.worldTransform().transformDirection({0, 1, 0}), {0, 1, 0});
    child.setOrientation(scene.get(), {0, 0, 0}, {0, 1, 0});
    expectNear(child.worldTransform().transformDirection({0, 0, 1}), {0, 0, 1});
}
