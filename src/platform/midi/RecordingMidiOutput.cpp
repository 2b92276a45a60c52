// The recording MIDI output: one lock around the list, the clock read inside it, short
// messages cut to the length their status gives them.
#include "platform/midi/RecordingMidiOutput.h"

#include <utility>

namespace vesk::platform::midi {

RecordingMidiOutput::RecordingMidiOutput(std::function<std::int64_t()> clock)
    : clock_(std::move(clock)) {}

void RecordingMidiOutput::sendShort(std::uint32_t message) {
    const auto status = std::uint8_t(message & 0xFFu);
    const int length = shortMessageLength(status);
    std::vector<std::uint8_t> bytes;
    bytes.reserve(std::size_t(length));
    for (int i = 0; i < length; ++i) bytes.push_back(std::uint8_t(message >> (8 * i)));
    record(RecordedMidi::Kind::Short, std::move(bytes));
}

void RecordingMidiOutput::sendLong(std::span<const std::uint8_t> bytes) {
    record(RecordedMidi::Kind::Long, {bytes.begin(), bytes.end()});
}

void RecordingMidiOutput::reset() { record(RecordedMidi::Kind::Reset, {}); }

std::vector<RecordedMidi> RecordingMidiOutput::entries() const {
    const std::lock_guard lock(mutex_);
    return entries_;
}

void RecordingMidiOutput::clear() {
    const std::lock_guard lock(mutex_);
    entries_.clear();
}

void RecordingMidiOutput::record(RecordedMidi::Kind kind, std::vector<std::uint8_t> bytes) {
    const std::lock_guard lock(mutex_);
    const std::int64_t time = clock_ ? clock_() : 0;
    entries_.push_back({time, kind, std::move(bytes)});
}

}  // namespace vesk::platform::midi
