// Reading and writing 32-bit pictures as PNG files: how the headless window surface is
// saved as video frames, and how reference images are kept for picture tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vesk::platform {

// Pixels 0xAARRGGBB, row-major; alpha is not stored (the window has none).
struct Image {
    int width = 0;
    int height = 0;
    std::vector<std::uint32_t> pixels;
};

// Writes an RGB PNG. Returns an empty string on success, else the reason.
std::string writePng(const std::string& path, const Image& image);
// Reads any PNG libpng understands into 0xFFRRGGBB pixels; the reason in `error` on failure.
bool readPng(const std::string& path, Image& image, std::string& error);

}  // namespace vesk::platform
