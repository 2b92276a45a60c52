// Opening and closing the MIDI devices on stand-in ports and the headless backend: the
// boxes a failure shows, what stays closed after one, live input reaching the window as
// messages on the window's own thread, and the order in which closing lets go.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "midi/Devices.h"
#include "platform/headless/HeadlessPlatform.h"

using namespace vesk;
using platform::Message;
using platform::MessageType;
using platform::headless::HeadlessPlatform;
using platform::headless::Record;

namespace {

using Log = std::vector<std::string>;

class FakeOutput final : public platform::MidiOutput {
public:
    explicit FakeOutput(Log& log) : log_(log) {}
    ~FakeOutput() override { log_.push_back("output closed"); }
    void sendShort(std::uint32_t) override {}
    void sendLong(std::span<const std::uint8_t>) override {}
    void reset() override { log_.push_back("output reset"); }

private:
    Log& log_;
};

class FakeInput final : public platform::MidiInput {
public:
    FakeInput(Log& log, platform::MidiInputSink& sink, bool starts) : log_(log), sink_(sink), starts_(starts) {}
    ~FakeInput() override { log_.push_back("input closed"); }
    bool start(platform::MidiInputSink sink) override {
        log_.push_back("input started");
        sink_ = std::move(sink);
        return starts_;
    }
    void stop() override { log_.push_back("input stopped"); }

private:
    Log& log_;
    platform::MidiInputSink& sink_;
    bool starts_;
};

struct FakePorts final : platform::MidiPorts {
    bool outputExists = true;
    bool outputOpens = true;
    bool inputOpens = true;
    bool inputStarts = true;
    int outputsOpened = 0;
    int inputsOpened = 0;
    Log log;
    platform::MidiInputSink sink;  // what the program handed to the input

    bool hasOutput() override { return outputExists; }
    std::unique_ptr<platform::MidiOutput> openOutput() override {
        ++outputsOpened;
        return outputOpens ? std::make_unique<FakeOutput>(log) : nullptr;
    }
    std::unique_ptr<platform::MidiInput> openInput() override {
        ++inputsOpened;
        return inputOpens ? std::make_unique<FakeInput>(log, sink, inputStarts) : nullptr;
    }
    std::string describe() const override { return "stand-in"; }
};

struct WindowLog final : platform::WindowHandler {
    std::vector<std::pair<Message, std::thread::id>> midi;
    void handleMessage(const Message& message) override {
        if (message.type == MessageType::MidiInput) midi.emplace_back(message, std::this_thread::get_id());
    }
};

}  // namespace

TEST(MidiDevices, OpenTellsFailuresInABoxAndOpensNoInputAfterOne) {
    struct Case {
        const char* what;
        bool outputExists, outputOpens, inputOpens, inputStarts;
        bool opened;
        std::vector<std::string> boxes;
        int outputsOpened, inputsOpened;
    };
    const Case cases[] = {
        {"no output device", false, true, true, true, false, {"Can not use MIDI device"}, 0, 0},
        {"output will not open", true, false, true, true, false, {"Can not open MIDI device"}, 1, 0},
        {"output and input", true, true, true, true, true, {}, 1, 1},
        {"no input: not told", true, true, false, true, true, {}, 1, 1},
        {"input will not start: not told", true, true, true, false, true, {}, 1, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        HeadlessPlatform platform;
        FakePorts ports;
        ports.outputExists = c.outputExists;
        ports.outputOpens = c.outputOpens;
        ports.inputOpens = c.inputOpens;
        ports.inputStarts = c.inputStarts;
        midi::MidiDevices devices;

        EXPECT_EQ(midi::openMidi(devices, ports, platform.loop(), platform.modalUi()), c.opened);

        std::vector<std::string> boxes;
        for (const Record& r : platform.records(Record::Kind::MessageBox)) {
            boxes.push_back(r.text);
            EXPECT_EQ(r.owner, platform::BoxOwner::Window) << "the box belongs to the window";
        }
        EXPECT_EQ(boxes, c.boxes);
        EXPECT_EQ(ports.outputsOpened, c.outputsOpened);
        EXPECT_EQ(ports.inputsOpened, c.inputsOpened);
        EXPECT_EQ(devices.output != nullptr, c.opened);
        EXPECT_EQ(devices.input != nullptr, c.opened && c.inputOpens);
        EXPECT_EQ(bool(ports.sink), devices.input != nullptr) << "the input is started with a sink";
        midi::closeMidi(devices);
    }
}

TEST(MidiDevices, InputArrivesAsWindowMessagesOnTheWindowThread) {
    HeadlessPlatform platform;
    FakePorts ports;
    WindowLog window;
    platform.loop().setHandler(&window);
    midi::MidiDevices devices;
    ASSERT_TRUE(midi::openMidi(devices, ports, platform.loop(), platform.modalUi()));
    ASSERT_TRUE(ports.sink);

    // The port delivers on its own thread; nothing may reach the window procedure there.
    const std::vector<std::uint32_t> words = {0x403C90, 0x3C80, 0x07C5, 0xF8};
    std::thread port([&] {
        for (std::uint32_t word : words) ports.sink(word);
    });
    port.join();
    EXPECT_TRUE(window.midi.empty()) << "handled before the loop ran";

    platform.stopAt(10);
    platform.loop().run();
    ASSERT_EQ(window.midi.size(), words.size());
    for (std::size_t i = 0; i < words.size(); ++i) {
        EXPECT_EQ(window.midi[i].first.param, words[i]) << i;
        EXPECT_EQ(window.midi[i].second, std::this_thread::get_id()) << i;
    }
    midi::closeMidi(devices);
}

TEST(MidiDevices, CloseReleasesNotesThenLetsGoOfOutputThenInput) {
    HeadlessPlatform platform;
    FakePorts ports;
    midi::MidiDevices devices;
    ASSERT_TRUE(midi::openMidi(devices, ports, platform.loop(), platform.modalUi()));
    ports.log.clear();

    midi::closeMidi(devices);
    EXPECT_EQ(ports.log, (Log{"output reset", "output closed", "input stopped", "input closed"}));
    EXPECT_FALSE(devices.output);
    EXPECT_FALSE(devices.input);

    // After a failed open there is nothing to close, and closing twice is harmless.
    ports.log.clear();
    midi::closeMidi(devices);
    EXPECT_TRUE(ports.log.empty());
}
