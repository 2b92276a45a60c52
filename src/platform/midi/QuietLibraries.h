// The ALSA and JACK libraries print their own errors on standard error (no sequencer
// device, no JACK server, a card that is not there): some thirty lines at a start where
// Vesk says what it found in one. Their handlers are set to print nothing, and each MIDI
// system is asked quietly whether it runs before RtMidi, which prints what it cannot
// open, is given it. What failed reaches the user as a reason in Vesk's own line.
#pragma once

#include <string>

#include "platform/midi/RtMidiPorts.h"

namespace vesk::platform::midi {

// Once per process, before anything uses ALSA (the synth's audio included) or JACK.
void quietMidiLibraries();

// Whether `api`'s MIDI system runs here: ALSA's sequencer opens, a JACK server answers.
// False with the reason ("no ALSA sequencer: No such file or directory").
bool midiSystemRuns(PortApi api, std::string& why);

}  // namespace vesk::platform::midi
