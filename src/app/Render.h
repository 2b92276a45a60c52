// Offline render: one performance of a file on the headless backend, on virtual time from
// its start until the next file dialog would show (the wind-down done), written as a video
// with its sound, the sound alone, or a folder of PNG frames. Frame k is the window as it
// stands at time k / fps, after everything due at or before that time has run and been
// painted (a tick at exactly that time is in it). The sound is the embedded synthesiser
// playing exactly the MIDI the performance sent, each message at its own sample.
#pragma once

#include <atomic>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "app/Options.h"
#include "app/RenderProgress.h"
#include "app/SessionFile.h"
#include "platform/Display.h"

namespace vesk::app {

constexpr double defaultRenderFps = 30.0;

struct RenderJob {
    std::string out;   // a file whose extension says its format, or a folder for PNG frames
    std::string file;  // the MIDI file performed
    int channel = 1;   // the channel listened to, as the dialog takes it (1 to 16)
    std::optional<unsigned> seed;  // none: seeded from the time
    double fps = defaultRenderFps;
    int width = platform::windowSize.width;
    int height = platform::windowSize.height;
    std::vector<ScriptedInput> input;  // live input, as if played on a keyboard at those times
    std::string soundFont;             // empty: the one the live program finds
    ProgressDisplay progress = ProgressDisplay::Lines;
    // Set to a signal's number to stop: the file is finished up to that moment.
    const std::atomic<int>* stop = nullptr;
    // A recorded session replayed instead of `file` and `input` (its files checked already):
    // the whole run, or only its `performance`th performance (from 1).
    const Session* session = nullptr;
    std::optional<int> performance;
};

// Exit codes besides exitBadCommandLine (OUT, size or fps refused before any work) and
// exitFailed (the file could not be written; nothing is left under OUT's name).
constexpr int exitStoppedBySignal = 128;  // plus the signal's number

// Renders the job, saying its progress and its end (or why it could not) on `progress`.
// Returns the exit code.
int renderPerformance(const RenderJob& job, std::ostream& progress);

}  // namespace vesk::app
