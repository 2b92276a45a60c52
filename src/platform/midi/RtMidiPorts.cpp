// RtMidi behind our port interfaces. RtMidi throws while a port is being made or opened
// (no ALSA sequencer, no JACK server, a vanished port); those throws are caught here and
// become reasons. Once a port is open, its errors are said once on stderr and the port
// carries on, so nothing is ever thrown into the tick or the timer thread.
#include "platform/midi/RtMidiPorts.h"

#include <array>
#include <atomic>
#include <iostream>
#include <chrono>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include <RtMidi.h>
#include <cxxabi.h>

#include "platform/midi/JackWatch.h"
#include "platform/midi/QuietLibraries.h"
#include "platform/midi/SourceWatch.h"

namespace vesk::platform::midi {

namespace {

// What a reset sends on every channel, in this order: the pedals lifted (notes they hold
// would go on sounding), every note released, and every sound cut, tails included.
constexpr int resetControllers[] = {sustainController, sostenutoController, allNotesOffController,
                                    allSoundOffController};
constexpr std::uint8_t sysexStart = 0xF0;
constexpr std::uint8_t sysexEnd = 0xF7;

bool isDataByte(std::uint8_t byte) { return byte < 0x80; }

RtMidi::Api rtMidiApi(PortApi api) {
    return api == PortApi::Alsa ? RtMidi::LINUX_ALSA : RtMidi::UNIX_JACK;
}

// Appends "api: why" to a list of reasons separated by semicolons.
void addReason(std::string& reasons, PortApi api, const std::string& why) {
    if (!reasons.empty()) reasons += "; ";
    reasons += std::string(portApiName(api)) + ": " + why;
}

// RtMidi ends its messages with a full stop and sometimes a newline; the reasons we build
// from them are parts of a longer line.
std::string trimmed(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '.' || text.back() == ' '))
        text.pop_back();
    return text;
}

// Makes the RtMidi object of `api`; null with the reason where the API cannot run (no
// ALSA sequencer device, for one).
template <class Port>
std::unique_ptr<Port> makePort(PortApi api, const std::string& clientName, std::string& why) {
    // RtMidi prints what it cannot open before it throws; asked first, it is not asked in vain.
    if (!midiSystemRuns(api, why)) return nullptr;
    try {
        return std::make_unique<Port>(rtMidiApi(api), clientName);
    } catch (const std::exception& error) {
        why = trimmed(error.what());
        return nullptr;
    }
}

std::vector<std::string> portNames(RtMidi& port) {
    std::vector<std::string> names;
    try {
        const unsigned count = port.getPortCount();
        for (unsigned i = 0; i < count; ++i) names.push_back(port.getPortName(i));
    } catch (const std::exception&) {
        // A port list that changes while it is read: take what was read.
    }
    return names;
}

// A port belongs to us when its client is ours: "Vesk:Vesk 128:0" on ALSA, "Vesk:Vesk" or,
// with a second client of the same name, "Vesk-01:Vesk" on JACK. Connecting the output to
// our own input would feed every note we play back into the capture.
bool isOwnPort(const std::string& name, const std::string& clientName) {
    if (name.size() <= clientName.size() || name.compare(0, clientName.size(), clientName) != 0)
        return false;
    const char next = name[clientName.size()];
    return next == ':' || next == '-';
}

std::optional<std::size_t> choosePort(const std::vector<std::string>& names,
                                      const std::string& wanted, const std::string& clientName) {
    if (wanted.empty()) {
        for (std::size_t i = 0; i < names.size(); ++i)
            if (!isOwnPort(names[i], clientName)) return i;
        return std::nullopt;
    }
    for (std::size_t i = 0; i < names.size(); ++i)
        if (names[i] == wanted) return i;
    for (std::size_t i = 0; i < names.size(); ++i)
        if (names[i].find(wanted) != std::string::npos) return i;
    return std::nullopt;
}

std::string missingPortReason(const std::string& wanted) {
    return wanted.empty() ? "no MIDI port to connect to" : "no port called \"" + wanted + "\"";
}

// After a port is open RtMidi reports through this instead of throwing; the first report
// of each port is said, the rest would only repeat it.
void sayOnce(RtMidiError::Type, const std::string& text, void* said) {
    if (!static_cast<std::atomic<bool>*>(said)->exchange(true))
        std::cerr << "vesk: MIDI port: " << trimmed(text) << "\n";
}

std::unique_ptr<JackWatch> watchJack(PortApi api, const std::string& clientName, const char* what,
                                     const char* without) {
    return api == PortApi::Jack ? JackWatch::open(clientName, what, without) : nullptr;
}

// Several JACK periods (64 frames at 48 kHz are 1.3 ms).
constexpr int closeSettleMs = 20;

class PortOutput final : public MidiOutput {
public:
    // `watch`: the JACK server's, on JACK (null on ALSA).
    PortOutput(std::unique_ptr<RtMidiOut> port, std::unique_ptr<JackWatch> watch)
        : watch_(std::move(watch)), port_(std::move(port)) {
        port_->setErrorCallback(&sayOnce, &said_);
    }
    // RtMidi's JACK output frees its ring buffer before it closes its JACK client, so a
    // process cycle still running could read freed memory. Closing the port first makes
    // later cycles return at once; the pause lets a cycle already under way finish.
    ~PortOutput() override {
        port_->closePort();
        std::this_thread::sleep_for(std::chrono::milliseconds(closeSettleMs));
    }

    void sendShort(std::uint32_t message) override {
        const std::array<std::uint8_t, 3> bytes = {std::uint8_t(message), std::uint8_t(message >> 8),
                                                   std::uint8_t(message >> 16)};
        const int length = shortMessageLength(bytes[0]);
        // Without a status byte, or with a data byte that a wire would read as a status,
        // the receiver would see some other message; a lone F0 or F7 would open or close
        // a system-exclusive message that is not there.
        if (isDataByte(bytes[0]) || bytes[0] == sysexStart || bytes[0] == sysexEnd) return;
        for (int i = 1; i < length; ++i)
            if (!isDataByte(bytes[i])) return;
        std::lock_guard lock(mutex_);
        send(bytes.data(), std::size_t(length));
    }

    void sendLong(std::span<const std::uint8_t> bytes) override {
        if (bytes.empty()) return;
        std::lock_guard lock(mutex_);
        send(bytes.data(), bytes.size());
    }

    void reset() override {
        // A port has no reset of its own: the channel mode messages do it.
        std::lock_guard lock(mutex_);
        for (int channel = 0; channel < channelCount; ++channel) {
            const auto status = std::uint8_t(controlChangeStatus | channel);
            for (int controller : resetControllers) {
                const std::uint8_t bytes[] = {status, std::uint8_t(controller), 0};
                send(bytes, sizeof bytes);
            }
        }
    }

private:
    // Under mutex_: RtMidi's output keeps per-port state (ALSA's encoder, JACK's ring
    // buffer) that two threads must not write at once.
    void send(const std::uint8_t* bytes, std::size_t size) {
        if (watch_ && watch_->gone()) return;  // nothing would ever take it
        try {
            port_->sendMessage(bytes, size);
        } catch (const std::exception& error) {
            sayOnce(RtMidiError::UNSPECIFIED, error.what(), &said_);
        }
    }

    std::atomic<bool> said_{false};
    std::mutex mutex_;
    std::unique_ptr<JackWatch> watch_;
    std::unique_ptr<RtMidiOut> port_;
};

class PortInput final : public MidiInput {
public:
    // The callback is in place before the port opens, so RtMidi never queues a message
    // that no one would read; until start() the messages are dropped.
    explicit PortInput(std::unique_ptr<RtMidiIn> port) : port_(std::move(port)) {
        port_->ignoreTypes(/*midiSysex=*/true, /*midiTime=*/false, /*midiSense=*/false);
        port_->setCallback(&PortInput::deliver, this);
    }

    ~PortInput() override { stop(); }

    RtMidiIn& port() { return *port_; }

    // The port is open: from now on its errors are said, not thrown. On JACK, `watch`
    // says when the server goes away.
    void opened(std::unique_ptr<JackWatch> watch) {
        port_->setErrorCallback(&sayOnce, &said_);
        watch_ = std::move(watch);
    }

    // From now on every source of `api` is connected to the port as it appears.
    void connectSources(PortApi api, const std::string& clientName) {
        sources_ = std::make_unique<SourceWatch>(api, clientName, watch_.get());
    }

    bool start(MidiInputSink sink) override {
        if (!sink) return false;
        std::lock_guard lock(sinkMutex_);
        if (stopped_) return false;
        sink_ = std::move(sink);
        return true;
    }

    void stop() override {
        {
            // The callback holds this lock while it runs the sink; once we have it, the sink
            // is not running and will not be called again.
            std::lock_guard lock(sinkMutex_);
            stopped_ = true;
            sink_ = nullptr;
        }
        // The watch connects nothing more to a port that is closing.
        sources_.reset();
        // Destroying the RtMidi input closes the port and ends its thread. Not under the
        // lock: that thread may be waiting for it in deliver().
        port_.reset();
    }

private:
    // On RtMidi's own thread (ALSA's input thread or JACK's process thread).
    static void deliver(double, std::vector<unsigned char>* message, void* self) {
        if (!message) return;
        const std::optional<std::uint32_t> word =
            packShortMessage(std::span<const std::uint8_t>(message->data(), message->size()));
        if (!word) return;
        auto* input = static_cast<PortInput*>(self);
        std::lock_guard lock(input->sinkMutex_);
        if (!input->sink_) return;
        try {
            input->sink_(*word);
        } catch (abi::__forced_unwind&) {
            throw;  // JACK ends its client thread by cancelling it: that must go through
        } catch (...) {
            // The sink posts to the window; if even that fails, the message is lost rather
            // than RtMidi's thread.
        }
    }

    std::atomic<bool> said_{false};
    std::mutex sinkMutex_;
    MidiInputSink sink_;
    bool stopped_ = false;
    std::unique_ptr<JackWatch> watch_;
    std::unique_ptr<RtMidiIn> port_;
    std::unique_ptr<SourceWatch> sources_;  // after watch_, which it reads
};

}  // namespace

std::string_view portApiName(PortApi api) { return api == PortApi::Alsa ? "alsa" : "jack"; }

std::optional<std::string> findOutputPort(PortApi api, const std::string& portName,
                                          const std::string& clientName, std::string& reason) {
    std::string why;
    auto port = makePort<RtMidiOut>(api, clientName, why);
    if (!port) {
        reason = why;
        return std::nullopt;
    }
    const std::vector<std::string> names = portNames(*port);
    const std::optional<std::size_t> index = choosePort(names, portName, clientName);
    if (!index) {
        reason = missingPortReason(portName);
        return std::nullopt;
    }
    return names[*index];
}

std::unique_ptr<MidiOutput> openPortOutput(std::span<const PortApi> apis, const std::string& portName,
                                           const std::string& clientName, std::string& description) {
    std::string reasons;
    for (PortApi api : apis) {
        std::string why;
        auto port = makePort<RtMidiOut>(api, clientName, why);
        if (!port) {
            addReason(reasons, api, why);
            continue;
        }
        const std::vector<std::string> names = portNames(*port);
        const std::optional<std::size_t> index = choosePort(names, portName, clientName);
        if (!index) {
            addReason(reasons, api, missingPortReason(portName));
            continue;
        }
        try {
            port->openPort(unsigned(*index), clientName);
        } catch (const std::exception& error) {
            addReason(reasons, api, trimmed(error.what()));
            continue;
        }
        description = std::string(portApiName(api)) + ", port " + names[*index];
        return std::make_unique<PortOutput>(std::move(port), watchJack(api, clientName, "MIDI output", "sound"));
    }
    description = reasons.empty() ? "no MIDI system to try" : reasons;
    return nullptr;
}

std::unique_ptr<MidiInput> openPortInput(std::span<const PortApi> apis, const std::string& portName,
                                         const std::string& clientName, std::string& description,
                                         SourceConnecting connecting) {
    std::string reasons;
    for (PortApi api : apis) {
        std::string why;
        auto port = makePort<RtMidiIn>(api, clientName, why);
        if (!port) {
            addReason(reasons, api, why);
            continue;
        }
        std::optional<std::size_t> index;
        std::vector<std::string> names;
        if (!portName.empty()) {
            names = portNames(*port);
            index = choosePort(names, portName, clientName);
            if (!index) {
                addReason(reasons, api, missingPortReason(portName));
                continue;
            }
        }
        std::unique_ptr<PortInput> input;
        try {
            input = std::make_unique<PortInput>(std::move(port));
            if (index) input->port().openPort(unsigned(*index), clientName);
            else input->port().openVirtualPort(clientName);
        } catch (const std::exception& error) {
            addReason(reasons, api, trimmed(error.what()));
            continue;
        }
        input->opened(watchJack(api, clientName, "MIDI input", "live input"));
        description = std::string(portApiName(api)) +
                      (index ? ", port " + names[*index] : ", virtual port " + clientName);
        if (!index && connecting == SourceConnecting::AsTheyAppear) {
            input->connectSources(api, clientName);
            description += " and every source as it appears";
        }
        return input;
    }
    description = reasons.empty() ? "no MIDI system to try" : reasons;
    return nullptr;
}

std::optional<std::vector<std::string>> listPorts(PortApi api, PortDirection direction,
                                                 const std::string& clientName, std::string& reason) {
    std::unique_ptr<RtMidiOut> output;
    std::unique_ptr<RtMidiIn> input;
    if (direction == PortDirection::Output) output = makePort<RtMidiOut>(api, clientName, reason);
    else input = makePort<RtMidiIn>(api, clientName, reason);
    if (!output && !input) return std::nullopt;
    std::vector<std::string> names;
    for (std::string& name : portNames(output ? static_cast<RtMidi&>(*output) : *input))
        if (!isOwnPort(name, clientName)) names.push_back(std::move(name));
    return names;
}

bool isSourceLeftAlone(PortApi api, const std::string& name, const std::string& clientName) {
    if (isOwnPort(name, clientName)) return true;
    // ALSA's loop-back client, also as JACK sees it through a bridge ("a2j:Midi Through
    // [14] (capture): ...", "Midi-Bridge:Midi Through:(capture_0) ...").
    if (name.find("Midi Through") != std::string::npos) return true;
    // ALSA's client 0 (System: Timer, Announce); the source list leaves it out already.
    return api == PortApi::Alsa && name.rfind("System:", 0) == 0;
}

std::optional<std::uint32_t> packShortMessage(std::span<const std::uint8_t> bytes) {
    if (bytes.empty() || bytes.size() > 3 || isDataByte(bytes[0])) return std::nullopt;
    if (bytes[0] == sysexStart || bytes[0] == sysexEnd) return std::nullopt;
    std::uint32_t word = 0;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i > 0 && !isDataByte(bytes[i])) return std::nullopt;
        word |= std::uint32_t(bytes[i]) << (8 * i);
    }
    return word;
}

}  // namespace vesk::platform::midi
