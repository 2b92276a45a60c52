// The command line: a real window (the default) or a headless run on virtual time with
// scripted dialog answers and MIDI input, a trace and frames.
#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/headless/HeadlessPlatform.h"
#include "platform/midi/MidiDrivers.h"

namespace vesk::app {

struct ScriptedInput {
    std::int64_t ms = 0;
    std::uint32_t message = 0;  // status | data1 << 8 | data2 << 16
};

struct Options {
    bool help = false;
    bool headless = false;
    bool realClock = false;
    bool windowed = false;
    std::vector<platform::headless::DialogAnswer> answers;
    std::vector<ScriptedInput> inputs;
    std::optional<double> untilSeconds;
    std::string trace;  // "-" for standard output
    std::string framesDir;
    std::set<platform::headless::DisplayMode> modes;  // empty: all
    std::optional<unsigned> seed;
    platform::midi::MidiOptions midi;
};

// Options from the arguments after the program's name; std::nullopt with `error` set
// when they are not understood.
std::optional<Options> parseOptions(const std::vector<std::string>& args, std::string& error);

extern const char* const usageText;

}  // namespace vesk::app
