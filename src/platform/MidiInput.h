// A MIDI input port: complete short messages (status | data1 << 8 | data2 << 16), handed
// to a sink on whatever thread the port delivers them. The program's sink posts each one
// to the window as a message, so nothing is handled on the port's own thread.
#pragma once

#include <cstdint>
#include <functional>

namespace vesk::platform {

using MidiInputSink = std::function<void(std::uint32_t message)>;

class MidiInput {
public:
    virtual ~MidiInput() = default;
    // Starts delivering to `sink`; false when the port cannot start.
    virtual bool start(MidiInputSink sink) = 0;
    // Stops delivering; when it returns, the sink is not running and will not be called.
    virtual void stop() = 0;
};

}  // namespace vesk::platform
