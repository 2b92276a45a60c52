// The background writer: the writer behind it sees every call in the order given, an
// unchanged frame showing the last changed picture again, and its first failure comes
// back to the caller, after which nothing more reaches it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/BackgroundWriter.h"

namespace vesk::platform {
namespace {

// Writes down what it is asked, by the first pixel or sample; fails the call numbered
// `failAt` (counted from 0).
class Recorder final : public MediaWriter {
public:
    Recorder(std::vector<std::string>& calls, int failAt) : calls_(calls), failAt_(failAt) {}
    bool keepsPicture() const override { return true; }
    bool keepsSound() const override { return true; }
    bool writeFrame(const FramePixels& window, FrameChange change) override {
        return note((change == FrameChange::Changed ? "new " : "same ") + std::to_string(window.pixels[0]));
    }
    bool writeSound(std::span<const float> left, std::span<const float>) override {
        return note("sound " + std::to_string(int(left[0])));
    }
    bool finish() override { return note("finish"); }
    const std::string& error() const override { return error_; }

private:
    bool note(std::string call) {
        calls_.push_back(std::move(call));
        if (int(calls_.size()) - 1 != failAt_) return true;
        error_ = "disk full";
        return false;
    }
    std::vector<std::string>& calls_;
    int failAt_;
    std::string error_;
};

// Frame i is new when i is even and shows i; sound chunk i carries i.
std::vector<std::string> feed(BackgroundWriter& writer, int frames, bool& allTaken) {
    std::vector<std::string> expected;
    std::vector<std::uint32_t> pixels(16 * 16);
    allTaken = true;
    for (int i = 0; i < frames; ++i) {
        const FrameChange change = i % 2 == 0 ? FrameChange::Changed : FrameChange::Same;
        if (change == FrameChange::Changed) pixels.assign(pixels.size(), std::uint32_t(i));
        allTaken &= writer.writeFrame({pixels.data(), 16, 16}, change);
        expected.push_back((i % 2 == 0 ? "new " : "same ") + std::to_string(i - i % 2));
        const std::vector<float> sound(100, float(i));
        allTaken &= writer.writeSound(sound, sound);
        expected.push_back("sound " + std::to_string(i));
    }
    expected.push_back("finish");
    return expected;
}

TEST(BackgroundWriter, HandsOnEveryCallInOrderAndStopsAtTheFirstFailure) {
    std::vector<std::string> calls;
    {
        BackgroundWriter writer(std::make_unique<Recorder>(calls, -1));
        bool allTaken = false;
        const std::vector<std::string> expected = feed(writer, 200, allTaken);
        EXPECT_TRUE(allTaken);
        EXPECT_TRUE(writer.finish());
        EXPECT_EQ(calls, expected);
    }
    calls.clear();
    BackgroundWriter failing(std::make_unique<Recorder>(calls, 7));
    bool allTaken = true;
    feed(failing, 200, allTaken);
    EXPECT_FALSE(allTaken);
    EXPECT_FALSE(failing.finish());
    EXPECT_EQ(failing.error(), "disk full");
    EXPECT_EQ(calls.size(), 8u);
}

}  // namespace
}  // namespace vesk::platform
