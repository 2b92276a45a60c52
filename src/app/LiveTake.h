// What a person played during one performance (the live input, not the file's notes),
// kept with the millisecond it came and written as a format-0 Standard MIDI File that any
// sequencer opens: one tick a millisecond, the song's name as the track's name.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vesk::app {

// One tick is one millisecond: 500 ticks to the quarter note at 500,000 µs a quarter
// (120 beats a minute, the tempo a file has when it names none).
constexpr int takeTicksPerQuarter = 500;
constexpr std::uint32_t takeUsPerQuarter = 500'000;
// A take keeps at most this many messages (16 MB): a flood of input held for a whole
// performance must not take the machine's memory. Those beyond are counted, not kept.
constexpr std::size_t takeMessagesMax = std::size_t(1) << 20;

class LiveTake {
public:
    struct Message {
        std::int64_t ms;
        std::uint32_t message;  // status | data1 << 8 | data2 << 16
    };

    // Channel messages only, whole (data bytes below 0x80): a system message or a torn one
    // has no place in the file and is left out.
    void add(std::int64_t ms, std::uint32_t message);
    void clear();
    bool empty() const { return messages_.empty(); }
    const std::vector<Message>& messages() const { return messages_; }
    std::size_t dropped() const { return dropped_; }

    // The take as a file; `songName` names its track.
    std::vector<std::uint8_t> smf(const std::string& songName) const;

private:
    std::vector<Message> messages_;
    std::size_t dropped_ = 0;
};

// Where performance `performance` (from 1) of --record-midi FILE goes: FILE's name with
// "-NNNN" before its extension (".mid" when it has none), beside it.
std::string takePath(const std::string& given, int performance);

}  // namespace vesk::app
