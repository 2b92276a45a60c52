// The bundled demo piece, assets/demo.mid: the file is what vesk-compose-demo writes today,
// it is a file Vesk's player takes and a piece that suits the show (read back here by a
// reader of its own, apart from the composer's writer and the player's loader), and a whole
// headless performance of it grows a full flake and reaches its finale and wind-down.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "compose/DemoPiece.h"
#include "support/HeadlessRun.h"

namespace vesk {
namespace {

using Bytes = std::vector<std::uint8_t>;

const std::string piecePath = VESK_DEMO_PIECE;

// Channels as the player's dialog counts them; the file holds channel - 1.
constexpr int tuneChannel = 2;
constexpr int finaleVoiceChannel = 1;
constexpr int drumChannel = 10;
constexpr int sustainPedal = 64;
constexpr int pedalDownFrom = 64;
// Status kinds (the high nibble), the meta status and the meta types read here.
constexpr int statusBit = 0x80;
constexpr int noteOffKind = 0x80, noteOnKind = 0x90, controlKind = 0xB0, programKind = 0xC0, pressureKind = 0xD0;
constexpr int systemStatus = 0xF0;
constexpr int metaStatus = 0xFF;
constexpr int textType = 0x01, copyrightType = 0x02, trackNameType = 0x03, endOfTrack = 0x2F, setTempo = 0x51;
constexpr int highestData = 0x7F;
constexpr int maxVariableLengthBytes = 4;
constexpr int tempoBytes = 3;
constexpr int pitchClasses = 12;
constexpr int lowestPercussionKey = 35;  // General MIDI's percussion map
constexpr int highestPercussionKey = 81;
constexpr double defaultMicrosecondsPerQuarter = 500000.0;
// Vesk starts its finale on the 15th silent tick of 200 ms after the tick that took the
// last note; gaps are held a tick short of that, since a note is taken up to a tick late.
constexpr double tickSeconds = 0.2;
constexpr double finaleSilenceSeconds = 15 * tickSeconds;
constexpr double longestRestSeconds = finaleSilenceSeconds - tickSeconds;

Bytes readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// One event of the track. Channel events keep their status; meta events their type and data.
struct Event {
    std::int64_t tick = 0;
    double seconds = 0;  // through the tempo map
    int status = 0;
    int data1 = 0, data2 = 0;
    int metaType = -1;
    Bytes metaData;

    int channel() const { return (status & ~systemStatus) + 1; }
    int kind() const { return status & systemStatus; }
    bool noteOn() const { return kind() == noteOnKind && data2 > 0; }
    bool noteOff() const { return kind() == noteOffKind || (kind() == noteOnKind && data2 == 0); }
    bool isMeta() const { return status == metaStatus; }
};

// A Standard MIDI File read back strictly: one header, one track that fills the rest of the
// file, every event with its own status byte. `error` says what broke the reading.
struct Piece {
    int format = -1, tracks = -1, division = 0;
    std::vector<Event> events;
    std::string error;
};

struct Cursor {
    const Bytes& b;
    std::size_t pos;
    std::size_t end;
    bool ok() const { return pos < end; }
    int byte() { return ok() ? b[pos++] : -1; }
    std::int64_t variableLength() {
        std::int64_t value = 0;
        for (int i = 0; i < maxVariableLengthBytes; ++i) {
            const int c = byte();
            if (c < 0) return -1;
            value = (value << 7) | (c & highestData);
            if (!(c & statusBit)) return value;
        }
        return -1;
    }
};

std::uint32_t bigEndian(const Bytes& b, std::size_t at, int bytes) {
    std::uint32_t v = 0;
    for (int i = 0; i < bytes; ++i) v = (v << 8) | b[at + std::size_t(i)];
    return v;
}

// Reads one event after its delta time; false with `error` set when it cannot.
bool readEvent(Cursor& c, Event& e, std::string& error) {
    const std::size_t at = c.pos;
    e.status = c.byte();
    if (e.status < statusBit) {
        error = "a data byte where a status byte is due (running status) at offset " + std::to_string(at);
        return false;
    }
    if (e.isMeta()) {
        e.metaType = c.byte();
        const std::int64_t length = c.variableLength();
        if (length < 0 || c.pos + std::size_t(length) > c.end) return error = "a meta event cut off", false;
        e.metaData.assign(c.b.begin() + std::ptrdiff_t(c.pos), c.b.begin() + std::ptrdiff_t(c.pos + length));
        c.pos += std::size_t(length);
        return true;
    }
    if (e.status >= systemStatus) return error = "a system message in the track at offset " + std::to_string(at), false;
    e.data1 = c.byte();
    if (e.kind() != programKind && e.kind() != pressureKind) e.data2 = c.byte();
    if (e.data1 < 0 || e.data1 > highestData || e.data2 < 0 || e.data2 > highestData)
        return error = "a bad data byte at offset " + std::to_string(at), false;
    return true;
}

// The header chunk and the track chunk's head: where each field lies and how long it is.
namespace layout {
constexpr std::size_t headerType = 0, headerLength = 4, format = 8, tracks = 10, division = 12, trackType = 14,
                      trackLength = 18, trackData = 22;
constexpr int typeBytes = 4, lengthBytes = 4, fieldBytes = 2;
constexpr std::uint32_t standardHeaderLength = 6;
}  // namespace layout

bool chunkTypeIs(const Bytes& b, std::size_t at, const std::string& type) {
    return std::string(b.begin() + std::ptrdiff_t(at), b.begin() + std::ptrdiff_t(at) + layout::typeBytes) == type;
}

Piece readPiece(const Bytes& b) {
    Piece p;
    using namespace layout;
    if (b.size() < trackData || !chunkTypeIs(b, headerType, "MThd") || !chunkTypeIs(b, trackType, "MTrk") ||
        bigEndian(b, headerLength, lengthBytes) != standardHeaderLength)
        return p.error = "not a header and a track", p;
    p.format = int(bigEndian(b, layout::format, fieldBytes));
    p.tracks = int(bigEndian(b, tracks, fieldBytes));
    p.division = int(bigEndian(b, division, fieldBytes));
    if (trackData + bigEndian(b, trackLength, lengthBytes) != b.size())
        return p.error = "the track does not fill the file", p;
    Cursor c{b, trackData, b.size()};
    std::int64_t tick = 0;
    double us = 0, usPerQuarter = defaultMicrosecondsPerQuarter;
    while (c.ok() && p.error.empty()) {
        const std::int64_t delta = c.variableLength();
        if (delta < 0) return p.error = "a delta time cut off", p;
        Event e;
        if (!readEvent(c, e, p.error)) break;
        tick += delta;
        us += double(delta) * usPerQuarter / p.division;
        e.tick = tick;
        e.seconds = us / 1e6;
        if (e.isMeta() && e.metaType == setTempo && e.metaData.size() == tempoBytes)
            usPerQuarter = double(bigEndian(e.metaData, 0, tempoBytes));
        p.events.push_back(std::move(e));
    }
    if (p.error.empty() && (p.events.empty() || p.events.back().metaType != endOfTrack))
        p.error = "the track does not end with its end-of-track event";
    return p;
}

const Piece& piece() {
    static const Piece p = readPiece(readFile(piecePath));
    return p;
}

double durationSeconds() { return piece().events.back().seconds; }

std::vector<const Event*> noteOns(int channel) {
    std::vector<const Event*> out;
    for (const Event& e : piece().events)
        if (!e.isMeta() && e.noteOn() && e.channel() == channel) out.push_back(&e);
    return out;
}

// Note-ons of the channel grouped by the tick they are struck on.
std::map<std::int64_t, std::vector<int>> onsets(int channel) {
    std::map<std::int64_t, std::vector<int>> out;
    for (const Event* e : noteOns(channel)) out[e->tick].push_back(e->data1);
    return out;
}

TEST(DemoPiece, TheCommittedFileIsWhatTheComposerWritesToday) {
    const Bytes committed = readFile(piecePath);
    const Bytes composed = compose::composeDemo();
    ASSERT_FALSE(committed.empty()) << piecePath;
    const auto [a, b] = std::mismatch(committed.begin(), committed.end(), composed.begin(), composed.end());
    EXPECT_TRUE(a == committed.end() && b == composed.end())
        << "assets/demo.mid (" << committed.size() << " bytes) and the composer (" << composed.size()
        << " bytes) part at offset " << (a - committed.begin())
        << "; run build/tools/vesk-compose-demo assets/demo.mid and commit the file";
}

TEST(DemoPiece, IsOneTrackOfFormatZeroThatThePlayerTakes) {
    const Piece& p = piece();
    ASSERT_EQ(p.error, "");
    EXPECT_EQ(p.format, 0);
    EXPECT_EQ(p.tracks, 1);
    EXPECT_GT(p.division, 0);
    EXPECT_LE(p.division, 500);  // a finer division is refused as a timer too fast
    EXPECT_LT(readFile(piecePath).size(), 190000u);
}

TEST(DemoPiece, LastsOneAndAHalfToTwoAndAHalfMinutesWithTempoChangesAndEndsRightAfterItsLastChord) {
    ASSERT_EQ(piece().error, "");
    EXPECT_GE(durationSeconds(), 90.0);
    EXPECT_LE(durationSeconds(), 150.0);

    std::set<std::vector<std::uint8_t>> tempos;
    for (const Event& e : piece().events)
        if (e.isMeta() && e.metaType == setTempo) tempos.insert(e.metaData);
    EXPECT_GE(tempos.size(), 3u) << "a slower start, the main tempo and a slowing at the end";

    // The tune never rests long enough for the finale to start before the music is over,
    // and the track ends before the silence after its last chord would start it.
    const std::vector<const Event*> tune = noteOns(tuneChannel);
    ASSERT_FALSE(tune.empty());
    for (std::size_t i = 1; i < tune.size(); ++i)
        EXPECT_LT(tune[i]->seconds - tune[i - 1]->seconds, longestRestSeconds) << "at " << tune[i]->seconds;
    EXPECT_LT(durationSeconds() - tune.back()->seconds, longestRestSeconds);
    EXPECT_GE(onsets(tuneChannel).rbegin()->second.size(), 3u) << "the piece ends on a chord";
    double lastSound = 0;
    for (const Event& e : piece().events)
        if (!e.isMeta()) lastSound = e.seconds;
    EXPECT_LT(lastSound, durationSeconds()) << "the last chord is followed by silence";
}

TEST(DemoPiece, TheTuneOnChannelTwoIsLongEnoughWithChordsTheWholeScaleAndThePedal) {
    ASSERT_EQ(piece().error, "");
    const std::size_t count = noteOns(tuneChannel).size();
    EXPECT_GE(count, 250u);
    EXPECT_LE(count, 1200u);  // the flake holds 1999 segments
    const auto struck = onsets(tuneChannel);
    EXPECT_GE(struck.size(), 200u);
    int chords = 0;  // three or four notes: a second voice under the tune makes pairs all the time
    std::set<int> classes;
    for (const auto& [tick, notes] : struck) {
        EXPECT_LE(notes.size(), 4u) << "at tick " << tick;
        if (notes.size() >= 3) ++chords;
        for (int n : notes) classes.insert(n % pitchClasses);
    }
    EXPECT_GE(chords, 8);
    EXPECT_GE(classes.size(), 7u) << "a whole scale, so the flake branches every way";
    EXPECT_TRUE(noteOns(finaleVoiceChannel).empty()) << "channel 1 is Vesk's own finale voice";

    // The pedal goes down and up in turn, many times, and is up when the music ends.
    std::vector<bool> pedal;
    for (const Event& e : piece().events)
        if (!e.isMeta() && e.kind() == controlKind && e.channel() == tuneChannel && e.data1 == sustainPedal)
            pedal.push_back(e.data2 >= pedalDownFrom);
    ASSERT_GE(pedal.size(), 20u);
    for (std::size_t i = 0; i < pedal.size(); ++i) EXPECT_EQ(pedal[i], i % 2 == 0) << "pedal change " << i;
    EXPECT_FALSE(pedal.back());
}

TEST(DemoPiece, AccompanimentHasItsInstrumentsAndTheDrumsPlayOnChannelTen) {
    ASSERT_EQ(piece().error, "");
    std::map<int, std::int64_t> firstNote, firstProgram;
    for (const Event& e : piece().events) {
        if (e.isMeta()) continue;
        if (e.noteOn()) firstNote.try_emplace(e.channel(), e.tick);
        if (e.kind() == programKind) firstProgram.try_emplace(e.channel(), e.tick);
    }
    int accompanying = 0;
    for (const auto& [channel, tick] : firstNote) {
        if (channel == drumChannel) continue;
        if (channel != tuneChannel) ++accompanying;
        ASSERT_TRUE(firstProgram.count(channel)) << "channel " << channel << " has no instrument";
        EXPECT_LE(firstProgram[channel], tick) << "channel " << channel << " plays before its program change";
    }
    EXPECT_GE(accompanying, 2);

    const std::vector<const Event*> drums = noteOns(drumChannel);
    EXPECT_GE(drums.size(), 100u);
    for (const Event* e : drums) {
        EXPECT_GE(e->data1, lowestPercussionKey);
        EXPECT_LE(e->data1, highestPercussionKey);
    }
}

TEST(DemoPiece, EveryNoteOnHasItsNoteOffBeforeTheKeyIsStruckAgain) {
    ASSERT_EQ(piece().error, "");
    std::set<std::pair<int, int>> sounding;  // channel, key
    for (const Event& e : piece().events) {
        if (e.isMeta()) continue;
        const std::pair<int, int> key{e.channel(), e.data1};
        if (e.noteOn()) {
            EXPECT_TRUE(sounding.insert(key).second) << "key struck again while it sounds, tick " << e.tick;
        } else if (e.noteOff()) {
            EXPECT_EQ(sounding.erase(key), 1u) << "a note-off of no note, tick " << e.tick;
        }
    }
    EXPECT_TRUE(sounding.empty()) << sounding.size() << " notes still sound at the end";
}

TEST(DemoPiece, NamesItselfAndSaysItWasComposedForVesk) {
    ASSERT_EQ(piece().error, "");
    std::string name, credits;
    for (const Event& e : piece().events) {
        const std::string text(e.metaData.begin(), e.metaData.end());
        if (e.metaType == trackNameType) name = text;
        if (e.metaType == textType || e.metaType == copyrightType) credits += text + "\n";
    }
    EXPECT_FALSE(name.empty());
    EXPECT_NE(credits.find("Composed for Vesk"), std::string::npos) << credits;
}

TEST(DemoPiece, AHeadlessPerformanceGrowsAFullFlakeThenPlaysItsFinaleAndWindsDown) {
    ASSERT_EQ(piece().error, "");
    constexpr std::int64_t msPerSecond = 1000, oneMinuteMs = 60 * msPerSecond;
    const std::int64_t pieceMs = std::int64_t(durationSeconds() * msPerSecond);
    const std::int64_t lastTuneMs = std::int64_t(noteOns(tuneChannel).back()->seconds * msPerSecond);
    test::HeadlessRun run;
    run.platform.answerDialog(test::HeadlessRun::play(piecePath, std::to_string(tuneChannel)));
    run.run(pieceMs + oneMinuteMs);
    EXPECT_TRUE(run.boxes().empty());

    constexpr int seedArms = 6;
    int most = 0;
    for (const auto& t : run.ticks) most = std::max(most, t.segmentCount);
    EXPECT_GT(most - seedArms, 200);
    const auto finale = std::find_if(run.ticks.begin(), run.ticks.end(), [](auto& t) { return t.finaleStarted; });
    ASSERT_NE(finale, run.ticks.end()) << "no finale";
    EXPECT_GT(finale->ms, lastTuneMs) << "the finale started while the tune still played";
    EXPECT_LT(finale->ms, pieceMs + std::int64_t(finaleSilenceSeconds * msPerSecond));
    const auto windDown = std::find_if(run.ticks.begin(), run.ticks.end(), [](auto& t) {
        return t.finaleStarted && t.segmentCount == seedArms;
    });
    EXPECT_TRUE(windDown != run.ticks.end()) << "no wind-down within the piece and a minute";
}

}  // namespace
}  // namespace vesk
