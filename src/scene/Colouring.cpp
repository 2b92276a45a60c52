// Segment colouring: depth colours, accents, the drift of the base colours and the
// band recolouring. Colour arithmetic follows the single-precision palette exactly.
#include "scene/Colouring.h"

#include "flake/Meshing.h"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <limits>

namespace vesk::scene {
namespace {

using flake::Segment;

constexpr int recolourFromSilentTicks = 15;  // the finale's first step sees 15
constexpr int paletteSwitchSilentTicks = 14;
constexpr float firstFaceRedOffset = 0.1f;
constexpr float redPerDepth = 0.025f;
constexpr int reddestDepth = 20;  // depth at which the depth colour's red is baseRed
constexpr float greenDrift = 0.05f;
constexpr float blueDrift = 0.03f;
constexpr float greenCeiling = 0.5f;
constexpr float greenFloor = 0.4f;
constexpr float settledGreenStep = 0.1f;

struct Band {
    int first;
    int last;
};
// Positions recoloured on a tick with notes, by scoreTick mod 5; the last band runs to
// the flake's last slot.
constexpr Band bands[] = {
    {0, 399}, {400, 799}, {800, 1199}, {1200, 1399}, {1400, flake::segmentCapacity - 1}};
constexpr int bandCount = int(std::size(bands));

struct Rgb {
    float red, green, blue;
};

std::int32_t truncatedChannel(double component) {
    // Truncation towards zero; the bound only keeps absurd values from being undefined.
    const double v = std::trunc(component * 255.0);
    constexpr double lo = std::numeric_limits<std::int32_t>::min();
    constexpr double hi = std::numeric_limits<std::int32_t>::max();
    return std::int32_t(std::clamp(v, lo, hi));
}

bool isEven(int tick) { return (tick & 1) == 0; }

Rgb depthColour(const PerformanceState& state, const Segment& segment) {
    // Computed in double from the single-precision constant, then stored in single.
    const float red = float(double(state.baseRed) +
                            double(reddestDepth - segment.depth) * double(redPerDepth));
    return {red, state.baseGreen, state.baseBlue};
}

Rgb accentColour(const PerformanceState& state) {
    return {state.accentRed, state.accentGreen, state.accentBlue};
}

void paint(const PerformanceState& state, retained::MeshBuilder& mesh, int i, Rgb c) {
    colourSegment(state, mesh, i, c.red, c.green, c.blue);
}

int positionOf(const PerformanceState& state, const Segment* segment) {
    const auto& f = state.flake;
    for (int j = 0; j < f.segmentCount; ++j)
        if (f.segments[j].get() == segment) return j;
    return -1;
}

// A full list drops the entry: that segment then keeps its accent until a band
// recolouring or the palette switch repaints it, and nothing is written past the list.
void listAccent(PerformanceState& state, Segment* segment) {
    if (state.accentCount < accentListCapacity) state.accentList[state.accentCount++] = segment;
}

void accentAncestors(PerformanceState& state, retained::MeshBuilder& mesh, const Segment& segment) {
    Segment* a = segment.parent;
    for (int n = 0; n < 2 && a; ++n, a = a->parent) {
        const int j = positionOf(state, a);
        if (j >= 0) paint(state, mesh, j, accentColour(state));
        listAccent(state, a);
    }
}

void accentAt(PerformanceState& state, retained::MeshBuilder& mesh, int i) {
    paint(state, mesh, i, accentColour(state));
    listAccent(state, state.flake.segments[i].get());
}

void colourByDepth(PerformanceState& state, retained::MeshBuilder& mesh, int first, int last) {
    for (int i = first; i <= last; ++i)
        if (const Segment* s = state.flake.segmentAt(i)) paint(state, mesh, i, depthColour(state, *s));
}

}  // namespace

std::uint32_t colourWord(double red, double green, double blue) {
    const auto r = std::uint32_t(truncatedChannel(red));
    const auto g = std::uint32_t(truncatedChannel(green));
    const auto b = std::uint32_t(truncatedChannel(blue));
    return 0xFF000000u | (r << 16) | (g << 8) | b;
}

void colourSegment(const PerformanceState& state, retained::MeshBuilder& mesh, int i, float red,
                   float green, float blue) {
    if (state.flake.segmentCount >= flake::meshCapacitySegments || i < 0) return;
    const retained::FaceArray faces = mesh.faces();
    // The offset is subtracted in double precision: (0.5 - 0.1f) * 255 is 101.99999962,
    // which truncates to 101, where a single-precision difference would give 102.
    mesh.setFaceColour(faces.element(2 * std::size_t(i)),
                       colourWord(double(red) - double(firstFaceRedOffset), green, blue));
    mesh.setFaceColour(faces.element(2 * std::size_t(i) + 1), colourWord(red, green, blue));
}

void initColours(PerformanceState& state, retained::MeshBuilder& mesh) {
    state.baseRed = startPalette.baseRed;
    state.baseGreen = startPalette.baseGreen;
    state.baseBlue = startPalette.baseBlue;
    state.accentRed = startPalette.accentRed;
    state.accentGreen = startPalette.accentGreen;
    state.accentBlue = startPalette.accentBlue;
    colourByDepth(state, mesh, 0, state.flake.segmentCount - 1);
    state.greenStep = startPalette.greenStep;
}

void pulseColours(PerformanceState& state, retained::MeshBuilder& mesh) {
    if (isEven(state.scoreTick)) {
        state.baseGreen = float(double(state.baseGreen) + double(state.greenStep) * double(greenDrift));
        state.baseBlue = float(double(state.baseBlue) - double(state.greenStep) * double(blueDrift));
        if (state.baseGreen > greenCeiling)
            state.greenStep = -settledGreenStep;
        else if (state.baseGreen < greenFloor)
            state.greenStep = settledGreenStep;
        return;
    }
    for (int k = 0; k < state.accentCount; ++k) {
        const Segment* s = state.accentList[k];
        if (!s) continue;
        const int j = positionOf(state, s);
        if (j >= 0) paint(state, mesh, j, depthColour(state, *s));
    }
    state.accentCount = 0;
}

void accentNewNotes(PerformanceState& state, retained::MeshBuilder& mesh) {
    // The count is read again for every note: a note captured meanwhile counts too.
    for (int k = 0; k < state.noteOnCount; ++k) {
        const int i = state.flake.meshSegmentCount - 1 - k;
        const Segment* s = state.flake.segmentAt(i);
        if (!s) break;
        accentAt(state, mesh, i);
        accentAncestors(state, mesh, *s);
    }
}

void accentFinaleNotes(PerformanceState& state, retained::MeshBuilder& mesh) {
    if (state.silentTicks < recolourFromSilentTicks) return;
    auto& f = state.flake;
    if (state.replayMode == ReplayMode::ForwardMirrored) {
        for (int i = flake::seedArmCount; i < f.segmentCount; ++i)
            if (f.segments[i]->birthTick == state.scoreTick - 1) accentAt(state, mesh, i);
        return;
    }
    for (int i = f.segmentCount - 1; i >= flake::seedArmCount; --i) {
        if (f.segments[i]->endTick != state.scoreTick + 1) continue;
        accentAt(state, mesh, i);
        accentAncestors(state, mesh, *f.segments[i]);
    }
}

void spinAndRecolour(PerformanceState& state, retained::MeshBuilder& mesh,
                     retained::Frame* flakeFrame) {
    const int count = state.flake.segmentCount;
    if (state.silentTicks <= recolourFromSilentTicks || count == flake::seedArmCount) {
        if (isEven(state.scoreTick) && flakeFrame)
            flakeFrame->addRotation(retained::Combine::After, {0.0f, 0.0f, 1.0f}, state.spinSpeed);
        if (state.silentTicks == paletteSwitchSilentTicks) {
            if (count <= flake::seedArmCount) return;
            state.baseRed = 0.1f;
            state.accentRed = 0.7f;
            state.accentGreen = 0.6f;
            state.accentBlue = 0.4f;
            state.ringSpin = 0.07f;
            colourByDepth(state, mesh, 0, count - 1);
        }
    }
    if (state.silentTicks != 0) return;
    const Band band = bands[((state.scoreTick % bandCount) + bandCount) % bandCount];
    colourByDepth(state, mesh, band.first, std::min(band.last, count - 1));
}

}  // namespace vesk::scene
