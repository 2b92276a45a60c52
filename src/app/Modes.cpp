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
#include "app/SessionRecorder.h"
#include "app/SessionReplay.h"
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

WindowFilter* filterOf(const Run& run) {
    if (run.recorder) return run.recorder;
    return run.replay;
}

}  // namespace

int runProgram(const Options& options) {
    QuitOnSignals signals;  // before any thread starts
    if (!options.renderOut.empty()) return runRender(options, signals);
    if (!options.session.empty()) return runReplay(options, signals);
    const unsigned seed = options.seed ? *options.seed : unsigned(std::time(nullptr));
    std::string error;
    const std::unique_ptr<midi::SmfSource> source = chooseSource(options, std::cerr, error);
    if (!source) {
        std::cerr << "vesk: " << error << "\n";
        return exitFailed;
    }
    std::unique_ptr<SessionRecorder> recorder;
    if (!options.recordSession.empty() && !(recorder = SessionRecorder::open(options.recordSession, error))) {
        std::cerr << "vesk: " << error << "\n";
        return exitFailed;
    }
    const Run run{options, signals, seed, recorder.get(), nullptr};
    return options.headless ? runHeadless(run, *source) : runWindow(run, *source);
}

int runReplay(const Options& options, QuitOnSignals& signals) {
    std::string error;
    const std::optional<Session> session = readSession(options.session, error);
    if (!session || !sessionFilesUnchanged(*session, error)) {
        std::cerr << "vesk: " << error << "\n";
        return exitFailed;
    }
    HeadlessPlatform platform(session->width, session->height);
    SessionReplay replay(*session, platform);
    return runHeadless({options, signals, session->seed, nullptr, &replay}, replay, &platform);
}

int runHeadless(const Run& run, midi::SmfSource& source, HeadlessPlatform* given) {
    const Options& o = run.options;
    std::optional<HeadlessPlatform> own;
    if (!given)
        own.emplace(platform::windowSize.width, platform::windowSize.height,
                    o.realClock ? HeadlessClock::Real : HeadlessClock::Virtual);
    HeadlessPlatform& platform = given ? *given : *own;
    script(platform, o);
    TraceFile trace;
    if (!openOutputs(o, trace)) return exitFailed;

    // Every random choice of the run draws from the C library's generator.
    std::srand(run.seed);
    flake::CLibraryRandom random;
    ModalWatcher* watcher = run.recorder ? static_cast<ModalWatcher*>(run.recorder) : run.replay;
    std::optional<WatchedPlatform> watched;
    if (watcher) watched.emplace(platform, *watcher);
    Vesk vesk(watched ? static_cast<platform::Platform&>(*watched) : platform, random);
    Trace tracer(platform, trace.file, o.framesDir);
    vesk.observer = &tracer;
    vesk.sequencer.setSource(run.recorder ? &run.recorder->source(source) : &source);
    if (run.replay) run.replay->attach(vesk);
    else endWhenNoNoteCanCome(platform, vesk);
    const auto quitOnSignals = run.signals.attach(platform.loop());
    int code = 0;
    bool sessionOk = true;
    {
        Unattended unattended(o, vesk);  // its last take is written before the exit is traced
        if (run.recorder) run.recorder->start(vesk, run.seed, !o.loop.empty());
        code = runApplication(vesk, &tracer.ports(), {}, filterOf(run));
        if (run.recorder) sessionOk = run.recorder->finish(code);
        if (run.replay) run.replay->detach();
    }
    tracer.exit(code);
    vesk.observer = nullptr;
    return tracer.framesOk() && tracer.traceOk() && sessionOk ? code : exitFailed;
}

int runWindow(const Run& run, midi::SmfSource& source) {
    const Options& o = run.options;
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
    std::srand(run.seed);
    flake::CLibraryRandom random;
    std::optional<WatchedPlatform> watched;
    if (run.recorder) watched.emplace(*platform, *run.recorder);
    Vesk vesk(watched ? static_cast<platform::Platform&>(*watched) : *platform, random);
    vesk.sequencer.setSource(run.recorder ? &run.recorder->source(source) : &source);
    Unattended unattended(o, vesk);
    if (run.recorder) run.recorder->start(vesk, run.seed, !o.loop.empty());
    const auto quitOnSignals = run.signals.attach(platform->loop());
    // Said once they are open, with what opening them found.
    const int code = runApplication(
        vesk, ports.get(), [&ports] { std::cerr << "vesk: " << ports->describe() << "\n"; }, run.recorder);
    if (run.recorder && !run.recorder->finish(code)) return exitFailed;
    return code;
}

namespace {

// What every render takes from the options: OUT, the frame rate and size, the SoundFont,
// how progress is shown and what stops it.
RenderJob renderJob(const Options& o, QuitOnSignals& signals) {
    RenderJob job;
    job.out = o.renderOut;
    job.fps = o.fps.value_or(defaultRenderFps);
    if (o.renderSize) {
        job.width = o.renderSize->width;
        job.height = o.renderSize->height;
    }
    job.soundFont = o.midi.soundFont;
    job.progress = isatty(STDERR_FILENO) ? ProgressDisplay::Terminal : ProgressDisplay::Lines;
    job.stop = &signals.received();
    return job;
}

// The session to render, read and checked, with the job's file its first; none after the
// reason is said.
std::optional<Session> sessionToRender(const Options& o, RenderJob& job) {
    std::string error;
    std::optional<Session> session = readSession(o.session, error);
    if (session && sessionFilesUnchanged(*session, error)) {
        int performances = 0;
        for (const SessionEvent& e : session->events) {
            if (e.kind == SessionEvent::Kind::Load && job.file.empty()) job.file = e.path;
            performances += e.kind == SessionEvent::Kind::Start;
        }
        if (job.file.empty()) error = "the session " + o.session + " played no file, so there is nothing to render";
        else if (o.performance && *o.performance > performances)
            error = "the session " + o.session + " has " + std::to_string(performances) + " performance" +
                    (performances == 1 ? "" : "s") + ", not " + std::to_string(*o.performance);
        else return session;
    }
    std::cerr << "vesk: " << error << "\n";
    return std::nullopt;
}

int runSessionRender(const Options& o, QuitOnSignals& signals) {
    RenderJob job = renderJob(o, signals);
    const std::optional<Session> session = sessionToRender(o, job);
    if (!session) return exitFailed;
    job.session = &*session;
    job.performance = o.performance;
    return renderPerformance(job, std::cerr);
}

}  // namespace

int runRender(const Options& o, QuitOnSignals& signals) {
    if (!o.session.empty()) return runSessionRender(o, signals);
    Options given = o;
    given.demo = o.file.empty();
    std::string error;
    const std::optional<midi::SmfChoice> choice = prepareGivenFile(given, std::cerr, error);
    if (!choice) {
        std::cerr << "vesk: " << error << "\n";
        return exitFailed;
    }
    RenderJob job = renderJob(o, signals);
    job.file = choice->path;
    job.channel = choice->listenChannel + 1;
    job.seed = o.seed;
    if (!o.inputFile.empty()) {
        const std::optional<TimedMessages> live = readTimedMessages(o.inputFile, error);
        if (!live) {
            std::cerr << "vesk: " << error << "\n";
            return exitFailed;
        }
        job.input = live->messages;
    }
    return renderPerformance(job, std::cerr);
}

}  // namespace vesk::app
