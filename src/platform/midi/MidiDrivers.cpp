// The driver table and the "auto" choice over it. An output driver is probed when the
// devices are chosen (is there a SoundFont, a port to connect to?), so hasOutput() can
// answer before anything is opened; the input is only tried when it is opened, because
// making a virtual port is itself the test of whether the MIDI system runs here.
#include "platform/midi/MidiDrivers.h"

#include <chrono>
#include <future>
#include <utility>
#include <vector>

#include "platform/midi/RecordingMidiOutput.h"
#if VESK_WITH_MIDI_PORTS
#include "platform/midi/FluidSynthOutput.h"
#include "platform/midi/QuietLibraries.h"
#include "platform/midi/RtMidiPorts.h"
#endif

namespace vesk::platform::midi {

namespace {

// What an output driver can offer on this machine.
struct OutputOffer {
    bool available = false;
    std::string text;  // what will be opened ("fluidsynth (TimGM6mb.sf2)"), or why nothing can
};

// What a driver offers here, a line each (ports by name, or why there are none), for
// --list-ports.
using ListOffers = std::vector<std::string> (*)(const MidiOptions& options);

// Null when the output cannot be opened after all; `text` then says why, else what was opened.
using OpenOutput = std::unique_ptr<MidiOutput> (*)(const MidiOptions& options, std::string& text);

struct OutputDriver {
    std::string_view name;
    bool triedByAuto;
    OutputOffer (*probe)(const MidiOptions& options);
    OpenOutput open;
    ListOffers list;
    // The slow part of open, which needs nothing of the window's thread and may run on a
    // thread of its own, and what finishes it on the window's thread; both null when open
    // has nothing slow to do.
    OpenOutput load = nullptr;
    void (*finish)(MidiOutput& loaded, std::string& text) = nullptr;
};

// Opens an input; null with `description` saying why, else saying what was opened.
using OpenInput = std::unique_ptr<MidiInput> (*)(const MidiOptions& options, std::string& description);

struct InputDriver {
    std::string_view name;
    OpenInput open;  // null for "none"
    ListOffers list;
};

#if VESK_WITH_MIDI_PORTS
OutputOffer probeFluidSynth(const MidiOptions& options) {
    const std::string soundFont = findSoundFont(options.soundFont);
    if (soundFont.empty()) return {false, "no SoundFont installed"};
    if (!isSoundFont(soundFont)) return {false, soundFont + " is not a SoundFont that can be read"};
    return {true, "fluidsynth (" + soundFont + ")"};
}

// The SoundFont loaded into a synthesiser that is heard nowhere yet: no SDL call, so it
// may run while the window's thread starts SDL.
std::unique_ptr<MidiOutput> loadFluidSynth(const MidiOptions& options, std::string& text) {
    std::string why;
    auto synth = FluidSynthOutput::create(findSoundFont(options.soundFont), SynthAudio::Offline, why);
    if (!synth) text = "fluidsynth failed (" + why + ")";
    return synth;
}

void finishFluidSynth(MidiOutput& loaded, std::string& text) {
    auto& synth = static_cast<FluidSynthOutput&>(loaded);
    synth.startAudioDevice();
    text = "fluidsynth (" + synth.describe() + ")";
}

std::unique_ptr<MidiOutput> openFluidSynth(const MidiOptions& options, std::string& text) {
    std::unique_ptr<MidiOutput> synth = loadFluidSynth(options, text);
    if (synth) finishFluidSynth(*synth, text);
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
                                       std::string& description,
                                       SourceConnecting connecting = SourceConnecting::ByHand) {
    return openPortInput(apis, options.inputPort, options.clientName, description, connecting);
}

std::vector<std::string> listSoundFont(const MidiOptions& options) {
    const OutputOffer offer = probeFluidSynth(options);
    const std::string soundFont = findSoundFont(options.soundFont);
    return {offer.available ? "the embedded synth with the SoundFont " + soundFont : "none: " + offer.text};
}

std::vector<std::string> listOn(PortApi api, PortDirection direction, const MidiOptions& options) {
    std::string why;
    std::optional<std::vector<std::string>> ports = listPorts(api, direction, options.clientName, why);
    if (!ports) return {"none: " + why};
    if (ports->empty()) return {"none: no port to connect to"};
    return *ports;
}
#endif

// Before anything of ALSA's or JACK's is touched.
void hushLibraries() {
#if VESK_WITH_MIDI_PORTS
    quietMidiLibraries();
#endif
}

std::vector<std::string> listRecorder(const MidiOptions&) { return {"keeps what is played (for tests)"}; }
std::vector<std::string> listNothing(const MidiOptions&) { return {"nothing"}; }

std::unique_ptr<MidiOutput> openRecorder(const MidiOptions&, std::string& text) {
    text = "recorder";
    return std::make_unique<RecordingMidiOutput>([] {
        using namespace std::chrono;
        return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
    });
}

const OutputDriver outputTable[] = {
#if VESK_WITH_MIDI_PORTS
    {"fluidsynth", true, probeFluidSynth, openFluidSynth, listSoundFont, loadFluidSynth, finishFluidSynth},
    {"alsa", true, [](const MidiOptions& o) { return probePort(PortApi::Alsa, o); },
     [](const MidiOptions& o, std::string& text) { return openPort(PortApi::Alsa, o, text); },
     [](const MidiOptions& o) { return listOn(PortApi::Alsa, PortDirection::Output, o); }},
    {"jack", true, [](const MidiOptions& o) { return probePort(PortApi::Jack, o); },
     [](const MidiOptions& o, std::string& text) { return openPort(PortApi::Jack, o, text); },
     [](const MidiOptions& o) { return listOn(PortApi::Jack, PortDirection::Output, o); }},
#endif
    {"recorder", false, [](const MidiOptions&) { return OutputOffer{true, "recorder"}; }, openRecorder,
     listRecorder},
    {"none", false, [](const MidiOptions&) { return OutputOffer{false, "none"}; }, nullptr, listNothing},
};

const InputDriver inputTable[] = {
#if VESK_WITH_MIDI_PORTS
    {"alsa",
     [](const MidiOptions& o, std::string& description) {
         const PortApi apis[] = {PortApi::Alsa};
         return openInputOn(apis, o, description);
     },
     [](const MidiOptions& o) { return listOn(PortApi::Alsa, PortDirection::Input, o); }},
    {"jack",
     [](const MidiOptions& o, std::string& description) {
         const PortApi apis[] = {PortApi::Jack};
         return openInputOn(apis, o, description);
     },
     [](const MidiOptions& o) { return listOn(PortApi::Jack, PortDirection::Input, o); }},
#endif
    {"none", nullptr, listNothing},
};

// "auto": ALSA's sequencer, else JACK, with every source that is there or appears later
// connected to the virtual port (a keyboard plugged in during the performance is heard);
// nothing in a build without ports. A driver named outright, or --in-port, connects
// nothing of its own accord: whoever routes by hand (a patchbay) is not overruled.
#if VESK_WITH_MIDI_PORTS
const InputDriver autoInput{"alsa, else jack",
                            [](const MidiOptions& o, std::string& description) {
                                const PortApi apis[] = {PortApi::Alsa, PortApi::Jack};
                                return openInputOn(apis, o, description, SourceConnecting::AsTheyAppear);
                            },
                            nullptr};
#else
const InputDriver autoInput{"none", nullptr, nullptr};
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

    void prepareOutput() override {
        if (!available_ || !output_ || !output_->load || loading_.valid()) return;
        loading_ = std::async(std::launch::async, [this] {
            std::string text;
            std::unique_ptr<MidiOutput> output = output_->load(options_, text);
            return Loaded{std::move(output), std::move(text)};
        });
    }

    std::unique_ptr<MidiOutput> openOutput() override {
        if (loading_.valid()) {
            Loaded loaded = loading_.get();
            outputText_ = std::move(loaded.text);
            if (loaded.output) output_->finish(*loaded.output, outputText_);
            return std::move(loaded.output);
        }
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
    struct Loaded {
        std::unique_ptr<MidiOutput> output;
        std::string text;
    };

    MidiOptions options_;
    const OutputDriver* output_;  // null: auto found nothing
    std::future<Loaded> loading_;  // set by prepareOutput until openOutput takes it
    bool available_;
    std::string outputText_;
    std::string passedOver_;
    const InputDriver& input_;
    std::string inputText_;
};

constexpr std::size_t listNameColumn = 15;

// "  name        offer" for each offer of each driver of `table`.
template <class Table>
std::string listTable(const Table& table, const MidiOptions& options) {
    std::string text;
    for (const auto& driver : table) {
        for (const std::string& offer : driver.list(options)) {
            std::string line = "  " + std::string(driver.name);
            line.resize(std::max(line.size() + 1, listNameColumn), ' ');
            text += line + offer + "\n";
        }
    }
    return text;
}

}  // namespace

std::string describePorts(const MidiOptions& options) {
    hushLibraries();
    return "MIDI outputs (--midi-out DRIVER; a port for alsa and jack with --out-port PORT):\n" +
           listTable(outputTable, options) +
           "MIDI inputs (--midi-in DRIVER; --in-port PORT listens to a port instead of Vesk's own):\n" +
           listTable(inputTable, options);
}

std::span<const std::string_view> midiOutputDrivers() { return outputNames; }
std::span<const std::string_view> midiInputDrivers() { return inputNames; }

std::unique_ptr<platform::MidiPorts> createMidiPorts(const MidiOptions& options, std::string& reason) {
    hushLibraries();
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
