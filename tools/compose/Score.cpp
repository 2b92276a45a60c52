// Small operations on the score that every part of the piece shares: text and tempo
// events, and keeping the notes of one key on one channel from overlapping.
#include "compose/Score.h"

#include <algorithm>
#include <map>
#include <stdexcept>
#include <string>
#include <utility>

namespace vesk::compose {

namespace {

constexpr int tempoDataBytes = 3;
constexpr int bitsPerByte = 8;

}  // namespace

void addText(Score& score, int tick, int type, std::string_view text) {
    score.metas.push_back({tick, type, std::vector<std::uint8_t>(text.begin(), text.end())});
}

void addTempo(Score& score, int tick, int beatsPerMinute) {
    if (beatsPerMinute <= 0) throw std::invalid_argument("a tempo must be above zero");
    const int us = microsecondsPerMinute / beatsPerMinute;
    std::vector<std::uint8_t> data;
    for (int shift = (tempoDataBytes - 1) * bitsPerByte; shift >= 0; shift -= bitsPerByte)
        data.push_back(std::uint8_t(us >> shift));
    score.metas.push_back({tick, meta::setTempo, std::move(data)});
}

void separateRepeatedKeys(Score& score) {
    std::map<std::pair<int, int>, std::vector<Note*>> byKey;
    for (Note& n : score.notes) byKey[{n.channel, n.pitch}].push_back(&n);
    for (auto& [key, notes] : byKey) {
        std::stable_sort(notes.begin(), notes.end(), [](const Note* a, const Note* b) { return a->tick < b->tick; });
        for (std::size_t i = 1; i < notes.size(); ++i) {
            Note& earlier = *notes[i - 1];
            const Note& later = *notes[i];
            if (later.tick == earlier.tick)
                throw std::logic_error("key " + std::to_string(key.second) + " struck twice at tick " +
                                       std::to_string(later.tick) + " on channel " + std::to_string(key.first));
            earlier.length = std::min(earlier.length, later.tick - earlier.tick);
        }
    }
}

}  // namespace vesk::compose
