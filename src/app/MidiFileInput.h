// A Standard MIDI File read as timed short messages: every channel message of every track
// (format 0 or 1), at its time through the file's tempo map, in time order. A render plays
// them as live input, as if played on a keyboard, and takes a file's length from it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/Options.h"

namespace vesk::app {

struct TimedMessages {
    std::vector<ScriptedInput> messages;
    std::int64_t lengthUs = 0;  // the time of the file's last event, its end of track included
};

// None, with the reason naming the file, when it cannot be read or is no MIDI file. Every
// read is bounded by the file's bytes and by each chunk's stated length.
std::optional<TimedMessages> readTimedMessages(const std::string& path, std::string& reason);

}  // namespace vesk::app
