// The composer's score: notes, controller and program changes, tempo and meta events on one
// timeline of file ticks. The parts of the demo piece write into it; the file writer turns
// it into a single track. Channels are numbered 1 to 16, as a player's dialog counts them.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace vesk::compose {

constexpr int ticksPerQuarter = 480;  // the player takes at most 500
constexpr int beatsPerBar = 4;
constexpr int ticksPerBar = ticksPerQuarter * beatsPerBar;
constexpr int ticksPerEighth = ticksPerQuarter / 2;
constexpr int ticksPerSixteenth = ticksPerQuarter / 4;
constexpr int lowestChannel = 1;
constexpr int highestChannel = 16;
constexpr int highestDataValue = 127;

struct Note {
    int tick;
    int length;
    int channel;
    int pitch;
    int velocity;
};

struct ControlChange {
    int tick;
    int channel;
    int controller;
    int value;
};

struct ProgramChange {
    int tick;
    int channel;
    int program;  // General MIDI numbering from 0
};

struct MetaEvent {
    int tick;
    int type;
    std::vector<std::uint8_t> data;
};

struct Score {
    std::vector<Note> notes;
    std::vector<ControlChange> controls;
    std::vector<ProgramChange> programs;
    std::vector<MetaEvent> metas;
    int endTick = 0;  // where the end of the track goes; no event may lie beyond it
};

// Meta event types of the Standard MIDI File.
namespace meta {
constexpr int text = 0x01;
constexpr int copyright = 0x02;
constexpr int trackName = 0x03;
constexpr int endOfTrack = 0x2F;
constexpr int setTempo = 0x51;
constexpr int timeSignature = 0x58;
constexpr int keySignature = 0x59;
}  // namespace meta

constexpr int microsecondsPerMinute = 60'000'000;

void addText(Score& score, int tick, int type, std::string_view text);
void addTempo(Score& score, int tick, int beatsPerMinute);

// A key struck again while it still sounds on the same channel would leave the first
// note-off to end the second note; the earlier note is cut short where the next begins.
// Two notes of one key on one channel struck at the same tick are a mistake in the score.
void separateRepeatedKeys(Score& score);

}  // namespace vesk::compose
