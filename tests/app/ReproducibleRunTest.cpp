// A headless run is reproducible: the same command line with the same seed, file and
// scripted input gives the same trace and the same frame files, byte for byte. This is
// what lets a run be compared with a stored one, and a performance be rendered again.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "AppRun.h"

namespace vesk::app {
namespace {

struct RunOutput {
    std::string trace;
    std::map<std::string, std::string> frames;  // by file name
};

// Runs vesk with its outputs in `folder`/run, then moves them to `folder`/`name` so the
// next run writes to the very same paths (the trace names the frame files).
RunOutput runInto(const test::TempFolder& folder, const std::string& song, const std::string& name) {
    const std::string out = folder / "run";
    std::filesystem::create_directories(out);
    EXPECT_EQ(test::runVesk({"--headless", "--seed", "11", "--answer", "run:2:" + song, "--input",
                             "400:503c90", "--input", "900:003c90", "--until", "2", "--trace",
                             out + "/trace.jsonl", "--frames", out + "/frames"}),
              0);
    RunOutput output;
    output.trace = test::readFile(out + "/trace.jsonl");
    for (const auto& entry : std::filesystem::directory_iterator(out + "/frames"))
        output.frames[entry.path().filename().string()] = test::readFile(entry.path().string());
    std::filesystem::rename(out, folder / name);
    return output;
}

TEST(ReproducibleRun, SameArgumentsAndSeedGiveTheSameTraceAndFramesToTheByte) {
    test::TempFolder folder("reproducible-run");
    const std::string song = folder / "song.mid";
    test::writeFile(song, test::shortPiece());

    const RunOutput first = runInto(folder, song, "first");
    const RunOutput second = runInto(folder, song, "second");
    EXPECT_NE(first.trace.find("\"ev\":\"frame\""), std::string::npos) << "the run drew no frame";
    EXPECT_EQ(first.trace, second.trace);
    ASSERT_EQ(first.frames.size(), second.frames.size());
    for (const auto& [file, bytes] : first.frames) {
        const auto other = second.frames.find(file);
        ASSERT_NE(other, second.frames.end()) << file;
        EXPECT_TRUE(bytes == other->second) << file << " differs";
    }
}

}  // namespace
}  // namespace vesk::app
