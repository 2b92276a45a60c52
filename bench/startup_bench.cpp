// How long vesk takes from process start to its first frame on the screen, as a newcomer
// starts it (vesk --demo: the demo piece at once, no dialog) and with the dialog (no
// file), in an Xvfb of its own with the small GM SoundFont. A preloaded probe reports the
// end of the first buffer swap; the clock starts just before the fork. Prints each run,
// the median, and the CPU time vesk had used by then (its threads together), which a
// machine busy with other work changes less than the wall time; never fails.
// Usage: vesk_bench_startup [runs]
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "support/XServer.h"

namespace {

constexpr int defaultRuns = 7;
constexpr long long nsPerSecond = 1000000000LL;
constexpr double nsPerMs = 1e6;
constexpr int frameWaitMs = 20000;  // a start that takes longer is reported as none
constexpr const char* soundFont = "/usr/share/sounds/sf2/TimGM6mb.sf2";

long long nowNs() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * nsPerSecond + t.tv_nsec;
}

// The child's side of the fork: the probe preloaded, the display, silent SDL audio.
[[noreturn]] void execVesk(const std::string& display, int frameFd, const std::vector<std::string>& args) {
    ::setenv("DISPLAY", display.c_str(), 1);
    ::setenv("LD_PRELOAD", VESK_FIRST_FRAME_PROBE, 1);
    ::setenv("VESK_BENCH_FRAME_FD", std::to_string(frameFd).c_str(), 1);
    ::setenv("SDL_AUDIODRIVER", "dummy", 1);
    std::vector<char*> argv{const_cast<char*>(VESK_PROGRAM)};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    std::freopen("/dev/null", "w", stderr);
    ::execv(VESK_PROGRAM, argv.data());
    ::_exit(127);
}

struct Start {
    double wallMs = 0;  // from the fork to the first frame
    double cpuMs = 0;   // vesk's CPU time by then
};

// None when no frame came.
std::optional<Start> timeOneStart(const std::string& display, const std::vector<std::string>& args) {
    int fds[2];
    if (::pipe(fds) != 0) return std::nullopt;
    const long long start = nowNs();
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(fds[0]);
        execVesk(display, fds[1], args);
    }
    ::close(fds[1]);
    std::optional<Start> ms;
    FILE* frames = ::fdopen(fds[0], "r");
    long long frameNs = 0, cpuNs = 0;
    if (child > 0 && frames && std::fscanf(frames, "%lld %lld", &frameNs, &cpuNs) == 2)
        ms = Start{double(frameNs - start) / nsPerMs, double(cpuNs) / nsPerMs};
    if (frames) std::fclose(frames);
    if (child > 0) {
        ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);
    }
    return ms;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

void report(const char* what, const std::string& display, const std::vector<std::string>& args, int runs) {
    std::vector<double> wall, cpu;
    std::printf("%s:", what);
    for (int i = 0; i < runs; ++i) {
        const std::optional<Start> start = timeOneStart(display, args);
        if (start) {
            wall.push_back(start->wallMs);
            cpu.push_back(start->cpuMs);
        }
        std::printf(start ? " %.0f" : " none", start ? start->wallMs : 0.0);
        std::fflush(stdout);
    }
    if (wall.empty()) {
        std::printf("\n  no frame came\n");
        return;
    }
    std::printf(" ms\n  median %.0f ms, fastest %.0f ms (target: under 200 ms); CPU time by then %.0f ms\n",
                median(wall), *std::min_element(wall.begin(), wall.end()), median(cpu));
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : defaultRuns;
    vesk::test::XServer server;
    if (server.display().empty()) {
        std::printf("no Xvfb could be started; nothing measured\n");
        return 0;
    }
    double load[3] = {};
    if (::getloadavg(load, 3) < 1) load[0] = -1;
    std::printf("vesk from process start to its first frame on %s, SoundFont %s, %d runs each, load %.1f\n",
                server.display().c_str(), soundFont, runs, load[0]);
    const std::vector<std::string> synth = {"--midi-out", "fluidsynth", "--soundfont", soundFont};
    std::vector<std::string> demo = {"--demo"};
    demo.insert(demo.end(), synth.begin(), synth.end());
    report("vesk --demo (the demo at once)", server.display(), demo, runs);
    report("vesk (the file dialog first)", server.display(), synth, runs);
    return 0;
}
