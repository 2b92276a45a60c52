// The program's MIDI devices: the output every sender plays on and the input whose
// messages come to the window. Opened once at start-up, closed when the window goes; a
// failure is told to the user in a box and the program runs on without MIDI.
// Knows only the platform's port interfaces, never the library behind them.
#pragma once

#include <memory>
#include <string_view>

#include "platform/MessageLoop.h"
#include "platform/MidiInput.h"
#include "platform/MidiOutput.h"
#include "platform/MidiPorts.h"
#include "platform/ModalUi.h"

namespace vesk::midi {

// The box texts, as the user has always seen them.
constexpr std::string_view cannotUseMidiDeviceText = "Can not use MIDI device";
constexpr std::string_view cannotOpenMidiDeviceText = "Can not open MIDI device";

// Null output: no device, and every send is a no-op (the senders take output.get()).
struct MidiDevices {
    std::unique_ptr<platform::MidiOutput> output;
    std::unique_ptr<platform::MidiInput> input;
};

// Window thread, on empty devices. Opens the output, then the input, whose messages are
// posted to `loop` as MidiInput window messages; the loop must outlive the input, which
// closeMidi stops. False, after a box owned by the window, when there is no output device
// or it does not open; neither device is then open. Input failures are not told.
bool openMidi(MidiDevices& devices, platform::MidiPorts& ports, platform::MessageLoop& loop,
              platform::ModalUi& ui);

// Window thread: every sounding note released, the output closed, then the input stopped
// and closed. The sequencer's timer must no longer be sending by then.
void closeMidi(MidiDevices& devices);

}  // namespace vesk::midi
