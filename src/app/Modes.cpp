// The window and the headless run, each set up from the options. A failure to set up is
// one line on standard error and a non-zero exit, never a crash.
#include "app/Modes.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <iostream>
#include <memory>
#include <string>

#include <unistd.h>

#include "app/GivenFile.h"
#include "app/MidiFileInput.h"
#include "app/Render.h"
#include "app/Trace.h"
#include "app/Unattended.h"
#include "app/VeskWindow.h"
#include "flake/Random.h"
#include "midi/SmfLoading.h"
#include "performance/TickDriver.h"
#include "platform/Backends.h"
#include "platform/midi/MidiDrivers.h"

namespace vesk::app {

namespace {

using platform::headless::DialogAnswer;
using platform::headless::HeadlessClock;
using platform::headless::HeadlessPlatform;

constexpr std::string_view standardOutput = "-";
constexpr double msPerSecond = 1000.0;
constexpr std::string_view windowBackend = "sdl";

// The trace's file: standard output, a file of its own (closed with it) or none.
struct TraceFile {
    std::FILE* file = nullptr;
    bool owned = false;
    ~TraceFile() {
        if (owned) std::fclose(file);
    }
};

// Scripts the platform from the options: the accepted modes, the dialog's answers (quit
// once they are spent), the live input and the stop.
void script(HeadlessPlatform& platform, const Options& o) {
    platform.acceptModes(o.modes);
    for (const auto& answer : o.answers) platform.answerDialog(answer);
    DialogAnswer quit;
    quit.controlId = midi::quitButton;
    quit.openMs = 0;
    platform.setDefaultDialogAnswer(quit);
    for (const auto& input : o.inputs)
        platform.postAt(input.ms, {platform::MessageType::MidiInput, input.message});
    if (o.untilSeconds) platform.stopAt(std::int64_t(*o.untilSeconds * msPerSecond), 0);
}

// Opens the trace and makes the frames' folder; false (said on standard error) when either fails.
bool openOutputs(const Options& o, TraceFile& trace) {
    if (o.trace == standardOutput) {
        trace.file = stdout;
    } else if (!o.trace.empty()) {
        trace.file = std::fopen(o.trace.c_str(), "w");
        trace.owned = trace.file != nullptr;
        if (!trace.file) {
            std::cerr << "vesk: cannot write the trace to " << o.trace << ": " << std::strerror(errno) << "\n";
            return false;
        }
    }
    if (o.framesDir.empty()) return true;
    std::error_code ec;
    std::filesystem::create_directories(o.framesDir, ec);
    if (ec) std::cerr << "vesk: cannot make " << o.framesDir << ": " << ec.message() << "\n";
    return !ec;
}

// A run on virtual time with no --until whose performance waits for a note when nothing
// is left that could play one (the file has ended or never played, no scripted input is
// left) would let virtual time run on for ever at full speed: it ends, and says why.
void endWhenNoNoteCanCome(HeadlessPlatform& platform, const Vesk& vesk) {
    platform.onNothingScheduled([&vesk] {
        if (!waitingForFirstNote(vesk)) return false;
        std::cerr << "vesk: the performance waits for a note and nothing is left to play one; the run ends\n";
        return true;
    });
}

}  // namespace

int runProgram(const Options& options) {
    QuitOnSignals signals;  // before any thread starts
    if (!options.renderOut.empty()) return runRender(options, signals);
    // Every random choice of the run draws from the C library's generator.
    std::srand(options.seed ? *options.seed : unsigned(std::time(nullptr)));
    std::string error;
    const std::unique_ptr<midi::SmfSource> source = chooseSource(options, std::cerr, error);
    if (!source) {
        std::cerr << "vesk: " << error << "\n";
        return exitFailed;
    }
    return options.headless ? runHeadless(options, *source, signals) : runWindow(options, *source, signals);
}

int runHeadless(const Options& o, midi::SmfSource& source, QuitOnSignals& signals) {
    HeadlessPlatform platform(platform::windowSize.width, platform::windowSize.height,
                              o.realClock ? HeadlessClock::Real : HeadlessClock::Virtual);
    script(platform, o);
    TraceFile trace;
    if (!openOutputs(o, trace)) return exitFailed;

    flake::CLibraryRandom random;
    Vesk vesk(platform, random);
    Trace tracer(platform, trace.file, o.framesDir);
    vesk.observer = &tracer;
    vesk.sequencer.setSource(&source);
    endWhenNoNoteCanCome(platform, vesk);
    const auto quitOnSignals = signals.attach(platform.loop());
    int code = 0;
    {
        Unattended unattended(o, vesk);  // its last take is written before the exit is traced
        code = runApplication(vesk, &tracer.ports());
    }
    tracer.exit(code);
    vesk.observer = nullptr;
    return tracer.framesOk() && tracer.traceOk() ? code : exitFailed;
}

int runWindow(const Options& o, midi::SmfSource& source, QuitOnSignals& signals) {
    std::string reason;
    auto ports = platform::midi::createMidiPorts(o.midi, reason);
    if (!ports) {
        std::cerr << "vesk: " << reason << "\n" << tryHelpLine << "\n";
        return exitBadCommandLine;
    }
    // The SoundFont loads while the window is made.
    ports->prepareOutput();
    platform::BackendOptions backend;
    backend.windowed = o.windowed;
    auto platform = platform::createBackend(windowBackend, backend, reason);
    if (!platform) {
        // Said where a terminal shows it (there is no window for a box), and not as success.
        std::cerr << "vesk: Could not create window! (" << reason
                  << "); without a display, 'vesk --render video.mp4 [FILE]' makes a video of it\n";
        return exitFailed;
    }
    flake::CLibraryRandom random;
    Vesk vesk(*platform, random);
    vesk.sequencer.setSource(&source);
    Unattended unattended(o, vesk);
    const auto quitOnSignals = signals.attach(platform->loop());
    // Said once they are open, with what opening them found.
    return runApplication(vesk, ports.get(), [&ports] { std::cerr << "vesk: " << ports->describe() << "\n"; });
}

int runRender(const Options& o, QuitOnSignals& signals) {
    Options given = o;
    given.demo = o.file.empty();
    std::string error;
    const std::optional<midi::SmfChoice> choice = prepareGivenFile(given, std::cerr, error);
    if (!choice) {
        std::cerr << "vesk: " << error << "\n";
        return exitFailed;
    }
    RenderJob job;
    job.out = o.renderOut;
    job.file = choice->path;
    job.channel = choice->listenChannel + 1;
    job.seed = o.seed;
    job.fps = o.fps.value_or(defaultRenderFps);
    if (o.renderSize) {
        job.width = o.renderSize->width;
        job.height = o.renderSize->height;
    }
    if (!o.inputFile.empty()) {
        const std::optional<TimedMessages> live = readTimedMessages(o.inputFile, error);
        if (!live) {
            std::cerr << "vesk: " << error << "\n";
            return exitFailed;
        }
        job.input = live->messages;
    }
    job.soundFont = o.midi.soundFont;
    job.progress = isatty(STDERR_FILENO) ? ProgressDisplay::Terminal : ProgressDisplay::Lines;
    job.stop = &signals.received();
    return renderPerformance(job, std::cerr);
}

}  // namespace vesk::app
