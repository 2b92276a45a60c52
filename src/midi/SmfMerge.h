// The MIDI files people have (format 1 with a conductor track, running status, text and
// sequencer data) turned into the one-track format-0 file the player takes: every track
// read whole, the events merged in time order with ties in track order (so the conductor
// track's tempo changes form the one tempo map), written back with a status byte on every
// event. Reading never goes past the bytes given; a file that cannot be read gets a reason.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/MidiMessage.h"

namespace vesk::midi {

// General MIDI's drums: channel 10 as people count, 9 as a status byte carries it.
constexpr int drumChannel = 9;

// One event of the merged track: its time from the start in ticks, and where its bytes
// (status first, running status expanded) lie in MergedSmf::bytes.
struct MergedEvent {
    std::uint64_t tick = 0;
    std::uint32_t offset = 0;
    std::uint32_t length = 0;
};

struct MergedSmf {
    int format = 0;
    int tracks = 0;  // track chunks read
    int division = 0;
    std::vector<std::uint8_t> bytes;
    std::vector<MergedEvent> events;  // in the order they play
    std::uint64_t endTick = 0;        // where the longest track ends
    bool runningStatus = false;       // some event leant on the status before it
    int dropped = 0;                  // events the player would not play, left out
    std::array<int, platform::channelCount> noteOns{};
};

// Reads and merges a whole file. None, with `error` saying why in a phrase that follows
// the file's name ("is format 2 ..."), when it is no file the player could play.
std::optional<MergedSmf> mergeSmf(std::span<const std::uint8_t> file, std::string& error);

// The merged events as a format-0 file any sequencer reads: every status written out, one
// end of track. None, with `error`, when a pause is too long for the file's delta times.
std::optional<std::vector<std::uint8_t>> encodeFormat0(const MergedSmf& smf, std::string& error);

// The merged events as a format-0 file the player takes: under its buffer's size, every
// status written out, one end of track. None, with `error`, when it cannot be.
std::optional<std::vector<std::uint8_t>> writeFormat0(const MergedSmf& smf, std::string& error);

// The channel (0-based) with the most note-ons other than the drums', the lowest on a tie;
// the drums' when only they play; none when nothing plays a note.
std::optional<int> busiestMelodicChannel(const MergedSmf& smf);

}  // namespace vesk::midi
