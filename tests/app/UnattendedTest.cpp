// Unattended play as an installation runs it: a loop that passes over a broken file
// without a box and keeps a picture of each finale, the live take read back as MIDI, and
// many performances of the demo piece and two others with the memory held flat.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <sstream>

#include "app/MidiFileInput.h"
#include "app/Playlist.h"
#include "app/Unattended.h"
#include "platform/headless/PngFile.h"
#include "support/AllocatedBytes.h"
#include "support/HeadlessRun.h"
#include "AppRun.h"

namespace vesk::app {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;

// Quarter notes on channel 2, each file its own, so the first note of a performance says
// which file it plays.
test::Bytes tune(std::initializer_list<std::uint8_t> notes) {
    test::SmfBuilder smf(480);
    for (std::uint8_t note : notes) smf.event(0, {0x91, note, 100}).event(480, {0x81, note, 0});
    return smf.endOfTrack().bytes();
}

std::vector<std::string> filesIn(const std::string& dir) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(dir, ec)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

TEST(Unattended, ALoopPlaysTheGoodFilesInTurnPassesOverABrokenOneWithALineAndKeepsEachFinalesPicture) {
    test::TempFolder dir("loop");
    test::writeFile(dir / "one.mid", tune({60, 62, 64}));
    test::writeFile(dir / "broken.mid", {'n', 'o', 't', ' ', 'M', 'I', 'D', 'I'});
    test::writeFile(dir / "two.mid", tune({72, 74}));
    const std::string list = dir / "list.m3u", trace = dir / "trace.jsonl", snaps = dir / "snaps";
    test::writeFile(list, test::Bytes(std::string_view("# a list\none.mid\nbroken.mid\r\n\ntwo.mid:2\n").begin(),
                                      std::string_view("# a list\none.mid\nbroken.mid\r\n\ntwo.mid:2\n").end()));
    testing::internal::CaptureStderr();
    // Each performance of these files lasts 17 to 21 s: four of them begin, the fourth's
    // finale not yet.
    EXPECT_EQ(test::runVesk({"--headless", "--loop", list, "--until", "60", "--trace", trace, "--seed", "3",
                             "--snapshot", snaps}),
              0);
    const std::string said = testing::internal::GetCapturedStderr();

    std::vector<int> firstNotes;
    std::vector<std::string> expectedSnaps;
    bool inFinale = false, noteTaken = true;
    for (const Json& line : test::traceOf(trace)) {
        EXPECT_NE(line["ev"], "message_box") << line;
        EXPECT_NE(line["ev"], "dialog") << line;
        if (line["ev"] == "performance_start") noteTaken = inFinale = false;
        if (line["ev"] == "midi_out" && !noteTaken && line["data"][0] == 0x91) {
            firstNotes.push_back(line["data"][1]);
            noteTaken = true;
        }
        if (line["ev"] == "tick" && line["finaleStarted"] && !inFinale) {
            inFinale = true;
            const int performance = int(firstNotes.size());
            expectedSnaps.push_back((performance % 2 ? "_one_000" : "_two_000") + std::to_string(performance) + ".png");
        }
    }
    EXPECT_EQ(firstNotes, (std::vector<int>{60, 72, 60, 72}));
    const std::string passedOver = "\"" + dir / "broken.mid" + "\" is not a Standard MIDI File";
    EXPECT_NE(said.find(passedOver), std::string::npos) << said;
    EXPECT_EQ(said.find(passedOver), said.rfind(passedOver)) << "said again though nothing changed:\n" << said;

    // One picture as each finale began, named by the performance and its song, the window's size.
    const std::vector<std::string> pictures = filesIn(snaps);
    ASSERT_EQ(expectedSnaps.size(), 3u);
    ASSERT_EQ(pictures.size(), expectedSnaps.size());
    for (const std::string& name : expectedSnaps)
        EXPECT_EQ(std::count_if(pictures.begin(), pictures.end(), [&](const std::string& p) { return p.ends_with(name); }), 1)
            << name;
    platform::Image image;
    std::string error;
    ASSERT_TRUE(platform::readPng(snaps + "/" + pictures.front(), image, error)) << error;
    EXPECT_EQ(image.width, platform::windowSize.width);
}

// What came from the keyboard, not the file, at its millisecond from the performance's
// start: the first performance's when the second starts, the second's at the quit.
TEST(Unattended, TheLiveTakeOfEachPerformanceReadsBackWithTheSameMessagesAtTheSameMilliseconds) {
    test::TempFolder dir("take");
    const std::string song = dir / "song.mid", take = dir / "takes/live.mid", trace = dir / "trace.jsonl";
    test::writeFile(song, tune({60, 62, 64}));
    EXPECT_EQ(test::runVesk({"--headless", "--loop", song, "--until", "30", "--seed", "3", "--trace", trace,
                             "--record-midi", take, "--input", "1000:903c64", "--input", "1250:b04000",
                             "--input", "1600:f8", "--input", "1700:c005", "--input", "2003:803c00",
                             "--input", "2500:e00040", "--input", "29000:913e50"}),
              0);
    std::int64_t secondStartMs = -1;
    for (const Json& line : test::traceOf(trace))
        if (line["ev"] == "performance_start") secondStartMs = line["t"];
    ASSERT_GT(secondStartMs, 2500);
    ASSERT_LT(secondStartMs, 29000);

    const struct {
        std::string file;
        std::vector<std::pair<std::int64_t, std::uint32_t>> messages;
    } takes[] = {
        // The clock (a system message) is no part of a take.
        {dir / "takes/live-0001.mid",
         {{1000, 0x643C90}, {1250, 0x0040B0}, {1700, 0x05C0}, {2003, 0x003C80}, {2500, 0x4000E0}}},
        {dir / "takes/live-0002.mid", {{29000 - secondStartMs, 0x503E91}}},
    };
    for (const auto& t : takes) {
        SCOPED_TRACE(t.file);
        std::string reason;
        const std::optional<TimedMessages> read = readTimedMessages(t.file, reason);
        ASSERT_TRUE(read) << reason;
        std::vector<std::pair<std::int64_t, std::uint32_t>> got;
        for (const ScriptedInput& m : read->messages) got.emplace_back(m.ms, m.message);
        EXPECT_EQ(got, t.messages);
        EXPECT_NE(test::readFile(t.file).find("\xFF\x03\x04song"), std::string::npos) << "the song's name";
    }
    EXPECT_FALSE(fs::exists(dir / "takes/live-0003.mid"));
}

// Chords of 42 notes, three semitones apart, a quarter apart: the flake is full (2000
// segments) at the 48th, and its box is due.
test::Bytes fillingTheFlake() {
    test::SmfBuilder smf(480);
    for (int chord = 0; chord < 60; ++chord)
        for (int n = 0; n < 42; ++n) smf.event(n == 0 && chord > 0 ? 480 : 0, {0x91, std::uint8_t(n * 3), 100});
    return smf.endOfTrack().bytes();
}

// Many performances of the demo piece, a file that fills the flake and a short one, with
// live input in each and a take kept: what the allocator holds does not grow from round to
// round, and the full flake's box is a line, never a box that would hold the loop up.
TEST(Unattended, TwentyOneLoopedPerformancesHoldNoMoreMemoryAtTheEndAndShowNoBox) {
    constexpr int performances = 21;
    constexpr int settledPerformance = 7;  // two rounds: the demo's buffers, the allocator's caches
    constexpr std::size_t allowedGrowthBytes = 64 * 1024;
    test::TempFolder dir("loop-soak");
    test::writeFile(dir / "full.mid", fillingTheFlake());
    test::writeFile(dir / "b.mid", tune({67}));
    std::ostringstream log;
    std::vector<PlaylistEntry> entries;
    for (const std::string& path : {std::string(VESK_BUILD_DIR "/share/vesk/demo.mid"), dir / "full.mid", dir / "b.mid"})
        entries.push_back({path, std::nullopt, {}});
    LoopingSource source(std::move(entries), std::nullopt, log);
    ASSERT_TRUE(source.start()) << log.str();

    // A small window: the picture's size is not what is soaked.
    test::HeadlessRun run(7, platform::headless::HeadlessClock::Virtual, {64, 48});
    run.platform.modalUi().setErrorLog(&log);
    run.vesk.sequencer.setSource(&source);
    Options options;
    options.loop = {"(the source above)"};
    options.recordMidi = dir / "take.mid";
    Unattended unattended(options, run.vesk);
    std::vector<std::size_t> held;
    int boxes = 0;
    run.platform.onRecord([&](const platform::headless::Record& r) { boxes += r.kind == platform::headless::Record::Kind::MessageBox; });
    run.onPerformance = [&](const Vesk&) {
        run.ticks = {};
        run.midi.clear();
        held.push_back(test::allocatedBytes());
        if (held.size() > performances) run.platform.loop().postQuit(0);
        run.platform.postAt(run.platform.nowMs() + 500, {platform::MessageType::MidiInput, 0x403090});
        run.platform.postAt(run.platform.nowMs() + 700, {platform::MessageType::MidiInput, 0x003080});
    };
    EXPECT_EQ(run.run(std::int64_t(performances) * 3600 * 1000), 0);
    ASSERT_EQ(held.size(), std::size_t(performances + 1));
    EXPECT_LT(held.back(), held[settledPerformance - 1] + allowedGrowthBytes)
        << held[settledPerformance - 1] << " bytes at performance " << settledPerformance << ", " << held.back()
        << " at performance " << performances + 1;
    EXPECT_TRUE(fs::exists(dir / "take-0021.mid"));
    EXPECT_EQ(boxes, 0);
    EXPECT_EQ(log.str().find("passes it over"), std::string::npos) << log.str();
    EXPECT_NE(log.str().find("(\"Buffer is full!\")"), std::string::npos) << log.str();
}

// The loop's only file goes away as the run starts: the failed open is a line, not a box,
// and with nothing left to play the run ends with exit code 1 instead of asking.
TEST(Unattended, ALoopWhoseFilesAllGoAwayEndsWithExitOneWithoutADialogOrABox) {
    test::TempFolder dir("loop-gone");
    test::writeFile(dir / "a.mid", tune({60}));
    std::ostringstream log;
    LoopingSource source({{dir / "a.mid", std::nullopt, {}}}, std::nullopt, log);
    ASSERT_TRUE(source.start());
    fs::remove(dir / "a.mid");
    test::HeadlessRun run;
    run.platform.modalUi().setErrorLog(&log);
    run.vesk.sequencer.setSource(&source);
    Options options;
    options.loop = {dir / "a.mid"};
    Unattended unattended(options, run.vesk);
    EXPECT_EQ(run.run(60'000), exitFailed);
    EXPECT_TRUE(run.boxes().empty());
    EXPECT_TRUE(run.platform.records(platform::headless::Record::Kind::Dialog).empty());
    EXPECT_NE(log.str().find("cannot open"), std::string::npos) << log.str();
    EXPECT_NE(log.str().find("the one file of the loop cannot be played"), std::string::npos) << log.str();
}

TEST(Unattended, AListExpandsFoldersInNameOrderListsRelativeToThemselvesAndChannelsAfterAColon) {
    test::TempFolder dir("playlist");
    fs::create_directories(dir / "songs/sub.mid");
    for (const char* name : {"songs/b.mid", "songs/A.MIDI", "songs/c.txt", "songs/a.mid"}) test::writeFile(dir / name, {});
    const std::string text = "#EXTM3U\n  songs/b.mid:3 \r\n# songs/c.txt\n\n/abs/x.mid:17\nodd:name.mid\n";
    test::writeFile(dir / "l.m3u", test::Bytes(text.begin(), text.end()));
    std::string error;
    const auto entries = expandPlaylist({dir / "songs", dir / "l.m3u:5", "x.mid:16"}, error);
    ASSERT_TRUE(entries) << error;
    std::vector<std::tuple<std::string, int, bool>> got;  // path, channel (-1: none), refused
    for (const PlaylistEntry& e : *entries) got.emplace_back(e.path, e.listenChannel.value_or(-1), !e.channelError.empty());
    const std::vector<std::tuple<std::string, int, bool>> expected = {
        {dir / "songs/A.MIDI", -1, false}, {dir / "songs/a.mid", -1, false}, {dir / "songs/b.mid", -1, false},
        {dir / "songs/b.mid", 2, false},   {"/abs/x.mid", 16, true},         {dir / "odd:name.mid", 4, false},
        {"x.mid", 15, false},
    };
    EXPECT_EQ(got, expected);
    // A list that is not there, and a folder without a MIDI file, are refused at the start.
    fs::create_directories(dir / "empty");
    EXPECT_FALSE(expandPlaylist({dir / "none.m3u"}, error));
    EXPECT_NE(error.find("none.m3u"), std::string::npos) << error;
    EXPECT_FALSE(expandPlaylist({dir / "empty"}, error));
    EXPECT_NE(error.find("no MIDI file"), std::string::npos) << error;
}

}  // namespace
}  // namespace vesk::app
