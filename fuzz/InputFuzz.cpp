// Fuzz target: any bytes as a stream of live input during a whole performance on virtual
// time: a short tune plays and grows the flake while the input arrives, then the silence,
// the finale (replayed in the mode the first byte chooses) and the start of the wind-down;
// everything but the drawing of the flake.
// Every four bytes are one message: a wait before it (in steps of 10 ms) and the three
// bytes of the word the window receives, whatever they hold. Crashes, hangs and reads out
// of bounds are what the sanitizers and the fuzzer look for.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/VeskWindow.h"
#include "midi/SmfLoading.h"
#include "performance/PerformanceStart.h"
#include "platform/headless/HeadlessPlatform.h"
#include "support/FileDialogAnswers.h"
#include "support/SmfBuilder.h"
#include "support/TestRandom.h"
#include "ReadingOutput.h"

namespace {

using namespace vesk;

constexpr std::size_t bytesPerMessage = 4;
constexpr std::int64_t waitStepMs = 10;
// Input comes until then, during the finale when the notes have stopped early: each run
// is kept short (its finale lasts about as long as the notes did).
constexpr std::int64_t lastInputMs = 8'000;
// The run ends on the wind-down's first tick: the finale is over, the flake back to its arms.
constexpr int windDownTicksSeen = 1;
// Far beyond the finale of any input: a run still going then has a performance that
// never ends, which is a finding.
constexpr std::int64_t neverEndedMs = lastInputMs + 20 * 60'000;
constexpr int neverEndedCode = 99;
// The star ring and the ripples draw on it.
constexpr int windowWidth = 64;
constexpr int windowHeight = 48;

class Ports final : public platform::MidiPorts {
public:
    bool hasOutput() override { return true; }
    std::unique_ptr<platform::MidiOutput> openOutput() override { return std::make_unique<fuzz::ReadingOutput>(); }
    std::unique_ptr<platform::MidiInput> openInput() override { return nullptr; }
    std::string describe() const override { return "fuzz"; }
};

// The program's start-up and end as runApplication has them, around that window procedure.
int runWithoutPicture(Vesk& vesk, platform::MidiPorts& ports) {
    app::VeskWindow window(vesk);
    platform::MessageLoop& loop = vesk.platform.loop();
    // The picture follows the flake, not how the input came, and drawing it would take
    // most of each run.
    app::WithoutPicture handler(window, loop);
    loop.setHandler(&handler);
    midi::openMidi(vesk.devices, ports, loop, vesk.platform.modalUi());
    vesk.sequencer.setOutput(vesk.output());
    midi::allocSmfBuffer(vesk.smf);
    startPerformance(vesk);
    const int code = loop.run();
    if (!loop.destroyed()) window.handleMessage({platform::MessageType::Destroy, 0});
    loop.setHandler(nullptr);
    return code;
}

// Ends the run once the wind-down is under way.
class EndInWindDown final : public VeskObserver {
public:
    void tickCompleted(const Vesk& v) override {
        if (v.state.windDownTicks >= windDownTicksSeen) v.platform.loop().postQuit(0);
    }
};

// Four notes on channel 1, an eighth apart, written once for the whole fuzzing run.
const std::string& tune() {
    static const std::string path = [] {
        test::SmfBuilder smf(480);
        for (int i = 0; i < 4; ++i)
            smf.event(i ? 240 : 0, {0x90, std::uint8_t(60 + i * 3), 100}).event(240, {0x80, std::uint8_t(60 + i * 3), 0});
        return test::writeTestFile("fuzz-tune.mid", smf.endOfTrack().bytes());
    }();
    return path;
}

void scheduleInput(platform::headless::HeadlessPlatform& platform, const std::uint8_t* data, std::size_t size) {
    std::int64_t ms = 0;
    for (std::size_t at = 1; at + bytesPerMessage <= size; at += bytesPerMessage) {
        ms = std::min(ms + data[at] * waitStepMs, lastInputMs);
        const std::uint32_t word = std::uint32_t(data[at + 1]) | std::uint32_t(data[at + 2]) << 8 |
                                   std::uint32_t(data[at + 3]) << 16;
        platform.postAt(ms, {platform::MessageType::MidiInput, word});
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    platform::headless::HeadlessPlatform platform(windowWidth, windowHeight);
    platform.onRecord([](const platform::headless::Record&) {});  // nothing reads them
    platform.answerDialog(test::runAnswer(tune()));
    platform.setDefaultDialogAnswer(test::quitAnswer());
    platform.setMessageBoxOpenMs(0);
    platform.stopAt(neverEndedMs, neverEndedCode);
    scheduleInput(platform, data, size);

    test::LcgRandom random(size ? data[0] : 0);
    Vesk vesk(platform, random);
    vesk.state.replayMode = size && data[0] & 1 ? ReplayMode::ForwardMirrored : ReplayMode::Backward;
    EndInWindDown end;
    vesk.observer = &end;
    Ports ports;
    const int code = runWithoutPicture(vesk, ports);
    vesk.observer = nullptr;
    if (code == neverEndedCode) {
        std::fprintf(stderr, "the performance never reached its wind-down\n");
        std::abort();
    }
    return 0;
}
