// The MIDI drivers by name, as one table: outputs "fluidsynth" (the embedded synthesiser),
// "alsa" and "jack" (ports), "recorder" and "none"; inputs "alsa", "jack" and "none".
// "auto" takes the synthesiser when a SoundFont is installed, else the first port that
// exists, and for input ALSA then JACK, connecting every source as it appears;
// describe() says what was taken and why.
#pragma once

#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "platform/MidiPorts.h"

namespace vesk::platform::midi {

constexpr std::string_view autoMidiDriver = "auto";

struct MidiOptions {
    std::string output = "auto";
    std::string input = "auto";
    std::string soundFont;   // empty: the first installed General MIDI SoundFont
    std::string outputPort;  // empty: the first port that is not ours
    std::string inputPort;   // empty: a virtual port called clientName
    std::string clientName = "Vesk";
};

// The names each table knows, in the order "auto" tries them (auto itself not included).
std::span<const std::string_view> midiOutputDrivers();
std::span<const std::string_view> midiInputDrivers();

// Every driver with what it offers here, a line each: the SoundFont the synth would load,
// the ports of ALSA and JACK by the names --out-port and --in-port take, or why there are
// none. For --list-ports.
std::string describePorts(const MidiOptions& options);

// The devices `options` choose. Null with the reason only when a driver name is unknown;
// a known driver that cannot run here is a MidiPorts without output, or without input,
// whose describe() says why.
std::unique_ptr<platform::MidiPorts> createMidiPorts(const MidiOptions& options, std::string& reason);

}  // namespace vesk::platform::midi
