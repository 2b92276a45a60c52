// The driver table and the "auto" choice over it. An output driver is probed when the
// devices are chosen (is there a SoundFont, a port to connect to?), so hasOutput() can
// answer before anything is opened; the input is only tried when it is opened, because
// making a virtual port is itself the test of whether the MIDI system runs here.
#include "platform/midi/MidiDrivers.h"

#include <chrono>
#include <utility>
#include <vector>

#include "platform/midi/RecordingMidiOutput.h"
#if VESK_WITH_MIDI_PORTS
#include "platform/midi/FluidSynthOutput.h"
#include "platform/midi/RtMidiPorts.h"
#endif

namespace vesk::platform::midi {

namespace {

// What an output driver can offer on this machine.
struct OutputOffer {
    bool available = false;
    std::string text;  // what will be opened ("fluidsynth (TimGM6mb.sf2)"), or why nothing can
};

struct OutputDriver {
    std::string_view name;
    bool triedByAuto;
    OutputOffer (*probe)(const MidiOptions& options);
    // Null when it cannot be opened after all; `text` then says why, else what was opened.
    std::unique_ptr<MidiOutput> (*open)(const MidiOptions& options, std::string& text);
};

// Opens an input; null with `description` saying why, else saying what was opened.
using OpenInput = std::unique_ptr<MidiInput> (*)(const MidiOptions& options, std::string& description);

struct InputDriver {
    std::string_view name;
    OpenInput open;  // null for "none"
};

#if VESK_WITH_MIDI_PORTS
OutputOffer probeFluidSynth(const MidiOptions& options) {
    const std::string soundFont = findSoundFont(options.soundFont);
    if (soundFont.empty()) return {false, "no SoundFont installed"};
    if (!isSoundFont(soundFont)) return {false, soundFont + " is not a SoundFont that can be read"};
    return {true, "fluidsynth (" + soundFont + ")"};
}

std::unique_ptr<MidiOutput> openFluidSynth(const MidiOptions& options, std::string& text) {
    std::string why;
    auto synth = FluidSynthOutput::create(findSoundFont(options.soundFont), SynthAudio::Device, why);
    if (!synth) {
        text = "fluidsynth failed (" + why + ")";
        return nullptr;
    }
    text = "fluidsynth (" + synth->describe() + ")";
    return synth;
}

OutputOffer probePort(PortApi api, const MidiOptions& options) {
    std::string why;
    const std::optional<std::string> port = findOutputPort(api, options.outputPort, options.clientName, why);
    if (!port) return {false, why};
    return {true, std::string(portApiName(api)) + ", port " + *port};
}

std::unique_ptr<MidiOutput> openPort(PortApi api, const MidiOptions& options, std::string& text) {
    const PortApi apis[] = {api};
    std::string description;
    auto output = openPortOutput(apis, options.outputPort, options.clientName, description);
    text = output ? description : std::string(portApiName(api)) + " failed (" + description + ")";
    return output;
}

std::unique_ptr<MidiInput> openInputOn(std::span<const PortApi> apis, const MidiOptions& options,
                                       std::string& description) {
    return openPortInput(apis, options.inputPort, options.clientName, description);
}
#endif

std::unique_ptr<MidiOutput> openRecorder(const MidiOptions&, std::string& text) {
    text = "recorder";
    return std::make_unique<RecordingMidiOutput>([] {
        using namespace std::chrono;
        return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
    });
}

const OutputDriver outputTable[] = {
#if VESK_WITH_MIDI_PORTS
    {"fluidsynth", true, probeFluidSynth, openFluidSynth},
    {"alsa", true, [](const MidiOptions& o) { return probePort(PortApi::Alsa, o); },
     [](const MidiOptions& o, std::string& text) { return openPort(PortApi::Alsa, o, text); }},
    {"jack", true, [](const MidiOptions& o) { return probePort(PortApi::Jack, o); },
     [](const MidiOptions& o, std::string& text) { return openPort(PortApi::Jack, o, text); }},
#endif
    {"recorder", false, [](const MidiOptions&) { return OutputOffer{true, "recorder"}; }, openRecorder},
    {"none", false, [](const MidiOptions&) { return OutputOffer{false, "none"}; }, nullptr},
};

const InputDriver inputTable[] = {
#if VESK_WITH_MIDI_PORTS
    {"alsa", [](const MidiOptions& o, std::string& description) {
         const PortApi apis[] = {PortApi::Alsa};
         return openInputOn(apis, o, description);
     }},
    {"jack", [](const MidiOptions& o, std::string& description) {
         const PortApi apis[] = {PortApi::Jack};
         return openInputOn(apis, o, description);
     }},
#endif
    {"none", nullptr},
};

// "auto": ALSA's sequencer, else JACK; nothing in a build without ports.
#if VESK_WITH_MIDI_PORTS
const InputDriver autoInput{"alsa, else jack", [](const MidiOptions& o, std::string& description) {
                                const PortApi apis[] = {PortApi::Alsa, PortApi::Jack};
                                return openInputOn(apis, o, description);
                            }};
#else
const InputDriver autoInput{"none", nullptr};
#endif

template <class Table>
std::vector<std::string_view> namesOf(const Table& table) {
    std::vector<std::string_view> names;
    for (const auto& driver : table) names.push_back(driver.name);
    return names;
}

const std::vector<std::string_view> outputNames = namesOf(outputTable);
const std::vector<std::string_view> inputNames = namesOf(inputTable);

std::string knownNames(std::span<const std::string_view> names) {
    std::string text;
    for (std::string_view name : names) text += std::string(name) + ", ";
    return text + std::string(autoMidiDriver);
}

class ChosenPorts final : public MidiPorts {
public:
    ChosenPorts(MidiOptions options, const OutputDriver* output, OutputOffer offer,
                std::string passedOver, const InputDriver& input)
        : options_(std::move(options)),
          output_(output),
          available_(offer.available),
          outputText_(offer.available || output_ == nullptr || output_->name == "none"
                          ? offer.text
                          : "none (" + std::string(output_->name) + ": " + offer.text + ")"),
          passedOver_(std::move(passedOver)),
          input_(input),
          inputText_(input.open ? std::string(input.name) + " (not opened)" : "none") {}

    bool hasOutput() override { return available_; }

    std::unique_ptr<MidiOutput> openOutput() override {
        if (!available_ || !output_ || !output_->open) return nullptr;
        return output_->open(options_, outputText_);
    }

    std::unique_ptr<MidiInput> openInput() override {
        if (!input_.open) return nullptr;
        std::string description;
        auto input = input_.open(options_, description);
        inputText_ = input ? description : "none (" + description + ")";
        return input;
    }

    std::string describe() const override {
        std::string text = "MIDI output " + outputText_;
        if (!passedOver_.empty()) text += " (passed over " + passedOver_ + ")";
        return text + "; input " + inputText_;
    }

private:
    MidiOptions options_;
    const OutputDriver* output_;  // null: auto found nothing
    bool available_;
    std::string outputText_;
    std::string passedOver_;
    const InputDriver& input_;
    std::string inputText_;
};

}  // namespace

std::span<const std::string_view> midiOutputDrivers() { return outputNames; }
std::span<const std::string_view> midiInputDrivers() { return inputNames; }

std::unique_ptr<platform::MidiPorts> createMidiPorts(const MidiOptions& options, std::string& reason) {
    const InputDriver* input = options.input == autoMidiDriver ? &autoInput : nullptr;
    for (const InputDriver& driver : inputTable)
        if (driver.name == options.input) input = &driver;
    if (!input) {
        reason = "no MIDI input is called \"" + options.input + "\"; there are " + knownNames(inputNames);
        return nullptr;
    }

    if (options.output == autoMidiDriver) {
        std::string passedOver;  // "name: why" of each driver that cannot play here
        for (const OutputDriver& driver : outputTable) {
            if (!driver.triedByAuto) continue;
            OutputOffer offer = driver.probe(options);
            if (offer.available)
                return std::make_unique<ChosenPorts>(options, &driver, std::move(offer), passedOver, *input);
            if (!passedOver.empty()) passedOver += "; ";
            passedOver += std::string(driver.name) + ": " + offer.text;
        }
        return std::make_unique<ChosenPorts>(options, nullptr, OutputOffer{false, "none"}, passedOver,
                                             *input);
    }
    for (const OutputDriver& driver : outputTable)
        if (driver.name == options.output)
            return std::make_unique<ChosenPorts>(options, &driver, driver.probe(options), "", *input);
    reason = "no MIDI output is called \"" + options.output + "\"; there are " + knownNames(outputNames);
    return nullptr;
}

}  // namespace vesk::platform::midi
