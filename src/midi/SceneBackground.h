// What the MIDI side may do to the picture: set the scene's background colour (each file
// opened sets it, a note played during the finale flashes it). The caller decides what it
// means while there is no scene; the MIDI side knows nothing of the scene itself.
#pragma once

#include <cstdint>
#include <functional>

namespace vesk::midi {

// Takes a colour word 0xAARRGGBB. An empty function sets nothing.
using SetBackground = std::function<void(std::uint32_t colour)>;

}  // namespace vesk::midi
