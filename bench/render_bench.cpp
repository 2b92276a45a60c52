// The offline render of the demo piece (channel 2, seed 1) from start to finished file: the
// whole job to MP4 at 1024x768 and 30 fps, and the sound alone to WAV. Each runs in a
// process of its own, so its peak memory is its own; prints the render's own closing line
// (length, wall time, speed against real time), the processor time (both cores: less
// spoilt by a busy machine than the wall time), the peak resident memory and the file's
// size. It measures, it never fails.
// Usage: vesk_bench_render [folder for the files (default: /tmp)] [mp4|wav: one job alone]
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>

#include "app/Render.h"

using namespace vesk;

namespace {

struct Measured {
    bool ok = false;
    double wallSeconds = 0;
    double cpuSeconds = 0;  // both cores together: a figure that a busy machine spoils less
    long peakKiB = 0;
};

double seconds(const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; }

Measured runInChild(const app::RenderJob& job, std::string& said) {
    int pipeFds[2];
    if (::pipe(pipeFds) != 0) return {};
    const auto start = std::chrono::steady_clock::now();
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(pipeFds[0]);
        std::ostringstream progress;
        const int code = app::renderPerformance(job, progress);
        const std::string text = progress.str();
        (void)!::write(pipeFds[1], text.data(), text.size());
        ::_exit(code);
    }
    ::close(pipeFds[1]);
    char buffer[4096];
    for (ssize_t n; (n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0;) said.append(buffer, std::size_t(n));
    ::close(pipeFds[0]);
    int status = 0;
    rusage usage{};
    ::wait4(child, &status, 0, &usage);
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return {WIFEXITED(status) && WEXITSTATUS(status) == 0, wall,
            seconds(usage.ru_utime) + seconds(usage.ru_stime), usage.ru_maxrss};
}

void measure(const char* what, app::RenderJob job) {
    std::string said;
    const Measured m = runInChild(job, said);
    std::printf("%s\n%s", what, said.c_str());
    if (!m.ok) {
        std::printf("  failed\n");
        return;
    }
    std::error_code ignored;
    const auto bytes = std::filesystem::file_size(job.out, ignored);
    std::printf("  whole job %.2f s wall, %.2f s of processor time, peak memory %.1f MiB, file %.1f MiB\n",
                m.wallSeconds, m.cpuSeconds, double(m.peakKiB) / 1024.0, double(bytes) / (1024.0 * 1024.0));
    std::filesystem::remove(job.out, ignored);
}

}  // namespace

int main(int argc, char** argv) {
    const std::string folder = argc > 1 ? argv[1] : "/tmp";
    const std::string only = argc > 2 ? argv[2] : "";
    app::RenderJob job;
    job.file = VESK_DEMO_PIECE;
    job.channel = 2;
    job.seed = 1;
    job.out = folder + "/vesk-bench-render.mp4";
    if (only.empty() || only == "mp4") measure("The demo piece to MP4 (H.264 and AAC), 1024x768, 30 fps:", job);
    job.out = folder + "/vesk-bench-render.wav";
    if (only.empty() || only == "wav") measure("The demo piece's sound alone to WAV:", job);
    return 0;
}
