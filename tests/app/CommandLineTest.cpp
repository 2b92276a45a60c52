// The command line: every option's good forms give the options a run is made from, and
// bad forms are refused with one line that names the option.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "app/Options.h"
#include "midi/SmfLoading.h"

namespace vesk::app {
namespace {

using platform::headless::DialogAnswer;
using platform::headless::DisplayMode;
using Args = std::vector<std::string>;

DialogAnswer pressed(int button, std::vector<std::pair<int, std::string>> typed = {}) {
    DialogAnswer a;
    a.typed = std::move(typed);
    a.controlId = button;
    a.openMs = 0;
    return a;
}

void expectSameAnswers(const std::vector<DialogAnswer>& actual, const std::vector<DialogAnswer>& expected) {
    ASSERT_EQ(actual.size(), expected.size());
    for (std::size_t i = 0; i < actual.size(); ++i) {
        EXPECT_EQ(actual[i].typed, expected[i].typed) << i;
        EXPECT_EQ(actual[i].action, expected[i].action) << i;
        EXPECT_EQ(actual[i].controlId, expected[i].controlId) << i;
        EXPECT_EQ(actual[i].openMs, expected[i].openMs) << i;
    }
}

void expectSame(const Options& actual, const Options& expected) {
    EXPECT_EQ(actual.file, expected.file);
    EXPECT_EQ(actual.listenChannel, expected.listenChannel);
    EXPECT_EQ(actual.demo, expected.demo);
    EXPECT_EQ(actual.version, expected.version);
    EXPECT_EQ(actual.listPorts, expected.listPorts);
    EXPECT_EQ(actual.convert, expected.convert);
    EXPECT_EQ(actual.help, expected.help);
    EXPECT_EQ(actual.headless, expected.headless);
    EXPECT_EQ(actual.realClock, expected.realClock);
    EXPECT_EQ(actual.windowed, expected.windowed);
    expectSameAnswers(actual.answers, expected.answers);
    ASSERT_EQ(actual.inputs.size(), expected.inputs.size());
    for (std::size_t i = 0; i < actual.inputs.size(); ++i) {
        EXPECT_EQ(actual.inputs[i].ms, expected.inputs[i].ms) << i;
        EXPECT_EQ(actual.inputs[i].message, expected.inputs[i].message) << i;
    }
    EXPECT_EQ(actual.untilSeconds, expected.untilSeconds);
    EXPECT_EQ(actual.trace, expected.trace);
    EXPECT_EQ(actual.framesDir, expected.framesDir);
    EXPECT_EQ(actual.renderOut, expected.renderOut);
    EXPECT_EQ(actual.fps, expected.fps);
    EXPECT_EQ(actual.renderSize, expected.renderSize);
    EXPECT_EQ(actual.inputFile, expected.inputFile);
    EXPECT_EQ(actual.modes, expected.modes);
    EXPECT_EQ(actual.seed, expected.seed);
    EXPECT_EQ(actual.loop, expected.loop);
    EXPECT_EQ(actual.snapshotDir, expected.snapshotDir);
    EXPECT_EQ(actual.recordMidi, expected.recordMidi);
    EXPECT_EQ(actual.recordSession, expected.recordSession);
    EXPECT_EQ(actual.session, expected.session);
    EXPECT_EQ(actual.performance, expected.performance);
    EXPECT_EQ(actual.midi.output, expected.midi.output);
    EXPECT_EQ(actual.midi.input, expected.midi.input);
    EXPECT_EQ(actual.midi.soundFont, expected.midi.soundFont);
    EXPECT_EQ(actual.midi.outputPort, expected.midi.outputPort);
    EXPECT_EQ(actual.midi.inputPort, expected.midi.inputPort);
}

std::string joined(const Args& args) {
    std::string text;
    for (const std::string& a : args) text += a + " ";
    return text;
}

struct GoodCase {
    Args args;
    std::function<void(Options&)> expect;  // applied to the default options
};

const GoodCase goodCases[] = {
    {{}, [](Options&) {}},
    // FILE anywhere among the options; the channel as typed, 1-based; auto is no channel.
    {{"--windowed", "songs/a b.mid", "--channel", "16"}, [](Options& o) {
         o.windowed = true;
         o.file = "songs/a b.mid";
         o.listenChannel = 15;
     }},
    {{"--headless", "song.mid", "--channel=auto"}, [](Options& o) {
         o.headless = true;
         o.file = "song.mid";
     }},
    {{"--demo", "--channel", "1"}, [](Options& o) {
         o.demo = true;
         o.listenChannel = 0;
     }},
    {{"--convert", "in.mid", "out.mid"}, [](Options& o) { o.convert = {"in.mid", "out.mid"}; }},
    {{"--list-ports", "--midi-in", "jack"}, [](Options& o) {
         o.listPorts = true;
         o.midi.input = "jack";
     }},
    {{"--version"}, [](Options& o) { o.version = true; }},
    {{"--help"}, [](Options& o) { o.help = true; }},
    {{"-h"}, [](Options& o) { o.help = true; }},
    {{"--windowed", "--seed", "4294967295"}, [](Options& o) {
         o.windowed = true;
         o.seed = 4294967295u;
     }},
    {{"--midi-out", "jack", "--midi-in", "none", "--soundfont", "/s/gm.sf2", "--out-port", "Synth 1",
      "--in-port", "Keys"},
     [](Options& o) {
         o.midi.output = "jack";
         o.midi.input = "none";
         o.midi.soundFont = "/s/gm.sf2";
         o.midi.outputPort = "Synth 1";
         o.midi.inputPort = "Keys";
     }},
    // The file name keeps its own colons; the channel is as typed, checked by the dialog.
    {{"--headless", "--answer", "run:16:songs/a:b.mid", "--answer", "quit", "--answer", "close"},
     [](Options& o) {
         o.headless = true;
         DialogAnswer close = pressed(0);
         close.action = DialogAnswer::Action::Close;
         o.answers = {pressed(midi::runButton, {{midi::fileNameControl, "songs/a:b.mid"},
                                                {midi::channelControl, "16"}}),
                      pressed(midi::quitButton), close};
     }},
    // The status in the low byte, then data1, then data2: the word a MIDI input delivers.
    {{"--headless", "--input", "1500:903c64", "--input", "10:c0", "--input", "0:B07F", "--input", "7:e0"},
     [](Options& o) {
         o.headless = true;
         o.inputs = {{1500, 0x643C90}, {10, 0xC0}, {0, 0x7FB0}, {7, 0xE0}};
     }},
    {{"--headless", "--until", "2.5", "--trace", "-", "--frames", "out/frames", "--clock", "real"},
     [](Options& o) {
         o.headless = o.realClock = true;
         o.untilSeconds = 2.5;
         o.trace = "-";
         o.framesDir = "out/frames";
     }},
    // Each --modes adds to the set; a later --until or --clock overrides an earlier one.
    {{"--headless", "--modes", "800x600x16,640x480x8", "--modes", "320x200x8", "--until", "9", "--until",
      "0", "--clock", "real", "--clock", "virtual"},
     [](Options& o) {
         o.headless = true;
         o.modes = {{800, 600, 16}, {640, 480, 8}, {320, 200, 8}};
         o.untilSeconds = 0.0;
     }},
    // A render without FILE performs the demo piece, so its channel may be chosen.
    {{"--render", "out.mp4", "--channel", "3", "--fps", "59.94", "--size", "640x480", "--input-file", "k.mid"},
     [](Options& o) {
         o.renderOut = "out.mp4";
         o.listenChannel = 2;
         o.fps = 59.94;
         o.renderSize = platform::Size{640, 480};
         o.inputFile = "k.mid";
     }},
    // --loop takes everything up to the next option; the channel is then the list's own.
    {{"--loop", "a.mid", "songs/", "l.m3u", "--channel", "3", "--snapshot", "s", "--record-midi", "t.mid"},
     [](Options& o) {
         o.loop = {"a.mid", "songs/", "l.m3u"};
         o.listenChannel = 2;
         o.snapshotDir = "s";
         o.recordMidi = "t.mid";
     }},
    // A session is recorded in either mode and replayed headless or rendered, whole or one performance.
    {{"--demo", "--record", "s.session"}, [](Options& o) {
         o.demo = true;
         o.recordSession = "s.session";
     }},
    {{"--render", "v.mp4", "--session", "s.session", "--performance", "3"}, [](Options& o) {
         o.renderOut = "v.mp4";
         o.session = "s.session";
         o.performance = 3;
     }},
    // The latest time a scripted input may take, in milliseconds: --until's latest.
    {{"--headless", "--input", "1000000000000:90"}, [](Options& o) {
         o.headless = true;
         o.inputs = {{1'000'000'000'000, 0x90}};
     }},
    {{"--headless", "--until=3", "--seed=0"}, [](Options& o) {
         o.headless = true;
         o.untilSeconds = 3.0;
         o.seed = 0u;
     }},
};

TEST(CommandLine, EveryOptionsGoodFormsGiveTheirOptions) {
    for (const GoodCase& c : goodCases) {
        std::string error;
        const auto parsed = parseCommandLine(c.args, error);
        ASSERT_TRUE(parsed) << joined(c.args) << ": " << error;
        Options expected;
        c.expect(expected);
        SCOPED_TRACE(joined(c.args));
        expectSame(*parsed, expected);
    }
}

const std::string needHeadless = "need --headless";

struct BadCase {
    Args args;
    std::string named;  // the option (or argument) the message must name
    std::string says;   // and what else it must say
};

const BadCase badCases[] = {
    {{"--bogus"}, "'--bogus'", "unknown option"},
    {{"a.mid", "b.mid"}, "'b.mid'", "one FILE is played"},
    {{"a.mid", "--channel", "0"}, "--channel", "not '0'"},
    {{"a.mid", "--channel", "17"}, "--channel", "not '17'"},
    {{"a.mid", "--channel", "two"}, "--channel", "not 'two'"},
    {{"--channel", "3"}, "--channel", "needs a FILE"},
    {{"--convert", "in.mid"}, "--convert", "needs IN OUT"},
    {{"--convert", "in.mid", "--demo"}, "--convert", "needs IN OUT"},
    {{"--convert", "in.mid", "-"}, "--convert", "not '-'"},
    {{"song.mid", "--convert", "in.mid", "out.mid"}, "'song.mid'", "not played with --convert"},
    {{"song.mid", "--list-ports"}, "'song.mid'", "not played with --list-ports"},
    {{"song.mid", "--loop", "a.mid"}, "'song.mid'", "not played with --loop"},
    {{"--demo", "--loop", "a.mid"}, "--demo", "not played with --loop"},
    {{"--loop", "--headless"}, "--loop", "not '--headless'"},
    {{"--record-midi", "--headless"}, "--record-midi", "not '--headless'"},
    {{"--session", "s"}, "--session", "needs --headless or --render"},
    {{"--headless", "--session", "s", "song.mid"}, "--session", "not FILE 'song.mid'"},
    {{"--headless", "--session", "s", "--seed", "3"}, "--session", "not --seed"},
    {{"--headless", "--session", "s", "--input", "5:90"}, "--session", "not scripted input"},
    {{"--headless", "--session", "s", "--clock", "real"}, "--session", "not --clock real"},
    {{"--headless", "--performance", "2"}, "--performance", "needs --render and --session"},
    {{"--render", "v.mp4", "--session", "s", "--performance", "0"}, "--performance", "not '0'"},
    {{"--render", "v.mp4", "--record", "s"}, "--record", "--render replays one with --session"},
    {{"--answer"}, "--answer", "needs a value"},
    {{"--headless", "--until"}, "--until", "needs a value"},
    {{"--headless", "--trace="}, "--trace", "needs a value"},
    {{"--headless=yes"}, "--headless", "takes no value"},
    {{"--headless", "--until", "soon"}, "--until", "not 'soon'"},
    {{"--headless", "--until", "-1"}, "--until", "not '-1'"},
    {{"--headless", "--until", "inf"}, "--until", "not 'inf'"},
    {{"--headless", "--until", "1e10"}, "--until", "not '1e10'"},
    {{"--headless", "--until", "1000000001"}, "--until", "from 0 to 1000000000, not '1000000001'"},
    {{"--seed", "-1"}, "--seed", "not '-1'"},
    {{"--seed", "4294967296"}, "--seed", "from 0 to 4294967295, not '4294967296'"},
    {{"--seed", "12ab"}, "--seed", "not '12ab'"},
    {{"--headless", "--input", "1500"}, "--input", "not '1500'"},
    {{"--headless", "--input", "1500:9"}, "--input", "not '1500:9'"},
    {{"--headless", "--input", "1500:zz"}, "--input", "not '1500:zz'"},
    {{"--headless", "--input", "1500:90+c"}, "--input", "not '1500:90+c'"},
    {{"--headless", "--input", "1500:903c6400"}, "--input", "not '1500:903c6400'"},
    {{"--headless", "--input", "-5:90"}, "--input", "not '-5:90'"},
    // Far enough that its microseconds would wrap round to the start of the run.
    {{"--headless", "--input", "9223372036854775:90"}, "--input", "MS from 0 to 1000000000000"},
    {{"--headless", "--input", "1000000000001:90"}, "--input", "not '1000000000001:90'"},
    // A huge value is quoted by its beginning only, on the one line.
    {{"--headless", "--until", std::string(100'000, '9')}, "--until", "not '" + std::string(40, '9') + "...'"},
    {{"--" + std::string(100'000, 'x')}, "unknown option", "'--" + std::string(38, 'x') + "...'"},
    {{"--headless", "--clock", "real\nvirtual"}, "--clock", "not 'real?virtual'"},
    {{"--headless", "--input", "1500:"}, "--input", "not '1500:'"},
    {{"--headless", "--answer", "run:1"}, "--answer", "not 'run:1'"},
    {{"--headless", "--answer", "play"}, "--answer", "not 'play'"},
    {{"--headless", "--modes", "800x600"}, "--modes", "not '800x600'"},
    {{"--headless", "--modes", "800x600x16,"}, "--modes", "not '800x600x16,'"},
    {{"--headless", "--modes", "800x600x16x2"}, "--modes", "not '800x600x16x2'"},
    {{"--headless", "--modes", ""}, "--modes", "not ''"},
    {{"--headless", "--clock", "fast"}, "--clock", "not 'fast'"},
    {{"--answer", "quit"}, "--answer", needHeadless},
    {{"--input", "10:90"}, "--input", needHeadless},
    {{"--until", "1"}, "--until", needHeadless},
    {{"--trace", "t.jsonl"}, "--trace", needHeadless},
    {{"--frames", "f"}, "--frames", needHeadless},
    {{"--modes", "640x480x8"}, "--modes", needHeadless},
    {{"--clock", "virtual"}, "--clock", needHeadless},
    {{"--help", "--clock", "real"}, "--clock", needHeadless},
    {{"--fps", "30"}, "--fps", "need --render"},
    {{"--size", "640x480"}, "--size", "need --render"},
    {{"--input-file", "k.mid"}, "--input-file", "need --render"},
    {{"--render", "o.mp4", "--fps", "0"}, "--fps", "not '0'"},
    {{"--render", "o.mp4", "--fps", "nan"}, "--fps", "not 'nan'"},
    {{"--render", "o.mp4", "--size", "640x"}, "--size", "not '640x'"},
    {{"--render", "o.mp4", "--size", "0x480"}, "--size", "not '0x480'"},
    {{"--render", "o.mp4", "--headless"}, "--render", "without --headless"},
    {{"--render", "o.mp4", "--list-ports"}, "--render", "not made with --list-ports"},
    {{"--render", "o.mp4", "--loop", "a.mid"}, "--render", "not made with --loop"},
    {{"--render", "o.mp4", "--snapshot", "s"}, "--render", "not with --snapshot"},
};

TEST(CommandLine, BadFormsAreRefusedWithOneLineNamingTheOption) {
    for (const BadCase& c : badCases) {
        std::string error;
        EXPECT_FALSE(parseCommandLine(c.args, error)) << joined(c.args);
        EXPECT_NE(error.find(c.named), std::string::npos) << joined(c.args) << ": " << error;
        EXPECT_NE(error.find(c.says), std::string::npos) << joined(c.args) << ": " << error;
        EXPECT_EQ(error.find('\n'), std::string::npos) << joined(c.args) << ": " << error;
        EXPECT_LT(error.size(), 200u) << error;
    }
}

}  // namespace
}  // namespace vesk::app
