// The voice's short messages on channel 0. Each goes out as one word: status, then the
// first data byte shifted by 8, then the second shifted by 16.
#include "midi/Voice.h"

#include <cstdint>

#include "platform/MidiMessage.h"

namespace vesk::midi {
namespace {

using platform::controlChangeStatus;
using platform::noteOffStatus;
using platform::noteOnStatus;
using platform::programChangeStatus;

constexpr int bankSelectCoarse = 0x00;
constexpr int bankSelectFine = 0x20;
constexpr int effect1Depth = 91;
constexpr int controller74 = 74;
constexpr int controller72 = 72;
constexpr int controller74Value = 53;
constexpr int controller72Value = 96;
constexpr int pedalUpValue = 0;

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

// Data bytes keep their low seven bits, so nothing spills into the status byte.
void send(platform::MidiOutput* output, int status, int data1, int data2 = 0) {
    if (!output) return;
    output->sendShort(std::uint32_t(status) |
                      std::uint32_t(data1 & platform::dataMask) << platform::firstDataShift |
                      std::uint32_t(data2 & platform::dataMask) << platform::secondDataShift);
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
    constexpr int highest = platform::highestNoteNumber;
    constexpr int octave = semitonesPerOctave;
    if (n > highest) n -= octave * ((n - highest + octave - 1) / octave);
    if (n < 0) n += octave * ((-n + octave - 1) / octave);
    return int(n);
}

void selectVoiceProgram(platform::MidiOutput* output, int program) {
    send(output, controlChangeStatus, bankSelectCoarse, 0);
    send(output, controlChangeStatus, bankSelectFine, 0);
    send(output, programChangeStatus, program);
}

void voiceNoteOff(platform::MidiOutput* output, int note) {
    send(output, noteOffStatus, foldNoteIntoRange(note), 0);
}

void sendVoicePedal(platform::MidiOutput* output, bool down) {
    send(output, controlChangeStatus, platform::sustainController,
         down ? platform::controllerFull : pedalUpValue);
}

void setVoiceControllers(platform::MidiOutput* output) {
    send(output, controlChangeStatus, effect1Depth, platform::controllerFull);
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
    send(output, noteOnStatus, foldNoteIntoRange(note), voiceVelocity(state, note));
}

}  // namespace vesk::midi
