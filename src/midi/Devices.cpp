// Opening and closing the program's MIDI devices on the platform's ports. The input's sink
// only posts: the message is handled later, on the window thread, like any other.
#include "midi/Devices.h"

#include "platform/Message.h"

namespace vesk::midi {

bool openMidi(MidiDevices& devices, platform::MidiPorts& ports, platform::MessageLoop& loop,
              platform::ModalUi& ui) {
    if (!ports.hasOutput()) {
        ui.showMessageBox(cannotUseMidiDeviceText, platform::BoxOwner::Window);
        return false;
    }
    devices.output = ports.openOutput();
    if (!devices.output) {
        ui.showMessageBox(cannotOpenMidiDeviceText, platform::BoxOwner::Window);
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
