// The software rasteriser behind Viewport: clips camera-space polygons to the view volume,
// projects them and fills them into a colour and depth buffer, flat and z-buffered. It
// knows nothing of frames, meshes or lights; Viewport feeds it.
#pragma once

#include <cstdint>

#include "retained/Math.h"
#include "retained/MeshBuilder.h"
#include "retained/PixelView.h"

namespace vesk::retained {

// How camera space (x right, y up, z away from the viewer) reaches the screen. A point is
// seen `scale` * x / z pixels right of (centreX, centreY) and `scale` * y / z pixels up
// from it, pixel centres lying at i + 0.5. What is drawn lies from `front` to `back` along
// z and within `guardBand` pixels of the centre; faces reaching past the guard band are
// cut there, which keeps the rasteriser's fixed-point coordinates small.
struct View {
    float centreX = 0.0f;
    float centreY = 0.0f;
    float scale = 1.0f;
    float front = 1.0f;
    float back = 100.0f;
    float guardBand = 1.0f;
};

// Where the rasteriser draws: colour (0xFFRRGGBB) and depth (1/depth, 0 = infinitely
// far) share one row layout; nothing outside `scissor` is touched.
struct RasterTarget {
    std::uint32_t* colour = nullptr;
    float* depth = nullptr;
    int stride = 0;
    Rect scissor;
};

// Draws the convex camera-space polygon of `count` vertices (3 to maxFaceVertices): the
// part inside the view volume, projected, keeping each pixel whose centre is covered and
// whose 1/depth is strictly greater than the stored one. Depth is interpolated over a fan
// of triangles from the first vertex. Returns the bounding rectangle of the pixels covered
// (empty if none). Faces that share an edge neither leave a crack between them nor both
// draw a pixel on it.
Rect drawPolygon(const RasterTarget& target, const View& view, const Vector3* vertices,
                 int count, std::uint32_t colour);

}  // namespace vesk::retained
