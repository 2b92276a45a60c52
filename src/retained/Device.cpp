// The render target: back buffer and depth buffer, and the copy of what changed to the
// window's pixels. Viewport::clear and render keep the dirty rectangles that update()
// relies on; pixels of the window outside them (the overlay's dots) are never touched.
#include "retained/Device.h"

#include <algorithm>
#include <cstddef>
#include <vector>

namespace vesk::retained {

namespace {

constexpr std::uint32_t opaqueBlack = 0xFF000000u;
constexpr float infinitelyFar = 0.0f;  // as 1/depth

// What was drawn now, then what the clear erased outside it, cut into at most four bands:
// no pixel is copied twice, and none outside both rectangles is touched, so the overlay's
// dots beside the flake survive even between the two.
void addDirtyRects(std::vector<Rect>& rects, const Rect& drawn, const Rect& erased) {
    if (!drawn.empty()) rects.push_back(drawn);
    const Rect overlap = erased.intersected(drawn);
    if (overlap.empty()) {
        if (!erased.empty()) rects.push_back(erased);
        return;
    }
    const Rect bands[] = {
        {erased.left, erased.top, erased.right, overlap.top},
        {erased.left, overlap.bottom, erased.right, erased.bottom},
        {erased.left, overlap.top, overlap.left, overlap.bottom},
        {overlap.right, overlap.top, erased.right, overlap.bottom},
    };
    for (const Rect& band : bands)
        if (!band.empty()) rects.push_back(band);
}

}  // namespace

Device::Device(int width, int height)
    : width_(width > 0 && height > 0 ? width : 0), height_(width > 0 && height > 0 ? height : 0) {
    const std::size_t pixels = std::size_t(width_) * std::size_t(height_);
    colour_.assign(pixels, opaqueBlack);
    depth_.assign(pixels, infinitelyFar);
}

void Device::clearRect(const Rect& rect, std::uint32_t colour) {
    const Rect r = rect.intersected({0, 0, width_, height_});
    if (r.empty()) return;
    const std::size_t span = std::size_t(r.right - r.left);
    for (int y = r.top; y < r.bottom; ++y) {
        const std::size_t start = std::size_t(y) * std::size_t(width_) + std::size_t(r.left);
        std::fill_n(colour_.begin() + std::ptrdiff_t(start), span, colour);
        std::fill_n(depth_.begin() + std::ptrdiff_t(start), span, infinitelyFar);
    }
}

void Device::update(PixelView target) {
    lastUpdateRects_.clear();
    // Nothing copied means nothing is owed yet: the dirty state waits for a real target.
    if (!target.pixels || target.width <= 0 || target.height <= 0 ||
        target.stride < target.width || colour_.empty())
        return;

    const Rect bounds{0, 0, std::min(width_, target.width), std::min(height_, target.height)};
    if (fullUpdate_) {
        lastUpdateRects_.push_back(bounds);
    } else {
        addDirtyRects(lastUpdateRects_, drawn_.intersected(bounds), erased_.intersected(bounds));
    }

    for (const Rect& r : lastUpdateRects_) {
        const std::size_t span = std::size_t(r.right - r.left);
        for (int y = r.top; y < r.bottom; ++y)
            std::copy_n(colour_.begin() + std::ptrdiff_t(std::size_t(y) * width_ + r.left),
                        span,
                        target.pixels + std::ptrdiff_t(y) * target.stride + r.left);
    }
    erased_ = {};
    fullUpdate_ = false;
}

}  // namespace vesk::retained
