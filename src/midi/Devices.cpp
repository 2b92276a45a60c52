// Opening and closing the program's MIDI devices on the platform's ports. The input's sink
// only posts: the message is handled later, on the window thread, like any other.
#include "midi/Devices.h"

#include "platform/Message.h"

namespace vesk::midi {

bool openMidi(MidiDevices& devices, platform::MidiPorts& ports, platform::MessageLoop& loop,
              platform::ModalUi& ui) {
    if (!ports.hasOutput()) {
        ui.reportError(cannotUseMidiDeviceText, platform::BoxOwner::Window,
                       "there is no MIDI output to play on; " + ports.describe());
        return false;
    }
    devices.output = ports.openOutput();
    if (!devices.output) {
        ui.reportError(cannotOpenMidiDeviceText, platform::BoxOwner::Window,
                       "the MIDI output does not open; " + ports.describe());
        return false;
    }
    // Without an input the program simply hears no live playing, so neither the open nor
    // the start is checked.
    devices.input = ports.openInput();
    if (devices.input)
        devices.input->start([&loop](std::uint32_t message) {
            // On the port's own thread: the message is handled on the window thread.
            loop.post({platform::MessageType::MidiInput, message});
        });
    return true;
}

void closeMidi(MidiDevices& devices) {
    if (devices.output) {
        devices.output->reset();
        devices.output.reset();
    }
    if (devices.input) {
        devices.input->stop();
        devices.input.reset();
    }
}

}  // namespace vesk::midi
