// A MIDI output that sounds nothing and keeps every message it is given, with the time it
// arrived, as the bytes a port would carry. The headless runs and the tests read the music
// from it. Senders on the window thread and the timer thread may call it at once.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

#include "platform/MidiOutput.h"

namespace vesk::platform::midi {

struct RecordedMidi {
    enum class Kind { Short, Long, Reset };
    std::int64_t timeUs = 0;
    Kind kind = Kind::Short;
    // Short: the 1, 2 or 3 bytes of the message by its status; long: the whole message;
    // reset: empty.
    std::vector<std::uint8_t> bytes;
};

class RecordingMidiOutput final : public MidiOutput {
public:
    // `clock` gives the time in microseconds; it is read under the recorder's lock, so
    // entries stay in the order of their times, and must not send to this recorder.
    // Without a clock every entry is stamped 0.
    explicit RecordingMidiOutput(std::function<std::int64_t()> clock = {});

    void sendShort(std::uint32_t message) override;
    void sendLong(std::span<const std::uint8_t> bytes) override;
    void reset() override;

    // A copy, so a reader never sees an entry half-written by the other thread.
    std::vector<RecordedMidi> entries() const;
    void clear();

private:
    void record(RecordedMidi::Kind kind, std::vector<std::uint8_t> bytes);

    std::function<std::int64_t()> clock_;
    mutable std::mutex mutex_;
    std::vector<RecordedMidi> entries_;
};

}  // namespace vesk::platform::midi
