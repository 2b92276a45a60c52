// Parsing the command line, strictly: every value checked, nothing guessed.
#include "app/Options.h"

#include <charconv>
#include <cmath>

#include "midi/SmfLoading.h"

namespace vesk::app {

const char* const usageText =
    "Usage: vesk [options]\n"
    "Plays a Standard MIDI File and grows a spinning six-armed flake from one of its\n"
    "channels and from a live MIDI keyboard; after a silence it replays what it heard while\n"
    "it takes the flake apart, then starts over. Esc quits.\n"
    "\n"
    "A real window (the default):\n"
    "  --windowed            a 1024x768 window instead of full screen\n"
    "  --midi-out NAME       fluidsynth, alsa, jack, none or auto (default auto: the\n"
    "                        embedded synth when a SoundFont is found, else the first port)\n"
    "  --midi-in NAME        alsa, jack, none or auto (a virtual input port named Vesk)\n"
    "  --soundfont FILE      the SoundFont for the embedded synth\n"
    "  --out-port NAME       the output port to use (alsa, jack)\n"
    "  --in-port NAME        an input port to connect to instead of the virtual one\n"
    "\n"
    "Headless, on virtual time:\n"
    "  --headless            no window; the picture, the sound and the dialogs are scripted\n"
    "                        and recorded\n"
    "  --answer ANSWER       answers the file dialog's next showing: run:CHANNEL:FILE (the\n"
    "                        channel and file name as typed), quit or close (the close box);\n"
    "                        repeatable; when none is left the dialog answers quit\n"
    "  --input MS:HEX        a live MIDI message at that millisecond, e.g. 1500:903c64\n"
    "  --until SECONDS       stop at that time with exit code 0\n"
    "  --trace FILE          JSON Lines of everything that happens ('-': standard output)\n"
    "  --frames DIR          every rendered frame as DIR/frame-NNNNNN.png\n"
    "  --modes LIST          display modes the display accepts, e.g. 800x600x16,640x480x8\n"
    "                        (default: all)\n"
    "  --clock real          real time and real timer threads instead of virtual time\n"
    "\n"
    "Both:\n"
    "  --seed N              seed the random draws with N instead of the time\n"
    "  --help                this text\n";

namespace {

template <typename T>
bool parseNumber(const std::string& text, T& out) {
    if (text.empty()) return false;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
    return ec == std::errc{} && end == text.data() + text.size();
}

bool parseAnswer(const std::string& text, platform::headless::DialogAnswer& answer) {
    using Action = platform::headless::DialogAnswer::Action;
    answer = {};
    answer.openMs = 0;
    if (text == "quit") {
        answer.controlId = midi::quitButton;
        return true;
    }
    if (text == "close") {
        answer.action = Action::Close;
        return true;
    }
    if (text.rfind("run:", 0) != 0) return false;
    const std::size_t colon = text.find(':', 4);
    if (colon == std::string::npos) return false;
    answer.typed = {{midi::fileNameControl, text.substr(colon + 1)},
                    {midi::channelControl, text.substr(4, colon - 4)}};
    answer.controlId = midi::runButton;
    return true;
}

bool parseInput(const std::string& text, ScriptedInput& input) {
    const std::size_t colon = text.find(':');
    if (colon == std::string::npos || !parseNumber(text.substr(0, colon), input.ms) || input.ms < 0)
        return false;
    const std::string hex = text.substr(colon + 1);
    if (hex.empty() || hex.size() % 2 || hex.size() > 6) return false;
    input.message = 0;
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        unsigned byte = 0;
        const auto [end, ec] = std::from_chars(hex.data() + i, hex.data() + i + 2, byte, 16);
        if (ec != std::errc{} || end != hex.data() + i + 2) return false;
        input.message |= std::uint32_t(byte) << (4 * i);
    }
    return true;
}

bool parseModes(const std::string& text, std::set<platform::headless::DisplayMode>& modes) {
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t comma = std::min(text.find(',', start), text.size());
        const std::string mode = text.substr(start, comma - start);
        const std::size_t x1 = mode.find('x'), x2 = mode.find('x', x1 + 1);
        platform::headless::DisplayMode m;
        if (x1 == std::string::npos || x2 == std::string::npos ||
            !parseNumber(mode.substr(0, x1), m.width) ||
            !parseNumber(mode.substr(x1 + 1, x2 - x1 - 1), m.height) ||
            !parseNumber(mode.substr(x2 + 1), m.bits))
            return false;
        modes.insert(m);
        start = comma + 1;
    }
    return !modes.empty();
}

}  // namespace

std::optional<Options> parseOptions(const std::vector<std::string>& args, std::string& error) {
    Options o;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        auto value = [&](std::string& out) {
            if (i + 1 >= args.size()) {
                error = arg + " needs a value";
                return false;
            }
            out = args[++i];
            return true;
        };
        std::string v;
        if (arg == "--help" || arg == "-h") {
            o.help = true;
        } else if (arg == "--headless") {
            o.headless = true;
        } else if (arg == "--windowed") {
            o.windowed = true;
        } else if (arg == "--answer") {
            platform::headless::DialogAnswer answer;
            if (!value(v)) return std::nullopt;
            if (!parseAnswer(v, answer)) {
                error = "--answer takes run:CHANNEL:FILE, quit or close, not '" + v + "'";
                return std::nullopt;
            }
            o.answers.push_back(answer);
        } else if (arg == "--input") {
            ScriptedInput input;
            if (!value(v)) return std::nullopt;
            if (!parseInput(v, input)) {
                error = "--input takes MS:HEX with one to three bytes, e.g. 1500:903c64, not '" + v + "'";
                return std::nullopt;
            }
            o.inputs.push_back(input);
        } else if (arg == "--until") {
            double seconds = 0;
            if (!value(v)) return std::nullopt;
            if (!parseNumber(v, seconds) || !std::isfinite(seconds) || seconds < 0 || seconds > 1e9) {
                error = "--until takes a number of seconds, not '" + v + "'";
                return std::nullopt;
            }
            o.untilSeconds = seconds;
        } else if (arg == "--trace") {
            if (!value(o.trace)) return std::nullopt;
        } else if (arg == "--frames") {
            if (!value(o.framesDir)) return std::nullopt;
        } else if (arg == "--modes") {
            if (!value(v)) return std::nullopt;
            if (!parseModes(v, o.modes)) {
                error = "--modes takes WIDTHxHEIGHTxBITS[,...], not '" + v + "'";
                return std::nullopt;
            }
        } else if (arg == "--seed") {
            unsigned seed = 0;
            if (!value(v)) return std::nullopt;
            if (!parseNumber(v, seed)) {
                error = "--seed takes a whole number, not '" + v + "'";
                return std::nullopt;
            }
            o.seed = seed;
        } else if (arg == "--clock") {
            if (!value(v)) return std::nullopt;
            if (v != "real" && v != "virtual") {
                error = "--clock takes real or virtual, not '" + v + "'";
                return std::nullopt;
            }
            o.realClock = v == "real";
        } else if (arg == "--midi-out") {
            if (!value(o.midi.output)) return std::nullopt;
        } else if (arg == "--midi-in") {
            if (!value(o.midi.input)) return std::nullopt;
        } else if (arg == "--soundfont") {
            if (!value(o.midi.soundFont)) return std::nullopt;
        } else if (arg == "--out-port") {
            if (!value(o.midi.outputPort)) return std::nullopt;
        } else if (arg == "--in-port") {
            if (!value(o.midi.inputPort)) return std::nullopt;
        } else {
            error = "unknown option '" + arg + "'";
            return std::nullopt;
        }
    }
    if (!o.headless && (!o.answers.empty() || !o.inputs.empty() || o.untilSeconds ||
                        !o.trace.empty() || !o.framesDir.empty() || !o.modes.empty() || o.realClock)) {
        error = "--answer, --input, --until, --trace, --frames, --modes and --clock need --headless";
        return std::nullopt;
    }
    return o;
}

}  // namespace vesk::app
