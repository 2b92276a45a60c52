// The voice: the finale's own instrument on MIDI channel 0. Program (with bank 0), sustain
// pedal, the three controller settings, note-off, and a note-on whose velocity follows the
// note's register and how far the finale has taken the flake apart.
// Every sender takes the output port; null means no device, and the send does nothing.
#pragma once

#include "state/PerformanceState.h"
#include "platform/MidiOutput.h"

namespace vesk::midi {

// The finale mirrors pitches within their octave and raises them by one; the voice folds
// out-of-range notes back by whole octaves.
constexpr int semitonesPerOctave = 12;
// The voice's own program, set at every reset; only the finale's opening note borrows
// another one for a while.
constexpr int voiceProgram = 0;

// Note numbers outside 0..127 (the mirrored replay reflects pitches around the keyboard
// and can ask for 140, or for a negative note) are moved by whole octaves into 0..127:
// down until at most 127, or up until at least 0, by as few octaves as reach the range.
// Note-on and note-off fold alike, so a folded note is always released. Numbers inside
// the range are sent unchanged.
int foldNoteIntoRange(int note);

// Bank select coarse and fine to 0, then the program change. Program numbers are 0..127;
// anything else keeps only its low seven bits, so no stray bit reaches the status byte.
void selectVoiceProgram(platform::MidiOutput* output, int program);

void voiceNoteOff(platform::MidiOutput* output, int note);

void sendVoicePedal(platform::MidiOutput* output, bool down);

// Effect 1 depth full, controller 74 to 53, controller 72 to 96: set at every reset.
void setVoiceControllers(platform::MidiOutput* output);

// The velocity the voice plays `note` with, from the register of the (folded) note,
// the flake's segment count, the count when the finale began and the wind-down.
int voiceVelocity(const PerformanceState& state, int note);

void playVoiceNote(platform::MidiOutput* output, const PerformanceState& state, int note);

}  // namespace vesk::midi
