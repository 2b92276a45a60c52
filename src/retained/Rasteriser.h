// The software rasteriser behind Viewport: clips camera-space polygons to the view volume
// and fills screen-space convex polygons into a colour and depth buffer, flat and
// z-buffered. It knows nothing of frames, meshes or lights; Viewport feeds it.
#pragma once

#include <cstdint>

#include "retained/Math.h"
#include "retained/MeshBuilder.h"
#include "retained/PixelView.h"

namespace vesk::retained {

// A half-space of camera space: a point p is kept where a*p.x + b*p.y + c*p.z + d >= 0.
struct ClipPlane {
    float a = 0.0f;
    float b = 0.0f;
    float c = 0.0f;
    float d = 0.0f;
};

// Near, far and the four sides of a guard band around the viewport.
constexpr int viewVolumePlanes = 6;
// Each plane cuts at most one corner off a convex polygon, adding one vertex.
constexpr int maxClippedVertices = int(MeshBuilder::maxFaceVertices) + viewVolumePlanes;

// Clips the convex polygon `in` (count vertices) against every plane; writes the part
// inside to `out` (room for maxClippedVertices) and returns its vertex count, 0 when
// nothing is left. Vertices inside every plane are passed through bit for bit, so faces
// sharing an edge still share it exactly after clipping.
int clipPolygon(const Vector3* in, int count, const ClipPlane (&planes)[viewVolumePlanes],
                Vector3* out);

// A projected vertex: position in pixels (pixel centres at i + 0.5) and 1/depth, which
// is linear in screen space and so can be interpolated across a triangle.
struct ScreenPoint {
    float x = 0.0f;
    float y = 0.0f;
    float inverseDepth = 0.0f;
};

// Where the rasteriser draws: colour (0xFFRRGGBB) and depth (1/depth, 0 = infinitely
// far) share one row layout; nothing outside `scissor` is touched.
struct RasterTarget {
    std::uint32_t* colour = nullptr;
    float* depth = nullptr;
    int stride = 0;
    Rect scissor;
};

// Fills the convex polygon as a triangle fan from its first vertex, keeping each pixel
// whose centre is covered and whose 1/depth is strictly greater than the stored one.
// Returns the bounding rectangle of the pixels covered (empty if none).
Rect fillConvexPolygon(const RasterTarget& target, const ScreenPoint* points, int count,
                       std::uint32_t colour);

}  // namespace vesk::retained
