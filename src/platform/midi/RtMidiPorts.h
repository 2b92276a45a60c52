// MIDI ports of the machine through RtMidi: an output connected to another program's or a
// device's port, and an input that is either our own virtual port (any source can be
// connected to it) or a named source. ALSA's sequencer first, JACK where ALSA's is absent.
// No RtMidi exception leaves this unit; a failure is a null port and a reason.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/MidiInput.h"
#include "platform/MidiOutput.h"

namespace vesk::platform::midi {

enum class PortApi { Alsa, Jack };

std::string_view portApiName(PortApi api);  // "alsa", "jack"

// The port the output would connect to on `api`: the one called `portName` (or, failing
// an exact match, the first whose name contains it) or, without a name, the first port
// that is not one of `clientName`'s own. Null with the reason when the API cannot run
// here or offers no such port.
std::optional<std::string> findOutputPort(PortApi api, const std::string& portName,
                                          const std::string& clientName, std::string& reason);

// An output on the first of `apis` that runs here and offers the port (as findOutputPort
// chooses it), as the client `clientName`. `description` says what was opened ("alsa,
// port Midi Through:Midi Through Port-0 14:0") or, when null, why nothing was.
std::unique_ptr<MidiOutput> openPortOutput(std::span<const PortApi> apis, const std::string& portName,
                                           const std::string& clientName, std::string& description);

// Whether a virtual input also connects the sources it finds: none (only those connected
// to it by hand are heard), or every source that is there or appears later, except our
// own ports, ALSA's "Midi Through" and its system ports.
enum class SourceConnecting { ByHand, AsTheyAppear };

// An input on the first of `apis` that runs here: the source called `portName`, or a
// virtual port called `clientName` when no name is given. Sources connected to it are
// heard as soon as start() hands it a sink. With AsTheyAppear (and no `portName`) a
// SourceWatch connects every source to the virtual port as it appears; stop() ends it.
std::unique_ptr<MidiInput> openPortInput(std::span<const PortApi> apis, const std::string& portName,
                                         const std::string& clientName, std::string& description,
                                         SourceConnecting connecting = SourceConnecting::ByHand);

// Whether the source `name` (as RtMidi names it on `api`) is one an input connecting
// sources as they appear leaves alone: one of `clientName`'s own ports, ALSA's "Midi
// Through" (it would loop our own output back) or one of its system ports.
bool isSourceLeftAlone(PortApi api, const std::string& name, const std::string& clientName);

enum class PortDirection { Output, Input };

// The ports `api` offers to play to (Output) or to listen to (Input), other than
// `clientName`'s own, by the names --out-port and --in-port take. None with the reason
// when the API cannot run here.
std::optional<std::vector<std::string>> listPorts(PortApi api, PortDirection direction,
                                                 const std::string& clientName, std::string& reason);

// The word for a complete short message of 1 to 3 bytes: status | data1 << 8 |
// data2 << 16. Nothing for system-exclusive messages, longer ones, or bytes that do not
// begin with a status byte.
std::optional<std::uint32_t> packShortMessage(std::span<const std::uint8_t> bytes);

}  // namespace vesk::platform::midi
