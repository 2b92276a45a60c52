// The seam demo on the headless backend: the same inputs give the same run to the byte,
// and the run shows what a performance relies on (ticks re-entered inside a box, the
// ring and ripple going on meanwhile, the picture turning, the ripple's MIDI).
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "demo/SeamDemo.h"
#include "platform/headless/HeadlessPlatform.h"
#include "platform/midi/RecordingMidiOutput.h"

namespace vesk::demo {
namespace {

using platform::headless::HeadlessPlatform;
using platform::headless::Record;

std::uint64_t fnv1a(const std::vector<std::uint32_t>& pixels) {
    std::uint64_t h = 1469598103934665603ull;
    for (std::uint32_t p : pixels) h = (h ^ p) * 1099511628211ull;
    return h;
}

int countColour(const platform::Surface& s, std::uint32_t colour) {
    int n = 0;
    for (std::uint32_t p : s.pixels()) n += p == colour;
    return n;
}

struct DemoRun {
    int exitCode = -1;
    std::vector<std::string> events;  // everything observable, with virtual times
    std::vector<std::uint64_t> frames;
    int timersWhileBoxOpen = 0;
    int ringPixelsAtEnd = 0;
    std::vector<std::vector<std::uint8_t>> midi;
    std::int64_t endMs = 0;
};

DemoRun runDemo() {
    HeadlessPlatform p;
    p.setMessageBoxOpenMs(1000);
    platform::midi::RecordingMidiOutput midi([&p] { return p.nowMs() * 1000; });
    DemoRun run;
    SeamDemoOptions options;
    options.rippleAtTick = 2;
    options.boxAtTick = 5;
    options.quitAfterTicks = 40;
    options.afterTimer = [&](int ticks, bool boxOpen) {
        run.timersWhileBoxOpen += boxOpen;
        run.events.push_back(std::to_string(p.nowMs()) + " timer " + std::to_string(ticks));
    };
    options.afterRepaint = [&](int) { run.frames.push_back(fnv1a(p.surface().pixels())); };
    run.exitCode = runSeamDemo(p, &midi, options);
    for (const Record& r : p.records())
        run.events.push_back(std::to_string(r.timeMs) + " record " + std::to_string(int(r.kind)) +
                             " " + r.text + " " + std::to_string(r.a) + " " + std::to_string(r.b));
    for (const auto& m : midi.entries()) {
        std::string bytes;
        for (std::uint8_t b : m.bytes) bytes += " " + std::to_string(b);
        run.events.push_back(std::to_string(m.timeUs) + " midi" + bytes);
        run.midi.push_back(m.bytes);
    }
    run.ringPixelsAtEnd = countColour(p.surface(), 0xFF00A000u);
    run.endMs = p.nowMs();
    return run;
}

TEST(SeamDemo, HeadlessRunIsReproducibleToTheByte) {
    const DemoRun a = runDemo();
    const DemoRun b = runDemo();
    EXPECT_EQ(a.events, b.events);
    EXPECT_EQ(a.frames, b.frames);
}

TEST(SeamDemo, BoxInsideATickLetsTimersRunOnAndThePictureTurns) {
    const DemoRun run = runDemo();
    EXPECT_EQ(run.exitCode, 0);
    // The box was open from the fifth tick (1000 ms) for a second: the timer messages of
    // 1200..1800 came in meanwhile (the ring and the ripple went on) but their ticks
    // stayed out, so the 40th complete tick is the 44th timer message.
    EXPECT_EQ(run.timersWhileBoxOpen, 4);
    EXPECT_EQ(run.endMs, 44 * 200);
    // Every repaint after a turn shows a different picture.
    ASSERT_GE(run.frames.size(), 30u);
    for (std::size_t i = 1; i < run.frames.size(); ++i)
        EXPECT_NE(run.frames[i], run.frames[i - 1]) << i;
    EXPECT_GT(run.ringPixelsAtEnd, 100);

    // The voice at the start, the ripple's long note at tick 2, released when it ends.
    using Bytes = std::vector<std::uint8_t>;
    const std::vector<Bytes> expected = {
        {0xB0, 0x00, 0x00}, {0xB0, 0x20, 0x00}, {0xC0, 0x00},       {0xB0, 0x5B, 0x7F},
        {0xB0, 0x4A, 0x35}, {0xB0, 0x48, 0x60}, {0xB0, 0x00, 0x00}, {0xB0, 0x20, 0x00},
        {0xC0, 0x64},       {0x90, 0x1E, 0x38}, {0x80, 0x1E, 0x00}, {0xB0, 0x00, 0x00},
        {0xB0, 0x20, 0x00}, {0xC0, 0x00}};
    EXPECT_EQ(run.midi, expected);  // most of the 100 dots' 400 pixels are in view
}

}  // namespace
}  // namespace vesk::demo
