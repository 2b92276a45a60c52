// The demo piece's accompaniment, made from a passage's chord progression by fixed patterns:
// strings holding each chord, a bass line, a harp's broken chords, drum grooves written as
// sixteen steps a bar, the pedal of the tune's piano, and a second voice under the tune.
#pragma once

#include <vector>

#include "compose/Notation.h"
#include "compose/Score.h"

namespace vesk::compose {

// Channels as a player's dialog counts them. Vesk keeps channel 1 for its own finale
// voice, so the piece leaves it silent; Vesk listens to the tune's channel.
namespace channel {
constexpr int finaleVoice = 1;
constexpr int tune = 2;
constexpr int bass = 3;
constexpr int strings = 4;
constexpr int harp = 5;
constexpr int drums = 10;
}  // namespace channel

// General MIDI percussion keys the piece uses.
namespace drum {
constexpr int kick = 36, sideStick = 37, snare = 38, floorTom = 41, closedHat = 42, lowTom = 45, midTom = 47,
              crash = 49, highTom = 50, ride = 51;
}  // namespace drum

enum class BassPattern { Held, Pulse, Drive };
enum class DrumGroove { None, Shimmer, Brushes, Full, HalfTime, Settle };
enum class SecondVoice { None, OnTheBeat, EveryNote };
enum class DrumFill { None, IntoNext };

// Chord spans here carry ticks from the start of the piece.
void addStrings(Score& score, const std::vector<ChordSpan>& spans, int velocity);
void addBass(Score& score, const std::vector<ChordSpan>& spans, BassPattern pattern, int velocity);
void addHarp(Score& score, const std::vector<ChordSpan>& spans, int velocity);
// `bars` bars from `startTick`, the groove from bar `fromBar` (0 is the first).
void addDrums(Score& score, int startTick, int bars, int fromBar, DrumGroove groove, DrumFill fill);
void addDrumHit(Score& score, int tick, int key, int velocity);
// Lifted as each chord arrives and pressed again just after, so each chord rings on its own.
void addPedal(Score& score, const std::vector<ChordSpan>& spans);
// A note under the tune's single notes: the highest chord tone a third to a sixth below.
void addSecondVoice(Score& score, const std::vector<Note>& tune, const std::vector<ChordSpan>& spans,
                    SecondVoice voice, int startTick);

// Of the chord, the pitch of `pitchClass` in the octave from `lowest` up.
int pitchFrom(int pitchClass, int lowest);

}  // namespace vesk::compose
