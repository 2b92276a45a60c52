// Fuzz target: any bytes as the arguments after the program's name, one argument per
// NUL-separated piece, read as main reads them. A command line is taken or refused, never
// a crash or an exception; a refusal is one line of bounded length (a long value quoted by
// its beginning only); what is taken stays within the ranges the options allow.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "app/Options.h"
#include "platform/MidiMessage.h"

namespace {

// A refusal names its option, says what it takes and quotes at most the beginning of the
// value; far longer means a value was echoed whole.
constexpr std::size_t refusalLengthMax = 400;

[[noreturn]] void finding(const char* what, const std::string& detail) {
    std::fprintf(stderr, "%s: %.200s\n", what, detail.c_str());
    std::abort();
}

std::vector<std::string> argumentsOf(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> args(1);
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == 0)
            args.emplace_back();
        else
            args.back().push_back(char(data[i]));
    }
    if (size == 0) args.clear();
    return args;
}

void checkTaken(const vesk::app::Options& o) {
    using vesk::app::inputMsMax;
    using vesk::app::untilSecondsMax;
    if (o.untilSeconds && !(*o.untilSeconds >= 0 && *o.untilSeconds <= untilSecondsMax))
        finding("--until out of range", std::to_string(*o.untilSeconds));
    for (const vesk::app::ScriptedInput& input : o.inputs)
        if (input.ms < 0 || input.ms > inputMsMax) finding("--input time out of range", std::to_string(input.ms));
    if (o.listenChannel && (*o.listenChannel < 0 || *o.listenChannel >= vesk::platform::channelCount))
        finding("--channel out of range", std::to_string(*o.listenChannel));
    if (!o.convert.empty() && o.convert.size() % 2 != 0) finding("--convert without its pair", o.convert.back());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string error;
    const std::optional<vesk::app::Options> options = vesk::app::parseCommandLine(argumentsOf(data, size), error);
    if (options) {
        checkTaken(*options);
        return 0;
    }
    if (error.empty()) finding("refused without a reason", "");
    if (error.find('\n') != std::string::npos) finding("a refusal of more than one line", error);
    if (error.size() > refusalLengthMax) finding("a refusal too long", error);
    return 0;
}
