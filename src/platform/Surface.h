// The window's pixels: a persistent 32-bit picture that the retained-mode device updates
// after a render and the overlay paints single pixels on. Every backend keeps it in
// memory; a real window streams it to the screen when it has changed.
#pragma once

#include <cstdint>
#include <vector>

#include "retained/PixelView.h"

namespace vesk::platform {

// Overlay colours are colour words 0x00BBGGRR, red in the low byte.
using OverlayColour = std::uint32_t;

class Surface {
public:
    Surface(int width, int height)
        : width_(width > 0 ? width : 0),
          height_(height > 0 ? height : 0),
          pixels_(std::size_t(width_) * std::size_t(height_), opaqueBlack) {}

    int width() const { return width_; }
    int height() const { return height_; }

    // One pixel in an overlay colour; pixels outside the window are not painted.
    void setPixel(int x, int y, OverlayColour colour) {
        if (x < 0 || y < 0 || x >= width_ || y >= height_) return;
        const std::uint32_t red = colour & 0xFFu;
        const std::uint32_t green = (colour >> 8) & 0xFFu;
        const std::uint32_t blue = (colour >> 16) & 0xFFu;
        pixels_[std::size_t(y) * std::size_t(width_) + std::size_t(x)] =
            0xFF000000u | red << 16 | green << 8 | blue;
        changed_ = true;
    }

    // 0xFFRRGGBB; 0 outside the window.
    std::uint32_t pixel(int x, int y) const {
        if (x < 0 || y < 0 || x >= width_ || y >= height_) return 0;
        return pixels_[std::size_t(y) * std::size_t(width_) + std::size_t(x)];
    }

    // For the device's update, which writes the pixels directly: the surface counts as
    // changed from here on.
    retained::PixelView view() {
        changed_ = true;
        return {pixels_.data(), width_, height_, width_};
    }

    const std::vector<std::uint32_t>& pixels() const { return pixels_; }

    // True once after each change: a real window presents then.
    bool takeChanged() {
        const bool was = changed_;
        changed_ = false;
        return was;
    }

private:
    static constexpr std::uint32_t opaqueBlack = 0xFF000000u;

    int width_;
    int height_;
    std::vector<std::uint32_t> pixels_;
    bool changed_ = true;
};

}  // namespace vesk::platform
