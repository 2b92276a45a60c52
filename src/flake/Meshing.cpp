// Segment geometry: the two ridge quads of a segment, appended to the flake mesh.
#include "flake/Meshing.h"

#include <cassert>
#include <cmath>

#include "flake/Growth.h"

namespace vesk::flake {
namespace {

// Widths alternate with depth: even depths narrow from start to end and lift the start
// edge, odd depths widen and lift the end edge, so consecutive segments interlock.
struct QuadShape {
    double startHalfWidth;  // w
    double endHalfWidth;    // u
    double startLift;       // zS
    double endLift;         // zE
};

constexpr float narrowHalfWidth = 0.012f;
constexpr float wideHalfWidth = 0.018f;
constexpr float seedArmHalfWidth = 0.036f;  // the seed arms, meshed while only they exist
constexpr float edgeLift = 0.02f;
constexpr float ridgeHeight = 0.035f;
constexpr float drawnFraction = 0.95f;  // a quad stops short of its segment's end

QuadShape shapeFor(int depth, int segmentCount) {
    const bool even = depth % 2 == 0;
    QuadShape s{even ? wideHalfWidth : narrowHalfWidth, even ? narrowHalfWidth : wideHalfWidth,
                even ? edgeLift : 0.0, even ? 0.0 : edgeLift};
    if (segmentCount <= seedArmCount) s.startHalfWidth = seedArmHalfWidth;
    return s;
}

retained::Vector3 vertex(double x, double y, double z) {
    // Each coordinate is stored in single precision.
    return {float(x), float(y), float(z)};
}

}  // namespace

Quad buildQuadA(float startX, float startY, float startZ, float heading, int depth, float len,
                int segmentCount) {
    const QuadShape s = shapeFor(depth, segmentCount);
    const double sn = std::sin(double(heading)), cs = std::cos(double(heading)), L = len;
    const double x = startX, y = startY, z = startZ, h = ridgeHeight;
    const double w = s.startHalfWidth, u = s.endHalfWidth;
    return {vertex(x + sn * L - u * cs, y + cs * L + u * sn, z + s.endLift),
            vertex(x + sn * L, y + cs * L - u * sn, z + s.endLift + h),
            vertex(x, y - w * sn, z + s.startLift + h),
            vertex(x - w * cs, y + w * sn, z + s.startLift)};
}

Quad buildQuadB(float startX, float startY, float startZ, float heading, int depth, float len,
                int segmentCount) {
    const QuadShape s = shapeFor(depth, segmentCount);
    const double sn = std::sin(double(heading)), cs = std::cos(double(heading)), L = len;
    const double x = startX, y = startY, z = startZ, h = ridgeHeight;
    const double w = s.startHalfWidth, u = s.endHalfWidth;
    return {vertex(x + sn * L, y + cs * L + u * sn, z + s.endLift + h),
            vertex(x + sn * L + u * cs, y + cs * L - u * sn, z + s.endLift),
            vertex(x + w * cs, y - w * sn, z + s.startLift),
            vertex(x, y + w * sn, z + s.startLift + h)};
}

void addSegmentFaces(const FlakeState& flake, retained::MeshBuilder& mesh, int i) {
    const Segment* seg = flake.segmentAt(i);
    assert(seg && "addSegmentFaces needs a live segment");
    if (!seg) return;
    const float len = float(double(seg->length) * double(drawnFraction));
    const Quad a = buildQuadA(seg->startX, seg->startY, seg->startZ, seg->heading, seg->depth,
                              len, flake.segmentCount);
    const Quad b = buildQuadB(seg->startX, seg->startY, seg->startZ, seg->heading, seg->depth,
                              len, flake.segmentCount);
    mesh.addFace(a);
    mesh.addFace(b);
}

bool growAndMesh(FlakeState& flake, retained::MeshBuilder& mesh, RandomSource& random, int note,
                 int scoreTick) {
    if (!growSegment(flake, random, note, scoreTick)) return false;
    // The segment just grown is the one whose faces come next.
    assert(flake.meshSegmentCount == flake.segmentCount - 1 &&
           "meshSegmentCount must trail segmentCount by the segment just grown");
    Segment* grown = flake.segmentAt(flake.meshSegmentCount);
    if (!grown) return false;
    if (flake.segmentCount < meshCapacitySegments) addSegmentFaces(flake, mesh, flake.meshSegmentCount);
    grown->note = std::uint8_t(note & noteByteMask);
    return true;
}

}  // namespace vesk::flake
