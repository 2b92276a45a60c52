// The flake's picture, pixel by pixel against reference images: the six seed arms of a
// new performance, and a flake of a few hundred notes grown and coloured tick by tick.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <memory>
#include <set>

#include "flake/Meshing.h"
#include "scene/Colouring.h"
#include "support/FlakeScene.h"
#include "support/GrownFlake.h"
#include "support/ReferenceImage.h"
#include "support/TestRandom.h"

using namespace vesk;

namespace {

constexpr double pi = 3.14159265358979;
constexpr std::uint32_t black = 0xFF000000;

struct Performance {
    std::unique_ptr<PerformanceState> state = std::make_unique<PerformanceState>();
    test::FlakeScene view;
    test::LcgRandom random{2024};

    Performance() {
        EXPECT_TRUE(test::growSeedArms(*state, *view.mesh, random));
        scene::initColours(*state, *view.mesh);
    }
    void grow(int note) { EXPECT_TRUE(test::growMeshed(*state, *view.mesh, random, note, state->scoreTick)); }
    // One tick with notes: growth, colour pulse, accents, spin and band recolouring.
    void tick(const std::vector<int>& notes) {
        ++state->scoreTick;
        state->noteOnCount = 0;
        for (int n : notes) {
            state->noteOnQueue[state->noteOnCount++] = std::uint8_t(n);
            grow(n);
        }
        scene::pulseColours(*state, *view.mesh);
        scene::accentNewNotes(*state, *view.mesh);
        scene::spinAndRecolour(*state, *view.mesh, &view.flakeFrame);
        state->noteOnCount = 0;
    }
};

// Lit pixels per 60-degree sector around the picture's centre.
std::array<int, 6> litPixelsBySector(const platform::Image& image) {
    std::array<int, 6> sectors{};
    for (int y = 0; y < image.height; ++y)
        for (int x = 0; x < image.width; ++x) {
            if (image.pixels[std::size_t(y) * image.width + x] == black) continue;
            const double angle = std::atan2(x - image.width / 2.0, image.height / 2.0 - y) + pi;
            ++sectors[std::min(5, int(angle / (pi / 3)))];
        }
    return sectors;
}

}  // namespace

TEST(FlakePicture, SixSeedArms) {
    Performance p;
    const platform::Image picture = p.view.picture();

    // The arm pointing up runs from the centre to 0.2945 units up: 45 pixels at 2.5 units
    // per half height. The picture's corners stay black.
    EXPECT_NE(picture.pixels[std::size_t(384 - 20) * 1024 + 512], black);
    EXPECT_NE(picture.pixels[std::size_t(384 - 40) * 1024 + 512], black);
    EXPECT_EQ(picture.pixels[std::size_t(384 - 60) * 1024 + 512], black);
    EXPECT_EQ(picture.pixels[0], black);
    EXPECT_EQ(picture.pixels.back(), black);
    for (int lit : litPixelsBySector(picture)) EXPECT_GT(lit, 100);

    EXPECT_TRUE(test::matchesReference("seed-arms", picture));
}

TEST(FlakePicture, AFlakeOfThreeHundredNotes) {
    Performance p;
    test::LcgRandom melody(99);
    while (p.state->flake.segmentCount < 306) {
        std::vector<int> chord;
        const int size = 1 + melody.next() % 3;
        for (int i = 0; i < size; ++i) chord.push_back(48 + melody.next() % 36);
        p.tick(chord);
    }
    const platform::Image picture = p.view.picture();

    const auto sectors = litPixelsBySector(picture);
    for (int lit : sectors) EXPECT_GT(lit, 1000) << "every arm of the flake has grown";
    std::set<std::uint32_t> colours(picture.pixels.begin(), picture.pixels.end());
    EXPECT_GT(colours.size(), 8u) << "depth colours, accents and lighting vary";
    EXPECT_EQ(picture.pixels[0], black);

    EXPECT_TRUE(test::matchesReference("flake-300", picture));
}

TEST(FlakePicture, RepaintsKeepOverlayDotsOutsideTheFlake) {
    Performance p;
    platform::Image window = p.view.picture();
    const std::size_t dot = std::size_t(700) * 1024 + 100;  // far from the flake
    window.pixels[dot] = 0xFFFFFFFF;
    for (int i = 0; i < 5; ++i) {
        p.tick({60 + i});
        p.view.repaint(window);
    }
    EXPECT_EQ(window.pixels[dot], 0xFFFFFFFFu);
    // A fresh full picture and the incrementally repainted window agree everywhere else.
    const platform::Image fresh = p.view.picture();
    window.pixels[dot] = black;
    EXPECT_EQ(window.pixels, fresh.pixels);
}
