// "First Frost", the demo piece, written out: its tunes in the note notation, its chord
// progressions, the sections with their tempo, dynamics and accompaniment patterns, and the
// ending. A tune on the piano (the channel Vesk listens to) over strings, bass, harp, drums.
#include "compose/DemoPiece.h"

#include <algorithm>
#include <array>
#include <stdexcept>
#include <string>
#include <string_view>

#include "compose/Accompaniment.h"
#include "compose/Notation.h"
#include "compose/SmfWriter.h"

namespace vesk::compose {

namespace {

struct Dynamics {
    int tune, strings, bass, harp;  // velocities before accents
};

struct Section {
    std::string_view name;
    std::string_view progression;
    std::string_view tune;  // empty: the accompaniment alone
    int beatsPerMinute;
    int closingBeatsPerMinute;  // on its last beat; lower than the first for a ritardando
    Dynamics dynamics;
    SecondVoice secondVoice;
    BassPattern bass;
    DrumGroove drums;
    int drumsFromBar;
    DrumFill fill;
    bool crashOnEntry;
};

// The piano enters at once, softly, with the theme's rising sixth and a cadence on A, so
// the flake starts growing with the first bar.
constexpr std::string_view intro =
    "D5 q A4 e D5 e F#5 h | F#5 q D5 e F#5 e B5 h | B5 q. A5 e G5 q D5 q | E5 h [A4 C#5 E5] h";

constexpr std::string_view themeProgression = "D | A | Bm | F#m | G | D | Em A | D";

constexpr std::string_view theme =
    "A4 e D5 e F#5 q. E5 e D5 e E5 e | C#5 e E5 e A5 q. G5 e F#5 e E5 e | "
    "D5 e F#5 e B5 q. A5 e G5 e F#5 e | E5 q C#5 e B4 e [F#4 A4 C#5] h | "
    "B4 e D5 e G5 q. F#5 e E5 e D5 e | A4 e D5 e F#5 q. G5 e A5 e F#5 e | "
    "G5 e F#5 e E5 e G5 e C#5 e E5 e A5 e G5 e | [D5 F#5 A5] h. A4 q";

// Each bar opens with the chord rising in sixteenths, then the theme's falling line.
constexpr std::string_view variation =
    "D5 s F#5 s A5 s D6 s A5 q G5 e F#5 e E5 e D5 e | C#5 s E5 s A5 s C#6 s A5 q G5 e F#5 e E5 e C#5 e | "
    "D5 s F#5 s B5 s D6 s B5 q A5 e G5 e F#5 e E5 e | F#5 e E5 e C#5 e A4 e [F#4 A4 C#5 F#5] h | "
    "B4 s D5 s G5 s B5 s G5 q F#5 e E5 e D5 e B4 e | A4 s D5 s F#5 s A5 s D6 q C#6 e B5 e A5 e F#5 e | "
    "G5 e B5 e E6 e B5 e A5 e C#6 e E6 e C#6 e | [D5 F#5 A5 D6] h A5 e F#5 e D5 e F#5 e";

constexpr std::string_view bridgeProgression = "Bm | G | D | A | Bm | G | Em | A7";

constexpr std::string_view bridge =
    "B5 e F#5 e D5 e F#5 e B5 q. C#6 e | D6 e B5 e G5 e B5 e D6 q. E6 e | "
    "F#6 q. E6 e D6 e A5 e F#5 e A5 e | E6 q. D6 e C#6 e A5 e [A4 C#5 E5] q | "
    "B5 e F#5 e D5 e F#5 e B5 q. D6 e | G6 q. F#6 e E6 e D6 e B5 e G5 e | "
    "E5 e G5 e B5 e E6 e D6 e B5 e G5 e E5 e | [A4 C#5 G5] q C#5 e E5 e G5 e A5 e G5 e E5 e";

constexpr std::string_view themeReturning =
    "A4 e D5 e F#5 q. E5 e D5 e E5 e | C#5 e E5 e A5 q. G5 e F#5 e E5 e | "
    "D5 e F#5 e B5 q. D6 e C#6 e B5 e | C#6 q A5 e F#5 e [C#5 F#5 A5 C#6] h | "
    "B5 e D6 e G6 q. F#6 e E6 e D6 e | A5 e D6 e F#6 q. E6 e D6 e A5 e | "
    "B5 e G5 e E5 e G5 e C#6 e A5 e E5 e G5 e | [D5 F#5 A5 D6] h F#5 e A5 e D6 e A5 e";

constexpr std::string_view coda =
    "B4 e D5 e G5 q. F#5 e E5 e D5 e | C#5 e E5 e A5 q. G5 e F#5 e E5 e | "
    "F#5 q D5 q G5 q B5 q | A5 h [A4 C#5 G5] q E5 q";

// D major, 4/4, phrases of four bars, each ending on a chord struck on the piano:
//   intro      slower, I vi IV V, a soft piano line over strings and harp; the drums join in
//              its third bar
//   theme      a rising sequence (up a sixth, a long note, stepping down) over the
//              descending progression D A Bm F#m G D Em-A D
//   variation  the same tune broken into arpeggios and eighths, a second voice on the beat
//   bridge     in B minor, climbing to G6, turning back through A7
//   return     the theme in thirds and sixths, an octave higher in its second phrase
//   coda       the motive over G and A while the tempo slows to the final chord
const std::array<Section, 6> sections = {{
    {"intro", "D | Bm | G | A", intro, 80, 80, {62, 48, 70, 58}, SecondVoice::None, BassPattern::Held,
     DrumGroove::Shimmer, 2, DrumFill::IntoNext, false},
    {"theme", themeProgression, theme, 100, 100, {80, 42, 78, 48}, SecondVoice::None, BassPattern::Pulse,
     DrumGroove::Brushes, 0, DrumFill::IntoNext, false},
    {"variation", themeProgression, variation, 100, 100, {84, 46, 82, 50}, SecondVoice::OnTheBeat,
     BassPattern::Drive, DrumGroove::Full, 0, DrumFill::IntoNext, true},
    {"bridge", bridgeProgression, bridge, 96, 96, {82, 50, 80, 52}, SecondVoice::OnTheBeat, BassPattern::Pulse,
     DrumGroove::HalfTime, 0, DrumFill::IntoNext, false},
    {"return", themeProgression, themeReturning, 100, 100, {90, 52, 84, 50}, SecondVoice::EveryNote,
     BassPattern::Drive, DrumGroove::Full, 0, DrumFill::None, true},
    {"coda", "G | A | Bm G | A7", coda, 100, 66, {84, 46, 76, 50}, SecondVoice::OnTheBeat, BassPattern::Held,
     DrumGroove::Settle, 0, DrumFill::None, false},
}};

// The final chord: two beats at a slow 60 so it rings out, then an eighth of silence
// before the track ends; Vesk's finale begins about three seconds after its last note.
constexpr int endingBeatsPerMinute = 60;
constexpr int finalChordTicks = 2 * ticksPerQuarter;
constexpr int closingSilenceTicks = ticksPerEighth;
constexpr std::string_view finalTuneChord = "D5 F#5 A5 D6";
constexpr std::string_view finalHarpRoll = "D3 A3 D4 F#4 A4 D5";
constexpr int harpRollStepTicks = ticksPerSixteenth / 4;
constexpr Dynamics finalDynamics{92, 54, 84, 60};
constexpr int finalCrashVelocity = 80;
constexpr int entryCrashVelocity = 76;

constexpr std::string_view title = "First Frost";
constexpr std::string_view credit = "Composed for Vesk by its own vesk-compose-demo";
constexpr std::string_view programme =
    "D major, 4/4: intro, theme, variation, bridge in B minor, return, coda";
// Four quarters a bar, a metronome click every 24 MIDI clocks (a quarter), eight 32nds a quarter.
const std::vector<std::uint8_t> fourFour = {4, 2, 24, 8};
const std::vector<std::uint8_t> dMajor = {2, 0};  // two sharps, major

struct Instrument {
    int channel, program, volume, pan, reverb;  // program from 0 (General MIDI's list counts from 1)
};

namespace controller {
constexpr int volume = 7, pan = 10, reverb = 91;
}

// The piano carries the tune in the middle; strings to the left, harp to the right.
constexpr std::array<Instrument, 5> band = {{
    {channel::tune, 0 /* Acoustic Grand Piano */, 122, 64, 48},
    {channel::bass, 32 /* Acoustic Bass */, 100, 60, 24},
    {channel::strings, 48 /* String Ensemble 1 */, 58, 40, 72},
    {channel::harp, 46 /* Orchestral Harp */, 88, 88, 60},
    {channel::drums, 0 /* Standard Kit */, 100, 64, 40},
}};

// Accents of the tune: the downbeat most, the middle of the bar a little, notes off the
// beat softer; across a four-bar phrase it swells to the third bar and eases to the cadence.
constexpr int downbeatAccent = 10;
constexpr int halfBarAccent = 5;
constexpr int offBeatEase = 6;
constexpr std::array<int, 4> phraseArc = {0, 4, 8, 2};
constexpr int quietest = 1;

int tuneVelocity(int loudness, int tickInSection) {
    const int inBar = tickInSection % ticksPerBar;
    const int bar = tickInSection / ticksPerBar;
    int accent = 0;
    if (inBar == 0) accent = downbeatAccent;
    else if (inBar == ticksPerBar / 2) accent = halfBarAccent;
    else if (inBar % ticksPerQuarter != 0) accent = -offBeatEase;
    const int v = loudness + accent + phraseArc[std::size_t(bar) % phraseArc.size()];
    return std::clamp(v, quietest, highestDataValue);
}

std::vector<ChordSpan> from(std::vector<ChordSpan> spans, int startTick) {
    for (ChordSpan& s : spans) s.tick += startTick;
    return spans;
}

// Each beat's tempo, evenly from the section's first to its closing one (a ritardando
// where the closing one is slower); a tempo already in force is not said again.
void addSectionTempo(Score& score, const Section& s, int startTick, int bars, int& currentBeatsPerMinute) {
    const int beats = bars * beatsPerBar;
    for (int beat = 0; beat < beats; ++beat) {
        const int bpm = s.beatsPerMinute + (s.closingBeatsPerMinute - s.beatsPerMinute) * beat / (beats - 1);
        if (bpm != currentBeatsPerMinute) addTempo(score, startTick + beat * ticksPerQuarter, bpm);
        currentBeatsPerMinute = bpm;
    }
}

void addTune(Score& score, const Section& s, const std::vector<ChordSpan>& spans, int startTick, int length) {
    const Tune tune = parseTune(s.tune);
    if (tune.length != length)
        throw std::invalid_argument(std::string(s.name) + ": the tune and its harmony differ in length");
    std::vector<Note> singles;
    for (const Struck& struck : tune.onsets) {
        const int velocity = tuneVelocity(s.dynamics.tune, struck.tick);
        for (int pitch : struck.pitches)
            score.notes.push_back({startTick + struck.tick, struck.length, channel::tune, pitch, velocity});
        if (struck.pitches.size() == 1) singles.push_back(score.notes.back());
    }
    addSecondVoice(score, singles, spans, s.secondVoice, startTick);
    addPedal(score, spans);
}

int addSection(Score& score, const Section& s, int startTick, int& currentBeatsPerMinute) {
    const std::vector<ChordSpan> spans = from(parseProgression(s.progression), startTick);
    const int length = spans.back().tick + spans.back().length - startTick;
    const int bars = length / ticksPerBar;
    addSectionTempo(score, s, startTick, bars, currentBeatsPerMinute);
    if (!s.tune.empty()) addTune(score, s, spans, startTick, length);
    addStrings(score, spans, s.dynamics.strings);
    addBass(score, spans, s.bass, s.dynamics.bass);
    addHarp(score, spans, s.dynamics.harp);
    addDrums(score, startTick, bars, s.drumsFromBar, s.drums, s.fill);
    if (s.crashOnEntry) addDrumHit(score, startTick, drum::crash, entryCrashVelocity);
    return startTick + length;
}

std::vector<int> pitches(std::string_view names) {
    std::vector<int> out;
    while (!names.empty()) {
        const auto space = names.find(' ');
        out.push_back(parsePitch(names.substr(0, space)));
        names = space == std::string_view::npos ? std::string_view{} : names.substr(space + 1);
    }
    return out;
}

void addEnding(Score& score, int tick) {
    addTempo(score, tick, endingBeatsPerMinute);
    const std::vector<ChordSpan> tonic = {{tick, finalChordTicks, parseChord("D")}};
    for (int pitch : pitches(finalTuneChord))
        score.notes.push_back({tick, finalChordTicks, channel::tune, pitch, finalDynamics.tune});
    addPedal(score, tonic);
    addStrings(score, tonic, finalDynamics.strings);
    addBass(score, tonic, BassPattern::Held, finalDynamics.bass);
    int roll = 0;  // the harp spreads its chord upwards
    for (int pitch : pitches(finalHarpRoll)) {
        score.notes.push_back({tick + roll, finalChordTicks - roll, channel::harp, pitch, finalDynamics.harp});
        roll += harpRollStepTicks;
    }
    addDrumHit(score, tick, drum::crash, finalCrashVelocity);
    addDrumHit(score, tick, drum::kick, finalCrashVelocity);
    score.endTick = tick + finalChordTicks + closingSilenceTicks;
}

void addHeader(Score& score) {
    addText(score, 0, meta::trackName, title);
    addText(score, 0, meta::copyright, credit);
    addText(score, 0, meta::text, programme);
    score.metas.push_back({0, meta::timeSignature, fourFour});
    score.metas.push_back({0, meta::keySignature, dMajor});
    for (const Instrument& i : band) {
        score.programs.push_back({0, i.channel, i.program});
        score.controls.push_back({0, i.channel, controller::volume, i.volume});
        score.controls.push_back({0, i.channel, controller::pan, i.pan});
        score.controls.push_back({0, i.channel, controller::reverb, i.reverb});
    }
}

}  // namespace

Score demoScore() {
    Score score;
    addHeader(score);
    int tick = 0;
    int beatsPerMinute = 0;  // none yet: the first section sets it
    for (const Section& s : sections) tick = addSection(score, s, tick, beatsPerMinute);
    addEnding(score, tick);
    separateRepeatedKeys(score);
    return score;
}

std::vector<std::uint8_t> composeDemo() { return writeSmf(demoScore()); }

}  // namespace vesk::compose
