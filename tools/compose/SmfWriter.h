// Writes a score as a Standard MIDI File of format 0: one track, every event with its own
// status byte (Vesk's player refuses running status), and the events of one tick in a fixed
// order so that the same score always gives the same bytes.
#pragma once

#include <cstdint>
#include <vector>

#include "compose/Score.h"

namespace vesk::compose {

std::vector<std::uint8_t> writeSmf(const Score& score);

}  // namespace vesk::compose
