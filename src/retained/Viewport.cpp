// A viewport: walks the scene's frame tree, takes every face into camera space, lights
// it flat and hands it to the rasteriser, which clips, projects and fills it. Also keeps
// the device's dirty rectangles, which Device::update copies to the window.
#include "retained/Viewport.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "retained/MeshBuilder.h"
#include "retained/Rasteriser.h"

namespace vesk::retained {

namespace {

constexpr std::uint32_t opaque = 0xFF000000u;
constexpr std::uint32_t rgbMask = 0x00FFFFFFu;
// A front plane at or behind the camera would divide by zero when projecting.
constexpr float nearestFront = 1e-4f;
// Faces reaching further than this from the viewport's centre are cut in camera space,
// which keeps the rasteriser's fixed-point coordinates small; nearer than that, a face
// is only scissored, so shared edges on screen stay exactly shared.
constexpr float guardBandPixels = 16384.0f;
constexpr float fullChannel = 255.0f;
constexpr int redShift = 16;
constexpr int greenShift = 8;
constexpr int blueShift = 0;
// A light shines along its frame's +z.
constexpr Vector3 lightAxis{0.0f, 0.0f, 1.0f};

struct DirectionalLight {
    Vector3 towardsLight;  // camera space, unit length
    float red;
    float green;
    float blue;
};

struct Lighting {
    float ambient[3] = {0.0f, 0.0f, 0.0f};
    std::vector<DirectionalLight> directional;
};

// Calls visit(frame, worldTransform) for `frame` and every descendant, parents first.
template <typename Visit>
void forEachFrame(const Frame& frame, const Matrix4& world, Visit& visit) {
    visit(frame, world);
    for (std::size_t i = 0; i < frame.childCount(); ++i) {
        const Frame& child = *frame.child(i);
        forEachFrame(child, child.localTransform() * world, visit);
    }
}

Vector3 normalised(Vector3 v) {
    const float length = std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z);
    if (length == 0.0f) return v;
    return {v.x / length, v.y / length, v.z / length};
}

// Single-precision copy of an object-to-camera transform: every vertex of a visual goes
// through it, and float keeps that cheap.
struct CameraTransform {
    float m[4][3];

    explicit CameraTransform(const Matrix4& t) {
        for (int i = 0; i < 4; ++i)
            for (int j = 0; j < 3; ++j) m[i][j] = float(t.m[i][j]);
    }
    Vector3 apply(const Vector3& p) const {
        return {p.x * m[0][0] + p.y * m[1][0] + p.z * m[2][0] + m[3][0],
                p.x * m[0][1] + p.y * m[1][1] + p.z * m[2][1] + m[3][1],
                p.x * m[0][2] + p.y * m[1][2] + p.z * m[2][2] + m[3][2]};
    }
};

std::uint32_t scaledChannel(std::uint32_t colour, int shift, float intensity) {
    const float value = float((colour >> shift) & 0xFFu) * intensity;
    // Rounded half up; the clamp keeps it non-negative, where that equals lround.
    return std::uint32_t(std::clamp(value, 0.0f, fullChannel) + 0.5f) << shift;
}

// The normal of a face's plane, as long as twice its area: Newell's normal, taken relative
// to the first vertex to keep float cancellation small for the flake's tiny quads. For a
// quad that sum is exactly the cross product of the diagonals, far cheaper to take.
Vector3 faceNormal(const Vector3* v, int count) {
    if (count == 4) {
        const Vector3 p{v[2].x - v[0].x, v[2].y - v[0].y, v[2].z - v[0].z};
        const Vector3 q{v[3].x - v[1].x, v[3].y - v[1].y, v[3].z - v[1].z};
        return {p.y * q.z - p.z * q.y, p.z * q.x - p.x * q.z, p.x * q.y - p.y * q.x};
    }
    Vector3 n;
    for (int i = 0; i < count; ++i) {
        const Vector3& a = v[i];
        const Vector3& b = v[i + 1 < count ? i + 1 : 0];
        const float ay = a.y - v[0].y, az = a.z - v[0].z, ax = a.x - v[0].x;
        const float by = b.y - v[0].y, bz = b.z - v[0].z, bx = b.x - v[0].x;
        n.x += (ay - by) * (az + bz);
        n.y += (az - bz) * (ax + bx);
        n.z += (ax - bx) * (ay + by);
    }
    return n;
}

// Flat shading of one face from its unclipped camera-space polygon. Frames only rotate
// and translate, so angles measured in camera space are those of world space.
std::uint32_t litColour(Colour colour, const Vector3* v, int count, const Lighting& lighting) {
    Vector3 n = faceNormal(v, count);
    // Faces are two-sided (the flake is thin and tumbles): the lit side is the one the
    // camera, at the origin, sees.
    if (n.x * v[0].x + n.y * v[0].y + n.z * v[0].z > 0.0f) n = {-n.x, -n.y, -n.z};
    n = normalised(n);

    float intensity[3] = {lighting.ambient[0], lighting.ambient[1], lighting.ambient[2]};
    for (const DirectionalLight& light : lighting.directional) {
        const float facing = n.x * light.towardsLight.x + n.y * light.towardsLight.y +
                             n.z * light.towardsLight.z;
        if (facing <= 0.0f) continue;
        intensity[0] += light.red * facing;
        intensity[1] += light.green * facing;
        intensity[2] += light.blue * facing;
    }
    return opaque | scaledChannel(colour, redShift, intensity[0]) |
           scaledChannel(colour, greenShift, intensity[1]) |
           scaledChannel(colour, blueShift, intensity[2]);
}

// The lights of `scene` and its descendants, directions taken into camera space.
Lighting sceneLighting(const Frame& scene, const Matrix4& cameraFromWorld) {
    Lighting lighting;
    auto collectLights = [&](const Frame& frame, const Matrix4& world) {
        for (const Light& light : frame.lights()) {
            if (light.type == LightType::Ambient) {
                lighting.ambient[0] += light.red;
                lighting.ambient[1] += light.green;
                lighting.ambient[2] += light.blue;
                continue;
            }
            // It shines along its frame's +z; faces are lit from the opposite way.
            const Vector3 along = normalised(cameraFromWorld.transformDirection(
                normalised(world.transformDirection(lightAxis))));
            lighting.directional.push_back(
                {{-along.x, -along.y, -along.z}, light.red, light.green, light.blue});
        }
    };
    forEachFrame(scene, scene.worldTransform(), collectLights);
    return lighting;
}

// What every face of one render is drawn with; no lighting: faces keep their colours.
struct FaceDrawing {
    View view;
    RasterTarget target;
    const Lighting* lighting;
};

// One face taken into camera space (its vertices left in `camera`), coloured and
// rasterised; the pixels it covered.
Rect drawFace(const FaceDrawing& drawing, const CameraTransform& toCamera,
              const MeshBuilder::Face& face, Vector3* camera) {
    const int count = std::min<int>(face.vertexCount, MeshBuilder::maxFaceVertices);
    if (count < 3) return {};
    for (int i = 0; i < count; ++i) camera[i] = toCamera.apply(face.vertices[i]);
    const std::uint32_t colour = drawing.lighting
                                     ? litColour(face.colour, camera, count, *drawing.lighting)
                                     : opaque | (face.colour & rgbMask);
    return drawPolygon(drawing.target, drawing.view, camera, count, colour);
}

}  // namespace

Viewport::Viewport(Device& device, Frame& camera, int x, int y, int width, int height)
    : device_(&device), camera_(&camera) {
    const std::int64_t right = std::int64_t(x) + std::max(width, 0);
    const std::int64_t bottom = std::int64_t(y) + std::max(height, 0);
    area_ = Rect{x, y, int(std::min<std::int64_t>(right, device.width())),
                 int(std::min<std::int64_t>(bottom, device.height()))}
                .intersected({0, 0, device.width(), device.height()});
    centreX_ = float(double(x) + double(width) / 2.0);
    centreY_ = float(double(y) + double(height) / 2.0);
    halfHeight_ = float(height) / 2.0f;
}

void Viewport::clear() {
    Device& d = *device_;
    if (area_.empty()) return;
    const std::uint32_t background = opaque | (camera_->root().sceneBackground() & rgbMask);
    if (d.clearedWith_ != background) {
        // A new background changes every pixel, so the whole viewport is copied next time.
        d.clearRect(area_, background);
        d.fullUpdate_ = true;
        d.clearedWith_ = background;
    } else {
        // Everything else already is background: erase only what the last frame drew.
        d.clearRect(d.drawn_, background);
    }
    d.erased_ = d.erased_.united(d.drawn_);
    d.drawn_ = {};
}

void Viewport::render(const Frame& scene) {
    Device& d = *device_;
    const float front = std::max(front_, nearestFront);
    if (area_.empty() || !(field_ > 0.0f) || !(back_ > front) || !(halfHeight_ > 0.0f)) return;

    const Matrix4 cameraFromWorld = camera_->worldTransform().inverseAffine();
    const float scale = halfHeight_ / field_;  // pixels per unit of x/z or y/z
    // Quality's shade and fill bits are not consulted: faces are always drawn solid and
    // flat, so a quality of 11 (light on, shade mode 3, point fill) draws lit, flat,
    // solid faces, as the flake is meant to look.
    const bool lit = (d.quality_ & quality::lightOn) != 0;
    const Lighting lighting = lit ? sceneLighting(scene, cameraFromWorld) : Lighting{};
    const FaceDrawing drawing{View{centreX_, centreY_, scale, front, back_, guardBandPixels},
                              RasterTarget{d.colour_.data(), d.depth_.data(), d.width_, area_},
                              lit ? &lighting : nullptr};

    Rect drawn = d.drawn_;
    // Set up once rather than per face: its members' initialisers would otherwise zero it
    // for every face, which cost as much as transforming the face.
    Vector3 camera[MeshBuilder::maxFaceVertices];
    auto drawVisuals = [&](const Frame& frame, const Matrix4& world) {
        if (frame.visuals().empty()) return;
        const CameraTransform toCamera(world * cameraFromWorld);
        for (const auto& mesh : frame.visuals())
            mesh->forEachFace([&](const MeshBuilder::Face& face) {
                drawn = drawn.united(drawFace(drawing, toCamera, face, camera));
            });
    };
    forEachFrame(scene, scene.worldTransform(), drawVisuals);
    d.drawn_ = drawn;
}

}  // namespace vesk::retained
