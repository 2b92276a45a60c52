// Comparison of a rendered picture with a reference image under tests/reference-images/.
// Set VESK_UPDATE_REFERENCE_IMAGES=1 to rewrite the references when a change to the
// picture is intended; a mismatch leaves the actual picture in the test output folder.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "platform/headless/PngFile.h"

namespace vesk::test {

struct ImageTolerance {
    int channel = 8;               // a pixel differs when a channel moves by more than this
    double differingShare = 0.002;  // share of differing pixels still accepted
};

::testing::AssertionResult matchesReference(const std::string& name, const platform::Image& actual,
                                            ImageTolerance tolerance = {});

}  // namespace vesk::test
