// The option table and what reads it: CLI11 sorts the arguments into options and their
// values, each row's reader checks its values strictly (nothing guessed), and the usage
// text is laid out from the same rows, group by group.
#include "app/Options.h"

#include <CLI/CLI.hpp>
#include <charconv>
#include <cmath>
#include <limits>

#include "midi/SmfLoading.h"
#include "platform/Display.h"

namespace vesk::app {

namespace {

using platform::headless::DialogAnswer;
using platform::headless::DisplayMode;

enum class Mode { Play, Window, Headless, Render, Both, Unattended, Session, Task };

struct Group {
    Mode mode;
    std::string_view title;
    std::string_view note;  // shown in brackets after the title; empty: none
};

constexpr Group groups[] = {
    {Mode::Play, "What to play", "without FILE or --demo, a dialog asks"},
    {Mode::Window, "A real window", "the default"},
    {Mode::Headless, "Headless, on virtual time", ""},
    {Mode::Render, "Offline render", "on virtual time, faster than the music lasts"},
    {Mode::Both, "Every run", ""},
    {Mode::Unattended, "Unattended play", "in either mode"},
    {Mode::Session, "Recorded sessions", ""},
    {Mode::Task, "Instead of a performance", ""},
};

// Reads one value (for a flag, an empty one) into the options; false when it is not understood.
using ReadValue = bool (*)(Options&, const std::string&);

struct OptionRow {
    std::string_view name;
    std::string_view value;  // the value's name in the usage text; empty: a flag
    Mode mode;
    std::string help;  // lines after the first are set under it
    ReadValue read;
    std::string takes = {};       // what a refusal says the option takes
    std::string_view alias = {};  // a short name, accepted but not shown
    int count = 1;                // values it takes each time it is given; anyValues: one or more
    bool positional = false;      // an argument by its place, without a name
};

// A row's count for an option that takes every value up to the next option.
constexpr int anyValues = -1;

// The options that choose the headless mode and the render; the others of each mode need it.
constexpr std::string_view headlessSwitch = "--headless";
constexpr std::string_view renderSwitch = "--render";

// The options that need a FILE to play (or the demo piece).
constexpr std::string_view channelOption = "--channel";
constexpr std::string_view loopOption = "--loop";
constexpr std::string_view fileArgument = "FILE";
constexpr std::string_view sessionOption = "--session";
// --performance's largest: a run of a month's performances, one every ten seconds.
constexpr int performanceMax = 1'000'000;

constexpr std::string_view usageIntro =
    "Usage: vesk [FILE] [options]\n"
    "Plays a Standard MIDI File and grows a spinning six-armed flake from one of its\n"
    "channels and from a live MIDI keyboard; after a silence it replays what it heard while\n"
    "it takes the flake apart, then starts over. Esc quits.\n";
constexpr std::string_view versionLine = "vesk " VESK_VERSION "\n";
constexpr std::string_view usageIndent = "  ";
constexpr std::size_t usageHelpColumn = 24;

constexpr std::string_view runAnswerPrefix = "run:";
constexpr std::size_t inputBytesMax = 3;  // a complete short message
constexpr std::size_t hexDigitsPerByte = 2;
constexpr int hexBase = 16;
constexpr int bitsPerByte = 8;
// A refusal quotes at most this much of the value it refuses, so a huge argument (a file
// read into the command line by mistake) does not flood the terminal.
constexpr std::size_t shownValueMax = 40;
constexpr std::string_view cutMark = "...";
constexpr char modeSeparator = 'x';
constexpr char listSeparator = ',';

template <typename T>
bool parseNumber(std::string_view text, T& out, int base = 10) {
    if (text.empty()) return false;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out, base);
    return ec == std::errc{} && end == text.data() + text.size();
}

bool parseNumber(std::string_view text, double& out) {
    if (text.empty()) return false;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
    return ec == std::errc{} && end == text.data() + text.size();
}

// `value` as a refusal quotes it, on the refusal's one line: whole, or its beginning and
// "..." (not cut inside a UTF-8 character); a line break or other control byte as '?'.
std::string shown(std::string_view value) {
    constexpr unsigned char continuationMask = 0xC0, continuationByte = 0x80, firstPrintable = 0x20;
    std::size_t end = std::min(value.size(), shownValueMax);
    while (end < value.size() && end > 0 &&
           (static_cast<unsigned char>(value[end]) & continuationMask) == continuationByte)
        --end;
    std::string text(value.substr(0, end));
    for (char& c : text)
        if (static_cast<unsigned char>(c) < firstPrintable) c = '?';
    return end < value.size() ? text + std::string(cutMark) : text;
}

// run:CHANNEL:FILE types both fields (as typed, checked by the dialog) and presses run.
bool readAnswer(Options& o, const std::string& text) {
    DialogAnswer answer;
    answer.openMs = 0;
    if (text == "quit") {
        answer.controlId = midi::quitButton;
    } else if (text == "close") {
        answer.action = DialogAnswer::Action::Close;
    } else {
        if (!text.starts_with(runAnswerPrefix)) return false;
        const std::size_t colon = text.find(':', runAnswerPrefix.size());
        if (colon == std::string::npos) return false;
        const std::size_t channelStart = runAnswerPrefix.size();
        answer.typed = {{midi::fileNameControl, text.substr(colon + 1)},
                        {midi::channelControl, text.substr(channelStart, colon - channelStart)}};
        answer.controlId = midi::runButton;
    }
    o.answers.push_back(std::move(answer));
    return true;
}

// MS:HEX, the bytes in the order they go on the wire; packed with the status in the low byte.
bool readInput(Options& o, const std::string& text) {
    ScriptedInput input;
    const std::size_t colon = text.find(':');
    if (colon == std::string::npos || !parseNumber(std::string_view(text).substr(0, colon), input.ms) ||
        input.ms < 0 || input.ms > inputMsMax)
        return false;
    const std::string_view hex = std::string_view(text).substr(colon + 1);
    if (hex.empty() || hex.size() % hexDigitsPerByte || hex.size() > inputBytesMax * hexDigitsPerByte)
        return false;
    for (std::size_t i = 0; i < hex.size() / hexDigitsPerByte; ++i) {
        unsigned byte = 0;
        if (!parseNumber(hex.substr(i * hexDigitsPerByte, hexDigitsPerByte), byte, hexBase)) return false;
        input.message |= std::uint32_t(byte) << (bitsPerByte * i);
    }
    o.inputs.push_back(input);
    return true;
}

bool readUntil(Options& o, const std::string& text) {
    double seconds = 0;
    if (!parseNumber(text, seconds) || !std::isfinite(seconds) || seconds < 0 || seconds > untilSecondsMax)
        return false;
    o.untilSeconds = seconds;
    return true;
}

bool readMode(std::string_view text, DisplayMode& mode) {
    const std::size_t x1 = text.find(modeSeparator);
    const std::size_t x2 = x1 == std::string_view::npos ? x1 : text.find(modeSeparator, x1 + 1);
    return x2 != std::string_view::npos && parseNumber(text.substr(0, x1), mode.width) &&
           parseNumber(text.substr(x1 + 1, x2 - x1 - 1), mode.height) &&
           parseNumber(text.substr(x2 + 1), mode.bits);
}

// WIDTHxHEIGHTxBITS[,...]; every mode must read, and each --modes adds to the set.
bool readModes(Options& o, const std::string& text) {
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t comma = std::min(text.find(listSeparator, start), text.size());
        DisplayMode mode;
        if (!readMode(std::string_view(text).substr(start, comma - start), mode)) return false;
        o.modes.insert(mode);
        start = comma + 1;
    }
    return true;
}

bool readSeed(Options& o, const std::string& text) {
    unsigned seed = 0;
    if (!parseNumber(text, seed)) return false;
    o.seed = seed;
    return true;
}

bool readChannel(Options& o, const std::string& text) {
    int channel = 0;
    if (text == "auto") {
        o.listenChannel.reset();
        return true;
    }
    if (!parseNumber(text, channel) || channel < 1 || channel > platform::channelCount) return false;
    o.listenChannel = channel - 1;
    return true;
}

// A file name; one that begins as an option does is the next option, which CLI11 would
// otherwise take for the name (./-x.mid names such a file).
bool readConvert(Options& o, const std::string& text) {
    if (text.empty() || text.starts_with('-')) return false;
    o.convert.push_back(text);
    return true;
}

// Frames a second a video can be made at: a slide show to twice a fast monitor's rate.
constexpr double fpsMin = 1.0;
constexpr double fpsMax = 240.0;

bool readFps(Options& o, const std::string& text) {
    double fps = 0;
    if (!parseNumber(text, fps) || !(fps >= fpsMin && fps <= fpsMax)) return false;
    o.fps = fps;
    return true;
}

// WIDTHxHEIGHT; whether the output's form takes it is the render's own check.
bool readSize(Options& o, const std::string& text) {
    const std::size_t x = text.find(modeSeparator);
    platform::Size size;
    if (x == std::string::npos || !parseNumber(std::string_view(text).substr(0, x), size.width) ||
        !parseNumber(std::string_view(text).substr(x + 1), size.height) || size.width <= 0 || size.height <= 0)
        return false;
    o.renderSize = size;
    return true;
}

bool readClock(Options& o, const std::string& text) {
    if (text != "real" && text != "virtual") return false;
    o.realClock = text == "real";
    return true;
}

std::string sizeText(platform::Size size) {
    return std::to_string(size.width) + "x" + std::to_string(size.height);
}

// What to play and the window's options, in the order the usage text lists them.
std::vector<OptionRow> playAndWindowRows() {
    return {
        {fileArgument, "", Mode::Play,
         "a Standard MIDI File, format 0 or 1, played at once without the\n"
         "dialog (format 1 from a format-0 copy in ~/.cache/vesk/); after\n"
         "the finale the dialog offers it again",
         [](Options& o, const std::string& v) { o.file = v; return true; }, {}, {}, 1, true},
        {channelOption, "N|auto", Mode::Play,
         "the channel, 1 to 16, whose notes grow the flake; auto (the\n"
         "default): the melodic one (not 10) with the most notes",
         readChannel, "a channel from 1 to 16 or auto"},
        {"--demo", "", Mode::Play, "without FILE, the bundled demo piece \"First Frost\"",
         [](Options& o, const std::string&) { return o.demo = true; }},

        {"--windowed", "", Mode::Window,
         "a " + sizeText(platform::windowSize) + " window instead of full screen",
         [](Options& o, const std::string&) { return o.windowed = true; }},
        {"--midi-out", "NAME", Mode::Window,
         "fluidsynth, alsa, jack, none or auto (default auto: the\n"
         "embedded synth when a SoundFont is found, else the first port)",
         [](Options& o, const std::string& v) { o.midi.output = v; return true; }},
        {"--midi-in", "NAME", Mode::Window,
         "alsa, jack, none or auto (default auto: a virtual input port\n"
         "named Vesk, every source connected to it as it appears)",
         [](Options& o, const std::string& v) { o.midi.input = v; return true; }},
        {"--soundfont", "FILE", Mode::Window, "the SoundFont for the embedded synth",
         [](Options& o, const std::string& v) { o.midi.soundFont = v; return true; }},
        {"--out-port", "NAME", Mode::Window, "the output port to use (alsa, jack)",
         [](Options& o, const std::string& v) { o.midi.outputPort = v; return true; }},
        {"--in-port", "NAME", Mode::Window, "an input port to connect to instead of the virtual one",
         [](Options& o, const std::string& v) { o.midi.inputPort = v; return true; }},

    };
}

// The headless run's options, then those of both modes and the tasks.
std::vector<OptionRow> headlessAndTaskRows() {
    return {
        {headlessSwitch, "", Mode::Headless,
         "no window; the picture, the sound and the dialogs are scripted\nand recorded",
         [](Options& o, const std::string&) { return o.headless = true; }},
        {"--answer", "ANSWER", Mode::Headless,
         "answers the file dialog's next showing: run:CHANNEL:FILE (the\n"
         "channel and file name as typed), quit or close (the close box);\n"
         "repeatable; when none is left the dialog answers quit",
         readAnswer, "run:CHANNEL:FILE, quit or close"},
        {"--input", "MS:HEX", Mode::Headless, "a live MIDI message at that millisecond, e.g. 1500:903c64",
         readInput,
         "MS:HEX, MS from 0 to " + std::to_string(inputMsMax) + " and one to three bytes, e.g. 1500:903c64"},
        {"--until", "SECONDS", Mode::Headless, "stop at that time with exit code 0", readUntil,
         "a number of seconds from 0 to " + std::to_string(std::int64_t(untilSecondsMax))},
        {"--trace", "FILE", Mode::Headless, "JSON Lines of everything that happens ('-': standard output)",
         [](Options& o, const std::string& v) { o.trace = v; return true; }},
        {"--frames", "DIR", Mode::Headless, "every rendered frame as DIR/frame-NNNNNN.png",
         [](Options& o, const std::string& v) { o.framesDir = v; return true; }},
        {"--modes", "LIST", Mode::Headless,
         "display modes the display accepts, e.g. 800x600x16,640x480x8\n(default: all)", readModes,
         "WIDTHxHEIGHTxBITS[,...]"},
        {"--clock", "real", Mode::Headless, "real time and real timer threads instead of virtual time",
         readClock, "real or virtual"},

        {"--seed", "N", Mode::Both, "seed the random draws with N instead of the time", readSeed,
         "a whole number from 0 to " + std::to_string(std::numeric_limits<unsigned>::max())},

        {"--list-ports", "", Mode::Task,
         "the MIDI outputs and inputs by the names --midi-out, --out-port\n"
         "and --in-port take, and the SoundFont the synth would load",
         [](Options& o, const std::string&) { return o.listPorts = true; }},
        {"--convert", "IN OUT", Mode::Task, "writes IN (format 0 or 1) as the format-0 file the player takes",
         readConvert, "two file names (IN and OUT)", {}, 2},
        {"--version", "", Mode::Task, "the version",
         [](Options& o, const std::string&) { return o.version = true; }},
        {"--help", "", Mode::Task, "this text",
         [](Options& o, const std::string&) { return o.help = true; }, {}, "-h"},
    };
}

// A file name that begins as an option does is the next option (./-x names such a file).
bool readPath(std::string& to, const std::string& text) {
    if (text.empty() || text.starts_with('-')) return false;
    to = text;
    return true;
}

// The offline render's options.
std::vector<OptionRow> renderRows() {
    return {
        {renderSwitch, "OUT", Mode::Render,
         "one performance of FILE (the demo piece without one), to its end,\n"
         "or a recorded --session, written to OUT: .mp4 (H.264 and AAC),\n"
         ".mkv, .webm (VP9 and Opus), .wav (the sound alone) or a folder\n"
         "(PNG frames)",
         [](Options& o, const std::string& v) { return readPath(o.renderOut, v); }, "a file or folder name"},
        {"--fps", "F", Mode::Render, "frames a second (default 30)", readFps, "a number from 1 to 240"},
        {"--size", "WxH", Mode::Render,
         "the picture's size (default " + sizeText(platform::windowSize) + "; others scale it)", readSize,
         "WIDTHxHEIGHT, e.g. 1280x960"},
        {"--input-file", "LIVE.mid", Mode::Render, "live input from a MIDI file, as if played on a keyboard",
         [](Options& o, const std::string& v) { o.inputFile = v; return !v.empty(); }, "a MIDI file's name"},
    };
}

// Playing on its own, as an installation does, and what it keeps of each performance.
std::vector<OptionRow> unattendedRows() {
    return {
        {loopOption, "ITEM...", Mode::Unattended,
         "plays these round and round, never the dialog: each performance\n"
         "the next file, format 0 or 1 (FILE:N listens to channel N),\n"
         "from files, folders (their .mid and .midi files by name) and\n"
         ".m3u lists (a file a line, relative to the list); a file that\n"
         "cannot be played is passed over with a line; no box is shown",
         [](Options& o, const std::string& v) {
             o.loop.push_back(v);
             return !v.empty() && !v.starts_with('-');
         },
         "files, folders or .m3u lists", {}, anyValues},
        {"--snapshot", "DIR", Mode::Unattended,
         "the picture as each finale begins, as DIR/DATE_SONG_NNNN.png\n"
         "(NNNN: the performance, from 0001)",
         [](Options& o, const std::string& v) { return readPath(o.snapshotDir, v); }, "a folder"},
        {"--record-midi", "FILE", Mode::Unattended,
         "each performance's live input (not the file's notes) as a\n"
         "format-0 MIDI file, FILE-NNNN.mid, in milliseconds, written as it\n"
         "ends (nothing for a performance without live input)",
         [](Options& o, const std::string& v) { return readPath(o.recordMidi, v); }, "a file name"},
    };
}

bool readPerformance(Options& o, const std::string& text) {
    int n = 0;
    if (!parseNumber(text, n) || n < 1 || n > performanceMax) return false;
    o.performance = n;
    return true;
}

// A run written down as it goes, and played again exactly.
std::vector<OptionRow> sessionRows() {
    return {
        {"--record", "FILE", Mode::Session,
         "writes the session as it goes (in either mode): the seed, each\n"
         "file with its SHA-256, every dialog answer and live message, and\n"
         "the tick that took each note, as JSON Lines",
         [](Options& o, const std::string& v) { return readPath(o.recordSession, v); }, "a file name"},
        {sessionOption, "FILE", Mode::Session,
         "with --headless or --render: plays a recorded session again,\n"
         "tick for tick as it was (its files must be unchanged)",
         [](Options& o, const std::string& v) { return readPath(o.session, v); }, "a session file's name"},
        {"--performance", "N", Mode::Session, "with --render --session: only the session's Nth performance",
         readPerformance, "a number from 1 to " + std::to_string(performanceMax)},
    };
}

// The table, in the order the usage text lists each group's options.
const std::vector<OptionRow>& optionTable() {
    static const std::vector<OptionRow> rows = [] {
        std::vector<OptionRow> all = playAndWindowRows();
        for (OptionRow& row : headlessAndTaskRows()) all.push_back(std::move(row));
        for (OptionRow& row : renderRows()) all.push_back(std::move(row));
        for (OptionRow& row : unattendedRows()) all.push_back(std::move(row));
        for (OptionRow& row : sessionRows()) all.push_back(std::move(row));
        return all;
    }();
    return rows;
}

const OptionRow* findRow(std::string_view name) {
    for (const OptionRow& row : optionTable())
        if (row.name == name || (!row.alias.empty() && row.alias == name)) return &row;
    return nullptr;
}

const Group& groupOf(Mode mode) {
    for (const Group& group : groups)
        if (group.mode == mode) return group;
    return groups[0];
}

bool isFlag(const OptionRow& row) { return row.value.empty() && !row.positional; }

CLI::Option* addOption(CLI::App& app, const OptionRow& row) {
    std::string names(row.name);
    if (!row.alias.empty()) names = std::string(row.alias) + "," + names;
    CLI::Option* option =
        isFlag(row) ? app.add_flag(names)->disable_flag_override()
                    : app.add_option(names)->expected(row.count)->allow_extra_args(row.count == anyValues);
    // Every value in the order given: repeatable options collect them, the others keep the last.
    return option->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
        ->group(std::string(groupOf(row.mode).title))
        ->description(row.help);
}

// CLI11 refused an option's form before any value was read: a value missing at the end
// or after '=', or one given to a flag. Said in our words where the arguments show which.
std::string formError(const std::vector<std::string>& args, const CLI::ParseError& e) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::size_t equals = args[i].find('=');
        const std::string name = args[i].substr(0, equals);
        const OptionRow* row = findRow(name);
        if (!row) continue;
        if (isFlag(*row) && equals != std::string::npos) return name + " takes no value";
        if (isFlag(*row)) continue;
        // Values up to the next option or the end.
        std::size_t given = equals == std::string::npos ? 0 : equals + 1 < args[i].size();
        for (std::size_t j = i + 1; equals == std::string::npos && j < args.size() && !args[j].starts_with('-'); ++j)
            ++given;
        if (given < std::size_t(std::max(row->count, 1)))
            return name + (row->count > 1 ? " needs " + std::string(row->value) : " needs a value");
    }
    return e.what();
}

bool readValues(const OptionRow& row, const CLI::Option& option, Options& o, std::string& error) {
    if (isFlag(row)) return option.count() == 0 || row.read(o, {});
    // CLI11 lets an option of several values end early, at the next option or the end.
    if (row.count != anyValues && option.results().size() % std::size_t(row.count) != 0) {
        error = std::string(row.name) + " needs " + std::string(row.value);
        return false;
    }
    for (const std::string& value : option.results()) {
        if (!row.read(o, value)) {
            error = std::string(row.name) + " takes " + row.takes + ", not '" + shown(value) + "'";
            return false;
        }
    }
    return true;
}

// "a, b and c"
std::string listText(const std::vector<std::string_view>& names) {
    std::string text;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i) text += i + 1 == names.size() ? " and " : ", ";
        text += names[i];
    }
    return text;
}

// The option a mode's other options need: --headless or --render; empty for the others.
std::string_view switchOf(Mode mode) {
    return mode == Mode::Headless ? headlessSwitch : mode == Mode::Render ? renderSwitch : std::string_view{};
}

bool needsSwitch(const OptionRow& row) { return !switchOf(row.mode).empty() && row.name != switchOf(row.mode); }

std::string needSwitchText(Mode mode) {
    std::vector<std::string_view> names;
    for (const OptionRow& row : optionTable())
        if (row.mode == mode && needsSwitch(row)) names.push_back(row.name);
    return listText(names) + " need " + std::string(switchOf(mode));
}

std::string usageLine(const OptionRow& row) {
    std::string line = std::string(usageIndent) + std::string(row.name);
    if (!row.value.empty()) line += " " + std::string(row.value);
    line.resize(std::max(line.size() + 1, usageHelpColumn), ' ');
    for (char c : row.help) line += c == '\n' ? "\n" + std::string(usageHelpColumn, ' ') : std::string(1, c);
    return line + "\n";
}

// What CLI11 left over: an unknown option, or a second file.
std::string leftOverText(const std::string& argument) {
    if (argument.starts_with('-')) return "unknown option '" + shown(argument) + "'";
    return "one " + std::string(fileArgument) + " is played, not also '" + shown(argument) + "'";
}

// A replay takes all it plays from the session, on virtual time; empty when that is so.
std::string sessionError(const Options& o, bool channel) {
    const bool render = !o.renderOut.empty();
    if (o.performance && (o.session.empty() || !render)) return "--performance needs --render and --session";
    if (render && !o.recordSession.empty())
        return "--record writes the session of a run as it is played; " + std::string(renderSwitch) +
               " replays one with --session";
    if (o.session.empty()) return {};
    if (!o.headless && !render) return std::string(sessionOption) + " needs --headless or --render";
    const std::string replays = std::string(sessionOption) + " plays what the session holds, not ";
    if (!o.file.empty()) return replays + "FILE '" + shown(o.file) + "'";
    if (o.demo || !o.loop.empty() || channel) return replays + (o.demo ? "--demo" : channel ? "--channel" : "--loop");
    if (!o.answers.empty() || !o.inputs.empty() || !o.inputFile.empty())
        return replays + (o.answers.empty() ? "scripted input" : "--answer");
    if (o.seed) return replays + "--seed (it has its own)";
    if (o.realClock) return std::string(sessionOption) + " replays on virtual time, not --clock real";
    if (!o.recordSession.empty()) return std::string(sessionOption) + " is not recorded again with --record";
    return {};
}

// The options given together that do not go together; empty when they all do.
std::string combinationError(const std::vector<OptionRow>& rows, const std::vector<CLI::Option*>& given,
                             const Options& o) {
    bool headlessOnly = false, renderOnly = false, channel = false;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const bool isGiven = given[i]->count() > 0;
        headlessOnly |= isGiven && needsSwitch(rows[i]) && rows[i].mode == Mode::Headless;
        renderOnly |= isGiven && needsSwitch(rows[i]) && rows[i].mode == Mode::Render;
        channel |= isGiven && rows[i].name == channelOption;
    }
    const bool render = !o.renderOut.empty();
    if (headlessOnly && !o.headless) return needSwitchText(Mode::Headless);
    if (renderOnly && !render) return needSwitchText(Mode::Render);
    if (render && o.headless)
        return std::string(renderSwitch) + " runs on virtual time of its own, without " + std::string(headlessSwitch);
    // A render without a file performs the demo piece.
    if (channel && o.file.empty() && !o.demo && !render && o.loop.empty())
        return std::string(channelOption) + " needs a " + std::string(fileArgument) + ", --demo or --loop";
    if (render && (!o.snapshotDir.empty() || !o.recordMidi.empty()))
        return std::string(renderSwitch) + " keeps its pictures in OUT, not with " +
               (o.snapshotDir.empty() ? "--record-midi" : "--snapshot");
    if (render && (o.listPorts || !o.convert.empty() || !o.loop.empty()))
        return std::string(renderSwitch) + " is not made with " +
               (o.listPorts ? "--list-ports" : !o.convert.empty() ? "--convert" : "--loop");
    if (!o.file.empty() && (o.listPorts || !o.convert.empty() || !o.loop.empty()))
        return std::string(fileArgument) + " '" + shown(o.file) + "' is not played with " +
               (o.listPorts ? "--list-ports" : !o.loop.empty() ? std::string(loopOption) : "--convert");
    if (o.demo && !o.loop.empty()) return "--demo is not played with " + std::string(loopOption);
    return sessionError(o, channel);
}

}  // namespace

std::optional<Options> parseCommandLine(const std::vector<std::string>& args, std::string& error) {
    const std::vector<OptionRow>& rows = optionTable();
    CLI::App app;
    app.set_help_flag();  // --help is a row like the others
    app.allow_extras();   // an unknown argument is named below, in our words
    std::vector<CLI::Option*> options;
    for (const OptionRow& row : rows) options.push_back(addOption(app, row));
    std::vector<std::string> lastFirst(args.rbegin(), args.rend());  // how CLI11 takes them
    try {
        app.parse(lastFirst);
    } catch (const CLI::ParseError& e) {
        error = formError(args, e);
        return std::nullopt;
    }
    if (!app.remaining().empty()) {
        error = leftOverText(app.remaining().front());
        return std::nullopt;
    }
    Options o;
    for (std::size_t i = 0; i < rows.size(); ++i)
        if (!readValues(rows[i], *options[i], o, error)) return std::nullopt;
    error = combinationError(rows, options, o);
    if (!error.empty()) return std::nullopt;
    return o;
}

std::string versionText() { return std::string(versionLine); }

std::string usageText() {
    std::string text(usageIntro);
    for (const Group& group : groups) {
        text += "\n" + std::string(group.title);
        if (!group.note.empty()) text += " (" + std::string(group.note) + ")";
        text += ":\n";
        for (const OptionRow& row : optionTable())
            if (row.mode == group.mode) text += usageLine(row);
    }
    return text;
}

}  // namespace vesk::app
