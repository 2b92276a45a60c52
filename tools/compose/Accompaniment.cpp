// The accompaniment's patterns: what each part plays over one chord, the drum grooves as
// step grids, the pedal and the second voice. Registers keep the parts out of each other's
// way: bass from D2, harp from A2, strings from G3, the tune above them.
#include "compose/Accompaniment.h"

#include <algorithm>
#include <string_view>

namespace vesk::compose {

namespace {

constexpr int bassLowest = 38;     // D2: every root of the piece's key sits in the octave above
constexpr int harpLowest = 45;     // A2
constexpr int stringsLowest = 55;  // G3: a close chord within the octave above, under the tune
constexpr int octave = 12;
constexpr int fifthInTriad = 2;    // index of the fifth among a chord's tones
constexpr int triadTones = 3;
constexpr int articulationGap = ticksPerSixteenth / 4;  // a breath between repeated bass notes
constexpr int pedalCatchTicks = ticksPerSixteenth / 2;  // a thirty-second after the chord arrives
constexpr int pedalController = 64;
constexpr int pedalDown = 127;
constexpr int pedalUp = 0;
constexpr int harpDownbeatAccent = 8;
constexpr int harpRingTicks = ticksPerQuarter;
constexpr int secondVoiceNearest = 3;   // a minor third
constexpr int secondVoiceFarthest = 9;  // a major sixth
constexpr int secondVoiceSofter = 16;
constexpr int lowestVelocity = 1;

enum class Degree { Root, Fifth, Octave };

struct BassStep {
    int offset;
    int length;  // 0: to the end of the chord
    Degree degree;
};

// What the bass plays over one bar of a chord; a chord of half a bar takes the first half.
std::vector<BassStep> bassSteps(BassPattern pattern) {
    constexpr int q = ticksPerQuarter, e = ticksPerEighth, dottedQ = q + e;
    switch (pattern) {
    case BassPattern::Held:
        return {{0, 0, Degree::Root}};
    case BassPattern::Pulse:  // root on the beat, the fifth pushing into beat three
        return {{0, dottedQ, Degree::Root}, {dottedQ, e, Degree::Fifth}, {2 * q, q, Degree::Octave},
                {3 * q, q, Degree::Fifth}};
    case BassPattern::Drive:  // eighths that keep the variation and the return moving
        return {{0, e, Degree::Root}, {e, e, Degree::Root}, {q, e, Degree::Fifth}, {q + e, e, Degree::Root},
                {2 * q, e, Degree::Octave}, {2 * q + e, e, Degree::Root}, {3 * q, e, Degree::Fifth},
                {3 * q + e, e, Degree::Octave}};
    }
    return {};
}

int bassPitch(const Chord& chord, Degree degree) {
    const int root = pitchFrom(chord.root, bassLowest);
    switch (degree) {
    case Degree::Root: return root;
    case Degree::Fifth: return pitchFrom(chord.tones[fifthInTriad], root);
    case Degree::Octave: return root + octave;
    }
    return root;
}

// The harp's broken chord, eighth by eighth through the bar: root, fifth, octave, then the
// third and fifth above and back down, as steps up the chord's triad from its root.
constexpr int harpFigure[] = {0, 2, 3, 4, 5, 4, 3, 2};
constexpr int harpFigureLength = int(std::size(harpFigure));

int harpPitch(const Chord& chord, int step) {
    const int root = pitchFrom(chord.root, harpLowest);
    const int tone = chord.tones[step % triadTones];
    return pitchFrom(tone, root) + octave * (step / triadTones);
}

struct DrumLine {
    int key;  // General MIDI percussion
    int velocity;
    std::string_view steps;  // sixteen sixteenths: 'x' a hit, 'X' an accented hit, '.' nothing
};

constexpr int stepsPerBar = 16;
constexpr int fillFromStep = 12;  // the fill takes the bar's last beat
constexpr int accentExtra = 14;
constexpr int drumNoteTicks = ticksPerSixteenth;

std::vector<DrumLine> grooveLines(DrumGroove groove) {
    switch (groove) {
    case DrumGroove::None: return {};
    case DrumGroove::Shimmer:  // the intro: a ride and a soft heartbeat
        return {{drum::ride, 38, "x...x...x...x..."}, {drum::kick, 46, "x.......x......."}};
    case DrumGroove::Brushes:  // the theme: side stick and hats, quiet
        return {{drum::kick, 58, "x.......x......."}, {drum::sideStick, 50, "....x.......x..."},
                {drum::closedHat, 40, "..x...x...x...x."}};
    case DrumGroove::Full:  // the variation and the return
        return {{drum::kick, 74, "x.....x.x......."}, {drum::snare, 66, "....x.......x..."},
                {drum::closedHat, 46, "x.x.x.x.x.x.x.X."}};
    case DrumGroove::HalfTime:  // the bridge: the backbeat on three, the ride in eighths
        return {{drum::kick, 66, "x.........x....."}, {drum::snare, 62, "........x......."},
                {drum::ride, 44, "x.x.x.x.x.x.x.x."}};
    case DrumGroove::Settle:  // the coda: the time kept softly while it slows
        return {{drum::kick, 54, "x.......x......."}, {drum::sideStick, 42, "....x.......x..."},
                {drum::ride, 40, "x...x...x...x..."}};
    }
    return {};
}

// Down the toms into the next section.
const std::vector<DrumLine> fillLines = {{drum::highTom, 60, "............x..."},
                                         {drum::midTom, 64, ".............x.."},
                                         {drum::lowTom, 68, "..............x."},
                                         {drum::floorTom, 74, "...............x"}};

void addDrumBar(Score& score, int barTick, const std::vector<DrumLine>& lines, int fromStep, int toStep) {
    for (const DrumLine& line : lines)
        for (int s = fromStep; s < toStep; ++s) {
            const char c = line.steps[std::size_t(s)];
            if (c == '.') continue;
            const int velocity = std::min(highestDataValue, line.velocity + (c == 'X' ? accentExtra : 0));
            score.notes.push_back({barTick + s * ticksPerSixteenth, drumNoteTicks, channel::drums, line.key, velocity});
        }
}

bool onTheBeat(int tickInPassage) { return tickInPassage % ticksPerQuarter == 0; }

}  // namespace

int pitchFrom(int pitchClass, int lowest) {
    return lowest + ((pitchClass - lowest) % octave + octave) % octave;
}

void addStrings(Score& score, const std::vector<ChordSpan>& spans, int velocity) {
    for (const ChordSpan& s : spans)
        for (int tone : s.chord.tones)
            score.notes.push_back({s.tick, s.length - articulationGap, channel::strings,
                                   pitchFrom(tone, stringsLowest), velocity});
}

void addBass(Score& score, const std::vector<ChordSpan>& spans, BassPattern pattern, int velocity) {
    for (const ChordSpan& s : spans)
        for (const BassStep& step : bassSteps(pattern)) {
            if (step.offset >= s.length) break;
            const int room = s.length - step.offset;
            const int length = step.length == 0 ? room : std::min(step.length, room);
            score.notes.push_back({s.tick + step.offset, length - articulationGap, channel::bass,
                                   bassPitch(s.chord, step.degree), velocity});
        }
}

void addHarp(Score& score, const std::vector<ChordSpan>& spans, int velocity) {
    for (const ChordSpan& s : spans)
        for (int t = s.tick; t < s.tick + s.length; t += ticksPerEighth) {
            const int step = (t % ticksPerBar) / ticksPerEighth % harpFigureLength;
            const int v = velocity + (step == 0 ? harpDownbeatAccent : 0);
            score.notes.push_back({t, harpRingTicks, channel::harp, harpPitch(s.chord, harpFigure[step]), v});
        }
}

void addDrums(Score& score, int startTick, int bars, int fromBar, DrumGroove groove, DrumFill fill) {
    const std::vector<DrumLine> lines = grooveLines(groove);
    for (int bar = fromBar; bar < bars; ++bar) {
        const int barTick = startTick + bar * ticksPerBar;
        const bool filled = fill == DrumFill::IntoNext && bar == bars - 1;
        addDrumBar(score, barTick, lines, 0, filled ? fillFromStep : stepsPerBar);
        if (filled) addDrumBar(score, barTick, fillLines, fillFromStep, stepsPerBar);
    }
}

void addDrumHit(Score& score, int tick, int key, int velocity) {
    score.notes.push_back({tick, drumNoteTicks, channel::drums, key, velocity});
}

void addPedal(Score& score, const std::vector<ChordSpan>& spans) {
    for (const ChordSpan& s : spans) {
        score.controls.push_back({s.tick + pedalCatchTicks, channel::tune, pedalController, pedalDown});
        score.controls.push_back({s.tick + s.length, channel::tune, pedalController, pedalUp});
    }
}

void addSecondVoice(Score& score, const std::vector<Note>& tune, const std::vector<ChordSpan>& spans,
                    SecondVoice voice, int startTick) {
    if (voice == SecondVoice::None) return;
    for (const Note& n : tune) {
        if (voice == SecondVoice::OnTheBeat && !onTheBeat(n.tick - startTick)) continue;
        const Chord& chord = chordAt(spans, n.tick);
        int best = -1;
        for (int tone : chord.tones) {
            const int below = pitchFrom(tone, n.pitch - secondVoiceFarthest);
            if (n.pitch - below >= secondVoiceNearest) best = std::max(best, below);
        }
        if (best < 0) continue;
        const int velocity = std::max(lowestVelocity, n.velocity - secondVoiceSofter);
        score.notes.push_back({n.tick, n.length, channel::tune, best, velocity});
    }
}

}  // namespace vesk::compose
