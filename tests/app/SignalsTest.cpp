// SIGINT and SIGTERM sent to a real vesk process in the middle of a performance: the run
// ends through its message loop with the shell's exit code, the trace ends with its exit
// line, and nothing is left sounding; a render in progress keeps what it made so far.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "AppRun.h"

extern char** environ;

namespace vesk::app {
namespace {

using Json = nlohmann::json;
using namespace std::chrono_literals;

// Generous: each wait ends as soon as what it waits for is there.
constexpr auto patience = 20s;

bool traceHas(const std::string& path, auto&& predicate) {
    for (const Json& line : test::traceOf(path))
        if (line.is_object() && predicate(line)) return true;
    return false;
}

bool isNoteOn(const Json& line) {
    return line.value("ev", "") == "midi_out" && line["data"].size() == 3 && (line["data"][0].get<int>() & 0xF0) == 0x90 &&
           line["data"][2].get<int>() > 0;
}

// "channel:note" of every note-on the trace sent that neither its note-off nor a reset followed.
std::set<std::string> leftSounding(const std::vector<Json>& lines) {
    std::set<std::string> sounding;
    for (const Json& line : lines) {
        if (!line.is_object()) continue;
        if (line.value("ev", "") == "midi_reset") sounding.clear();
        if (line.value("ev", "") != "midi_out" || line["data"].size() != 3) continue;
        const int status = line["data"][0], note = line["data"][1], velocity = line["data"][2];
        const std::string key = std::to_string(status & 0x0F) + ":" + std::to_string(note);
        if ((status & 0xF0) == 0x90 && velocity > 0) sounding.insert(key);
        else if ((status & 0xF0) == 0x80 || (status & 0xF0) == 0x90) sounding.erase(key);
    }
    return sounding;
}

// Waits for the process to end; its wait status, or -1 (and it is killed) if it does not.
int waitForEnd(pid_t pid) {
    const auto deadline = std::chrono::steady_clock::now() + patience;
    int status = 0;
    while (std::chrono::steady_clock::now() < deadline) {
        if (waitpid(pid, &status, WNOHANG) == pid) return status;
        std::this_thread::sleep_for(10ms);
    }
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    return -1;
}

TEST(Signals, EndTheRunThroughItsLoopWithTheShellsExitCodeAndNothingLeftSounding) {
    // Long notes on the listened channel 2 and an accompaniment held under the pedal on 3.
    test::SmfBuilder smf(480);
    smf.event(0, {0xB2, 64, 127}).event(0, {0x92, 48, 80});
    for (int bar = 0; bar < 30; ++bar) smf.event(bar ? 480 : 0, {0x91, std::uint8_t(60 + bar % 12), 90});
    const test::Bytes piece = smf.endOfTrack().bytes();
    const struct {
        int signal;
        int exitCode;
    } cases[] = {{SIGTERM, 143}, {SIGINT, 130}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.signal);
        test::TempFolder folder("signals");
        const std::string song = folder / "song.mid", trace = folder / "trace.jsonl";
        test::writeFile(song, piece);
        const std::vector<std::string> args = {VESK_PROGRAM, "--headless", "--clock", "real", "--answer",
                                               "run:2:" + song, "--trace", trace};
        std::vector<char*> argv;
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        pid_t pid = 0;
        ASSERT_EQ(posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ), 0);

        // Sent while notes sound: once the tune's second note has gone out.
        int noteOns = 0;
        const auto deadline = std::chrono::steady_clock::now() + patience;
        while (noteOns < 3 && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(20ms);
            noteOns = 0;
            for (const Json& line : test::traceOf(trace)) noteOns += line.is_object() && isNoteOn(line);
        }
        EXPECT_GE(noteOns, 3);
        kill(pid, c.signal);

        const int status = waitForEnd(pid);
        ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
        EXPECT_EQ(WEXITSTATUS(status), c.exitCode);
        const std::vector<Json> lines = test::traceOf(trace);
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(lines.back().value("ev", ""), "exit");
        EXPECT_EQ(lines.back().value("code", 0), c.exitCode);
        EXPECT_EQ(leftSounding(lines), std::set<std::string>{});
        EXPECT_TRUE(traceHas(trace, [](const Json& l) { return l.value("ev", "") == "midi_reset"; }));
    }
}

// Starts the program with `args`, its standard error going to `errors`.
pid_t spawnVesk(const std::vector<std::string>& args, const std::string& errors) {
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = 0;
    const int result = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return result == 0 ? pid : -1;
}

TEST(Signals, StopARenderWithTheFramesMadeSoFarUnderItsName) {
    test::SmfBuilder smf(480);
    for (int beat = 0; beat < 120; ++beat) smf.event(beat ? 480 : 0, {0x91, std::uint8_t(60 + beat % 12), 90});
    test::TempFolder folder("render-signal");
    const std::string song = folder / "song.mid", frames = folder / "frames", errors = folder / "errors.txt";
    test::writeFile(song, smf.endOfTrack().bytes());
    const pid_t pid = spawnVesk({VESK_PROGRAM, "--render", frames, song, "--seed", "1"}, errors);
    ASSERT_GT(pid, 0);
    // Sent once the render has said its first tenth.
    const auto deadline = std::chrono::steady_clock::now() + patience;
    while (test::readFile(errors).find("rendered 10 %") == std::string::npos &&
           std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(10ms);
    kill(pid, SIGTERM);

    const int status = waitForEnd(pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 143) << test::readFile(errors);
    EXPECT_NE(test::readFile(errors).find("stopped by SIGTERM"), std::string::npos) << test::readFile(errors);
    ASSERT_TRUE(std::filesystem::is_directory(frames));
    const auto made = std::distance(std::filesystem::directory_iterator(frames), std::filesystem::directory_iterator{});
    EXPECT_GT(made, 0);
}

}  // namespace
}  // namespace vesk::app
