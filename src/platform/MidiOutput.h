// A MIDI output port: short messages, long (system-exclusive) messages, and a reset that
// releases every sounding note. Called from the window thread and the timer thread; each
// message goes out whole.
#pragma once

#include <cstdint>
#include <span>

#include "platform/MidiMessage.h"

namespace vesk::platform {

class MidiOutput {
public:
    virtual ~MidiOutput() = default;
    // status | data1 << 8 | data2 << 16; a two-byte message (program change, channel
    // pressure) carries 0 in the third byte and is sent as two bytes.
    virtual void sendShort(std::uint32_t message) = 0;
    virtual void sendLong(std::span<const std::uint8_t> bytes) = 0;
    virtual void reset() = 0;
};

// Bytes of a short message by its status: two for program change and channel pressure
// (0xC0..0xDF) and for 0xF1 and 0xF3, one for the other system messages, three otherwise.
inline int shortMessageLength(std::uint8_t status) {
    const int kind = statusKind(status);
    if (kind == programChangeStatus || kind == channelPressureStatus) return 2;
    if (status == timeCodeQuarterFrameStatus || status == songSelectStatus) return 2;
    if (status == songPositionStatus) return 3;
    if (status >= sysExStatus) return 1;
    return 3;
}

}  // namespace vesk::platform
