// Segment geometry in the mesh: each segment is drawn as two thin quads, one on each side
// of its centre line, forming a low ridge. Segment i owns faces 2i and 2i + 1 of the one
// flake mesh, because faces are only ever appended here, two per segment, in growth order.
#pragma once

#include <array>

#include "flake/FlakeState.h"
#include "flake/Random.h"
#include "retained/MeshBuilder.h"

namespace vesk::flake {

// The mesh holds the faces of at most this many segments; the segment that would make
// it 2000 is grown but not meshed.
constexpr int meshCapacitySegments = 2000;

using Quad = std::array<retained::Vector3, 4>;

// Grows one segment for `note` and adds its two quads to `mesh`. The caller adds 1 to
// meshSegmentCount afterwards. False when nothing could be grown (the flake is full).
bool growAndMesh(FlakeState& flake, retained::MeshBuilder& mesh, RandomSource& random, int note,
                 int scoreTick);

// Builds both quads of segments[i] and appends them to `mesh`, first quad first.
void addSegmentFaces(const FlakeState& flake, retained::MeshBuilder& mesh, int i);

// The quads of a segment starting at `start` with `heading`, at `depth`, drawn `len` long,
// while the flake has `segmentCount` segments (the seed arms are drawn wider). The first
// quad lies on the minus side of the centre line, the second on the plus side.
Quad buildQuadA(float startX, float startY, float startZ, float heading, int depth, float len,
                int segmentCount);
Quad buildQuadB(float startX, float startY, float startZ, float heading, int depth, float len,
                int segmentCount);

}  // namespace vesk::flake
