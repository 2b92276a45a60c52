// The program's modes: a real window with the MIDI devices the driver table finds, or a
// headless run on virtual time scripted by the options, with its trace and frames. Each
// returns the program's exit code.
#pragma once

#include "app/Options.h"
#include "app/QuitOnSignals.h"

namespace vesk::app {

// Seeds the random draws (with --seed, else the time), then runs the mode the options chose.
int runProgram(const Options& options);

// The modes themselves; the caller has seeded the random draws and watches the signals.
int runHeadless(const Options& options, QuitOnSignals& signals);
int runWindow(const Options& options, QuitOnSignals& signals);

}  // namespace vesk::app
