// The program's modes: a real window with the MIDI devices the driver table finds, a
// headless run on virtual time scripted by the options, with its trace and frames, or an
// offline render of one performance. Each returns the program's exit code.
#pragma once

#include "app/Options.h"
#include "app/QuitOnSignals.h"
#include "midi/SmfLoading.h"
#include "platform/headless/HeadlessPlatform.h"

namespace vesk::app {

// Chooses the seed of the random draws (--seed, else the time), makes the given file ready (a file
// that cannot be played is one line and exitFailed), then runs the mode the options chose.
int runProgram(const Options& options);

class SessionRecorder;
class SessionReplay;

// What a mode runs with: the random draws are seeded with `seed` at its start; a recorder
// (--record) or a replay (--session), when there is one, watches the run.
struct Run {
    const Options& options;
    QuitOnSignals& signals;
    unsigned seed = 0;
    SessionRecorder* recorder = nullptr;
    SessionReplay* replay = nullptr;
};

// The modes themselves, each performance's file from `source`. A headless run makes its
// platform unless given one.
int runHeadless(const Run& run, midi::SmfSource& source, platform::headless::HeadlessPlatform* platform = nullptr);
int runWindow(const Run& run, midi::SmfSource& source);
// A recorded session replayed headless: refused (exitFailed, one line) when it cannot be
// read or a file it played has changed.
int runReplay(const Options& options, QuitOnSignals& signals);
// One performance of FILE (the demo piece without one) to --render's OUT; a signal
// finishes the file up to that moment.
int runRender(const Options& options, QuitOnSignals& signals);

}  // namespace vesk::app
