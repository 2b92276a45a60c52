// The offline synthesiser: silence until something sounds, a message heard from its own
// sample (within FluidSynth's 64-frame block), and a desktop tone mixed in as the square
// wave it is, at its time and for its length.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "platform/Desktop.h"
#include "platform/midi/OfflineSynth.h"

namespace vesk::platform::midi {
namespace {

constexpr std::int64_t framesPerMs = synthSampleRate / 1000;
// FluidSynth's effects keep a trace of noise (about 1e-8) against denormal numbers: far
// below anything heard, and below what 16 bits keep.
constexpr float audible = 1e-5f;

struct Heard {
    std::int64_t nowUs = 0;
    std::vector<float> left, right;
    std::unique_ptr<OfflineSynth> synth;

    Heard() {
        std::string reason;
        synth = OfflineSynth::create(findSoundFont(""), [this] { return nowUs; },
                                     [this](std::span<const float> l, std::span<const float> r) {
                                         left.insert(left.end(), l.begin(), l.end());
                                         right.insert(right.end(), r.begin(), r.end());
                                         return true;
                                     },
                                     reason);
        EXPECT_TRUE(synth) << reason;
    }
    std::int64_t firstSound(std::int64_t from = 0) const {
        const auto it = std::find_if(left.begin() + from, left.end(), [](float x) { return std::abs(x) > audible; });
        return it - left.begin();
    }
};

TEST(OfflineSynth, ANoteSoundsFromItsOwnSampleAndATonesSquareWaveForItsLength) {
    if (findSoundFont("").empty()) GTEST_SKIP() << "no General MIDI SoundFont installed";
    Heard heard;
    ASSERT_TRUE(heard.synth);
    heard.nowUs = 234'567;
    heard.synth->sendShort(0x643C90);  // middle C
    heard.nowUs = 300'000;
    heard.synth->sendShort(0x003C80);
    heard.synth->reset();
    const std::int64_t sent = std::int64_t(234'567) * synthSampleRate / 1'000'000;
    EXPECT_GE(heard.firstSound(), sent);
    EXPECT_LT(heard.firstSound(), sent + 64);

    // Once the note and its reverberation have died away: a 100 Hz tone of 100 ms at 8 s.
    heard.nowUs = 8'000'000;
    heard.synth->renderUntil(heard.nowUs);
    heard.synth->addTone(100, 100);
    heard.synth->renderUntil(8'500'000);
    ASSERT_EQ(heard.left.size(), std::size_t(8500 * framesPerMs));
    const float level = float(beepAmplitude16) / 32768.0f;
    const std::int64_t start = 8000 * framesPerMs, halfPeriod = synthSampleRate / 200;
    EXPECT_EQ(heard.firstSound(7000 * framesPerMs), start);
    for (std::int64_t f = start; f < start + 100 * framesPerMs; ++f) {
        const float expected = (f - start) / halfPeriod % 2 == 0 ? level : -level;
        ASSERT_NEAR(heard.left[std::size_t(f)], expected, 1e-3) << "frame " << f;
        ASSERT_EQ(heard.left[std::size_t(f)], heard.right[std::size_t(f)]);
    }
    EXPECT_EQ(heard.firstSound(start + 100 * framesPerMs), std::int64_t(heard.left.size()));
}

}  // namespace
}  // namespace vesk::platform::midi
