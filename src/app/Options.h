// The command line: what to play (a file at once, a list round and round, or the dialog),
// in a real window (the default), a headless run on virtual time with scripted dialog
// answers and MIDI input, a trace and frames, or an offline render to a video; or a task
// instead (list the ports, convert a file). Each option is one row of a table (its name,
// value, help, group and mode); the usage text and the checks follow from it.
#pragma once

#include <cstdint>
#include <optional>
#include <ratio>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Display.h"
#include "platform/headless/HeadlessPlatform.h"
#include "platform/midi/MidiDrivers.h"

namespace vesk::app {

struct ScriptedInput {
    std::int64_t ms = 0;
    std::uint32_t message = 0;  // status | data1 << 8 | data2 << 16
};

struct Options {
    std::string file;                          // played at once; empty: the dialog asks
    std::optional<int> listenChannel;          // 0-based; none: the busiest melodic channel
    bool demo = false;                         // with no file, the bundled demo piece
    bool help = false;
    bool version = false;
    bool listPorts = false;
    std::vector<std::string> convert;          // IN and OUT
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
    // An offline render instead of a live run: OUT, and how it is made.
    std::string renderOut;
    std::optional<double> fps;
    std::optional<platform::Size> renderSize;
    std::string inputFile;  // live input read from a MIDI file
    std::vector<std::string> loop;  // files, folders and lists played round and round
    std::string snapshotDir;        // a PNG of each finale's first picture
    std::string recordMidi;         // each performance's live input as FILE-NNNN.mid
    std::string recordSession;      // the session written as it goes
    std::string session;            // a recorded session replayed
    std::optional<int> performance;  // only this performance of the session (from 1)
};

// --until's latest: far beyond any performance, and small enough that its milliseconds
// fit the clock.
constexpr double untilSecondsMax = 1e9;
// A scripted input's latest time has the same bound: past it, its microseconds would
// overflow and the message arrive at the start.
constexpr std::int64_t inputMsMax = std::int64_t(untilSecondsMax) * std::milli::den;

// The program's exit codes besides the run's own.
constexpr int exitFailed = 1;          // something the run needed could not be done
constexpr int exitBadCommandLine = 2;  // the command line was refused

// What follows any refusal of the command line on standard error.
constexpr std::string_view tryHelpLine = "Try 'vesk --help'.";

// Options from the arguments after the program's name; std::nullopt with `error` set (one
// line naming the option) when they are not understood. Never exits, never prints.
std::optional<Options> parseCommandLine(const std::vector<std::string>& args, std::string& error);

// What --help prints.
std::string usageText();
// What --version prints: "vesk 0.1".
std::string versionText();

}  // namespace vesk::app
