// Comparison of rendered pictures with reference images.
#include "support/ReferenceImage.h"

#include <cstdlib>
#include <filesystem>

namespace vesk::test {
namespace {

std::string outputDirectory() {
    const char* dir = std::getenv("VESK_TEST_OUTPUT");
    std::string path = dir && *dir ? dir : "test-output";
    std::filesystem::create_directories(path);
    return path;
}

int channelDistance(std::uint32_t a, std::uint32_t b) {
    int worst = 0;
    for (int shift : {0, 8, 16}) {
        const int d = std::abs(int((a >> shift) & 0xFF) - int((b >> shift) & 0xFF));
        worst = std::max(worst, d);
    }
    return worst;
}

}  // namespace

::testing::AssertionResult matchesReference(const std::string& name, const platform::Image& actual,
                                            ImageTolerance tolerance) {
    const std::string reference = std::string(VESK_REFERENCE_IMAGES) + "/" + name + ".png";
    const char* update = std::getenv("VESK_UPDATE_REFERENCE_IMAGES");
    if (update && *update && std::string(update) != "0") {
        const std::string error = platform::writePng(reference, actual);
        if (!error.empty()) return ::testing::AssertionFailure() << error;
        return ::testing::AssertionSuccess() << "rewrote " << reference;
    }

    platform::Image expected;
    std::string error;
    const std::string actualPath = outputDirectory() + "/" + name + "-actual.png";
    if (!platform::readPng(reference, expected, error)) {
        platform::writePng(actualPath, actual);
        return ::testing::AssertionFailure()
               << error << " (run with VESK_UPDATE_REFERENCE_IMAGES=1 to create it; the picture is in "
               << actualPath << ")";
    }
    if (expected.width != actual.width || expected.height != actual.height) {
        platform::writePng(actualPath, actual);
        return ::testing::AssertionFailure() << name << ": size " << actual.width << "x" << actual.height
                                             << ", reference " << expected.width << "x" << expected.height;
    }
    std::size_t differing = 0;
    int worst = 0;
    for (std::size_t i = 0; i < actual.pixels.size(); ++i) {
        const int d = channelDistance(actual.pixels[i], expected.pixels[i]);
        worst = std::max(worst, d);
        if (d > tolerance.channel) ++differing;
    }
    const double share = double(differing) / double(actual.pixels.size());
    if (share > tolerance.differingShare) {
        platform::writePng(actualPath, actual);
        return ::testing::AssertionFailure()
               << name << ": " << differing << " pixels differ (worst channel distance " << worst
               << "); the picture is in " << actualPath;
    }
    return ::testing::AssertionSuccess();
}

}  // namespace vesk::test
