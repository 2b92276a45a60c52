// A MIDI file read as live input: every track's channel messages at their times through
// the tempo map, and a clear refusal of what is not a file that can be read.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/MidiFileInput.h"
#include "support/SmfBuilder.h"

namespace vesk::app {
namespace {

using test::Bytes;
using test::SmfBuilder;

constexpr std::size_t trackCountByte = 11;
constexpr std::size_t headerBytes = 14;

// A format 1 file of `first`'s track and then `second`'s.
Bytes twoTracks(const SmfBuilder& first, const SmfBuilder& second) {
    Bytes file = first.bytes();
    file[trackCountByte] = 2;
    const Bytes other = second.bytes();
    file.insert(file.end(), other.begin() + headerBytes, other.end());
    return file;
}

std::vector<std::pair<std::int64_t, std::uint32_t>> pairs(const std::vector<ScriptedInput>& inputs) {
    std::vector<std::pair<std::int64_t, std::uint32_t>> out;
    for (const ScriptedInput& input : inputs) out.emplace_back(input.ms, input.message);
    return out;
}

TEST(MidiFileInput, ReadsEveryTracksChannelMessagesAtTheirTimesThroughTheTempoMap) {
    SmfBuilder tempo(480, 1);
    tempo.tempo(0, 500'000).tempo(960, 250'000).endOfTrack();
    SmfBuilder notes(480, 1);
    notes.event(0, {0xC0, 5})
        .event(0, {0x90, 60, 100})
        .event(480, {62, 100})  // running status
        .event(240, {0xF0, 0x03, 0x7E, 0x09, 0xF7})
        .event(0, {0xFF, 0x01, 0x02, 'h', 'i'})
        .event(240, {0xB0, 64, 127})
        .event(480, {0x80, 60, 0})
        .endOfTrack(480);
    std::string reason;
    const auto read = readTimedMessages(test::writeTestFile("live.mid", twoTracks(tempo, notes)), reason);
    ASSERT_TRUE(read) << reason;
    const std::vector<std::pair<std::int64_t, std::uint32_t>> expected = {
        {0, 0x05C0}, {0, 0x643C90}, {500, 0x643E90}, {1000, 0x7F40B0}, {1250, 0x003C80}};
    EXPECT_EQ(pairs(read->messages), expected);
    EXPECT_EQ(read->lengthUs, 1'500'000);
}

struct Refused {
    std::string name;
    Bytes bytes;
};

TEST(MidiFileInput, RefusesWhatIsNotAFileItCanReadAndSaysWhy) {
    const Bytes noteCutOff = SmfBuilder().event(0, {0x90, 60}).bytes();
    const Bytes noStatus = SmfBuilder().event(0, {60, 100}).endOfTrack().bytes();
    const Bytes badData = SmfBuilder().event(0, {0x90, 0x80, 100}).endOfTrack().bytes();
    const Bytes systemMessage = SmfBuilder().event(0, {0xF4}).event(0, {0x90, 60, 100}).endOfTrack().bytes();
    const Bytes longChunk = SmfBuilder().endOfTrack().bytes(1000);
    Bytes format2 = SmfBuilder().endOfTrack().bytes();
    format2[9] = 2;
    const Refused cases[] = {
        {"empty", {}},
        {"header cut off", {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0}},
        {"format 2", format2},
        {"track longer than the file", longChunk},
        {"note cut off", noteCutOff},
        {"running status with none set", noStatus},
        {"a status byte where data belongs", badData},
        {"a system message, which no file holds", systemMessage},
    };
    for (const Refused& c : cases) {
        SCOPED_TRACE(c.name);
        std::string reason;
        const std::string path = test::writeTestFile("refused.mid", c.bytes);
        EXPECT_FALSE(readTimedMessages(path, reason));
        EXPECT_NE(reason.find(path), std::string::npos) << reason;
    }
    std::string reason;
    EXPECT_FALSE(readTimedMessages(test::writeTestFile("missing-dir", {}) + "/none.mid", reason));
    EXPECT_NE(reason.find("cannot open"), std::string::npos) << reason;
}

}  // namespace
}  // namespace vesk::app
