// The render target of the retained-mode engine: a 32-bit back buffer with a depth
// buffer, and the copy of what changed to the window's pixels. Viewports draw into it.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "retained/Frame.h"
#include "retained/PixelView.h"

namespace vesk::retained {

// Render-quality bits as callers pass them: lighting on/off, a shade mode, a fill mode.
namespace quality {
constexpr std::uint32_t shadeMask = 0x07;
constexpr std::uint32_t lightOn = 0x08;
constexpr std::uint32_t fillMask = 0xC0;
constexpr std::uint32_t fillPoints = 0x00;
constexpr std::uint32_t fillWireframe = 0x40;
constexpr std::uint32_t fillSolid = 0x80;
}  // namespace quality

class Device {
public:
    Device(int width, int height);

    int width() const { return width_; }
    int height() const { return height_; }
    void setQuality(std::uint32_t q) { quality_ = q; }
    std::uint32_t quality() const { return quality_; }

    // Copies to `target` only what changed: the rectangles drawn since the last clear and
    // those drawn before it (which the clear erased), or the whole device after the
    // background colour changed. The first update copies everything. Pixels of `target`
    // outside those rectangles are left as they are.
    void update(PixelView target);

    // Row-major, width() x height(), 0xFFRRGGBB.
    const std::vector<std::uint32_t>& backBuffer() const { return colour_; }
    // What the last update copied, for tests and diagnostics.
    const std::vector<Rect>& lastUpdateRects() const { return lastUpdateRects_; }

private:
    friend class Viewport;

    // Fills `rect` (within the device) with `colour` and resets its depth to infinitely far.
    void clearRect(const Rect& rect, std::uint32_t colour);

    int width_;
    int height_;
    std::uint32_t quality_ = quality::lightOn | quality::fillSolid;
    std::vector<std::uint32_t> colour_;
    std::vector<float> depth_;  // 1/depth, so 0 is infinitely far and nearer is greater
    Rect drawn_;       // drawn by render since the last clear
    Rect erased_;      // drawn before the last clear (and erased by it), not yet copied
    bool fullUpdate_ = true;
    std::optional<Colour> clearedWith_;
    std::vector<Rect> lastUpdateRects_;
};

}  // namespace vesk::retained
