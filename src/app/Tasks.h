// What vesk does instead of a performance: list the MIDI ports and the SoundFont, or
// convert a file into the format-0 file the player takes. Each returns the exit code.
#pragma once

#include <iosfwd>
#include <string>

#include "app/Options.h"

namespace vesk::app {

// The drivers' ports and the SoundFont, on `out`.
int listPorts(const Options& options, std::ostream& out);

// IN merged and written to OUT; what was written, or why nothing was, on `log`.
int convertFile(const std::string& in, const std::string& out, std::ostream& log);

// The task the options ask for, if any: true with its exit code in `code`.
bool runTask(const Options& options, int& code);

}  // namespace vesk::app
