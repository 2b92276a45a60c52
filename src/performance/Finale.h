// The finale: after the silence has settled the flake, the captured performance is played
// again on the voice (forward and mirrored, or backward) from the segments' birth and end
// ticks and the pedal log, and each segment leaves the flake and its mesh as its replayed
// note ends. The tick driver hands it every silent tick from the fifteenth on.
#pragma once

#include "flake/Segment.h"
#include "midi/Voice.h"
#include "state/PerformanceState.h"
#include "platform/MessageLoop.h"
#include "platform/MidiOutput.h"
#include "retained/Frame.h"
#include "retained/MeshBuilder.h"

namespace vesk {

// The finale opens with a long low note on a program of its own; the end of the ripple
// releases it and returns the voice to program 0, so the replay sounds on program 0. The
// wind-down plays it once more near its end, and the restart releases it again.
constexpr int finaleOpeningNote = 30;
constexpr int finaleOpeningProgram = 100;
constexpr int replayProgram = midi::voiceProgram;

// Program 100 and its long note 30 on the voice (`output` null: no device).
void playFinaleOpening(const PerformanceState& state, platform::MidiOutput* output);
// Note 30 released and the voice back on program 0.
void releaseFinaleOpening(platform::MidiOutput* output);

// The pitch the finale gives `segment` now: mode 1 mirrors its pitch class within its
// octave (k becomes 12 - k, so 0 moves up an octave), mode 2 keeps the note; both are an
// octave higher once the silence has lasted long enough. Can exceed 127; the voice folds it.
int replayedPitch(const PerformanceState& state, const flake::Segment& segment);

// One finale step at the present `silentTicks` (the caller advances it afterwards). Turns
// `flakeFrame`, sounds and releases notes on `output` (null: no device), replays a pedal
// change, removes segments from the flake and their faces from `flakeMesh`, and speeds up
// window timer 1 on `loop`. A null mesh or frame (no scene) skips only the picture's part.
void finaleStep(PerformanceState& state, retained::MeshBuilder* flakeMesh, retained::Frame* flakeFrame,
                platform::MessageLoop& loop, platform::MidiOutput* output);

}  // namespace vesk
