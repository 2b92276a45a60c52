// Rendering of the retained-mode engine: projection, the fill rule on shared edges, the
// z-buffer, clipping, flat lighting and the dirty rectangles that Device::update copies.
// Scenes are tiny and built here; most use a 64x64 device with the camera 4 units back.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <numbers>
#include <utility>
#include <vector>

#include "retained/Device.h"
#include "retained/Frame.h"
#include "retained/MeshBuilder.h"
#include "retained/Viewport.h"

namespace vesk::retained {
namespace {

constexpr Colour background = 0xFF102030;
constexpr Colour white = 0xFFFFFFFF, red = 0xFFFF0000, green = 0xFF00FF00;
constexpr int side = 64;                // device width and height of most cases
constexpr float cameraDistance = 4.0f;  // with field 0.5: 16 pixels per unit at z = 0

struct TestScene {
    std::unique_ptr<Frame> root = Frame::createRoot();
    Frame& camera = root->createChild();
    Frame& object = root->createChild();
    std::shared_ptr<MeshBuilder> mesh = std::make_shared<MeshBuilder>();
    explicit TestScene(float distance = cameraDistance) {
        root->setSceneBackground(background);
        camera.setPosition(nullptr, {0, 0, -distance});
        camera.setOrientation(nullptr, {0, 0, 1}, {0, 1, 0});
        object.addVisual(mesh);
    }
    void add(const std::vector<Vector3>& vertices, Colour colour) {
        mesh->setFaceColour(mesh->addFace(vertices), colour);
    }
};

// The world point `depth` in front of the camera that is seen at pixel position (px, py).
Vector3 onScreen(float px, float py, float depth = cameraDistance) {
    const float perUnit = side / depth;
    return {(px - side / 2) / perUnit, (side / 2 - py) / perUnit, depth - cameraDistance};
}

std::vector<Vector3> screenRect(float left, float top, float right, float bottom,
                                float depth = cameraDistance) {
    return {onScreen(left, top, depth), onScreen(right, top, depth),
            onScreen(right, bottom, depth), onScreen(left, bottom, depth)};
}

// Clears and renders, by default with lighting off so that faces keep their colours.
const std::vector<std::uint32_t>& draw(Device& device, TestScene& scene,
                                       Rect area = {0, 0, side, side},
                                       std::uint32_t quality = quality::fillSolid) {
    device.setQuality(quality);
    Viewport viewport(device, scene.camera, area.left, area.top, area.right - area.left,
                      area.bottom - area.top);
    viewport.clear();
    viewport.render(*scene.root);
    return device.backBuffer();
}

// Which pixels `face`, drawn alone in white, covers on a side x side device.
std::vector<bool> drawnAlone(const std::vector<Vector3>& face) {
    TestScene scene;
    scene.add(face, white);
    Device device(side, side);
    const auto& pixels = draw(device, scene);
    std::vector<bool> drawn(pixels.size());
    for (std::size_t i = 0; i < pixels.size(); ++i) drawn[i] = pixels[i] == white;
    return drawn;
}

// How far the centre of pixel (x, y) lies inside the convex `outline` (in pixels, running
// clockwise on screen); negative outside.
float insideOutline(const std::vector<Vector3>& outline, int x, int y) {
    float inside = 1e9f;
    for (std::size_t i = 0; i < outline.size(); ++i) {
        const Vector3 p = outline[i], q = outline[(i + 1) % outline.size()];
        const float dx = q.x - p.x, dy = q.y - p.y;
        const float across = dx * (y + 0.5f - p.y) - dy * (x + 0.5f - p.x);
        inside = std::min(inside, across / std::hypot(dx, dy));
    }
    return inside;
}

Rect boxOf(const Device& device, Colour colour) {
    Rect box;
    for (int y = 0; y < device.height(); ++y)
        for (int x = 0; x < device.width(); ++x)
            if (device.backBuffer()[y * device.width() + x] == colour)
                box = box.united({x, y, x + 1, y + 1});
    return box;
}

TEST(Render, ProjectsWorldPointsOntoTheExpectedPixels) {
    struct Case {
        Vector3 at;
        Rect viewport;
        float expectX, expectY;
    };
    const Rect full{0, 0, 1024, 768};
    // Camera 5 back, field 0.5: 153.6 pixels per unit at z = 0, 76.8 at z = 5.
    const Case cases[] = {
        {{0, 0, 0}, full, 512, 384},          {{1, 0, 0}, full, 665.6f, 384},
        {{0, 1, 0}, full, 512, 230.4f},       {{2.45f, 0, 0}, full, 888.32f, 384},
        {{-1, -0.5f, 5}, full, 435.2f, 422.4f},
        {{1, 1, 0}, {100, 50, 612, 434}, 432.8f, 165.2f},  // the viewport's centre and height
        {{0, 0, 0}, {-200, -100, 824, 668}, 312, 284},    // off the device, it keeps its centre
    };
    for (const Case& c : cases) {
        TestScene scene(5.0f);
        const float x = c.at.x, y = c.at.y, z = c.at.z, h = 0.01f;
        scene.add({{x - h, y + h, z}, {x + h, y + h, z}, {x + h, y - h, z}, {x - h, y - h, z}},
                  white);
        Device device(1024, 768);
        draw(device, scene, c.viewport);
        const Rect box = boxOf(device, white);
        ASSERT_FALSE(box.empty()) << c.expectX << "," << c.expectY;
        EXPECT_NEAR((box.left + box.right) / 2.0f, c.expectX, 1.0f);
        EXPECT_NEAR((box.top + box.bottom) / 2.0f, c.expectY, 1.0f);
    }
}

// Each face is drawn alone and its pixels counted: inside the outline every pixel must
// belong to exactly one face, outside it to none.
TEST(Render, FacesSharingEdgesCoverEachPixelExactlyOnce) {
    struct Case {
        const char* name;
        std::vector<std::vector<Vector3>> faces;
        std::vector<Vector3> outline;  // convex, in pixels
    };
    // Corners on pixel centres put rows and columns of samples on the edges, and the
    // grid's inner corners on pixels shared by four quads.
    const Vector3 a{10.5f, 10.5f}, b{40.5f, 10.5f}, c{40.5f, 40.5f}, d{10.5f, 40.5f};
    std::vector<Case> cases = {
        {"diagonal split",
         {{onScreen(a.x, a.y), onScreen(b.x, b.y), onScreen(c.x, c.y)},
          {onScreen(a.x, a.y), onScreen(c.x, c.y), onScreen(d.x, d.y)}},
         {a, b, c, d}},
        {"grid on pixel centres", {}, {{8.5f, 8.5f}, {56.5f, 8.5f}, {56.5f, 56.5f}, {8.5f, 56.5f}}},
        {"fan of thin triangles", {}, {}},
        // The fan's first triangle has no area; the quad is not drawn in one pass.
        {"quad with a corner on a side",
         {{onScreen(10, 10), onScreen(30, 10), onScreen(50, 10), onScreen(30, 40)}},
         {{10, 10}, {50, 10}, {30, 40}}},
    };
    for (float i = 0; i < 48; i += 12)
        for (float j = 0; j < 48; j += 12)
            cases[1].faces.push_back(screenRect(8.5f + i, 8.5f + j, 20.5f + i, 20.5f + j));
    constexpr int spokes = 29;
    for (int k = 0; k <= spokes; ++k) {
        const float angle = 2 * std::numbers::pi_v<float> * float(k % spokes) / spokes;
        const Vector3 rim{31.3f + 25 * std::cos(angle), 30.7f + 25 * std::sin(angle)};
        if (k > 0) {
            const Vector3 last = cases[2].outline.back();
            cases[2].faces.push_back(
                {onScreen(31.3f, 30.7f), onScreen(last.x, last.y), onScreen(rim.x, rim.y)});
        }
        if (k < spokes) cases[2].outline.push_back(rim);
    }
    for (const Case& c : cases) {
        std::vector<int> count(side * side, 0);
        for (const auto& face : c.faces) {
            const std::vector<bool> drawn = drawnAlone(face);
            for (int i = 0; i < side * side; ++i) count[i] += drawn[i];
        }
        int faults = 0;
        for (int y = 0; y < side; ++y)
            for (int x = 0; x < side; ++x) {
                const float inside = insideOutline(c.outline, x, y);
                const int n = count[y * side + x];
                const bool wrong =
                    n > 1 || (inside > 0.01f && n != 1) || (inside < -0.01f && n != 0);
                if (wrong && ++faults <= 5)
                    ADD_FAILURE() << c.name << ": pixel " << x << "," << y << " drawn " << n;
            }
    }
}

// A pixel centre lying exactly on an edge belongs to the face on the edge's right or
// lower side: a face keeps the centres on its left and top edges and leaves those on its
// right and bottom edges to its neighbours, whichever way its corners run.
TEST(Render, CentresOnAnEdgeGoToTheFaceRightOfOrBelowIt) {
    using Filled = bool (*)(int x, int y);
    struct Case {
        const char* name;
        std::vector<Vector3> corners;  // in pixels
        Filled filled;
        bool halfOfTheSquare = false;
    };
    // The square's corners lie on the centres of pixels 10 and 40, its diagonal on the
    // centres of pixels (k, k).
    constexpr Filled inSquare = [](int x, int y) { return x >= 10 && x < 40 && y >= 10 && y < 40; };
    constexpr Filled upperRight = [](int x, int y) { return x >= y && y >= 10 && x < 40; };
    constexpr Filled lowerLeft = [](int x, int y) { return x < y && x >= 10 && y < 40; };
    const Case cases[] = {
        {"square", {{10.5f, 10.5f}, {40.5f, 10.5f}, {40.5f, 40.5f}, {10.5f, 40.5f}}, inSquare},
        {"square, other winding", {{10.5f, 10.5f}, {10.5f, 40.5f}, {40.5f, 40.5f}, {40.5f, 10.5f}},
         inSquare},
        {"upper right half", {{10.5f, 10.5f}, {40.5f, 10.5f}, {40.5f, 40.5f}}, upperRight, true},
        {"upper right half, other winding", {{40.5f, 40.5f}, {40.5f, 10.5f}, {10.5f, 10.5f}},
         upperRight},
        {"lower left half", {{10.5f, 10.5f}, {40.5f, 40.5f}, {10.5f, 40.5f}}, lowerLeft, true},
    };
    std::vector<int> halvesDrawn(side * side, 0);
    for (const Case& c : cases) {
        std::vector<Vector3> face;
        for (const Vector3& corner : c.corners) face.push_back(onScreen(corner.x, corner.y));
        const std::vector<bool> drawn = drawnAlone(face);
        int faults = 0;
        for (int y = 0; y < side; ++y)
            for (int x = 0; x < side; ++x) {
                const bool here = drawn[y * side + x];
                if (c.halfOfTheSquare) halvesDrawn[y * side + x] += here;
                if (here != c.filled(x, y) && ++faults <= 5)
                    ADD_FAILURE() << c.name << ": pixel " << x << "," << y
                                  << (here ? " drawn" : " not drawn");
            }
    }
    // The halves share the diagonal: each pixel of the square is drawn by one, none by both.
    for (int y = 0; y < side; ++y)
        for (int x = 0; x < side; ++x)
            EXPECT_EQ(halvesDrawn[y * side + x], int(inSquare(x, y))) << x << "," << y;
}

TEST(Render, NearerFaceWinsWhateverTheOrder) {
    struct Case {
        const char* name;
        std::vector<Vector3> nearer, farther;
        int probeX, probeY;
    };
    // The floor runs from 4 to 40 units away; under the probe it is 64/6.5 = 9.85 away,
    // which only 1/depth interpolated in screen space gets right.
    const std::vector<Vector3> floor = {{-3, -1, 0}, {3, -1, 0}, {3, -1, 36}, {-3, -1, 36}};
    const Case cases[] = {
        {"parallel faces", screenRect(20, 20, 40, 40), screenRect(30, 30, 50, 50, 5), 35, 35},
        {"face just before the floor", screenRect(30, 37, 35, 40, 9.5f), floor, 32, 38},
        {"face just behind the floor", floor, screenRect(30, 37, 35, 40, 10.2f), 32, 38},
        // A quad folded along its diagonal from (20, 20) to (44, 44): the half with the
        // corner at (20, 44) is 6.6 units away under the probe, not 4.
        {"face before a folded quad", screenRect(21, 40, 24, 43, 6),
         {onScreen(20, 20), onScreen(44, 20), onScreen(44, 44), onScreen(20, 44, 8)}, 22, 41},
    };
    for (const Case& c : cases)
        for (bool nearFirst : {true, false}) {
            TestScene scene;
            scene.add(nearFirst ? c.nearer : c.farther, nearFirst ? red : green);
            scene.add(nearFirst ? c.farther : c.nearer, nearFirst ? green : red);
            Device device(side, side);
            EXPECT_EQ(draw(device, scene)[c.probeY * side + c.probeX], red)
                << c.name << (nearFirst ? ", nearer first" : ", nearer last");
        }
    // At equal depth the earlier face stays: once clear of the viewport's right edge, and
    // once running into it, where runs of pixels are taken one by one.
    for (int right : {50, 64})
        for (bool leftFirst : {true, false}) {
            const auto left = screenRect(20, 20, right - 10, 40);
            const auto lower = screenRect(30, 30, right, 50);
            TestScene scene;
            scene.add(leftFirst ? left : lower, red);
            scene.add(leftFirst ? lower : left, green);
            Device device(side, side);
            EXPECT_EQ(draw(device, scene)[35 * side + right - 15], red) << right << leftFirst;
        }
}

TEST(Render, ClipsToTheViewVolumeAndTheViewport) {
    struct Case {
        const char* name;
        std::vector<Vector3> face;
        int firstRow, lastRow;  // of drawn pixels; -1 for none
        bool everyPixel = false;
        int probeX = -1, probeY = -1;  // a pixel that must be drawn
    };
    constexpr float huge = 1e6f;
    const Case cases[] = {
        // Far edge 10 away: 32 + 64/10 = 38.4; the part behind the camera is cut off.
        {"floor through the camera plane", {{-2, -1, -10}, {2, -1, -10}, {2, -1, 6}, {-2, -1, 6}},
         38, 63},
        {"vertex on the camera plane", {{0, -1, -4}, {1, -1, 6}, {-1, -1, 6}}, 38, 63},
        {"wholly behind the camera", screenRect(0, 0, 64, 64, -2), -1, -1},
        {"nearer than the front plane", screenRect(0, 0, 64, 64, 0.5f), -1, -1},
        {"beyond the back plane", screenRect(0, 0, 64, 64, 150), -1, -1},
        // 10 down from 50 to 150 away: rows from 32 + 640/100 = 38.4 to 32 + 640/50.
        {"through the back plane", {{-50, -10, 46}, {50, -10, 46}, {50, -10, 146}, {-50, -10, 146}},
         38, 44},
        {"into the last corner", screenRect(50, 50, 70, 70), 50, 63},
        {"far larger than the view",
         {{-huge, huge, 6}, {huge, huge, 6}, {huge, -huge, 6}, {-huge, -huge, 6}}, 0, 63, true},
        {"a vertex that is not a number",
         {{0, 0, 6}, {1, 0, 6}, {std::numeric_limits<float>::quiet_NaN(), -1, 6}}, -1, -1},
        {"a vertex at infinity",
         {{0, 0, 6}, {1, 0, 6}, {0, -1, std::numeric_limits<float>::infinity()}}, -1, -1},
        // A band 20 pixels high sloping down at 1/2, its far end ten million pixels away.
        {"reaching far off the view",
         {onScreen(20, 40, 10), onScreen(20, 20, 10), onScreen(2e7f, 1e7f, 10)}, 20, 61, false,
         60, 50},
    };
    // Pixels left of the viewport show a scissor that leaks (on the right, into the next
    // row); the viewport ends where the device does, so a run overshooting its last pixel
    // would write past the buffer.
    constexpr int margin = 16, width = margin + side;
    for (const Case& c : cases) {
        TestScene scene;
        scene.add(c.face, white);
        Device device(width, side);
        const auto& pixels = draw(device, scene, {margin, 0, width, side});
        int firstRow = -1, lastRow = -1, drawn = 0;
        for (int y = 0; y < side; ++y)
            for (int x = 0; x < width; ++x) {
                const std::uint32_t p = pixels[y * width + x];
                if (x < margin) {
                    ASSERT_EQ(p, 0xFF000000u) << c.name << ": drawn outside the viewport";
                } else if (p == white) {
                    firstRow = firstRow < 0 ? y : firstRow;
                    lastRow = y;
                    ++drawn;
                }
            }
        EXPECT_EQ(firstRow, c.firstRow) << c.name;
        EXPECT_EQ(lastRow, c.lastRow) << c.name;
        if (c.everyPixel) {
            EXPECT_EQ(drawn, side * side) << c.name;
        }
        if (c.probeX >= 0) {
            EXPECT_EQ(pixels[c.probeY * width + margin + c.probeX], white) << c.name;
        }
    }
}

TEST(Render, LightsFacesFlatFromTheSideTheCameraSees) {
    // 1.49 * (200, 128, 64) = (298 -> 255, 190.72, 95.36); 0.995 * ... = (199, 127.36, 63.68).
    constexpr Colour full = 0xFFFFBF5F, ambientOnly = 0xFF644020, halfLit = 0xFFC77F40;
    static constexpr Light half{LightType::Ambient, 0.5f, 0.5f, 0.5f};
    static constexpr Light strong{LightType::Directional, 0.99f, 0.99f, 0.99f};
    struct Case {
        const char* name;
        Colour expect;
        Vector3 lightDirection = {0, 0, 1};  // in its parent's space
        bool turnedParent = false;           // the parent turned half round about y
        float faceTurn = 0;                  // radians about y
        bool reversedWinding = false;
        std::uint32_t quality = quality::lightOn | quality::fillSolid;
        Colour faceColour = 0xFFC88040;
        Light ambient = half, directional = strong;
    };
    const Case cases[] = {
        {"facing the light", full},
        {"other winding", full, {0, 0, 1}, false, 0, true},
        {"lit from behind", ambientOnly, {0, 0, -1}},
        {"light at 60 degrees", halfLit, {std::sqrt(0.75f), 0, 0.5f}},
        {"face turned 60 degrees", halfLit, {0, 0, 1}, false, std::numbers::pi_v<float> / 3, true},
        {"light in a turned frame", full, {0, 0, -1}, true},
        {"light off, alpha made opaque", 0xFFC88040, {0, 0, 1}, false, 0, false,
         quality::fillSolid, 0x40C88040},
        {"light on, shade 3, point fill", full, {0, 0, 1}, false, 0, false, 11},
        {"coloured lights", 0xFFC84000, {0, 0, 1}, false, 0, false, 11, 0xFFC88040,
         {LightType::Ambient, 1, 0, 0}, {LightType::Directional, 0, 0.5f, 0}},
    };
    for (const Case& c : cases) {
        TestScene scene;
        scene.root->addLight(c.ambient);
        Frame& parent = scene.root->createChild();
        if (c.turnedParent)
            parent.addRotation(Combine::Replace, {0, 1, 0}, std::numbers::pi_v<float>);
        Frame& light = parent.createChild();
        light.setOrientation(&parent, c.lightDirection, {0, 1, 0});
        light.addLight(c.directional);
        std::vector<Vector3> square;
        for (auto [x, y] : {std::pair{-1.0f, 1.0f}, {1.0f, 1.0f}, {1.0f, -1.0f}, {-1.0f, -1.0f}})
            square.push_back({x * std::cos(c.faceTurn), y, -x * std::sin(c.faceTurn)});
        if (c.reversedWinding) std::swap(square[1], square[3]);
        scene.add(square, c.faceColour);
        Device device(side, side);
        const auto& pixels = draw(device, scene, {0, 0, side, side}, c.quality);
        EXPECT_EQ(pixels[32 * side + 32], c.expect) << c.name;
        EXPECT_EQ(pixels[26 * side + 28], c.expect) << c.name << ": not filled solid";
    }
}

// The window keeps what was copied to it; the overlay paints dots there that a repaint of
// the flake must leave alone.
TEST(Render, UpdateCopiesOnlyWhatChanged) {
    TestScene scene;
    scene.add(screenRect(10, 10, 20, 18), red);
    Device device(side, side);
    device.setQuality(quality::fillSolid);
    Viewport viewport(device, scene.camera, 0, 0, side, side);
    std::vector<std::uint32_t> window(side * side, 0);
    const PixelView target{window.data(), side, side, side};
    const auto repaint = [&] {
        viewport.clear();
        viewport.render(*scene.root);
        device.update(target);
    };
    const std::vector<Rect> whole{{0, 0, side, side}};
    // The overlay's pixel, between the face's old and new places but outside both.
    constexpr int dot = 12 * side + 30;

    repaint();
    EXPECT_EQ(device.lastUpdateRects(), whole) << "the first update copies all";
    EXPECT_EQ(window, device.backBuffer());
    const Rect before = boxOf(device, red);

    window[dot] = white;
    scene.object.setPosition(nullptr, {1.0f, -0.5f, 0});  // 16 right, 8 down
    repaint();
    const Rect both = before.united(boxOf(device, red));
    Rect copied;
    const std::vector<Rect>& rects = device.lastUpdateRects();
    for (std::size_t i = 0; i < rects.size(); ++i) {
        EXPECT_EQ(rects[i].intersected(both), rects[i]) << "copied beyond the old and new positions";
        for (std::size_t j = i + 1; j < rects.size(); ++j)
            EXPECT_TRUE(rects[i].intersected(rects[j]).empty()) << "a pixel copied twice";
        copied = copied.united(rects[i]);
    }
    EXPECT_EQ(copied.intersected(both), both);
    EXPECT_EQ(window[dot], white) << "the overlay's dot was overwritten";
    EXPECT_EQ(window[12 * side + 12], background) << "the old position was not erased";
    window[dot] = device.backBuffer()[dot];
    EXPECT_EQ(window, device.backBuffer());

    // Nothing copied to no window: the next real one still gets the move.
    scene.object.setPosition(nullptr, {-1.0f, 0, 0});
    viewport.clear();
    viewport.render(*scene.root);
    device.update({});
    EXPECT_TRUE(device.lastUpdateRects().empty());
    device.update(target);
    EXPECT_EQ(window, device.backBuffer());

    window[dot] = white;
    scene.root->setSceneBackground(0xFF000080);
    repaint();
    EXPECT_EQ(device.lastUpdateRects(), whole) << "a new background repaints all";
    EXPECT_EQ(window, device.backBuffer());

    // Back to the first background: all of the device again, as far as a smaller window
    // takes it. A device of no size draws and copies nothing.
    scene.root->setSceneBackground(background);
    viewport.clear();
    device.update({window.data(), 16, 8, side});
    EXPECT_EQ(device.lastUpdateRects(), (std::vector<Rect>{{0, 0, 16, 8}}));
    for (auto [width, height] : {std::pair{0, 0}, {-5, 10}}) {
        Device none(width, height);
        EXPECT_TRUE(draw(none, scene).empty());
        none.update(target);
        EXPECT_TRUE(none.lastUpdateRects().empty());
    }
}

}  // namespace
}  // namespace vesk::retained
