// vesk: the program. A real window with the MIDI devices the table finds, or a headless
// run on virtual time driven by the command line (see --help).
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "app/Options.h"
#include "app/Trace.h"
#include "app/VeskWindow.h"
#include "midi/SmfLoading.h"
#include "platform/Backends.h"
#include "platform/midi/MidiDrivers.h"

namespace {

using namespace vesk;

int runHeadless(const app::Options& o) {
    platform::headless::HeadlessPlatform platform(
        1024, 768, o.realClock ? platform::headless::HeadlessClock::Real : platform::headless::HeadlessClock::Virtual);
    platform.acceptModes(o.modes);
    for (const auto& answer : o.answers) platform.answerDialog(answer);
    platform::headless::DialogAnswer quit;
    quit.controlId = midi::quitButton;
    quit.openMs = 0;
    platform.setDefaultDialogAnswer(quit);
    for (const auto& input : o.inputs)
        platform.postAt(input.ms, {platform::MessageType::MidiInput, input.message});
    if (o.untilSeconds) platform.stopAt(std::int64_t(*o.untilSeconds * 1000.0), 0);

    std::FILE* trace = nullptr;
    if (o.trace == "-") {
        trace = stdout;
    } else if (!o.trace.empty() && !(trace = std::fopen(o.trace.c_str(), "w"))) {
        std::cerr << "vesk: cannot write the trace to " << o.trace << "\n";
        return 1;
    }
    if (!o.framesDir.empty()) {
        std::error_code ec;
        std::filesystem::create_directories(o.framesDir, ec);
        if (ec) {
            std::cerr << "vesk: cannot make " << o.framesDir << ": " << ec.message() << "\n";
            return 1;
        }
    }

    flake::CLibraryRandom random;
    int code = 0;
    bool framesOk = true;
    {
        Vesk vesk(platform, random);
        app::Trace tracer(platform, trace, o.framesDir);
        vesk.observer = &tracer;
        code = app::runApplication(vesk, &tracer.ports());
        tracer.exit(code);
        framesOk = tracer.framesOk();
        vesk.observer = nullptr;
    }
    if (trace && trace != stdout) std::fclose(trace);
    return framesOk ? code : 1;
}

int runWindow(const app::Options& o) {
    std::string reason;
    auto ports = platform::midi::createMidiPorts(o.midi, reason);
    if (!ports) {
        std::cerr << "vesk: " << reason << "\nTry 'vesk --help'.\n";
        return 2;
    }
    platform::BackendOptions backend;
    backend.windowed = o.windowed;
    auto platform = platform::createBackend("sdl", backend, reason);
    if (!platform) {
        // Said where a terminal shows it (there is no window for a box), and not as success.
        std::cerr << "vesk: Could not create window! (" << reason
                  << ")\nWithout a display, try 'vesk --headless'.\n";
        return 1;
    }
    std::cerr << "vesk: " << ports->describe() << "\n";
    flake::CLibraryRandom random;
    Vesk vesk(*platform, random);
    return app::runApplication(vesk, ports.get());
}

}  // namespace

int main(int argc, char** argv) {
    std::string error;
    const auto options = app::parseOptions(std::vector<std::string>(argv + 1, argv + argc), error);
    if (!options) {
        std::cerr << "vesk: " << error << "\nTry 'vesk --help'.\n";
        return 2;
    }
    if (options->help) {
        std::cout << app::usageText;
        return 0;
    }
    // Every random choice of the run draws from the C library's generator.
    std::srand(options->seed ? *options->seed : unsigned(std::time(nullptr)));
    return options->headless ? runHeadless(*options) : runWindow(*options);
}
