// A file given on the command line: where its copy goes, what is played (the file as it
// is, or the merged copy of a format-1 file), the channel "auto" listens to, what is said,
// and a whole headless run of vesk FILE that plays the merged events at once and offers
// the copy when the dialog returns.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "app/GivenFile.h"
#include "AppRun.h"

namespace vesk::app {
namespace {

using test::Bytes;
using test::SmfBuilder;

// A conductor track, then a track each for channels 2 (three notes), 10 (five drum hits)
// and 1 (one note); the drums play most, channel 2 most of the melodic ones.
Bytes bandPiece() {
    SmfBuilder conductor;
    conductor.tempo(0, 400'000).tempo(960, 600'000).endOfTrack();
    SmfBuilder tune, drums, bass;
    for (std::uint8_t note : {60, 64, 67}) tune.event(0, {0x91, note, 90}).event(480, {0x81, note, 0});
    for (int i = 0; i < 5; ++i) drums.event(i ? 240 : 0, {0x99, 36, 100});
    bass.event(240, {0x90, 36, 80}).event(960, {0x80, 36, 0});
    return test::multiTrackFile(1, 480, {conductor, tune.endOfTrack(), drums.endOfTrack(), bass.endOfTrack()});
}

TEST(GivenFile, CopiesGoToTheXdgCacheFolderElseTheHomeCache) {
    const struct {
        const char* xdg;
        const char* home;
        std::string folder;
    } cases[] = {
        {"/x/cache", "/home/u", "/x/cache/vesk"},
        {"relative/cache", "/home/u", "/home/u/.cache/vesk"},  // not absolute: not used
        {nullptr, "/home/u", "/home/u/.cache/vesk"},
        {nullptr, nullptr, ""},
    };
    for (const auto& c : cases) EXPECT_EQ(cacheFolder(c.xdg, c.home).string(), c.folder);
}

struct Prepared {
    std::optional<midi::SmfChoice> choice;
    std::string log, error;
};

Prepared prepare(const Options& o) {
    Prepared p;
    std::ostringstream log;
    p.choice = prepareGivenFile(o, log, p.error);
    p.log = log.str();
    return p;
}

TEST(GivenFile, AFormat1FileIsPlayedFromItsMergedCopyAndAFormat0FileAsItIs) {
    test::TempFolder dir("given");
    ::setenv("XDG_CACHE_HOME", (dir / "cache").c_str(), 1);
    Options o;
    o.file = dir / "band.mid";
    test::writeFile(o.file, bandPiece());
    const Prepared band = prepare(o);
    ASSERT_TRUE(band.choice) << band.error;
    const std::string copy = dir / "cache/vesk/band.format0.mid";
    EXPECT_EQ(band.choice->path, copy);
    EXPECT_EQ(band.choice->listenChannel, 1);
    EXPECT_EQ(band.log, "vesk: listening to channel 2 of \"" + o.file +
                            "\", the melodic one with the most notes (3); --channel N chooses another\n"
                            "vesk: \"" + o.file + "\" is format 1 with 4 tracks; playing its format-0 copy " +
                            copy + "\n");
    std::string error;
    const auto merged = midi::mergeSmf(bandPiece(), error);
    ASSERT_TRUE(merged);
    const auto expected = midi::writeFormat0(*merged, error);
    ASSERT_TRUE(expected);
    EXPECT_EQ(test::readFile(copy), std::string(expected->begin(), expected->end()));

    // A format-0 file the player takes plays as it is, on the channel given.
    o.file = dir / "tune.mid";
    test::writeFile(o.file, test::shortPiece());
    o.listenChannel = 4;
    const Prepared tune = prepare(o);
    ASSERT_TRUE(tune.choice) << tune.error;
    EXPECT_EQ(tune.choice->path, o.file);
    EXPECT_EQ(tune.choice->listenChannel, 4);
    EXPECT_EQ(tune.log, "");
}

TEST(GivenFile, AFileThatCannotBePlayedIsRefusedWithWhyAndNoCopy) {
    test::TempFolder dir("refused");
    const std::string notAFolder = dir / "file";
    test::writeFile(notAFolder, {1});
    test::writeFile(dir / "empty.mid", {});
    test::writeFile(dir / "patterns.mid", test::multiTrackFile(2, 96, {SmfBuilder().endOfTrack()}));
    test::writeFile(dir / "band.mid", bandPiece());
    const struct {
        std::string file, cache, says;
    } cases[] = {
        {dir / "missing.mid", dir / "cache", "cannot open \"" + dir / "missing.mid" + "\": No such file"},
        {dir / "empty.mid", dir / "cache", "\"" + dir / "empty.mid" + "\" is not a Standard MIDI File"},
        {dir / "patterns.mid", dir / "cache", "is format 2"},
        {dir / "band.mid", notAFolder, "cannot make the folder \"" + notAFolder + "/vesk\""},
    };
    for (const auto& c : cases) {
        ::setenv("XDG_CACHE_HOME", c.cache.c_str(), 1);
        Options o;
        o.file = c.file;
        const Prepared p = prepare(o);
        EXPECT_FALSE(p.choice) << c.file;
        EXPECT_NE(p.error.find(c.says), std::string::npos) << p.error;
    }
    EXPECT_FALSE(std::filesystem::exists(dir / "cache/vesk"));
}

using Json = nlohmann::json;

// vesk --headless FILE, as a person would start it with a format-1 file: its notes play at
// once in merged order, the flake grows from channel 2's, and the dialog that returns
// after the finale offers the copy and that channel.
TEST(GivenFile, VeskHeadlessPlaysAFormat1FileMergedAndTheDialogThenOffersTheCopy) {
    test::TempFolder dir("headless-given");
    ::setenv("XDG_CACHE_HOME", (dir / "cache").c_str(), 1);
    const std::string file = dir / "band.mid", trace = dir / "trace.jsonl";
    test::writeFile(file, bandPiece());
    EXPECT_EQ(test::runVesk({"--headless", file, "--trace", trace, "--until", "300", "--seed", "3"}), 0);

    std::vector<std::vector<int>> notes;  // the file's notes as played, every channel but the voice's
    int grown = 0;
    Json dialog;
    for (const Json& line : test::traceOf(trace)) {
        if (line["ev"] == "dialog" && dialog.is_null()) dialog = line;
        if (line["ev"] == "tick" && line["scoreTick"] > 0) grown = std::max(grown, int(line["segmentCount"]) - 6);
        if (line["ev"] != "midi_out" || !dialog.is_null()) continue;
        const std::vector<int> bytes = line["data"];
        if ((bytes[0] & 0xE0) == 0x80 && (bytes[0] & 0x0F) != 0) notes.push_back(bytes);
    }
    const std::vector<std::vector<int>> merged = {
        {0x91, 60, 90}, {0x99, 36, 100}, {0x99, 36, 100}, {0x81, 60, 0}, {0x91, 64, 90}, {0x99, 36, 100},
        {0x99, 36, 100}, {0x81, 64, 0}, {0x91, 67, 90}, {0x99, 36, 100}, {0x81, 67, 0},
        {0x89, 36, 0},  // the drum the file left down, released when its playback ends
    };
    EXPECT_EQ(notes, merged);
    EXPECT_EQ(grown, 3) << "the flake grows from channel 2's three notes";
    ASSERT_FALSE(dialog.is_null()) << "no dialog after the finale";
    EXPECT_EQ(dialog["file"], dir / "cache/vesk/band.format0.mid");
    EXPECT_EQ(dialog["channel"], "2");
}

}  // namespace
}  // namespace vesk::app
