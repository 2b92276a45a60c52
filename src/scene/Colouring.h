// Segment colouring: every segment wears its depth colour (the deeper, the less red);
// segments grown on a tick, with parent and grandparent, wear the accent colour until
// the next odd score tick; base green and blue drift, and reach the flake one band of
// segments per tick; silence switches to a warmer palette; the finale lights up the
// segments being replayed. The flake's per-tick spin belongs to the band recolouring.
#pragma once

#include <cstdint>

#include "state/PerformanceState.h"
#include "retained/Frame.h"
#include "retained/MeshBuilder.h"

namespace vesk::scene {

// Colour word 0xFFRRGGBB of components on the 0..1 scale: each times 255 in double
// precision, truncated towards zero, not clamped, so an out-of-range component spills
// bits into its neighbours' bytes (the palette depends on that).
std::uint32_t colourWord(double red, double green, double blue);

// Colours the two faces of segment i: the first 0.1 less red than the second.
void colourSegment(const PerformanceState& state, retained::MeshBuilder& mesh, int i, float red,
                   float green, float blue);

void initColours(PerformanceState& state, retained::MeshBuilder& mesh);
// Even ticks drift the base colours; odd ticks take the accents of earlier ticks back.
void pulseColours(PerformanceState& state, retained::MeshBuilder& mesh);
// Accents the segments grown on this tick and their parents and grandparents.
void accentNewNotes(PerformanceState& state, retained::MeshBuilder& mesh);
// During the finale, accents the segments whose notes were replayed on the last tick.
void accentFinaleNotes(PerformanceState& state, retained::MeshBuilder& mesh);
// Spins `flakeFrame` (none after the scene was released), switches the palette when the
// silence reaches 14 ticks, and recolours one band of segments on ticks with notes.
void spinAndRecolour(PerformanceState& state, retained::MeshBuilder& mesh,
                     retained::Frame* flakeFrame);

}  // namespace vesk::scene
