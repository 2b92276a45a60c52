// The software rasteriser: Sutherland-Hodgman clipping in camera space, then triangle
// fans filled with fixed-point edge functions under the top-left rule, so faces that
// share an edge neither leave a crack between them nor draw a pixel twice. Each row's run
// is found exactly from the edge functions, so no pixel outside a triangle is visited.
#include "retained/Rasteriser.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstring>

namespace vesk::retained {

namespace {

// Vertices snap to 1/256 pixel before the edge functions are set up; the edge functions
// are then exact integers, which is what makes the fill rule hold on shared edges.
constexpr int subpixelBits = 8;
constexpr std::int64_t subpixelsPerPixel = std::int64_t(1) << subpixelBits;
constexpr std::int64_t halfPixel = subpixelsPerPixel / 2;
// The viewport's guard band keeps coordinates far inside this; the clamp only guards the
// 64-bit products (differences below 2^29 squared stay below 2^58).
constexpr float maxSnappedCoordinate = float(std::int64_t(1) << 27);

struct SnappedPoint {
    std::int64_t x;
    std::int64_t y;
    float inverseDepth;
};

float distanceTo(const ClipPlane& plane, const Vector3& p) {
    return plane.a * p.x + plane.b * p.y + plane.c * p.z + plane.d;
}

// Always measured from the inside vertex, so two faces crossing the plane along a shared
// edge (which they walk in opposite directions) compute the very same new vertex.
Vector3 crossing(const Vector3& inside, float insideDistance, const Vector3& outside,
                 float outsideDistance) {
    const float t = insideDistance / (insideDistance - outsideDistance);  // in [0, 1)
    return {inside.x + t * (outside.x - inside.x), inside.y + t * (outside.y - inside.y),
            inside.z + t * (outside.z - inside.z)};
}

int clipAgainst(const Vector3* in, int count, const ClipPlane& plane, Vector3* out) {
    int written = 0;
    auto emit = [&](const Vector3& v) {
        // A convex polygon gains at most one vertex per plane; a face that is not quite
        // convex could gain more, and then loses its excess rather than overrunning.
        if (written < maxClippedVertices) out[written++] = v;
    };
    for (int i = 0; i < count; ++i) {
        const Vector3& a = in[i];
        const Vector3& b = in[i + 1 < count ? i + 1 : 0];
        const float da = distanceTo(plane, a);
        const float db = distanceTo(plane, b);
        if (da >= 0.0f) emit(a);
        if ((da >= 0.0f) != (db >= 0.0f))
            emit(da >= 0.0f ? crossing(a, da, b, db) : crossing(b, db, a, da));
    }
    return written;
}

// Floor division by the subpixel count; C++20 defines >> on negatives as arithmetic.
std::int64_t floorToPixels(std::int64_t subpixels) { return subpixels >> subpixelBits; }

// Rounds half away from zero. Any rounding would do, as long as one position always
// snaps to the same subpixel; this one needs no library call.
std::int64_t snap(float pixels) {
    const float scaled = std::clamp(pixels * float(subpixelsPerPixel), -maxSnappedCoordinate,
                                    maxSnappedCoordinate);
    return std::int64_t(scaled + (scaled < 0.0f ? -0.5f : 0.5f));
}

// Pixels left of or above a triangle's edge belong to it only where that edge is a top
// or a left edge. With y down and the triangle turning clockwise on screen, a left edge
// runs upwards and a top edge runs rightwards along a row.
bool isTopLeft(const SnappedPoint& from, const SnappedPoint& to) {
    const std::int64_t dx = to.x - from.x;
    const std::int64_t dy = to.y - from.y;
    return dy < 0 || (dy == 0 && dx > 0);
}

struct Edge {
    std::int64_t value;  // at the first sample of the bounding box, fill-rule bias included
    std::int64_t stepX;  // per pixel to the right
    std::int64_t stepY;  // per pixel down
};

// Positive on the inside of a clockwise (on screen) triangle.
Edge setUpEdge(const SnappedPoint& from, const SnappedPoint& to, std::int64_t sampleX,
               std::int64_t sampleY) {
    const std::int64_t dx = to.x - from.x;
    const std::int64_t dy = to.y - from.y;
    const std::int64_t bias = isTopLeft(from, to) ? 0 : -1;
    return {dx * (sampleY - from.y) - dy * (sampleX - from.x) + bias, -dy * subpixelsPerPixel,
            dx * subpixelsPerPixel};
}

// floor(value / divisor) and the remainder, for divisor > 0. Five of these divisors are
// set up per quad, so each quotient is guessed from the divisor's reciprocal in double
// (cheaper than 64-bit integer division) and then made exact.
struct Division {
    std::int64_t quotient;
    std::int64_t remainder;  // in [0, divisor)
};

Division floorDivide(std::int64_t value, std::int64_t divisor, double reciprocal) {
    std::int64_t quotient = std::int64_t(double(value) * reciprocal);  // toward zero
    std::int64_t remainder = value - quotient * divisor;
    // Truncation leaves a negative remainder for about half the negative values: one step
    // down, without a branch. Rounding in the guess is rarer and taken by the loops.
    const std::int64_t negative = remainder >> 63;
    quotient += negative;
    remainder += divisor & negative;
    while (remainder < 0) {
        --quotient;
        remainder += divisor;
    }
    while (remainder >= divisor) {
        ++quotient;
        remainder -= divisor;
    }
    return {quotient, remainder};
}

// Where one edge bounds each row's run of covered pixels, found exactly from the edge
// function and carried from row to row without dividing (a DDA on the quotient). On a row
// with value W at the first column, the pixel k columns on is inside where
// W + stepX * k >= 0; with m = |stepX| that is k >= -floor(W / m) for an edge whose value
// rises to the right (it bounds the run on the left) and k <= floor(W / m) for one whose
// value falls. A horizontal edge admits or refuses whole rows.
class RowBound {
public:
    RowBound() = default;  // allows every column of every row
    RowBound(const Edge& edge, std::int64_t widest) {
        if (edge.stepX == 0) {
            // Treated as bounding on the left, at column 0 or past the widest run.
            horizontal_ = true;
            refused_ = widest + 1;
            value_ = edge.value;
            valueStep_ = edge.stepY;
            lowest_ = value_ >= 0 ? 0 : refused_;
            return;
        }
        horizontal_ = false;
        boundsLeft_ = edge.stepX > 0;
        divisor_ = boundsLeft_ ? edge.stepX : -edge.stepX;
        const double reciprocal = 1.0 / double(divisor_);
        const Division start = floorDivide(edge.value, divisor_, reciprocal);
        const Division step = floorDivide(edge.stepY, divisor_, reciprocal);
        quotient_ = start.quotient;
        remainder_ = start.remainder;
        quotientStep_ = step.quotient;
        remainderStep_ = step.remainder;
        setLimits();
    }

    // The first and last columns this edge allows on the present row.
    std::int64_t lowest() const { return lowest_; }
    std::int64_t highest() const { return highest_; }

    void nextRow() {
        if (horizontal_) {
            value_ += valueStep_;
            lowest_ = value_ >= 0 ? 0 : refused_;
            return;
        }
        // Whether the remainder carries follows no pattern a branch predictor could learn,
        // so the carry is taken from the sign bit instead.
        const std::int64_t past = remainder_ + remainderStep_ - divisor_;
        const std::int64_t noCarry = past >> 63;  // -1 without a carry, 0 with one
        remainder_ = past + (divisor_ & noCarry);
        quotient_ += quotientStep_ + 1 + noCarry;
        setLimits();
    }

private:
    void setLimits() {
        if (boundsLeft_)
            lowest_ = -quotient_;
        else
            highest_ = quotient_;
    }

    static constexpr std::int64_t unbounded_ = std::int64_t(1) << 62;
    bool horizontal_ = true;
    bool boundsLeft_ = true;
    std::int64_t lowest_ = 0;
    std::int64_t highest_ = unbounded_;
    std::int64_t divisor_ = 1;
    std::int64_t quotient_ = 0;   // floor(W / divisor)
    std::int64_t remainder_ = 0;  // W - quotient * divisor, in [0, divisor)
    std::int64_t quotientStep_ = 0;
    std::int64_t remainderStep_ = 0;
    std::int64_t value_ = 0;  // W itself, for a horizontal edge
    std::int64_t valueStep_ = 0;
    std::int64_t refused_ = 0;
};

// 1/depth over the screen for one triangle: its value at the first sample of the area
// being filled and its change per column and per row. Linear in screen space, so exact
// for a flat triangle; taken in double so that rows far from the corner do not drift.
struct DepthPlane {
    double atCorner;
    double perColumn;
    double perRow;
};

DepthPlane depthPlane(const SnappedPoint& a, const SnappedPoint& b, const SnappedPoint& c,
                      std::int64_t sampleX, std::int64_t sampleY) {
    // The signed area cancels out, so either turning of the triangle gives the same plane.
    const double area = double((b.x - a.x) * (c.y - a.y) - (b.y - a.y) * (c.x - a.x));
    const double toB = double(b.inverseDepth - a.inverseDepth);
    const double toC = double(c.inverseDepth - a.inverseDepth);
    const double perSubpixelX = (toB * double(c.y - a.y) - toC * double(b.y - a.y)) / area;
    const double perSubpixelY = (toC * double(b.x - a.x) - toB * double(c.x - a.x)) / area;
    return {a.inverseDepth + perSubpixelX * double(sampleX - a.x) +
                perSubpixelY * double(sampleY - a.y),
            perSubpixelX * double(subpixelsPerPixel), perSubpixelY * double(subpixelsPerPixel)};
}

// The pixels whose centres lie in the snapped points' bounding box, within the scissor.
struct PixelBox {
    int left, top, right, bottom;  // inclusive
    bool empty() const { return left > right || top > bottom; }
};

PixelBox pixelBox(const RasterTarget& target, const SnappedPoint* points, int count) {
    std::int64_t minX = points[0].x, maxX = minX, minY = points[0].y, maxY = minY;
    for (int i = 1; i < count; ++i) {
        minX = std::min(minX, points[i].x);
        maxX = std::max(maxX, points[i].x);
        minY = std::min(minY, points[i].y);
        maxY = std::max(maxY, points[i].y);
    }
    // Pixel i is sampled at its centre, i * 256 + 128 in subpixels.
    const auto firstSample = [](std::int64_t low) { return -floorToPixels(halfPixel - low); };
    const auto lastSample = [](std::int64_t high) { return floorToPixels(high - halfPixel); };
    return {int(std::max<std::int64_t>(target.scissor.left, firstSample(minX))),
            int(std::max<std::int64_t>(target.scissor.top, firstSample(minY))),
            int(std::min<std::int64_t>(target.scissor.right - 1, lastSample(maxX))),
            int(std::min<std::int64_t>(target.scissor.bottom - 1, lastSample(maxY)))};
}

// Strictly nearer wins, so of two faces at equal depth the earlier stays. Written without
// a branch: which face is nearer is all but random.
inline void keepIfNearer(std::uint32_t& colourAt, float& depthAt, float inverseDepth,
                         std::uint32_t colour) {
    const float stored = depthAt;
    const std::uint32_t keepNew = 0u - std::uint32_t(inverseDepth > stored);
    depthAt = std::bit_cast<float>((std::bit_cast<std::uint32_t>(inverseDepth) & keepNew) |
                                   (std::bit_cast<std::uint32_t>(stored) & ~keepNew));
    colourAt = (colour & keepNew) | (colourAt & ~keepNew);
}

// Four pixels at once: the runs on the flake's thin quads are a few pixels long, and a
// loop pixel by pixel spent most of its time entering and leaving. GCC and Clang vector
// extensions; no particular instruction set is assumed.
using FourFloats = float __attribute__((vector_size(16)));
using FourMasks = std::int32_t __attribute__((vector_size(16)));
constexpr int pixelGroup = 4;

// One row's run of covered pixels. Where a convex quad is filled in one pass, the run
// holds pixels of both its triangles: those from firstOfFirst to lastOfFirst take the
// first triangle's depth, the others the second's.
struct Run {
    std::uint32_t* colour;
    float* depth;
    int length;
    float depthFirst, stepFirst;    // 1/depth at the run's start and per pixel
    float depthSecond, stepSecond;
    int firstOfFirst, lastOfFirst;  // pixels of the first triangle, from the run's start
};

inline void keepFourIfNearer(const Run& run, int start, std::uint32_t colour) {
    const FourFloats index = FourFloats{0.0f, 1.0f, 2.0f, 3.0f} + float(start);
    const FourMasks inFirst =
        (index >= float(run.firstOfFirst)) & (index <= float(run.lastOfFirst));
    const FourFloats first = run.depthFirst + run.stepFirst * index;
    const FourFloats second = run.depthSecond + run.stepSecond * index;
    const FourMasks inverseDepth = (FourMasks(first) & inFirst) | (FourMasks(second) & ~inFirst);
    FourFloats stored;
    FourMasks colours;
    std::memcpy(&stored, run.depth + start, sizeof stored);
    std::memcpy(&colours, run.colour + start, sizeof colours);
    // Pixels past the run's end are written back unchanged.
    const FourMasks keepNew =
        (FourFloats(inverseDepth) > stored) & (index < float(run.length));
    const FourMasks depthBits = (inverseDepth & keepNew) | (FourMasks(stored) & ~keepNew);
    const FourMasks colourBits =
        ((FourMasks{} + std::int32_t(colour)) & keepNew) | (colours & ~keepNew);
    std::memcpy(run.depth + start, &depthBits, sizeof depthBits);
    std::memcpy(run.colour + start, &colourBits, sizeof colourBits);
}

void fillRun(const Run& run, bool roomForGroups, std::uint32_t colour) {
    int i = 0;
    if (roomForGroups)
        for (; i < run.length; i += pixelGroup) keepFourIfNearer(run, i, colour);
    for (; i < run.length; ++i) {
        const bool inFirst = i >= run.firstOfFirst && i <= run.lastOfFirst;
        keepIfNearer(run.colour[i], run.depth[i],
                     inFirst ? run.depthFirst + run.stepFirst * float(i)
                             : run.depthSecond + run.stepSecond * float(i),
                     colour);
    }
}

// Bounding rectangle of the pixels covered, grown row by row.
struct Coverage {
    int left = 0, top = 0, right = -1, bottom = -1;  // inclusive; empty while right < left
    void add(int y, int first, int last) {
        if (right < left) {
            *this = {first, y, last, y};
            return;
        }
        left = std::min(left, first);
        right = std::max(right, last);
        bottom = y;
    }
    Rect rect() const { return right < left ? Rect{} : Rect{left, top, right + 1, bottom + 1}; }
};

// Fills the triangles (a, b, c) and, if `d` is given, (a, c, d), which must then make a
// strictly convex quad turning the same way: the quad's four sides bound each row's run
// and the diagonal a-c splits it, which gives exactly the pixels the two triangles would
// get one by one, in one pass.
Rect fillTriangles(const RasterTarget& target, const SnappedPoint& a, const SnappedPoint& b,
                   const SnappedPoint& c, const SnappedPoint* d, std::uint32_t colour) {
    const SnappedPoint corners[4] = {a, b, c, d ? *d : c};
    const int cornerCount = d ? 4 : 3;
    const PixelBox box = pixelBox(target, corners, cornerCount);
    if (box.empty()) return {};
    const std::int64_t sampleX = box.left * subpixelsPerPixel + halfPixel;
    const std::int64_t sampleY = box.top * subpixelsPerPixel + halfPixel;

    // Turned clockwise on screen, where every side's inside is where its function is >= 0.
    const bool clockwise = (b.x - a.x) * (c.y - a.y) - (b.y - a.y) * (c.x - a.x) > 0;
    const std::int64_t widest = box.right - box.left;
    RowBound sides[4];
    for (int i = 0; i < cornerCount; ++i) {
        const SnappedPoint& from = corners[clockwise ? i : cornerCount - 1 - i];
        const SnappedPoint& to = corners[clockwise ? (i + 1) % cornerCount
                                                   : (2 * cornerCount - 2 - i) % cornerCount];
        sides[i] = RowBound(setUpEdge(from, to, sampleX, sampleY), widest);
    }
    // The first triangle (a, b, c) lies on the inside of c-a when clockwise, of a-c if not.
    RowBound diagonal;
    if (d)
        diagonal = RowBound(clockwise ? setUpEdge(c, a, sampleX, sampleY)
                                      : setUpEdge(a, c, sampleX, sampleY),
                            widest);
    const DepthPlane first = depthPlane(a, b, c, sampleX, sampleY);
    const DepthPlane second = d ? depthPlane(a, c, *d, sampleX, sampleY) : first;

    Coverage covered;
    for (int y = box.top; y <= box.bottom; ++y) {
        std::int64_t runFirst = 0, runLast = widest;
        for (int i = 0; i < cornerCount; ++i) {
            runFirst = std::max(runFirst, sides[i].lowest());
            runLast = std::min(runLast, sides[i].highest());
            sides[i].nextRow();
        }
        const std::int64_t firstOfFirst = std::max<std::int64_t>(0, diagonal.lowest());
        const std::int64_t lastOfFirst = std::min(widest, diagonal.highest());
        diagonal.nextRow();
        if (runFirst > runLast) continue;

        const int x = box.left + int(runFirst);
        covered.add(y, x, box.left + int(runLast));
        const std::ptrdiff_t at = std::ptrdiff_t(y) * target.stride + x;
        const double row = double(y - box.top), column = double(runFirst);
        const Run run{target.colour + at,
                      target.depth + at,
                      int(runLast - runFirst + 1),
                      float(first.atCorner + first.perRow * row + first.perColumn * column),
                      float(first.perColumn),
                      float(second.atCorner + second.perRow * row + second.perColumn * column),
                      float(second.perColumn),
                      int(std::clamp<std::int64_t>(firstOfFirst - runFirst, -1, widest + 1)),
                      int(std::clamp<std::int64_t>(lastOfFirst - runFirst, -1, widest + 1))};
        // Groups of four may not reach past the scissor.
        fillRun(run, x + run.length + pixelGroup - 1 <= target.scissor.right, colour);
    }
    return covered.rect();
}

// A quad is drawn in one pass when its corners turn strictly the same way throughout.
bool isStrictlyConvex(const SnappedPoint* p) {
    int clockwise = 0, anticlockwise = 0;
    for (int i = 0; i < 4; ++i) {
        const SnappedPoint& a = p[i];
        const SnappedPoint& b = p[(i + 1) % 4];
        const SnappedPoint& c = p[(i + 2) % 4];
        const std::int64_t turn = (b.x - a.x) * (c.y - b.y) - (b.y - a.y) * (c.x - b.x);
        clockwise += turn > 0;
        anticlockwise += turn < 0;
    }
    return clockwise == 4 || anticlockwise == 4;
}

}  // namespace

int clipPolygon(const Vector3* in, int count, const ClipPlane (&planes)[viewVolumePlanes],
                Vector3* out) {
    if (count < 3) return 0;
    count = std::min(count, maxClippedVertices);
    // Most faces lie wholly inside every plane; classify once and copy those untouched.
    unsigned outsideSome = 0;
    unsigned outsideEvery = (1u << viewVolumePlanes) - 1;
    for (int i = 0; i < count; ++i) {
        unsigned outside = 0;
        for (int p = 0; p < viewVolumePlanes; ++p)
            if (distanceTo(planes[p], in[i]) < 0.0f) outside |= 1u << p;
        outsideSome |= outside;
        outsideEvery &= outside;
    }
    if (outsideEvery != 0) return 0;
    std::copy(in, in + count, out);
    if (outsideSome == 0) return count;

    Vector3 scratch[maxClippedVertices];
    for (int p = 0; p < viewVolumePlanes && count >= 3; ++p) {
        if ((outsideSome & (1u << p)) == 0) continue;
        count = clipAgainst(out, count, planes[p], scratch);
        std::copy(scratch, scratch + count, out);
    }
    return count >= 3 ? count : 0;
}

Rect fillConvexPolygon(const RasterTarget& target, const ScreenPoint* points, int count,
                       std::uint32_t colour) {
    if (count < 3 || target.scissor.empty()) return {};
    count = std::min(count, maxClippedVertices);
    SnappedPoint snapped[maxClippedVertices];
    for (int i = 0; i < count; ++i)
        snapped[i] = {snap(points[i].x), snap(points[i].y), points[i].inverseDepth};
    // The flake is made of quads: those go in one pass unless snapping bent them.
    if (count == 4 && isStrictlyConvex(snapped))
        return fillTriangles(target, snapped[0], snapped[1], snapped[2], &snapped[3], colour);
    Rect covered;
    for (int i = 1; i + 1 < count; ++i) {
        const std::int64_t area =
            (snapped[i].x - snapped[0].x) * (snapped[i + 1].y - snapped[0].y) -
            (snapped[i].y - snapped[0].y) * (snapped[i + 1].x - snapped[0].x);
        if (area == 0) continue;  // covers no pixel centre
        covered = covered.united(
            fillTriangles(target, snapped[0], snapped[i], snapped[i + 1], nullptr, colour));
    }
    return covered;
}

}  // namespace vesk::retained
