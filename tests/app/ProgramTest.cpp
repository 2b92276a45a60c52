// The built vesk run as a person runs it from a terminal: the tasks beside a performance
// (their output, exit codes and single lines, with no library's noise among them), a file
// that cannot be played, and the installed tree (cmake --install) that finds its demo
// piece, with a desktop entry that validates, the icon and the manual page.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

#include "app/Options.h"
#include "support/Subprocess.h"
#include "AppRun.h"

namespace vesk::app {
namespace {

using test::Subprocess;

// Every line vesk writes on standard error is its own: begun with "vesk: ", or the pointer
// to --help after a refused command line.
::testing::AssertionResult onlyVeskLines(const std::string& err) {
    for (const std::string& line : test::linesOf(err))
        if (line.rfind("vesk: ", 0) != 0 && line != tryHelpLine)
            return ::testing::AssertionFailure() << "a line not vesk's: " << line;
    return ::testing::AssertionSuccess();
}

TEST(Program, TasksFilesThatCannotBePlayedAndRunsThatCannotGoOnSayWhatHappenedOnOneLine) {
    test::TempFolder dir("program");
    const std::string tune = dir / "tune.mid", copy = dir / "copy.mid";
    test::writeFile(tune, test::SmfBuilder().event(0, {0x90, 60, 100}).event(96, {60, 0}).endOfTrack().bytes());
    // A named pipe nobody writes to: opening it as a plain open does would wait for ever.
    const std::string pipe = dir / "pipe.mid", folder = dir / "";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    const std::string openBox = " (\"ファイルオープンのエラーです！\")";
    const std::string format1 = dir / "format1.mid";
    test::writeFile(format1, test::SmfBuilder(480, 1).endOfTrack().bytes());
    const std::string noNoteCanCome = "vesk: the performance waits for a note and nothing is left to play one";
    const struct {
        std::vector<std::string> args;
        int code;
        std::string out, err;  // what they contain; an empty `err` must be all of it
    } cases[] = {
        {{"--version"}, 0, "vesk " VESK_VERSION "\n", ""},
        // The drivers by the names the options take, with none of ALSA's or JACK's own lines.
        {{"--list-ports"}, 0, "  recorder", ""},
        {{"--convert", tune, copy}, 0, "", "vesk: wrote \"" + copy + "\", format 0 with 2 events"},
        {{"--convert", dir / "none.mid", copy}, 1, "", "vesk: cannot open \"" + dir / "none.mid" + "\""},
        {{dir / "none.mid", "--headless"}, 1, "", "vesk: cannot open \"" + dir / "none.mid" + "\": No such file"},
        // A loop with nothing it can play ends at once rather than spin.
        {{"--loop", dir / "none.mid", dir / "none2.mid", "--headless"}, 1, "",
         "passes it over\nvesk: none of the 2 files of the loop can be played\n"},
        {{"--bogus"}, 2, "", "vesk: unknown option '--bogus'"},
        // Only regular files are read, whether given on the command line or in the dialog,
        // which then asks again (and, with no answer left, quits).
        {{pipe, "--headless"}, 1, "", "vesk: cannot open \"" + pipe + "\": it is a named pipe"},
        {{folder, "--headless"}, 1, "", "vesk: cannot open \"" + folder + "\": it is a directory"},
        {{"--convert", pipe, copy}, 1, "", "vesk: cannot open \"" + pipe + "\": it is a named pipe"},
        {{"--headless", "--answer", "run:1:" + pipe}, 0, "",
         "vesk: cannot open \"" + pipe + "\": it is a named pipe, not a regular file" + openBox},
        {{"--headless", "--answer", "run:1:" + folder}, 0, "",
         "vesk: cannot open \"" + folder + "\": it is a directory, not a file" + openBox},
        // On virtual time, with nothing left that could play a note: a channel the file does
        // not play, a file refused.
        {{"--headless", "--answer", "run:2:" + tune}, 0, "", noNoteCanCome},
        {{"--headless", "--answer", "run:1:" + format1}, 0, "", noNoteCanCome},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.front());
        Subprocess vesk(VESK_PROGRAM, c.args);
        EXPECT_EQ(vesk.wait(), c.code);
        EXPECT_NE(vesk.out().find(c.out), std::string::npos) << vesk.out();
        if (c.err.empty()) {
            EXPECT_EQ(vesk.err(), "");
        } else {
            EXPECT_NE(vesk.err().find(c.err), std::string::npos) << vesk.err();
        }
        EXPECT_TRUE(onlyVeskLines(vesk.err()));
    }
    // The copy is the one the player takes: running status written out.
    EXPECT_EQ(test::readFile(copy).substr(22), std::string("\x00\x90\x3C\x64\x60\x90\x3C\x00\x00\xFF\x2F\x00", 12));
}

// A scripted note still to come keeps such a run going: the flake grows, the finale and
// the restart follow, and the dialog, with no answer left, ends the run.
TEST(Program, ARunWaitsForAScriptedNoteStillToCome) {
    test::TempFolder dir("scripted-note");
    const std::string tune = dir / "tune.mid", trace = dir / "trace.jsonl";
    test::writeFile(tune, test::SmfBuilder().event(0, {0x90, 60, 100}).event(96, {60, 0}).endOfTrack().bytes());
    Subprocess vesk(VESK_PROGRAM, {"--headless", "--answer", "run:2:" + tune, "--input", "5000:903c64", "--trace", trace});
    EXPECT_EQ(vesk.wait(), 0);
    EXPECT_EQ(vesk.err().find("waits for a note"), std::string::npos) << vesk.err();
    const std::string lines = test::readFile(trace);
    EXPECT_NE(lines.find("\"segmentCount\":7"), std::string::npos);
    EXPECT_NE(lines.find("\"ev\":\"performance_start\",\"replayMode\":1"), std::string::npos) << "no restart";
}

bool hasProgram(const std::string& name) {
    return std::system(("command -v " + name + " >/dev/null 2>&1").c_str()) == 0;
}

TEST(Program, TheInstalledTreeFindsItsDemoPieceAndCarriesItsDesktopEntryIconAndManual) {
    test::TempFolder prefix("install");
    Subprocess install(VESK_CMAKE, {"--install", VESK_BUILD_DIR, "--prefix", prefix / ""});
    ASSERT_EQ(install.wait(), 0) << install.out() << install.err();
    const std::string share = prefix / "share";
    for (const std::string& file : {share + "/vesk/demo.mid", share + "/applications/vesk.desktop",
                                    share + "/icons/hicolor/256x256/apps/vesk.png"})
        EXPECT_TRUE(std::filesystem::is_regular_file(file)) << file;
#if VESK_WITH_VIDEO
    // Loaded only by a render, from beside the program.
    EXPECT_TRUE(std::filesystem::is_regular_file(prefix / "lib/vesk/vesk-video.so"));
#endif
    if (hasProgram("help2man")) {
        EXPECT_NE(test::readFile(share + "/man/man1/vesk.1").find("channel"), std::string::npos);
    }
    if (hasProgram("desktop-file-validate")) {
        Subprocess validate("/usr/bin/desktop-file-validate", {share + "/applications/vesk.desktop"});
        EXPECT_EQ(validate.wait(), 0) << validate.out();
    }

    // Moved away from the build, it plays the demo piece it carries.
    Subprocess vesk(prefix / "bin/vesk", {"--headless", "--demo", "--until", "1", "--trace", prefix / "trace"});
    EXPECT_EQ(vesk.wait(), 0) << vesk.err();
    EXPECT_NE(vesk.err().find("of \"" + share + "/vesk/demo.mid\""), std::string::npos) << vesk.err();
    EXPECT_NE(test::readFile(prefix / "trace").find("\"ev\":\"midi_out\",\"data\":[145"), std::string::npos)
        << "no note of the demo's channel 2 in the first second";
}

}  // namespace
}  // namespace vesk::app
