// Segment quads and their place in the mesh.
#include <gtest/gtest.h>

#include "flake/Meshing.h"
#include "support/TestRandom.h"

using namespace vesk::flake;
using vesk::retained::MeshBuilder;
using vesk::retained::Vector3;

namespace {

void expectQuad(const Quad& q, const std::array<Vector3, 4>& expected) {
    for (int v = 0; v < 4; ++v) {
        SCOPED_TRACE(v);
        EXPECT_NEAR(q[v].x, expected[v].x, 1e-6f);
        EXPECT_NEAR(q[v].y, expected[v].y, 1e-6f);
        EXPECT_NEAR(q[v].z, expected[v].z, 1e-6f);
    }
}

// Grows the six seed arms the way a new performance does.
void growSeedArms(FlakeState& flake, MeshBuilder& mesh, RandomSource& random) {
    for (int i = 0; i < seedArmCount; ++i) {
        ASSERT_TRUE(growAndMesh(flake, mesh, random, 72, 0));
        ++flake.meshSegmentCount;
    }
}

}  // namespace

TEST(Meshing, FirstSeedArmIsARidgeOfTwoQuads) {
    FlakeState flake;
    MeshBuilder mesh;
    vesk::test::ScriptedRandom random({0});
    ASSERT_TRUE(growAndMesh(flake, mesh, random, 72, 0));
    ASSERT_EQ(mesh.faceCount(), 2u);
    const auto* a = mesh.face(mesh.faceAt(0));
    const auto* b = mesh.face(mesh.faceAt(1));
    ASSERT_TRUE(a && b);
    expectQuad({a->vertices[0], a->vertices[1], a->vertices[2], a->vertices[3]},
               {{{-0.012f, 0.2945f, 0}, {0, 0.2945f, 0.035f}, {0, 0, 0.055f}, {-0.036f, 0, 0.02f}}});
    expectQuad({b->vertices[0], b->vertices[1], b->vertices[2], b->vertices[3]},
               {{{0, 0.2945f, 0.035f}, {0.012f, 0.2945f, 0}, {0.036f, 0, 0.02f}, {0, 0, 0.055f}}});
}

TEST(Meshing, WidthsAndLiftsAlternateWithDepth) {
    struct Case {
        int depth, segmentCount;
        float w, u, zS, zE;
    };
    const Case cases[] = {
        {0, 1, 0.036f, 0.012f, 0.02f, 0.0f},   // seed arms are wide at the start
        {1, 6, 0.036f, 0.018f, 0.0f, 0.02f},   // whatever their depth, while only they exist
        {1, 7, 0.012f, 0.018f, 0.0f, 0.02f},
        {2, 7, 0.018f, 0.012f, 0.02f, 0.0f},
        {21, 900, 0.012f, 0.018f, 0.0f, 0.02f},
    };
    const float len = 0.25f, h = 0.035f;
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.depth << " " << c.segmentCount);
        // Heading 0 from (1, 2, 0): the minus side is -x, the plus side +x.
        expectQuad(buildQuadA(1, 2, 0, 0, c.depth, len, c.segmentCount),
                   {{{1 - c.u, 2 + len, c.zE}, {1, 2 + len, c.zE + h}, {1, 2, c.zS + h}, {1 - c.w, 2, c.zS}}});
        expectQuad(buildQuadB(1, 2, 0, 0, c.depth, len, c.segmentCount),
                   {{{1, 2 + len, c.zE + h}, {1 + c.u, 2 + len, c.zE}, {1 + c.w, 2, c.zS}, {1, 2, c.zS + h}}});
    }
    // Off the y axis the raised vertices shift by the y part of the side offset only.
    const Quad q = buildQuadA(0, 0, 0, 1.0f, 2, 1.0f, 100);
    EXPECT_NEAR(q[2].x, 0.0f, 1e-7f);
    EXPECT_NEAR(q[2].y, -0.018 * std::sin(1.0), 1e-7f);
}

TEST(Meshing, EachSegmentOwnsFaces2iAnd2iPlus1) {
    FlakeState flake;
    MeshBuilder mesh;
    vesk::test::LcgRandom random(3);
    growSeedArms(flake, mesh, random);
    EXPECT_EQ(mesh.faceCount(), 12u);
    for (int n = 1; n <= 40; ++n) {
        ASSERT_TRUE(growAndMesh(flake, mesh, random, 48 + n % 30, n));
        ++flake.meshSegmentCount;
        ASSERT_EQ(mesh.faceCount(), 12u + 2u * n);
    }
    for (int i : {0, 5, 6, 20, 45}) {
        const Segment& s = *flake.segments[i];
        const float len = float(double(s.length) * double(0.95f));
        const Quad a = buildQuadA(s.startX, s.startY, s.startZ, s.heading, s.depth, len, i + 1);
        const auto* face = mesh.face(mesh.faceAt(2 * i));
        ASSERT_TRUE(face);
        for (int v = 0; v < 4; ++v) EXPECT_EQ(face->vertices[v].y, a[v].y) << i << " " << v;
        EXPECT_EQ(mesh.face(mesh.faceAt(2 * i + 1))->vertices[1].x,
                  buildQuadB(s.startX, s.startY, s.startZ, s.heading, s.depth, len, i + 1)[1].x);
    }
}

TEST(Meshing, TheSegmentThatFillsTheMeshGetsNoFaces) {
    FlakeState flake;
    MeshBuilder mesh;
    vesk::test::LcgRandom random(11);
    growSeedArms(flake, mesh, random);
    while (flake.meshSegmentCount < meshCapacitySegments - 1) {
        ASSERT_TRUE(growAndMesh(flake, mesh, random, 60 + flake.segmentCount % 12, 1));
        ++flake.meshSegmentCount;
    }
    ASSERT_EQ(mesh.faceCount(), 2u * 1999);
    ASSERT_TRUE(growAndMesh(flake, mesh, random, 0x17F, 2));
    EXPECT_EQ(flake.segmentCount, 2000);
    EXPECT_EQ(mesh.faceCount(), 2u * 1999);
    EXPECT_EQ(flake.segments[1999]->note, 0x7F);
}
