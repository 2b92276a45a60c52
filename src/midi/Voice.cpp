// The voice's short messages on channel 0. Each goes out as one word: status, then the
// first data byte shifted by 8, then the second shifted by 16.
#include "midi/Voice.h"

#include <cstdint>

namespace vesk::midi {
namespace {

constexpr std::uint32_t noteOffStatus = 0x80;
constexpr std::uint32_t noteOnStatus = 0x90;
constexpr std::uint32_t controlChangeStatus = 0xB0;
constexpr std::uint32_t programChangeStatus = 0xC0;

constexpr std::uint32_t bankSelectCoarse = 0x00;
constexpr std::uint32_t bankSelectFine = 0x20;
constexpr std::uint32_t sustainPedal = 0x40;
constexpr std::uint32_t effect1Depth = 91;
constexpr std::uint32_t controller74 = 74;
constexpr std::uint32_t controller72 = 72;
constexpr std::uint32_t pedalDownValue = 0x7F;
constexpr std::uint32_t effect1DepthValue = 0x7F;
constexpr std::uint32_t controller74Value = 53;
constexpr std::uint32_t controller72Value = 96;

constexpr int highestNote = 127;
constexpr int octave = 12;

// Registers of the velocity table: Low below 60, Middle 60..71, High 72 and above.
constexpr int middleRegisterFirst = 60;
constexpr int highRegisterFirst = 72;

// The finale grows quieter as it removes segments only when the flake had at least this
// many when it began; a smaller flake replays at full strength throughout.
constexpr int quietingFinaleSegments = 15;
constexpr int fullStrengthAbove = 15;  // more segments than this: the loud row
constexpr int middleRowFirst = 11;      // 11..15 segments: the middle row

struct VelocityRow {
    int low, middle, high;
};
constexpr VelocityRow loudRow{56, 79, 88};
constexpr VelocityRow middleRow{40, 63, 72};
constexpr VelocityRow windDownRow{88, 88, 88};  // the wind-down's notes come loud again
constexpr VelocityRow quietRow{24, 47, 56};

void send(platform::MidiOutput* output, std::uint32_t status, std::uint32_t data1,
          std::uint32_t data2 = 0) {
    if (!output) return;
    output->sendShort(status | (data1 & 0x7Fu) << 8 | (data2 & 0x7Fu) << 16);
}

const VelocityRow& velocityRow(const PerformanceState& state) {
    const int segments = state.flake.segmentCount;
    if (segments > fullStrengthAbove || state.finaleSegmentCount < quietingFinaleSegments)
        return loudRow;
    if (segments >= middleRowFirst) return middleRow;
    return state.windDownTicks != 0 ? windDownRow : quietRow;
}

}  // namespace

int foldNoteIntoRange(int note) {
    // In 64 bits so that even the most negative int folds without overflow.
    std::int64_t n = note;
    if (n > highestNote) n -= octave * ((n - highestNote + octave - 1) / octave);
    if (n < 0) n += octave * ((-n + octave - 1) / octave);
    return int(n);
}

void selectVoiceProgram(platform::MidiOutput* output, int program) {
    send(output, controlChangeStatus, bankSelectCoarse, 0);
    send(output, controlChangeStatus, bankSelectFine, 0);
    send(output, programChangeStatus, std::uint32_t(program));
}

void voiceNoteOff(platform::MidiOutput* output, int note) {
    send(output, noteOffStatus, std::uint32_t(foldNoteIntoRange(note)), 0);
}

void sendVoicePedal(platform::MidiOutput* output, bool down) {
    send(output, controlChangeStatus, sustainPedal, down ? pedalDownValue : 0);
}

void setVoiceControllers(platform::MidiOutput* output) {
    send(output, controlChangeStatus, effect1Depth, effect1DepthValue);
    send(output, controlChangeStatus, controller74, controller74Value);
    send(output, controlChangeStatus, controller72, controller72Value);
}

int voiceVelocity(const PerformanceState& state, int note) {
    const VelocityRow& row = velocityRow(state);
    const int n = foldNoteIntoRange(note);
    if (n >= highRegisterFirst) return row.high;
    if (n >= middleRegisterFirst) return row.middle;
    return row.low;
}

void playVoiceNote(platform::MidiOutput* output, const PerformanceState& state, int note) {
    send(output, noteOnStatus, std::uint32_t(foldNoteIntoRange(note)),
         std::uint32_t(voiceVelocity(state, note)));
}

}  // namespace vesk::midi
