// The file writer: the score's events flattened onto one timeline, sorted, and written
// with variable-length delta times behind a format 0 header.
#include "compose/SmfWriter.h"

#include <algorithm>
#include <stdexcept>
#include <string>

namespace vesk::compose {

namespace {

constexpr std::uint8_t noteOffStatus = 0x80;
constexpr std::uint8_t noteOnStatus = 0x90;
constexpr std::uint8_t controlStatus = 0xB0;
constexpr std::uint8_t programStatus = 0xC0;
constexpr std::uint8_t metaStatus = 0xFF;
constexpr std::uint8_t releaseVelocity = 0x40;
constexpr int headerLength = 6;
constexpr int formatSingleTrack = 0;
constexpr int trackCount = 1;
constexpr int chunkLengthBytes = 4;
constexpr int headerFieldBytes = 2;
constexpr int bitsPerByte = 8;
constexpr int sevenBits = 7;
constexpr std::uint8_t lowSevenBits = 0x7F;
constexpr std::uint8_t moreBytesFollow = 0x80;

// Within one tick: tempo and text first, then the notes that end, the controllers (a
// pedal lifted as a chord changes lets go of the old chord only), the programs, and last
// the notes that begin, so every sound starts with its instrument and tempo in place.
enum class Order { Meta, NoteOff, Control, Program, NoteOn };

struct TimedEvent {
    int tick;
    Order order;
    std::vector<std::uint8_t> bytes;
};

std::uint8_t channelNibble(int channel) {
    if (channel < lowestChannel || channel > highestChannel)
        throw std::out_of_range("channel " + std::to_string(channel) + " is not 1 to 16");
    return std::uint8_t(channel - lowestChannel);
}

std::uint8_t dataByte(int value) {
    if (value < 0 || value > highestDataValue)
        throw std::out_of_range("data value " + std::to_string(value) + " is not 0 to 127");
    return std::uint8_t(value);
}

void appendVariableLength(std::vector<std::uint8_t>& out, std::uint32_t value) {
    std::vector<std::uint8_t> groups{std::uint8_t(value & lowSevenBits)};
    while (value >>= sevenBits) groups.push_back(std::uint8_t(moreBytesFollow | (value & lowSevenBits)));
    out.insert(out.end(), groups.rbegin(), groups.rend());
}

void appendBigEndian(std::vector<std::uint8_t>& out, std::uint32_t value, int bytes) {
    for (int i = bytes - 1; i >= 0; --i) out.push_back(std::uint8_t(value >> (bitsPerByte * i)));
}

std::vector<TimedEvent> flatten(const Score& score) {
    std::vector<TimedEvent> events;
    for (const MetaEvent& m : score.metas) {
        std::vector<std::uint8_t> bytes{metaStatus, dataByte(m.type)};
        appendVariableLength(bytes, std::uint32_t(m.data.size()));
        bytes.insert(bytes.end(), m.data.begin(), m.data.end());
        events.push_back({m.tick, Order::Meta, std::move(bytes)});
    }
    for (const Note& n : score.notes) {
        if (n.length <= 0) throw std::logic_error("a note of no length at tick " + std::to_string(n.tick));
        const std::uint8_t ch = channelNibble(n.channel);
        events.push_back({n.tick, Order::NoteOn,
                          {std::uint8_t(noteOnStatus | ch), dataByte(n.pitch), dataByte(n.velocity)}});
        events.push_back({n.tick + n.length, Order::NoteOff,
                          {std::uint8_t(noteOffStatus | ch), dataByte(n.pitch), releaseVelocity}});
    }
    for (const ControlChange& c : score.controls)
        events.push_back({c.tick, Order::Control,
                          {std::uint8_t(controlStatus | channelNibble(c.channel)), dataByte(c.controller),
                           dataByte(c.value)}});
    for (const ProgramChange& p : score.programs)
        events.push_back({p.tick, Order::Program,
                          {std::uint8_t(programStatus | channelNibble(p.channel)), dataByte(p.program)}});
    std::stable_sort(events.begin(), events.end(), [](const TimedEvent& a, const TimedEvent& b) {
        return a.tick != b.tick ? a.tick < b.tick : a.order < b.order;
    });
    return events;
}

}  // namespace

std::vector<std::uint8_t> writeSmf(const Score& score) {
    const std::vector<TimedEvent> events = flatten(score);
    std::vector<std::uint8_t> track;
    int last = 0;
    for (const TimedEvent& e : events) {
        if (e.tick < 0 || e.tick > score.endTick)
            throw std::logic_error("an event at tick " + std::to_string(e.tick) + " lies outside the track");
        appendVariableLength(track, std::uint32_t(e.tick - last));
        track.insert(track.end(), e.bytes.begin(), e.bytes.end());
        last = e.tick;
    }
    appendVariableLength(track, std::uint32_t(score.endTick - last));
    track.insert(track.end(), {metaStatus, std::uint8_t(meta::endOfTrack), 0});

    std::vector<std::uint8_t> file{'M', 'T', 'h', 'd'};
    appendBigEndian(file, headerLength, chunkLengthBytes);
    appendBigEndian(file, formatSingleTrack, headerFieldBytes);
    appendBigEndian(file, trackCount, headerFieldBytes);
    appendBigEndian(file, ticksPerQuarter, headerFieldBytes);
    file.insert(file.end(), {'M', 'T', 'r', 'k'});
    appendBigEndian(file, std::uint32_t(track.size()), chunkLengthBytes);
    file.insert(file.end(), track.begin(), track.end());
    return file;
}

}  // namespace vesk::compose
