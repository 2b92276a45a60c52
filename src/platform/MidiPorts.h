// The MIDI devices this machine offers, as the program opens them: is there an output at
// all, open it, open the input. A driver table (embedded synth, ALSA or JACK ports, a
// recorder, none) stands behind it; the program's own code sees only this.
#pragma once

#include <memory>
#include <string>

#include "platform/MidiInput.h"
#include "platform/MidiOutput.h"

namespace vesk::platform {

class MidiPorts {
public:
    virtual ~MidiPorts() = default;
    // False when there is no output device of any kind to open.
    virtual bool hasOutput() = 0;
    // Starts the slow part of opening the output (loading a SoundFont) on a thread of its
    // own, so that it overlaps the window's making; openOutput() then waits for it. Once,
    // before openOutput(); an output with nothing slow to do ignores it.
    virtual void prepareOutput() {}
    // Null when the output cannot be opened.
    virtual std::unique_ptr<MidiOutput> openOutput() = 0;
    // Null when there is no input to open.
    virtual std::unique_ptr<MidiInput> openInput() = 0;
    // What was opened, for one line on standard error ("fluidsynth (TimGM6mb.sf2)").
    virtual std::string describe() const = 0;
};

}  // namespace vesk::platform
