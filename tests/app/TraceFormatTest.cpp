// The headless run's trace as a reader sees it: every line one JSON object with "t" (in
// milliseconds with three decimals) and "ev" first, then exactly the fields of its kind of
// event, MIDI data as long as the message; a name that is not UTF-8 still makes JSON, and
// a trace that cannot be written fails the run.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "app/Trace.h"
#include "platform/MidiOutput.h"
#include "AppRun.h"

namespace vesk::app {
namespace {

using Json = nlohmann::ordered_json;

enum class Type { Integer, Boolean, String, Bytes };
using Fields = std::vector<std::pair<std::string, Type>>;

const std::map<std::string, Fields>& fieldsOfEachEvent() {
    static const std::map<std::string, Fields> fields = {
        {"display_mode",
         {{"w", Type::Integer}, {"h", Type::Integer}, {"bits", Type::Integer}, {"accepted", Type::Boolean}}},
        {"midi_out", {{"data", Type::Bytes}}},
        {"midi_out_long", {{"data", Type::Bytes}}},
        {"midi_reset", {}},
        {"performance_start", {{"replayMode", Type::Integer}}},
        {"dialog", {{"result", Type::String}, {"file", Type::String}, {"channel", Type::String}}},
        {"message_box", {{"text", Type::String}, {"owner", Type::Boolean}}},
        {"beep", {{"hz", Type::Integer}, {"ms", Type::Integer}}},
        {"tick",
         {{"scoreTick", Type::Integer}, {"silentTicks", Type::Integer}, {"segmentCount", Type::Integer},
          {"meshSegmentCount", Type::Integer}, {"finaleStarted", Type::Boolean},
          {"rippleStage", Type::Integer}, {"ringOffset", Type::Integer}}},
        {"frame", {{"file", Type::String}}},
        {"exit", {{"code", Type::Integer}}},
    };
    return fields;
}

bool hasType(const Json& value, Type type) {
    switch (type) {
    case Type::Integer: return value.is_number_integer();
    case Type::Boolean: return value.is_boolean();
    case Type::String: return value.is_string();
    case Type::Bytes:
        if (!value.is_array()) return false;
        for (const Json& b : value)
            if (!b.is_number_unsigned() || b.get<unsigned>() > 0xFF) return false;
        return true;
    }
    return false;
}

// The line's keys in order, after checking the types of those its kind has.
std::vector<std::string> checkedKeys(const Json& line, const Fields& fields) {
    std::vector<std::string> keys;
    for (const auto& item : line.items()) keys.push_back(item.key());
    for (const auto& [key, type] : fields)
        if (line.contains(key)) {
            EXPECT_TRUE(hasType(line[key], type)) << key << " in " << line.dump();
        }
    return keys;
}

// Each line parsed, after checking it begins {"t":MS.UUU, with three decimals.
std::vector<Json> parsedLines(const std::string& text) {
    static const std::regex timeFirst(R"(^\{"t":[0-9]+\.[0-9]{3},"ev":)");
    std::vector<Json> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find('\n', start);
        EXPECT_NE(end, std::string::npos) << "the last line is not ended";
        const std::string line = text.substr(start, end - start);
        EXPECT_TRUE(std::regex_search(line, timeFirst)) << line;
        lines.push_back(Json::parse(line, nullptr, false));
        EXPECT_TRUE(lines.back().is_object()) << line;
        start = end == std::string::npos ? text.size() : end + 1;
    }
    return lines;
}

// What a reader of the trace took from it, line by line, checking each line's form.
struct TraceReader {
    explicit TraceReader(std::string frames) : framesDir(std::move(frames)) {}

    std::string framesDir;
    std::set<std::string> seen;
    std::set<std::size_t> midiLengths;
    std::vector<std::string> dialogResults;
    std::vector<std::string> dialogFiles;
    double lastT = 0;
    int frames = 0;

    void read(const Json& line) {
        const std::string event = line.value("ev", "");
        const auto kind = fieldsOfEachEvent().find(event);
        ASSERT_NE(kind, fieldsOfEachEvent().end()) << line.dump();
        std::vector<std::string> expected = {"t", "ev"};
        for (const auto& field : kind->second) expected.push_back(field.first);
        EXPECT_EQ(checkedKeys(line, kind->second), expected) << line.dump();
        ASSERT_TRUE(line["t"].is_number()) << line.dump();
        EXPECT_GE(line["t"].get<double>(), lastT) << line.dump();
        lastT = line["t"].get<double>();
        seen.insert(event);
        if (event == "midi_out") {
            const Json& data = line["data"];
            ASSERT_FALSE(data.empty()) << line.dump();
            const int length = platform::shortMessageLength(data[0].get<std::uint8_t>());
            EXPECT_EQ(data.size(), std::size_t(length)) << line.dump();
            midiLengths.insert(data.size());
        } else if (event == "dialog") {
            dialogResults.push_back(line["result"]);
            dialogFiles.push_back(line["file"]);
        } else if (event == "frame") {
            EXPECT_EQ(line["file"], framePath(framesDir, ++frames));
            EXPECT_TRUE(std::filesystem::exists(line["file"].get<std::string>())) << line.dump();
        }
    }
};

TEST(TraceFormat, EachLineHasTimeAndEventFirstThenExactlyTheFieldsOfItsKind) {
    test::TempFolder folder("trace-format");
    const std::string song = folder / "song.mid", trace = folder / "trace.jsonl";
    test::writeFile(song, test::shortPiece());
    TraceReader reader(folder / "frames");
    // A refused display mode, a name that is not UTF-8 and the close box (neither file can
    // be opened: a box each), the song, a note from the keyboard, frames.
    const std::string notUtf8 = "\xff\xfe.mid";
    EXPECT_EQ(test::runVesk({"--headless", "--seed", "3", "--modes", "800x600x16", "--answer",
                             "run:2:" + notUtf8, "--answer", "close", "--answer", "run:2:" + song, "--input",
                             "300:403c90", "--until", "3", "--trace", trace, "--frames", reader.framesDir}),
              0);

    const std::vector<Json> lines = parsedLines(test::readFile(trace));
    for (const Json& line : lines)
        if (line.is_object()) reader.read(line);
    for (const char* event : {"display_mode", "midi_out", "midi_out_long", "midi_reset", "performance_start",
                              "dialog", "message_box", "tick", "frame", "exit"})
        EXPECT_EQ(reader.seen.count(event), 1u) << "no " << event << " line";
    EXPECT_EQ(reader.midiLengths, (std::set<std::size_t>{2, 3}));
    EXPECT_EQ(reader.dialogResults, (std::vector<std::string>{"run", "close", "run"}));
    ASSERT_FALSE(reader.dialogFiles.empty());
    EXPECT_EQ(reader.dialogFiles.front(), "\uFFFD\uFFFD.mid");  // each byte that is not UTF-8
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), (Json{{"t", 3000.0}, {"ev", "exit"}, {"code", 0}}));
}

// Three ticks of 166.667 ms each (a quarter of 500,000 us in three): the notes' times in
// the trace keep the file's timeline to a tenth of a millisecond, where whole milliseconds
// would be two thirds of one off.
TEST(TraceFormat, TimesKeepTheFilesTimelineToATenthOfAMillisecond) {
    test::TempFolder folder("trace-times");
    const std::string song = folder / "thirds.mid", trace = folder / "trace.jsonl";
    constexpr int notes = 4;
    constexpr double msPerTick = 500.0 / 3;
    test::SmfBuilder smf(3);
    for (int i = 0; i < notes; ++i) smf.event(i ? 1 : 0, {0x90, std::uint8_t(60 + i), 100});
    test::writeFile(song, smf.endOfTrack(1).bytes());
    EXPECT_EQ(test::runVesk({"--headless", "--answer", "run:1:" + song, "--until", "2", "--trace", trace}), 0);

    std::vector<double> noteTimes;
    for (const Json& line : parsedLines(test::readFile(trace)))
        if (line.value("ev", "") == "midi_out" && line["data"][0] == 0x90) noteTimes.push_back(line["t"]);
    ASSERT_EQ(noteTimes.size(), std::size_t(notes));
    for (int i = 1; i < notes; ++i)
        EXPECT_NEAR(noteTimes[std::size_t(i)] - noteTimes[0], i * msPerTick, 0.1) << i;
}

TEST(TraceFormat, ATraceThatCannotBeWrittenIsSaidAndFailsTheRun) {
    ::testing::internal::CaptureStderr();
    const int code = test::runVesk({"--headless", "--answer", "quit", "--trace", "/dev/full"});
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(code, exitFailed);
    EXPECT_NE(err.find("vesk: cannot write the trace: No space left on device"), std::string::npos) << err;
}

}  // namespace
}  // namespace vesk::app
