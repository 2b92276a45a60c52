// Recorded sessions played again: a live run on the real clock whose ticks came late
// replays tick for tick with the same frames (where a plain run of the same input does
// not), and renders to the frames it showed; dialogs, a box and two performances replay
// as they were answered, one performance renders alone, and a changed file is refused; a
// run killed mid-way leaves a session that replays as far as it got; the box a full mesh
// raises inside a tick stays open in the replay as long as it stayed open live; a session
// that no run could have written is refused with its line and why, and a named pipe or a
// folder is refused without waiting.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "app/GivenFile.h"
#include "app/Modes.h"
#include "app/SessionFile.h"
#include "app/SessionRecorder.h"
#include "support/SmfBuilder.h"
#include "support/Subprocess.h"
#include "AppRun.h"

namespace vesk::app {
namespace {

using namespace std::chrono_literals;
using Json = nlohmann::json;

// What each tick left, in order, without the time it came at.
std::vector<Json> ticksOf(const std::string& trace) {
    std::vector<Json> ticks;
    for (Json line : test::traceOf(trace)) {
        if (!line.is_object() || line["ev"] != "tick") continue;
        line.erase("t");
        ticks.push_back(line);
    }
    return ticks;
}

// Each frame's file, in order, by a hash of its bytes.
std::vector<std::size_t> framesIn(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) names.push_back(entry.path().string());
    std::sort(names.begin(), names.end());
    std::vector<std::size_t> frames;
    for (const std::string& name : names) frames.push_back(std::hash<std::string>{}(test::readFile(name)));
    return frames;
}

// A burst of notes with the pedal, as a keyboard plays them, from 1.2 s on.
std::vector<std::string> liveBurst() {
    std::vector<std::string> args;
    for (int i = 0; i < 24; ++i) {
        const int ms = 1200 + i * 41;
        char on[16], off[16];
        std::snprintf(on, sizeof on, "%d:90%02x60", ms, 40 + i);
        std::snprintf(off, sizeof off, "%d:80%02x00", ms + 130, 40 + i);
        args.insert(args.end(), {"--input", on, "--input", off});
    }
    args.insert(args.end(), {"--input", "1190:b04070", "--input", "2300:b04000"});
    return args;
}

TEST(Session, ALateLiveRunReplaysTickForTickWithItsFramesAndRendersToThem) {
    test::TempFolder dir("session-live");
    const std::string session = dir / "live.session", live = dir / "live.jsonl", replayed = dir / "replayed.jsonl",
                      plain = dir / "plain.jsonl";
    std::vector<std::string> args = {"--headless", VESK_DEMO_PIECE, "--until", "4.5", "--seed", "9"};
    const std::vector<std::string> burst = liveBurst();
    args.insert(args.end(), burst.begin(), burst.end());

    // The live run, on the real clock, its window held up twice as a busy machine holds
    // it: ticks come late and the file's notes bunch into the ticks that come.
    std::vector<std::string> liveArgs = args;
    liveArgs.insert(liveArgs.end(), {"--clock", "real", "--record", session, "--trace", live, "--frames", dir / "live"});
    std::string error;
    const std::optional<Options> options = parseCommandLine(liveArgs, error);
    ASSERT_TRUE(options) << error;
    const std::unique_ptr<midi::SmfSource> source = chooseSource(*options, std::cerr, error);
    const std::unique_ptr<SessionRecorder> recorder = SessionRecorder::open(session, error);
    ASSERT_TRUE(source && recorder) << error;
    platform::headless::HeadlessPlatform platform(platform::windowSize.width, platform::windowSize.height,
                                                  platform::headless::HeadlessClock::Real);
    for (const int ms : {900, 2600}) platform.runAt(ms, [] { std::this_thread::sleep_for(450ms); });
    QuitOnSignals signals;
    ASSERT_EQ(runHeadless({*options, signals, 9, recorder.get(), nullptr}, *source, &platform), 0);

    ASSERT_EQ(test::runVesk({"--headless", "--session", session, "--trace", replayed, "--frames", dir / "replayed"}), 0);
    const std::vector<Json> ticks = ticksOf(live);
    ASSERT_GT(ticks.size(), 15u);
    EXPECT_EQ(ticksOf(replayed), ticks);
    EXPECT_EQ(framesIn(dir / "replayed"), framesIn(dir / "live"));
    // The same input on virtual time without the session: the late ticks made a difference.
    args.insert(args.end(), {"--trace", plain});
    ASSERT_EQ(test::runVesk(args), 0);
    EXPECT_NE(ticksOf(plain), ticks);

    // The render shows each picture the window showed, in turn (the last only at the very end).
    ASSERT_EQ(test::runVesk({"--render", dir / "render", "--session", session}), 0);
    const std::vector<std::size_t> shown = framesIn(dir / "live"), rendered = framesIn(dir / "render");
    auto at = rendered.begin();
    for (std::size_t i = 0; i + 1 < shown.size(); ++i) {
        at = std::find(at, rendered.end(), shown[i]);
        ASSERT_NE(at, rendered.end()) << "frame " << i + 1 << " of the live run is not in the render, in its turn";
    }
}

// The dialog's answers are spent after the second performance: the third's dialog quits.
TEST(Session, DialogsABoxAndTwoPerformancesReplayAsAnsweredAndOnePerformanceRendersAlone) {
    test::TempFolder dir("session-dialogs");
    const std::string tune = dir / "tune.mid", session = dir / "s.session", live = dir / "live.jsonl",
                      replayed = dir / "replayed.jsonl";
    test::writeFile(tune, test::shortPiece());
    testing::internal::CaptureStderr();
    ASSERT_EQ(test::runVesk({"--headless", "--answer", "run:2:" + dir / "missing.mid", "--answer", "run:2:" + tune,
                             "--answer", "run:2:" + tune, "--seed", "4", "--record", session, "--trace", live}),
              0);
    ASSERT_EQ(test::runVesk({"--headless", "--session", session, "--trace", replayed}), 0);
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(ticksOf(replayed), ticksOf(live));
    const auto answers = [](const std::string& trace) {
        std::vector<Json> shown;
        for (Json line : test::traceOf(trace))
            if (line["ev"] == "dialog" || line["ev"] == "message_box" || line["ev"] == "performance_start")
                shown.push_back(Json{line["ev"], line.value("result", ""), line.value("text", "")});
        return shown;
    };
    const std::vector<Json> liveAnswers = answers(live);
    EXPECT_EQ(answers(replayed), liveAnswers);
    EXPECT_EQ(std::count(liveAnswers.begin(), liveAnswers.end(), Json{"message_box", "", "ファイルオープンのエラーです！"}), 1)
        << Json(liveAnswers);

    // A picture a second: only how many there are counts here. The run lasts about 40 s,
    // its second performance about 18 s of it.
    ASSERT_EQ(test::runVesk({"--render", dir / "second", "--session", session, "--performance", "2", "--fps", "1"}), 0);
    const std::size_t second = framesIn(dir / "second").size();
    EXPECT_GT(second, 10u);
    EXPECT_LT(second, 25u);

    testing::internal::CaptureStderr();
    // The third performance began, and its dialog ended the run.
    EXPECT_EQ(test::runVesk({"--render", dir / "fourth", "--session", session, "--performance", "4"}), exitFailed);
    test::Bytes changed = test::shortPiece();
    changed.back() ^= 1;
    test::writeFile(tune, changed);
    EXPECT_EQ(test::runVesk({"--headless", "--session", session}), exitFailed);
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_NE(said.find("has 3 performances, not 4"), std::string::npos) << said;
    EXPECT_NE(said.find(tune + " has changed since the session was recorded"), std::string::npos) << said;
}

// The box a full mesh raises opens inside a tick, and ticks go on while it is open; the
// live run keeps it open three times as long as a replay's own box would stay.
TEST(Session, AFullMeshBoxRaisedInsideATickStaysOpenUntilTheTickItWasAnsweredAt) {
    test::TempFolder dir("session-full");
    const std::string session = dir / "s.session", live = dir / "live.jsonl", replayed = dir / "replayed.jsonl";
    // Chords of 42 notes three semitones apart, one a quarter: the mesh fills on the 48th.
    test::SmfBuilder smf(480);
    for (int chord = 0; chord < 60; ++chord)
        for (int n = 0; n < 42; ++n) smf.event(n == 0 && chord > 0 ? 480 : 0, {0x90, std::uint8_t(n * 3), 100});
    const std::string dense = dir / "dense.mid";
    test::writeFile(dense, smf.endOfTrack().bytes());

    std::string error;
    const std::optional<Options> options =
        parseCommandLine({"--headless", dense, "--until", "40", "--seed", "2", "--record", session, "--trace", live}, error);
    ASSERT_TRUE(options) << error;
    const std::unique_ptr<midi::SmfSource> source = chooseSource(*options, std::cerr, error);
    const std::unique_ptr<SessionRecorder> recorder = SessionRecorder::open(session, error);
    ASSERT_TRUE(source && recorder) << error;
    platform::headless::HeadlessPlatform platform(64, 48);
    platform.setMessageBoxOpenMs(3000);
    QuitOnSignals signals;
    ASSERT_EQ(runHeadless({*options, signals, 2, recorder.get(), nullptr}, *source, &platform), 0);

    testing::internal::CaptureStderr();
    ASSERT_EQ(test::runVesk({"--headless", "--session", session, "--trace", replayed}), 0);
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_EQ(said.find("went otherwise"), std::string::npos) << said;
    const std::vector<Json> liveTicks = ticksOf(live);
    ASSERT_GT(liveTicks.size(), 100u);
    EXPECT_EQ(ticksOf(replayed), liveTicks);
}

TEST(Session, AForgedSessionIsRefusedWithItsLineAndWhyAndAPipeOrAFolderWithoutWaiting) {
    test::TempFolder dir("session-forged");
    const std::string session = dir / "s.session";
    ASSERT_EQ(test::runVesk({"--headless", VESK_DEMO_PIECE, "--channel", "2", "--until", "2", "--seed", "1",
                             "--input", "1000:903c50", "--record", session}),
              0);
    const std::string text = test::readFile(session);
    std::string error;
    ASSERT_TRUE(readSession(session, error)) << error;
    const struct {
        std::string from, to, said;
    } forgeries[] = {
        {R"("width":1024)", R"("width":100000)", "line 1: the window's width is 100000, not a whole number from 1 to 16384"},
        {R"("channel":2})", R"("channel":17})", "line 3: a channel is 17"},
        {R"("on":[74])", R"("on":[128])", "a note is 128"},
        {R"("msg":"903c50")", R"("msg":"90zz50")", "a live message is six hex digits"},
        {R"("ms":1000.0)", R"("ms":1e300)", "a time of 1e+300 ms lies outside"},
        {R"("tick":5,)", R"("tick":3,)", "comes before the line above's"},
    };
    for (const auto& forged : forgeries) {
        std::string changed = text;
        const std::size_t at = changed.find(forged.from);
        ASSERT_NE(at, std::string::npos) << forged.from << " is not in\n" << text;
        changed.replace(at, forged.from.size(), forged.to);
        test::writeFile(session, test::Bytes(changed.begin(), changed.end()));
        EXPECT_FALSE(readSession(session, error)) << forged.to;
        EXPECT_NE(error.find(forged.said), std::string::npos) << error;
    }
    ASSERT_EQ(::mkfifo((dir / "pipe").c_str(), 0600), 0);
    EXPECT_FALSE(readSession(dir / "pipe", error));
    EXPECT_NE(error.find("named pipe"), std::string::npos) << error;
    std::filesystem::create_directory(dir / "folder");
    EXPECT_FALSE(readSession(dir / "folder", error));
    EXPECT_NE(error.find("directory"), std::string::npos) << error;
}

TEST(Session, ARunKilledMidWayLeavesASessionThatReplaysAsFarAsItGot) {
    test::TempFolder dir("session-killed");
    const std::string session = dir / "s.session", replayed = dir / "replayed.jsonl";
    test::Subprocess vesk(VESK_PROGRAM, {"--headless", "--clock", "real", VESK_DEMO_PIECE, "--until", "60",
                                         "--record", session});
    // Flushed at least once a second: what has come is in the file while the run goes on.
    const auto reached = [&session] {
        for (const Json& line : test::traceOf(session))
            if (line.is_object() && line["ev"] == "at" && line["tick"] >= 8) return true;
        return false;
    };
    for (auto deadline = std::chrono::steady_clock::now() + 30s; !reached() && std::chrono::steady_clock::now() < deadline;)
        std::this_thread::sleep_for(50ms);
    ASSERT_TRUE(reached());
    ::kill(vesk.pid(), SIGKILL);
    vesk.wait();

    std::string error;
    const std::optional<Session> read = readSession(session, error);
    ASSERT_TRUE(read) << error;
    EXPECT_FALSE(read->ended);
    const std::int64_t lastTick = read->events.back().at.tick;
    ASSERT_EQ(test::runVesk({"--headless", "--session", session, "--trace", replayed}), 0);
    const std::vector<Json> ticks = ticksOf(replayed);
    EXPECT_GE(std::int64_t(ticks.size()), lastTick - 1);
    EXPECT_LE(std::int64_t(ticks.size()), lastTick);
}

}  // namespace
}  // namespace vesk::app
