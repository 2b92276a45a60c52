// Live input far faster than the picture, on the real clock: 20,000 messages a second
// (notes and garbage) posted from a thread of their own as a MIDI port's thread posts
// them, while the window is held up for a while. The queue stays within its bound, the
// drops are told once, and the finale still comes once the flood stops. How late the
// ticks come under the flood is measured by bench/flood_bench, which prints it.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <thread>

#include "support/HeadlessRun.h"
#include "support/LiveInputFlood.h"
#include "support/SmfBuilder.h"

namespace vesk {
namespace {

using namespace std::chrono_literals;
using platform::MessageLoop;

constexpr int messagesPerSecond = 20'000;
constexpr auto floodFor = 3s;
constexpr std::int64_t stallAtMs = 1000;
constexpr auto stall = 500ms;  // 10,000 messages come meanwhile

TEST(Flood, LiveInputFasterThanThePictureStaysBoundedIsToldOnceAndTheFinaleStillComes) {
    test::HeadlessRun run(7, platform::headless::HeadlessClock::Real);
    test::SmfBuilder smf(480);
    for (int i = 0; i < 8; ++i) smf.event(i ? 240 : 0, {0x90, std::uint8_t(60 + i), 100}).event(120, {0x80, std::uint8_t(60 + i), 0});
    run.platform.answerDialog(test::HeadlessRun::play(test::writeTestFile("tune.mid", smf.endOfTrack().bytes())));

    std::size_t pendingAfterStall = 0;
    run.platform.runAt(stallAtMs, [&] {
        std::this_thread::sleep_for(stall);
        pendingAfterStall = run.platform.loop().pendingMidiInput();
    });
    std::atomic<std::int64_t> floodEndMs = 0;
    test::LiveInputFlood flood(run.platform.loop(), messagesPerSecond, floodFor,
                               [&] { floodEndMs = run.platform.nowMs(); });
    run.onTick = [&](const Vesk& v) {
        if (!flood.flooding() && v.state.finaleStarted) run.platform.loop().postQuit(0);
    };

    testing::internal::CaptureStderr();
    // Generous: the finale starts 15 ticks (3 s) after the last note.
    const int code = run.run(60'000);
    const std::string said = testing::internal::GetCapturedStderr();

    EXPECT_EQ(code, 0) << "no finale within a minute";
    EXPECT_GT(run.ticks.back().ms, floodEndMs);
    EXPECT_LE(pendingAfterStall, MessageLoop::midiInputQueueCapacity);
    EXPECT_GT(run.platform.loop().droppedMidiInput(), 0u);
    const std::string told = "dropped in this performance";
    EXPECT_NE(said.find(told), std::string::npos) << said;
    EXPECT_EQ(said.find(told), said.rfind(told)) << said;
}

}  // namespace
}  // namespace vesk
