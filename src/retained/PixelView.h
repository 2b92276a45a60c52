// A window of 32-bit pixels (0xAARRGGBB) owned by someone else, and rectangles on it.
#pragma once

#include <algorithm>
#include <cstdint>

namespace vesk::retained {

struct PixelView {
    std::uint32_t* pixels = nullptr;
    int width = 0;
    int height = 0;
    int stride = 0;  // pixels from one row to the next
};

// Half-open rectangle [left, right) x [top, bottom); empty when either side is <= 0 wide.
struct Rect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;

    bool empty() const { return right <= left || bottom <= top; }
    Rect united(const Rect& o) const {
        if (empty()) return o;
        if (o.empty()) return *this;
        return {std::min(left, o.left), std::min(top, o.top), std::max(right, o.right),
                std::max(bottom, o.bottom)};
    }
    Rect intersected(const Rect& o) const {
        Rect r{std::max(left, o.left), std::max(top, o.top), std::min(right, o.right),
               std::min(bottom, o.bottom)};
        return r.empty() ? Rect{} : r;
    }
    bool operator==(const Rect&) const = default;
};

}  // namespace vesk::retained
