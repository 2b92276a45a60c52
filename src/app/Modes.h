// The program's modes: a real window with the MIDI devices the driver table finds, a
// headless run on virtual time scripted by the options, with its trace and frames, or an
// offline render of one performance. Each returns the program's exit code.
#pragma once

#include "app/Options.h"
#include "app/QuitOnSignals.h"
#include "midi/SmfLoading.h"

namespace vesk::app {

// Seeds the random draws (with --seed, else the time), makes the given file ready (a file
// that cannot be played is one line and exitFailed), then runs the mode the options chose.
int runProgram(const Options& options);

// The modes themselves, each performance's file from `source`; the caller has seeded the
// random draws and watches the signals.
int runHeadless(const Options& options, midi::SmfSource& source, QuitOnSignals& signals);
int runWindow(const Options& options, midi::SmfSource& source, QuitOnSignals& signals);
// One performance of FILE (the demo piece without one) to --render's OUT; a signal
// finishes the file up to that moment.
int runRender(const Options& options, QuitOnSignals& signals);

}  // namespace vesk::app
