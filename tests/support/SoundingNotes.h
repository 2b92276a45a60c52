// What a stream of MIDI messages leaves down at its end: the notes not yet released and
// the held pedals (sustain, sostenuto) not yet lifted, as "note C:N" and "pedal C:N" texts
// with the channel C, so a test can demand that nothing is left sounding.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <vector>

namespace vesk::test {

inline std::vector<std::string> leftDown(const std::vector<std::vector<std::uint8_t>>& sent) {
    std::set<std::string> down;
    for (const auto& m : sent) {
        if (m.size() != 3) continue;
        const int kind = m[0] & 0xF0;
        const bool pedal = kind == 0xB0 && (m[1] == 64 || m[1] == 66);
        if (!pedal && kind != 0x80 && kind != 0x90) continue;
        const std::string key = (pedal ? "pedal " : "note ") + std::to_string(m[0] & 0x0F) + ":" + std::to_string(m[1]);
        if ((kind == 0x90 && m[2] > 0) || (pedal && m[2] >= 64))
            down.insert(key);
        else
            down.erase(key);
    }
    return {down.begin(), down.end()};
}

}  // namespace vesk::test
