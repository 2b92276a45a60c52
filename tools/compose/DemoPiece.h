// "First Frost", the piece Vesk plays for a newcomer: composed here, section by section,
// and written to assets/demo.mid by vesk-compose-demo. Nothing in it depends on the clock
// or on chance, so the same program always writes the same bytes.
#pragma once

#include <cstdint>
#include <vector>

#include "compose/Score.h"

namespace vesk::compose {

Score demoScore();
// The piece as a Standard MIDI File.
std::vector<std::uint8_t> composeDemo();

}  // namespace vesk::compose
