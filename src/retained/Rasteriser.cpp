// The software rasteriser: Sutherland-Hodgman clipping in camera space, projection onto
// a 1/256-pixel grid, then convex polygons filled row by row between their left and right
// edges. Coverage comes from fixed-point edge functions under the top-left rule, stepped
// exactly from row to row, so faces that share an edge neither leave a crack between them
// nor draw a pixel twice.
#include "retained/Rasteriser.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <optional>

namespace vesk::retained {

namespace {

// Vertices snap to 1/256 pixel before the edge functions are set up; the edge functions
// are then exact integers, which is what makes the fill rule hold on shared edges.
constexpr int subpixelBits = 8;
constexpr std::int64_t subpixelsPerPixel = std::int64_t(1) << subpixelBits;
constexpr std::int64_t halfPixel = subpixelsPerPixel / 2;
// The viewport's guard band keeps coordinates far inside this; the clamp only guards the
// 64-bit products (differences below 2^29 squared stay below 2^58) and the 32-bit lanes
// that quads are snapped in.
constexpr float maxSnappedCoordinate = float(std::int64_t(1) << 27);

// Near, far and the four sides of the guard band; each cuts at most one corner off a
// convex polygon, adding one vertex.
constexpr int viewVolumePlanes = 6;
constexpr int maxClippedVertices = int(MeshBuilder::maxFaceVertices) + viewVolumePlanes;

// A projected vertex: its position in subpixels and its 1/depth, which is linear in screen
// space and so can be interpolated across a triangle.
struct SnappedPoint {
    std::int64_t x;
    std::int64_t y;
    float inverseDepth;
};

// Four lanes at once: four pixels of a run, or four vertices of a quad. GCC and Clang
// vector extensions; no particular instruction set is assumed.
using FourFloats = float __attribute__((vector_size(16)));
using FourMasks = std::int32_t __attribute__((vector_size(16)));

// A half-space of camera space: a point p is kept where a*p.x + b*p.y + c*p.z + d >= 0.
struct ClipPlane {
    float a;
    float b;
    float c;
    float d;
};

float distanceTo(const ClipPlane& plane, const Vector3& p) {
    return plane.a * p.x + plane.b * p.y + plane.c * p.z + plane.d;
}

// The view volume's planes, in the order of the bits clipPolygon keeps for them.
void clipPlanes(const View& v, ClipPlane (&planes)[viewVolumePlanes]) {
    planes[0] = {0.0f, 0.0f, 1.0f, -v.front};
    planes[1] = {0.0f, 0.0f, -1.0f, v.back};
    planes[2] = {v.scale, 0.0f, v.guardBand, 0.0f};
    planes[3] = {-v.scale, 0.0f, v.guardBand, 0.0f};
    planes[4] = {0.0f, v.scale, v.guardBand, 0.0f};
    planes[5] = {0.0f, -v.scale, v.guardBand, 0.0f};
}

// Whether p lies inside every plane of the view volume, as distanceTo would tell for each
// (its zero terms change no sign, and the two planes of a pair are one test of an absolute
// value), at a fraction of the cost: nearly every face lies wholly inside.
bool isInside(const View& v, const Vector3& p) {
    const float band = v.guardBand * p.z;
    return !(p.z < v.front) && !(p.z > v.back) && !(std::fabs(v.scale * p.x) > band) &&
           !(std::fabs(v.scale * p.y) > band);
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
// snaps to the same subpixel; this one needs no library call, nor a branch.
std::int64_t snap(float pixels) {
    const float scaled = std::min(
        std::max(pixels * float(subpixelsPerPixel), -maxSnappedCoordinate), maxSnappedCoordinate);
    return std::int64_t(scaled + std::copysign(0.5f, scaled));
}

// Twice the signed area of a-b-c; positive when it turns clockwise on screen (y down).
std::int64_t turn(const SnappedPoint& a, const SnappedPoint& b, const SnappedPoint& c) {
    return (b.x - a.x) * (c.y - a.y) - (b.y - a.y) * (c.x - a.x);
}

enum class Turning { Clockwise, Anticlockwise };

// Which way a-b-c turns on screen, for a triangle with some area.
Turning turningOf(const SnappedPoint& a, const SnappedPoint& b, const SnappedPoint& c) {
    return turn(a, b, c) > 0 ? Turning::Clockwise : Turning::Anticlockwise;
}

// The first pixel row (or column) whose centre, at i * 256 + 128 in subpixels, is at or
// past `at`, and the last one whose centre is short of it.
std::int64_t firstCentreFrom(std::int64_t at) { return -floorToPixels(halfPixel - at); }
std::int64_t lastCentreBefore(std::int64_t at) { return floorToPixels(at - halfPixel - 1); }

// floor(value / divisor) and the remainder, for divisor > 0. Each edge needs two of these,
// so the quotient is guessed from the divisor's reciprocal in double (cheaper than 64-bit
// integer division) and then made exact.
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

// Where one edge bounds each row's run of covered pixels, found exactly from its edge
// function and carried from row to row without dividing (a DDA on the quotient).
//
// The edge runs from `from` to `to` in the polygon's clockwise order, and its function
// W = dx * (sampleY - from.y) - dy * (sampleX - from.x) is >= 0 on the inside. Pixels
// left of or above an edge belong to it only where it is a top or a left edge, which in
// that order means running upwards, or rightwards along a row; elsewhere the bias of -1
// makes W >= 0 mean W > 0. The neighbour across a shared edge walks it the other way and
// so gets exactly -W with the other bias: every pixel centre goes to exactly one side.
//
// On a row whose W at the centre of column 0 is W0, column k is inside where
// W0 + stepX * k >= 0, stepX = -dy * 256. With m = |stepX|, that is k >= -floor(W0 / m)
// on a left edge (running up, W rising to the right) and k <= floor(W0 / m) on a right
// edge (running down). Horizontal edges bound no row and are never set up.
class EdgeBound {
public:
    EdgeBound() = default;
    EdgeBound(const SnappedPoint& from, const SnappedPoint& to, std::int64_t row) {
        const std::int64_t dx = to.x - from.x;
        const std::int64_t dy = to.y - from.y;
        const bool topLeft = dy < 0 || (dy == 0 && dx > 0);
        const std::int64_t sampleY = row * subpixelsPerPixel + halfPixel;
        const std::int64_t value =
            dx * (sampleY - from.y) - dy * (halfPixel - from.x) - (topLeft ? 0 : 1);
        divisor_ = (dy < 0 ? -dy : dy) * subpixelsPerPixel;
        const double reciprocal = 1.0 / double(divisor_);
        const Division start = floorDivide(value, divisor_, reciprocal);
        const Division step = floorDivide(dx * subpixelsPerPixel, divisor_, reciprocal);
        quotient_ = start.quotient;
        remainder_ = start.remainder;
        quotientStep_ = step.quotient;
        remainderStep_ = step.remainder;
    }

    // The first column inside, for a left edge, and the last, for a right edge.
    std::int64_t firstColumn() const { return -quotient_; }
    std::int64_t lastColumn() const { return quotient_; }

    void nextRow() {
        // Whether the remainder carries follows no pattern a branch predictor could learn,
        // so the carry is taken from the sign bit instead.
        const std::int64_t past = remainder_ + remainderStep_ - divisor_;
        const std::int64_t noCarry = past >> 63;  // -1 without a carry, 0 with one
        remainder_ = past + (divisor_ & noCarry);
        quotient_ += quotientStep_ + 1 + noCarry;
    }

private:
    // Left unset by the default constructor: fillRows sets up only the edges it walks,
    // and zeroing the others for every polygon cost more than setting one up.
    std::int64_t divisor_;
    std::int64_t quotient_;   // floor(W0 / divisor)
    std::int64_t remainder_;  // W0 - quotient * divisor, in [0, divisor)
    std::int64_t quotientStep_;
    std::int64_t remainderStep_;
};

// 1/depth over the screen for one triangle: its value at the centre of pixel (0, 0) and
// its change per column and per row. Linear in screen space, so exact for a flat
// triangle; taken in double so that rows far from the corner do not drift.
struct DepthPlane {
    double atOrigin;
    double perColumn;
    double perRow;
};

// A corner relative to the first one of its triangle, in subpixels and 1/depth.
struct Offset {
    double x, y, inverseDepth;
};

Offset offset(const SnappedPoint& from, const SnappedPoint& to) {
    return {double(to.x - from.x), double(to.y - from.y),
            double(to.inverseDepth - from.inverseDepth)};
}

// Change of 1/depth per subpixel across and down, over the triangle a, a + p, a + q;
// the signed area cancels out, so either turning of the triangle gives the same plane.
struct Gradient {
    double x, y;
};

Gradient gradient(const Offset& p, const Offset& q) {
    const double perArea = 1.0 / (p.x * q.y - p.y * q.x);
    return {(p.inverseDepth * q.y - q.inverseDepth * p.y) * perArea,
            (q.inverseDepth * p.x - p.inverseDepth * q.x) * perArea};
}

DepthPlane depthPlane(const SnappedPoint& a, const Gradient& g, double sign) {
    return {sign * (a.inverseDepth + g.x * double(halfPixel - a.x) + g.y * double(halfPixel - a.y)),
            sign * g.x * double(subpixelsPerPixel), sign * g.y * double(subpixelsPerPixel)};
}

// 1/depth over a quad drawn as the triangles (a, b, c) and (a, c, d), in one pass. Their
// planes agree along the diagonal a-c and differ by a linear function that is zero there,
// so on one side of it one plane is the nearer and on the other side the other one: the
// quad's depth is the lesser of the two everywhere, or the greater everywhere. Which one
// is found at b, where the first triangle's plane is exact. Greater-of is taken as the
// lesser of the negated planes, so `sign` is -1 for it and both planes come negated.
// Without d, both planes are the triangle's own.
struct FoldedDepth {
    DepthPlane first;
    DepthPlane second;
    float sign;
};

FoldedDepth foldedDepth(const SnappedPoint& a, const SnappedPoint& b, const SnappedPoint& c,
                        const SnappedPoint* d) {
    const Offset toB = offset(a, b), toC = offset(a, c);
    const Gradient first = gradient(toB, toC);
    const Gradient second = d ? gradient(toC, offset(a, *d)) : first;
    // -1 where the second plane passes below b. Taken from the sign bit rather than
    // branched on: the fold goes either way from face to face.
    const double sign =
        std::copysign(1.0, second.x * toB.x + second.y * toB.y - toB.inverseDepth);
    return {depthPlane(a, first, sign), depthPlane(a, second, sign), float(sign)};
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

// The runs on the flake's thin quads are a few pixels long, and a loop pixel by pixel spent
// most of its time entering and leaving; they go four pixels at a time.
constexpr int pixelGroup = 4;

// keepIfNearer for four pixels; those outside `inRun` are written back unchanged.
inline void keepFourIfNearer(std::uint32_t* colourAt, float* depthAt, FourFloats inverseDepth,
                             FourMasks inRun, std::uint32_t colour) {
    FourFloats stored;
    FourMasks colours;
    std::memcpy(&stored, depthAt, sizeof stored);
    std::memcpy(&colours, colourAt, sizeof colours);
    const FourMasks keepNew = (inverseDepth > stored) & inRun;
    const FourMasks depthBits =
        (FourMasks(inverseDepth) & keepNew) | (FourMasks(stored) & ~keepNew);
    const FourMasks colourBits =
        ((FourMasks{} + std::int32_t(colour)) & keepNew) | (colours & ~keepNew);
    std::memcpy(depthAt, &depthBits, sizeof depthBits);
    std::memcpy(colourAt, &colourBits, sizeof colourBits);
}

// A polygon's 1/depth along its runs, set up once: each plane's value at column 0 of the
// present row (stepped in double, like the edges) and, in float, its steps from pixel to
// pixel within a group of four and from group to group.
class RunDepth {
public:
    RunDepth(const FoldedDepth& depth, std::int64_t row)
        : depth_(depth),
          rowFirst_(depth.first.atOrigin + depth.first.perRow * double(row)),
          rowSecond_(depth.second.atOrigin + depth.second.perRow * double(row)),
          stepFirst_(float(depth.first.perColumn)),
          stepSecond_(float(depth.second.perColumn)),
          lanesFirst_(stepFirst_ * FourFloats{0.0f, 1.0f, 2.0f, 3.0f}),
          lanesSecond_(stepSecond_ * FourFloats{0.0f, 1.0f, 2.0f, 3.0f}),
          groupFirst_(FourFloats{} + stepFirst_ * float(pixelGroup)),
          groupSecond_(FourFloats{} + stepSecond_ * float(pixelGroup)),
          signs_(FourFloats{} + depth.sign) {}

    void nextRow() {
        rowFirst_ += depth_.first.perRow;
        rowSecond_ += depth_.second.perRow;
    }

    // Fills the present row's run from `first` to `last`, from colourRow[first] on. In
    // groups of four where the run's last group ends inside the scissor, as `groupsFit`
    // says, and pixel by pixel where it would not.
    void fill(std::uint32_t* colourRow, float* depthRow, std::int64_t first, std::int64_t last,
              bool groupsFit, std::uint32_t colour) const {
        std::uint32_t* const colourAt = colourRow + first;
        float* const depthAt = depthRow + first;
        const double column = double(first);
        const float startFirst = float(rowFirst_ + depth_.first.perColumn * column);
        const float startSecond = float(rowSecond_ + depth_.second.perColumn * column);
        const int length = int(last - first + 1);
        if (groupsFit) {
            FourFloats a = startFirst + lanesFirst_;
            FourFloats b = startSecond + lanesSecond_;
            FourMasks lane = {0, 1, 2, 3};
            for (int i = 0; i < length; i += pixelGroup) {
                keepFourIfNearer(colourAt + i, depthAt + i, signs_ * (a < b ? a : b),
                                 lane < length, colour);
                a += groupFirst_;
                b += groupSecond_;
                lane += pixelGroup;
            }
            return;
        }
        for (int i = 0; i < length; ++i) {
            const float k = float(i);
            keepIfNearer(colourAt[i], depthAt[i],
                         depth_.sign * std::min(startFirst + stepFirst_ * k,
                                                startSecond + stepSecond_ * k),
                         colour);
        }
    }

private:
    const FoldedDepth& depth_;
    double rowFirst_, rowSecond_;
    float stepFirst_, stepSecond_;
    FourFloats lanesFirst_, lanesSecond_, groupFirst_, groupSecond_, signs_;
};

// Bounding rectangle of the pixels covered, grown row by row (rows come in order).
struct Coverage {
    static constexpr std::int64_t none = std::int64_t(1) << 62;
    std::int64_t left = none, top = none, right = -none, bottom = -none;  // inclusive
    void add(std::int64_t y, std::int64_t first, std::int64_t last) {
        left = std::min(left, first);
        right = std::max(right, last);
        top = std::min(top, y);
        bottom = y;
    }
    Rect rect() const {
        return right < left ? Rect{} : Rect{int(left), int(top), int(right + 1), int(bottom + 1)};
    }
};

// The polygons filled in one pass: triangles and the flake's quads.
constexpr int maxConvexCorners = 4;

// Whether the polygon's runs need checking against the scissor's sides: not where every
// pixel centre it could cover lies inside them, with room for a group of four past the
// last one.
enum class Sides { Clear, Checked };

// Fills the rows firstRow to lastRow of a strictly convex polygon of at most
// maxConvexCorners corners, turning as given on screen, whose highest corner is `top`.
// On each row only the edge of its left side and the edge of its right side that span the
// row can bound the run, all others holding it wholly inside. A row through a vertex is
// bounded alike by either edge meeting there, since both give the vertex's column with the
// same fill rule; horizontal edges come only at the top, where a pixel centre on one is
// inside, and at the bottom, where it is not, so the rows run from the first centre at or
// below the top vertex to the last one strictly above the bottom one, and each edge bounds
// the rows between its own ends alike.
template <Sides sides>
Rect fillRows(const RasterTarget& target, const SnappedPoint* points, int count, int top,
              std::int64_t firstRow, std::int64_t lastRow, Turning turning,
              const FoldedDepth& depth, std::uint32_t colour) {
    // Edge i joins corner i to the next, and is set up in the clockwise direction along it.
    // All are set up before the first row, so that their divisions overlap; one that bounds
    // no row here is skipped by the walk below.
    const bool clockwise = turning == Turning::Clockwise;
    EdgeBound edges[maxConvexCorners];
    std::int64_t edgeLastRow[maxConvexCorners];
    for (int i = 0; i < count; ++i) {
        const SnappedPoint& corner = points[i];
        const SnappedPoint& next = points[i + 1 < count ? i + 1 : 0];
        edgeLastRow[i] = lastCentreBefore(std::max(corner.y, next.y));
        const std::int64_t edgeFirstRow =
            std::max(firstRow, firstCentreFrom(std::min(corner.y, next.y)));
        if (edgeFirstRow <= edgeLastRow[i])
            edges[i] = clockwise ? EdgeBound(corner, next, edgeFirstRow)
                                 : EdgeBound(next, corner, edgeFirstRow);
    }
    // The left side runs against the clockwise order from the top vertex, the right side
    // with it; each moves on to its next edge only at a vertex.
    const int beforeTop = top == 0 ? count - 1 : top - 1;
    int leftEdge = clockwise ? beforeTop : top;
    int rightEdge = clockwise ? top : beforeTop;
    const int leftStep = clockwise ? -1 : 1;
    const auto bounding = [&](int& edge, int step, std::int64_t row) {
        while (edgeLastRow[edge] < row) {
            edge += step;
            edge = edge < 0 ? count - 1 : edge == count ? 0 : edge;
        }
        return edges[edge];
    };
    EdgeBound left = bounding(leftEdge, leftStep, firstRow);
    EdgeBound right = bounding(rightEdge, -leftStep, firstRow);

    const std::int64_t scissorLeft = target.scissor.left, scissorRight = target.scissor.right - 1;
    const std::ptrdiff_t stride = target.stride;
    std::uint32_t* colourRow = target.colour + std::ptrdiff_t(firstRow) * stride;
    float* depthRow = target.depth + std::ptrdiff_t(firstRow) * stride;
    RunDepth runDepth(depth, firstRow);
    Coverage covered;
    for (std::int64_t y = firstRow; y <= lastRow;
         ++y, colourRow += stride, depthRow += stride, runDepth.nextRow()) {
        if (y > edgeLastRow[leftEdge]) left = bounding(leftEdge, leftStep, y);
        if (y > edgeLastRow[rightEdge]) right = bounding(rightEdge, -leftStep, y);
        std::int64_t first = left.firstColumn(), last = right.lastColumn();
        left.nextRow();
        right.nextRow();
        if constexpr (sides == Sides::Checked) {
            first = std::max(first, scissorLeft);
            last = std::min(last, scissorRight);
        }
        if (first > last) continue;
        covered.add(y, first, last);
        runDepth.fill(colourRow, depthRow, first, last,
                      sides == Sides::Clear || last + pixelGroup <= scissorRight, colour);
    }
    return covered.rect();
}

// Fills a strictly convex polygon of at most maxConvexCorners corners, turning as given.
Rect fillConvex(const RasterTarget& target, const SnappedPoint* points, int count,
                Turning turning, const FoldedDepth& depth, std::uint32_t colour) {
    int top = 0;
    std::int64_t minX = points[0].x, maxX = minX, minY = points[0].y, maxY = minY;
    for (int i = 1; i < count; ++i) {
        if (points[i].y < minY) top = i;
        minX = std::min(minX, points[i].x);
        maxX = std::max(maxX, points[i].x);
        minY = std::min(minY, points[i].y);
        maxY = std::max(maxY, points[i].y);
    }
    const std::int64_t firstRow = std::max<std::int64_t>(target.scissor.top, firstCentreFrom(minY));
    const std::int64_t lastRow =
        std::min<std::int64_t>(target.scissor.bottom - 1, lastCentreBefore(maxY));
    if (firstRow > lastRow) return {};
    // Every pixel centre the polygon covers lies in these columns.
    const std::int64_t firstColumn = firstCentreFrom(minX), lastColumn = lastCentreBefore(maxX + 1);
    const bool clear =
        firstColumn >= target.scissor.left && lastColumn + pixelGroup < target.scissor.right;
    return clear ? fillRows<Sides::Clear>(target, points, count, top, firstRow, lastRow, turning,
                                          depth, colour)
                 : fillRows<Sides::Checked>(target, points, count, top, firstRow, lastRow,
                                            turning, depth, colour);
}

// Which way the polygon turns, if its corners all turn strictly the same way: then it is
// filled in one pass. The turn at a corner is the cross product of the edges meeting there.
std::optional<Turning> strictlyConvexTurning(const SnappedPoint* p, int count) {
    std::int64_t dx[maxConvexCorners], dy[maxConvexCorners];
    for (int i = 0; i < count; ++i) {
        const int next = i + 1 < count ? i + 1 : 0;
        dx[i] = p[next].x - p[i].x;
        dy[i] = p[next].y - p[i].y;
    }
    int clockwise = 0, anticlockwise = 0;
    for (int i = 0; i < count; ++i) {
        const int next = i + 1 < count ? i + 1 : 0;
        const std::int64_t t = dx[i] * dy[next] - dy[i] * dx[next];
        clockwise += t > 0;
        anticlockwise += t < 0;
    }
    if (clockwise == count) return Turning::Clockwise;
    if (anticlockwise == count) return Turning::Anticlockwise;
    return std::nullopt;
}

// Clips the convex polygon `in` (count vertices) to the view volume; writes the part inside
// to `out` and returns its vertex count, 0 when nothing is left. Vertices inside the volume
// are passed through bit for bit, so faces sharing an edge still share it exactly after
// clipping.
int clipPolygon(const Vector3* in, int count, const View& view, Vector3* out) {
    std::copy(in, in + count, out);
    if (std::all_of(in, in + count, [&view](const Vector3& p) { return isInside(view, p); }))
        return count;

    ClipPlane planes[viewVolumePlanes];
    clipPlanes(view, planes);
    unsigned outsideSome = 0;
    unsigned outsideEvery = (1u << viewVolumePlanes) - 1;
    for (int i = 0; i < count; ++i) {
        unsigned outside = 0;
        for (int p = 0; p < viewVolumePlanes; ++p)
            outside |= unsigned(distanceTo(planes[p], in[i]) < 0.0f) << p;
        outsideSome |= outside;
        outsideEvery &= outside;
    }
    if (outsideEvery != 0) return 0;

    Vector3 scratch[maxClippedVertices];
    for (int p = 0; p < viewVolumePlanes && count >= 3; ++p) {
        if ((outsideSome & (1u << p)) == 0) continue;
        count = clipAgainst(out, count, planes[p], scratch);
        std::copy(scratch, scratch + count, out);
    }
    return count >= 3 ? count : 0;
}

// A point inside the view volume (so z >= front > 0), projected and snapped.
SnappedPoint project(const View& view, const Vector3& p) {
    const float inverseDepth = 1.0f / p.z;
    return {snap(view.centreX + view.scale * p.x * inverseDepth),
            snap(view.centreY - view.scale * p.y * inverseDepth), inverseDepth};
}

// isInside, project and snap for the four corners of a quad at once, with the very same
// float operations, so a vertex lands on the same subpixel whichever way it goes. False,
// writing nothing, when a corner lies outside the view volume.
bool projectInside(const View& view, const Vector3* p, SnappedPoint* out) {
    const FourFloats x = {p[0].x, p[1].x, p[2].x, p[3].x};
    const FourFloats y = {p[0].y, p[1].y, p[2].y, p[3].y};
    const FourFloats z = {p[0].z, p[1].z, p[2].z, p[3].z};
    const FourMasks magnitude = FourMasks{} + 0x7FFFFFFF;
    const FourFloats band = view.guardBand * z;
    const FourMasks outside = (z < view.front) | (z > view.back) |
                              (FourFloats(FourMasks(view.scale * x) & magnitude) > band) |
                              (FourFloats(FourMasks(view.scale * y) & magnitude) > band);
    if ((outside[0] | outside[1] | outside[2] | outside[3]) != 0) return false;

    const FourFloats inverseDepth = 1.0f / z;
    const auto snapFour = [magnitude](FourFloats pixels) {
        FourFloats scaled = pixels * float(subpixelsPerPixel);
        scaled = scaled < -maxSnappedCoordinate ? -maxSnappedCoordinate : scaled;
        scaled = scaled > maxSnappedCoordinate ? maxSnappedCoordinate : scaled;
        const FourFloats half = FourFloats(FourMasks(FourFloats{} + 0.5f) |
                                           (FourMasks(scaled) & ~magnitude));
        return __builtin_convertvector(scaled + half, FourMasks);  // toward zero
    };
    const FourMasks snappedX = snapFour(view.centreX + view.scale * x * inverseDepth);
    const FourMasks snappedY = snapFour(view.centreY - view.scale * y * inverseDepth);
    for (int i = 0; i < 4; ++i) out[i] = {snappedX[i], snappedY[i], inverseDepth[i]};
    return true;
}

// Fills the projected convex polygon.
Rect fillSnapped(const RasterTarget& target, const SnappedPoint* snapped, int count,
                 std::uint32_t colour) {
    // The flake is made of quads: those go in one pass unless snapping bent them.
    if (count <= maxConvexCorners) {
        if (const std::optional<Turning> turning = strictlyConvexTurning(snapped, count))
            return fillConvex(target, snapped, count, *turning,
                              foldedDepth(snapped[0], snapped[1], snapped[2],
                                          count == 4 ? &snapped[3] : nullptr),
                              colour);
    }
    // Anything else as a fan of triangles from the first vertex, each with its own depth.
    Rect covered;
    for (int i = 1; i + 1 < count; ++i) {
        const SnappedPoint triangle[3] = {snapped[0], snapped[i], snapped[i + 1]};
        if (turn(triangle[0], triangle[1], triangle[2]) == 0) continue;  // covers no pixel centre
        covered = covered.united(
            fillConvex(target, triangle, 3, turningOf(triangle[0], triangle[1], triangle[2]),
                       foldedDepth(triangle[0], triangle[1], triangle[2], nullptr), colour));
    }
    return covered;
}

}  // namespace

Rect drawPolygon(const RasterTarget& target, const View& view, const Vector3* vertices,
                 int count, std::uint32_t colour) {
    if (count < 3 || target.scissor.empty()) return {};
    count = std::min(count, int(MeshBuilder::maxFaceVertices));
    // A vertex that is no finite number (a broken mesh or transform) would pass every
    // inside test and reach the integer snap; such a face draws nothing.
    for (int i = 0; i < count; ++i)
        if (!std::isfinite(vertices[i].x) || !std::isfinite(vertices[i].y) ||
            !std::isfinite(vertices[i].z))
            return {};
    SnappedPoint snapped[maxClippedVertices];
    // Most of the flake's quads lie wholly inside the view volume.
    if (count == 4 && projectInside(view, vertices, snapped))
        return fillSnapped(target, snapped, count, colour);

    Vector3 clipped[maxClippedVertices];
    count = clipPolygon(vertices, count, view, clipped);
    for (int i = 0; i < count; ++i) snapped[i] = project(view, clipped[i]);
    return fillSnapped(target, snapped, count, colour);
}

}  // namespace vesk::retained
