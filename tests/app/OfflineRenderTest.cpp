// The offline render end to end: what it writes is read back with FFmpeg's own decoders
// and held against the headless run of the same job (its trace and its frames), which is
// the performance the render claims to show and sound.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "AppRun.h"
#include "app/Render.h"
#include "support/DecodedMedia.h"

namespace vesk::app {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;

constexpr unsigned seed = 5;
constexpr double fps = 10;
constexpr int smallWidth = 320, smallHeight = 240;

RenderJob jobFor(const std::string& out, const std::string& song) {
    RenderJob job;
    job.out = out;
    job.file = song;
    job.channel = 2;
    job.seed = seed;
    job.fps = fps;
    job.width = smallWidth;
    job.height = smallHeight;
    return job;
}

int render(const RenderJob& job, std::string* said = nullptr) {
    std::ostringstream progress;
    const int code = renderPerformance(job, progress);
    if (said) *said = progress.str();
    return code;
}

// The headless run of the same performance: its trace as JSON lines, frames into `frames`.
std::vector<Json> headlessTrace(const test::TempFolder& folder, const std::string& song,
                                const std::string& frames = "") {
    std::vector<std::string> args = {"--headless", "--seed", std::to_string(seed), "--answer",
                                     "run:2:" + song, "--trace", folder / "trace.jsonl"};
    if (!frames.empty()) args.insert(args.end(), {"--frames", frames, "--until", "1.5"});
    EXPECT_EQ(test::runVesk(args), 0);
    std::vector<Json> lines;
    std::ifstream in(folder / "trace.jsonl");
    for (std::string line; std::getline(in, line);) lines.push_back(Json::parse(line));
    return lines;
}

double lengthSeconds(const std::vector<Json>& trace) { return trace.back()["t"].get<double>() / 1000.0; }

test::DecodedMedia decoded(const std::string& path) {
    std::string error;
    auto media = test::decodeMedia(path, error);
    EXPECT_TRUE(media) << error;
    return media ? *media : test::DecodedMedia{};
}

// AAC's encoder delay (1024 samples at 48 kHz); Opus's is shorter.
constexpr double maxSoundDelaySeconds = 0.022;

struct FormatCase {
    std::string extension;
    std::vector<std::string> streams;
};
const FormatCase formatCases[] = {
    {".mp4", {"h264", "aac"}},
    {".mkv", {"h264", "aac"}},
    {".webm", {"vp9", "opus"}},
    {".wav", {"pcm_s16le"}},
};

TEST(OfflineRender, EachFormatHoldsItsStreamsForThePerformancesLengthAtItsFrameRate) {
    test::TempFolder folder("render-formats");
    const std::string song = folder / "song.mid";
    test::writeFile(song, test::shortPiece());
    const double length = lengthSeconds(headlessTrace(folder, song));
    const auto frames = std::size_t(std::ceil(length * fps));
    for (const FormatCase& c : formatCases) {
        SCOPED_TRACE(c.extension);
        const std::string out = folder / ("render" + c.extension);
        ASSERT_EQ(render(jobFor(out, song)), 0);
        // Readable as any file the user makes, not kept private as its temporary name was.
        const mode_t mask = ::umask(0);
        ::umask(mask);
        EXPECT_EQ(fs::status(out).permissions(), fs::perms(0666 & ~mask));
        const test::DecodedMedia media = decoded(out);
        EXPECT_EQ(media.streams, c.streams);
        EXPECT_NEAR(media.durationSeconds, length, 1.0 / fps);
        EXPECT_NEAR(double(media.channels.empty() ? 0 : media.channels[0].size()) / media.sampleRate, length,
                    1.0 / fps);
        if (c.streams.size() < 2) continue;
        EXPECT_EQ(media.pixelFormat, "yuv420p");
        ASSERT_FALSE(media.frames.empty());
        // A picture lasts until the window changes: frames on the frame rate's grid (from
        // where the container starts them, after the sound's encoder delay), fewer than
        // its frame times, and none past the last frame time.
        EXPECT_LT(media.frames.size(), frames);
        const double start = media.frameSeconds.front();
        EXPECT_LT(start, maxSoundDelaySeconds);
        for (double seconds : media.frameSeconds)
            EXPECT_NEAR((seconds - start) * fps, std::round((seconds - start) * fps), 1e-3) << seconds;
        EXPECT_LT(media.frameSeconds.back() - start, double(frames) / fps);
        EXPECT_EQ(media.frames[0].width, smallWidth);
        EXPECT_EQ(media.frames[0].height, smallHeight);
    }
}

// Where a picture that did not match is left for a person to look at.
std::string outputPath(const std::string& name) {
    const char* folder = std::getenv("VESK_TEST_OUTPUT");
    const std::string base = folder ? folder : fs::temp_directory_path().string();
    fs::create_directories(base);
    return base + "/" + name;
}

// The headless run's PNG written at the last repaint at or before `ms`.
platform::Image headlessFrameAt(const std::vector<Json>& trace, std::int64_t ms) {
    std::string file;
    for (const Json& line : trace)
        if (line["ev"] == "frame" && line["t"].get<std::int64_t>() <= ms) file = line["file"];
    platform::Image image;
    std::string error;
    EXPECT_TRUE(platform::readPng(file, image, error)) << error;
    return image;
}

// At 5 frames a second, frame k falls on the tick at k * 200 ms: it must show that tick,
// as the headless run's frame of that tick shows it, within what 4:2:0 colour and the
// encoder change (a few thin lines' blocks); the ticks either side differ in far more.
constexpr int differingLevel = 32;
constexpr double sameShareMax = 0.001, otherShareMin = 0.002;
TEST(OfflineRender, AFrameIsTheWindowAtItsTimeAsTheHeadlessRunsFrameShowsIt) {
    test::TempFolder folder("render-frame");
    const std::string song = folder / "song.mid";
    test::writeFile(song, test::shortPiece());
    const auto trace = headlessTrace(folder, song, folder / "frames");
    RenderJob job = jobFor(folder / "render.mkv", song);
    job.fps = 5;
    job.width = platform::windowSize.width;
    job.height = platform::windowSize.height;
    ASSERT_EQ(render(job), 0);
    const test::DecodedMedia media = decoded(job.out);
    // Frame 6, at 1.2 s: the flake has grown from the piece's notes.
    const platform::Image* shown = test::frameShownAt(media, 1.2);
    ASSERT_TRUE(shown);
    const platform::Image expected = headlessFrameAt(trace, 1200);
    const double same = test::differingBlockShare(*shown, expected, differingLevel);
    EXPECT_LT(same, sameShareMax);
    for (std::int64_t neighbourMs : {1000, 1400})
        EXPECT_GT(test::differingBlockShare(*shown, headlessFrameAt(trace, neighbourMs), differingLevel),
                  otherShareMin)
            << "the frame looks like the tick at " << neighbourMs << " ms as much as the one at 1200 ms";
    if (same >= sameShareMax) {
        platform::writePng(outputPath("render-frame-decoded.png"), *shown);
        platform::writePng(outputPath("render-frame-headless.png"), expected);
    }
}

// The trace's first note-on that sounds, in ms; -1 when none.
double firstNoteOnMs(const std::vector<Json>& trace) {
    for (const Json& line : trace) {
        if (line["ev"] != "midi_out") continue;
        const Json& data = line["data"];
        if (data.size() == 3 && (data[0].get<int>() & 0xF0) == 0x90 && data[2].get<int>() > 0)
            return line["t"].get<double>();
    }
    return -1;
}

TEST(OfflineRender, TheSoundsFirstNoteBeginsWhenTheTraceSaysItWasSent) {
    test::TempFolder folder("render-onset");
    const std::string song = folder / "song.mid";
    // One note, at a time on no round number of samples: 1185 ticks of 1041.7 us.
    test::SmfBuilder smf(480);
    smf.tempo(0, 500'000).event(1185, {0x91, 60, 100}).event(480, {0x81, 60, 0});
    test::writeFile(song, smf.endOfTrack().bytes());
    const double sentMs = firstNoteOnMs(headlessTrace(folder, song));
    ASSERT_GT(sentMs, 1000.0);
    const std::string out = folder / "sound.wav";
    ASSERT_EQ(render(jobFor(out, song)), 0);
    const test::DecodedMedia media = decoded(out);
    ASSERT_EQ(media.channels.size(), 2u);
    const auto& left = media.channels[0];
    const auto sounding = std::find_if(left.begin(), left.end(), [](float x) { return x != 0.0f; });
    ASSERT_NE(sounding, left.end());
    const double onsetMs = double(sounding - left.begin()) * 1000.0 / media.sampleRate;
    EXPECT_NEAR(onsetMs, sentMs, 2.0);
}

bool sameSound(const test::DecodedMedia& a, const test::DecodedMedia& b) { return a.channels == b.channels; }
bool samePictures(const test::DecodedMedia& a, const test::DecodedMedia& b) {
    return std::equal(a.frames.begin(), a.frames.end(), b.frames.begin(), b.frames.end(),
                      [](const platform::Image& x, const platform::Image& y) { return x.pixels == y.pixels; });
}

// Decoded pictures and samples are the promise; the files are also the same to the byte
// (no time of creation, no random ids, encoders on fixed threads).
TEST(OfflineRender, TwoRendersOfTheSameJobAreTheSame) {
    test::TempFolder folder("render-twice");
    const std::string song = folder / "song.mid";
    test::writeFile(song, test::shortPiece());
    // MP4's muxer, and Matroska's (WebM's) with the ids it would otherwise draw at random.
    for (const std::string extension : {".mp4", ".webm"}) {
        SCOPED_TRACE(extension);
        const std::string first = folder / ("first" + extension), second = folder / ("second" + extension);
        ASSERT_EQ(render(jobFor(first, song)), 0);
        ASSERT_EQ(render(jobFor(second, song)), 0);
        const test::DecodedMedia a = decoded(first), b = decoded(second);
        ASSERT_FALSE(a.frames.empty());
        EXPECT_TRUE(samePictures(a, b));
        EXPECT_TRUE(sameSound(a, b));
        EXPECT_TRUE(test::readFile(first) == test::readFile(second));
    }
}

// Files may grow no larger than this while it is in force, as on a full disk; writing
// past it fails (SIGXFSZ ignored, so as an error, not a signal).
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        ::getrlimit(RLIMIT_FSIZE, &saved_);
        previous_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limited = saved_;
        limited.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limited);
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &saved_);
        std::signal(SIGXFSZ, previous_);
    }

private:
    rlimit saved_{};
    void (*previous_)(int) = nullptr;
};

std::vector<std::string> namesIn(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

TEST(OfflineRender, AWriteErrorStopsWithOneAndLeavesNothing) {
    test::TempFolder folder("render-full");
    const std::string song = folder / "song.mid";
    test::writeFile(song, test::shortPiece());
    for (const std::string name : {"full.mp4", "full.wav", "frames"}) {
        SCOPED_TRACE(name);
        RenderJob job = jobFor(folder / name, song);
        if (name == "frames") job.width = platform::windowSize.width, job.height = platform::windowSize.height;
        std::string said;
        {
            const FileSizeLimit full(4096);
            EXPECT_EQ(render(job, &said), exitFailed);
        }
        EXPECT_NE(said.find("nothing was left at " + job.out), std::string::npos) << said;
        EXPECT_EQ(namesIn(folder / ""), std::vector<std::string>{"song.mid"});
    }
}

struct RefusedCase {
    std::string name;
    void (*change)(RenderJob& job, const std::string& folder);
    std::string said;  // in the one line
};
const RefusedCase refusedCases[] = {
    {"unknown extension", [](RenderJob& j, const std::string& f) { j.out = f + "/x.avi"; }, "unknown extension .avi"},
    {"no such folder", [](RenderJob& j, const std::string& f) { j.out = f + "/none/x.mp4"; }, "cannot write"},
    {"a file's child", [](RenderJob& j, const std::string& f) { j.out = f + "/song.mid/x.mp4"; }, "cannot write"},
    {"odd width", [](RenderJob& j, const std::string&) { j.width = 321; }, "even width"},
    {"too small", [](RenderJob& j, const std::string&) { j.width = j.height = 8; }, "16 to 8192"},
    {"frames scaled", [](RenderJob& j, const std::string& f) { j.out = f + "/frames/"; }, "window's own"},
    {"frames into a full folder", [](RenderJob& j, const std::string& f) {
         j.out = f + "/full/";
         j.width = platform::windowSize.width, j.height = platform::windowSize.height;
     }, "not an empty folder"},
    {"no frames a second", [](RenderJob& j, const std::string&) { j.fps = 0; }, "1 to 240"},
    {"too many", [](RenderJob& j, const std::string&) { j.fps = 1000; }, "1 to 240"},
    {"no such file", [](RenderJob& j, const std::string& f) { j.file = f + "/none.mid"; }, "no such file"},
};

TEST(OfflineRender, BadOutSizeOrRateIsRefusedWithTwoBeforeAnyWork) {
    test::TempFolder folder("render-refused");
    const std::string song = folder / "song.mid";
    test::writeFile(song, test::shortPiece());
    fs::create_directories(folder / "full");
    test::writeFile(folder / "full/kept.png", {});
    const std::vector<std::string> before = namesIn(folder / "");
    for (const RefusedCase& c : refusedCases) {
        SCOPED_TRACE(c.name);
        RenderJob job = jobFor(folder / "out.mp4", song);
        c.change(job, folder / "");
        std::string said;
        EXPECT_EQ(render(job, &said), exitBadCommandLine);
        EXPECT_NE(said.find(c.said), std::string::npos) << said;
        EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
        EXPECT_EQ(namesIn(folder / ""), before);
    }
}

// Sets the stop request as a signal handler would, once the render says it is halfway.
class StopHalfway final : public std::stringbuf {
public:
    std::atomic<int> stop{0};

private:
    int sync() override {
        if (str().find("rendered 50 %") != std::string::npos) stop = SIGINT;
        return 0;
    }
};

TEST(OfflineRender, AStopRequestFinishesTheFileUpToThatMoment) {
    test::TempFolder folder("render-stop");
    const std::string song = folder / "song.mid";
    test::writeFile(song, test::shortPiece());
    RenderJob job = jobFor(folder / "stopped.mkv", song);
    StopHalfway progress;
    job.stop = &progress.stop;
    std::ostream out(&progress);
    EXPECT_EQ(renderPerformance(job, out), exitStoppedBySignal + SIGINT);
    EXPECT_NE(progress.str().find("stopped by SIGINT"), std::string::npos) << progress.str();
    const test::DecodedMedia media = decoded(job.out);
    const double length = lengthSeconds(headlessTrace(folder, song));
    EXPECT_GT(media.durationSeconds, 0.3 * length);
    EXPECT_LT(media.durationSeconds, 0.7 * length);
    ASSERT_FALSE(media.frames.empty());
    EXPECT_LT(media.frameSeconds.back(), media.durationSeconds);
}

// Listening to a channel that plays nothing, or to a file that stops on an event it
// cannot play before any note, the flake never grows and no finale comes: the render ends
// with the file rather than waiting for ever.
TEST(OfflineRender, APerformanceThatHearsNoNoteEndsWithTheFile) {
    test::TempFolder folder("render-silent");
    const std::string song = folder / "song.mid", broken = folder / "broken.mid";
    test::writeFile(song, test::shortPiece());  // its notes are on channel 2
    test::SmfBuilder smf(480);
    smf.event(0, {0xC1, 5}).event(480, {0xF4}).event(0, {0x91, 60, 100}).event(480, {0x81, 60, 0});
    test::writeFile(broken, smf.endOfTrack().bytes());
    for (const auto& [file, channel] : {std::pair{song, 5}, std::pair{broken, 2}}) {
        RenderJob job = jobFor(folder / "silent.wav", file);
        job.channel = channel;
        std::string said;
        EXPECT_EQ(render(job, &said), 0);
        EXPECT_NE(said.find("no note came on channel " + std::to_string(channel)), std::string::npos) << said;
        EXPECT_LT(decoded(job.out).durationSeconds, 3.0);
    }
}

}  // namespace
}  // namespace vesk::app
