// PNG files through libpng's simplified API, which handles every colour type and bit
// depth on reading and reports errors as text instead of longjmp-ing through our code.
#include "platform/headless/PngFile.h"

#include <png.h>

#include <cstring>

namespace vesk::platform {

std::string writePng(const std::string& path, const Image& image) {
    if (image.width <= 0 || image.height <= 0 ||
        image.pixels.size() != std::size_t(image.width) * std::size_t(image.height))
        return "image has no pixels or a size that does not match them";
    std::vector<std::uint8_t> rgb(image.pixels.size() * 3);
    for (std::size_t i = 0; i < image.pixels.size(); ++i) {
        const std::uint32_t p = image.pixels[i];
        rgb[3 * i] = std::uint8_t(p >> 16);
        rgb[3 * i + 1] = std::uint8_t(p >> 8);
        rgb[3 * i + 2] = std::uint8_t(p);
    }
    png_image png;
    std::memset(&png, 0, sizeof png);
    png.version = PNG_IMAGE_VERSION;
    png.width = png_uint_32(image.width);
    png.height = png_uint_32(image.height);
    png.format = PNG_FORMAT_RGB;
    if (!png_image_write_to_file(&png, path.c_str(), 0, rgb.data(), 0, nullptr)) {
        std::string reason = png.message;
        png_image_free(&png);
        return path + ": " + reason;
    }
    return {};
}

bool readPng(const std::string& path, Image& image, std::string& error) {
    png_image png;
    std::memset(&png, 0, sizeof png);
    png.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&png, path.c_str())) {
        error = path + ": " + png.message;
        return false;
    }
    png.format = PNG_FORMAT_RGB;
    std::vector<std::uint8_t> rgb(PNG_IMAGE_SIZE(png));
    if (!png_image_finish_read(&png, nullptr, rgb.data(), 0, nullptr)) {
        error = path + ": " + png.message;
        png_image_free(&png);
        return false;
    }
    image.width = int(png.width);
    image.height = int(png.height);
    image.pixels.resize(std::size_t(png.width) * png.height);
    for (std::size_t i = 0; i < image.pixels.size(); ++i)
        image.pixels[i] = 0xFF000000u | (std::uint32_t(rgb[3 * i]) << 16) |
                          (std::uint32_t(rgb[3 * i + 1]) << 8) | rgb[3 * i + 2];
    return true;
}

}  // namespace vesk::platform
