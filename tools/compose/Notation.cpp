// Reading the notation: pitch names, durations, tunes with their bar lines checked, chord
// symbols and progressions.
#include "compose/Notation.h"

#include <algorithm>
#include <cctype>
#include <sstream>
#include <stdexcept>
#include <string>

#include "compose/Score.h"

namespace vesk::compose {

namespace {

constexpr int middleCOctave = 4;
constexpr int middleC = 60;
constexpr int majorThird = 4;
constexpr int minorThird = 3;
constexpr int perfectFifth = 7;
constexpr int minorSeventh = 10;

std::invalid_argument mistake(const std::string& what, std::string_view where) {
    return std::invalid_argument(what + " in '" + std::string(where) + "'");
}

// C D E F G A B as pitch classes.
int letterPitchClass(char letter, std::string_view name) {
    static constexpr std::string_view letters = "CDEFGAB";
    static constexpr int classes[] = {0, 2, 4, 5, 7, 9, 11};
    const auto at = letters.find(letter);
    if (at == std::string_view::npos) throw mistake("no note letter", name);
    return classes[at];
}

// The letter's pitch class moved by any sharp or flat, not wrapped into the octave, so
// that Cb4 lies below C4 as written music has it; `used` says how many characters it took.
int spelledClass(std::string_view name, std::size_t& used) {
    if (name.empty()) throw mistake("an empty note name", name);
    int pc = letterPitchClass(name[0], name);
    used = 1;
    if (name.size() > 1 && name[1] == '#') pc += 1, used = 2;
    else if (name.size() > 1 && name[1] == 'b') pc -= 1, used = 2;
    return pc;
}

std::vector<std::string> words(std::string_view text) {
    std::istringstream in{std::string(text)};
    std::vector<std::string> out;
    for (std::string w; in >> w;) out.push_back(w);
    return out;
}

void checkBarLine(int tick, std::string_view text) {
    if (tick % ticksPerBar != 0)
        throw mistake("a bar line " + std::to_string(tick % ticksPerBar) + " ticks into a bar", text);
}

}  // namespace

int parsePitch(std::string_view name) {
    std::size_t used = 0;
    const int spelled = spelledClass(name, used);
    const std::string_view octave = name.substr(used);
    if (octave.empty() || !std::all_of(octave.begin(), octave.end(), [](char c) { return std::isdigit(c); }))
        throw mistake("no octave", name);
    const int pitch = middleC + (std::stoi(std::string(octave)) - middleCOctave) * pitchClasses + spelled;
    if (pitch < 0 || pitch > highestDataValue) throw mistake("a pitch outside MIDI's range", name);
    return pitch;
}

int parseDuration(std::string_view text) {
    static constexpr std::string_view names = "whqes";
    static constexpr int lengths[] = {ticksPerBar, ticksPerBar / 2, ticksPerQuarter, ticksPerEighth, ticksPerSixteenth};
    const auto at = text.empty() ? std::string_view::npos : names.find(text[0]);
    if (at == std::string_view::npos || text.size() > 2 || (text.size() == 2 && text[1] != '.'))
        throw mistake("not a duration", text);
    const int length = lengths[at];
    return text.size() == 2 ? length + length / 2 : length;  // a dot adds half
}

Tune parseTune(std::string_view text) {
    const std::vector<std::string> w = words(text);
    std::vector<Struck> out;
    int tick = 0;
    for (std::size_t i = 0; i < w.size();) {
        if (w[i] == "|") {
            checkBarLine(tick, text);
            ++i;
            continue;
        }
        std::vector<int> pitches;
        if (w[i].front() == '[') {
            std::string token = w[i].substr(1);
            for (;;) {
                const bool last = !token.empty() && token.back() == ']';
                if (last) token.pop_back();
                if (!token.empty()) pitches.push_back(parsePitch(token));
                if (last) break;
                if (++i >= w.size()) throw mistake("a chord without ']'", text);
                token = w[i];
            }
        } else if (w[i] != "r") {
            pitches.push_back(parsePitch(w[i]));
        }
        if (++i >= w.size()) throw mistake("a note without its duration", text);
        const int length = parseDuration(w[i++]);
        if (!pitches.empty()) out.push_back({tick, length, std::move(pitches)});
        tick += length;
    }
    checkBarLine(tick, text);
    return {std::move(out), tick};
}

Chord parseChord(std::string_view symbol) {
    std::size_t used = 0;
    const int root = (spelledClass(symbol, used) + pitchClasses) % pitchClasses;
    const std::string_view quality = symbol.substr(used);
    std::vector<int> intervals;
    if (quality.empty()) intervals = {0, majorThird, perfectFifth};
    else if (quality == "m") intervals = {0, minorThird, perfectFifth};
    else if (quality == "7") intervals = {0, majorThird, perfectFifth, minorSeventh};
    else throw mistake("an unknown chord quality", symbol);
    Chord chord{root, {}};
    for (int i : intervals) chord.tones.push_back((root + i) % pitchClasses);
    return chord;
}

std::vector<ChordSpan> parseProgression(std::string_view text) {
    std::vector<ChordSpan> out;
    std::vector<Chord> bar;
    int barStart = 0;
    auto closeBar = [&] {
        if (bar.empty()) throw mistake("a bar without a chord", text);
        if (ticksPerBar % int(bar.size()) != 0) throw mistake("a bar that its chords cannot share", text);
        const int each = ticksPerBar / int(bar.size());
        for (std::size_t k = 0; k < bar.size(); ++k) out.push_back({barStart + int(k) * each, each, bar[k]});
        bar.clear();
        barStart += ticksPerBar;
    };
    for (const std::string& w : words(text)) {
        if (w == "|") closeBar();
        else bar.push_back(parseChord(w));
    }
    closeBar();
    return out;
}

const Chord& chordAt(const std::vector<ChordSpan>& spans, int tick) {
    const ChordSpan* found = nullptr;
    for (const ChordSpan& s : spans)
        if (s.tick <= tick) found = &s;
    if (!found) throw std::out_of_range("no chord sounds at tick " + std::to_string(tick));
    return found->chord;
}

}  // namespace vesk::compose
