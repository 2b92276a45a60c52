// The small text notation the demo's tunes and harmony are written in, so the piece reads
// as music. A tune: "F#5 q." is F sharp of the fifth octave (C4 = 60) for a dotted quarter,
// "[D5 F#5 A5] h" a chord struck together, "r e" a rest, "|" a bar line, which must fall
// on a whole bar. A progression: "D | A | Em A | Bm" gives each bar's chords, sharing the
// bar equally. Mistakes in the text are thrown as std::invalid_argument with the reason.
#pragma once

#include <string_view>
#include <vector>

namespace vesk::compose {

constexpr int pitchClasses = 12;

// One onset of a tune: a single note, or a chord; ticks from the start of the passage.
struct Struck {
    int tick;
    int length;
    std::vector<int> pitches;
};

struct Tune {
    std::vector<Struck> onsets;
    int length;  // ticks, rests included: always whole bars
};

struct Chord {
    int root;                // pitch class, C = 0
    std::vector<int> tones;  // pitch classes: root, third, fifth and any seventh
};

struct ChordSpan {
    int tick;
    int length;
    Chord chord;
};

int parsePitch(std::string_view name);
int parseDuration(std::string_view text);
Tune parseTune(std::string_view text);
Chord parseChord(std::string_view symbol);
std::vector<ChordSpan> parseProgression(std::string_view text);

// The chord that sounds at `tick` (the last span that has begun).
const Chord& chordAt(const std::vector<ChordSpan>& spans, int tick);

}  // namespace vesk::compose
