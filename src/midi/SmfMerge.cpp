// Reading chunk by chunk and event by event, the merge, and the format-0 writer. A track
// whose bytes run out mid-event ends there, as the player ends a track cut off; a byte
// that cannot begin or continue an event makes the file unreadable, since nothing after it
// could be trusted to be timed right.
#include "midi/SmfMerge.h"

#include <algorithm>
#include <cstring>

#include "midi/SmfFile.h"
#include "platform/MidiOutput.h"

namespace vesk::midi {

namespace {

using namespace platform;  // the message bytes

constexpr char headerType[] = "MThd";
constexpr char trackType[] = "MTrk";
constexpr std::size_t chunkTypeBytes = 4;
constexpr std::size_t lengthBytes = 4;  // a chunk's length
constexpr std::size_t chunkHeadBytes = chunkTypeBytes + lengthBytes;
constexpr std::size_t fieldBytes = 2;   // each of the header's fields
constexpr std::size_t headerFieldBytes = 6;  // format, track count, division
constexpr std::size_t divisionField = 4;     // within the header's fields
constexpr int lastMergedFormat = 1;
constexpr int smpteDivisionBit = 0x8000;
constexpr int fieldBits = 8;

constexpr std::uint8_t statusBit = 0x80;
constexpr std::size_t longestChannelMessage = 3;  // a status and two data bytes
constexpr int endOfTrackType = 0x2F;
constexpr int setTempoType = 0x51;
constexpr int timeSignatureType = 0x58;
constexpr int keySignatureType = 0x59;
// A variable-length number has at most four bytes of seven bits.
constexpr int variableLengthBytes = 4;
constexpr int bitsPerVariableLengthByte = 7;
constexpr std::uint32_t longestDelta = (1u << (variableLengthBytes * bitsPerVariableLengthByte)) - 1;
constexpr std::uint8_t endOfTrack[] = {metaStatus, endOfTrackType, 0x00};

struct Reader {
    std::span<const std::uint8_t> b;
    std::size_t pos = 0;
    std::size_t end = 0;

    bool more() const { return pos < end; }
    std::uint32_t bigEndian(std::size_t at, std::size_t bytes) const {
        std::uint32_t value = 0;
        for (std::size_t i = 0; i < bytes; ++i) value = value << fieldBits | b[at + i];
        return value;
    }
    bool typeIs(std::size_t at, const char* type) const {
        return at + chunkTypeBytes <= b.size() && std::memcmp(b.data() + at, type, chunkTypeBytes) == 0;
    }
    // None when the number runs past the end or past four bytes.
    std::optional<std::uint32_t> variableLength() {
        std::uint32_t value = 0;
        for (int i = 0; i < variableLengthBytes && more(); ++i) {
            const std::uint8_t byte = b[pos++];
            value = value << bitsPerVariableLengthByte | (byte & dataMask);
            if (!(byte & statusBit)) return value;
        }
        return std::nullopt;
    }
};

// What reading one event came to.
enum class Step { Kept, Dropped, EndOfTrack, CutOff, Broken };

struct Track {
    int index = 0;
    std::uint64_t tick = 0;
    int runningStatus = 0;      // 0: none yet
    bool inSplitSysEx = false;  // a system exclusive message continues in escape packets
};

// The meta events the copy keeps: the tempo the player follows, and the time and key
// signatures that say how the music is written. Text, names and sequencer data the player
// never uses; a channel prefix or a port would mean something else once tracks are merged.
bool keptMeta(int type) {
    return type == setTempoType || type == timeSignatureType || type == keySignatureType;
}

class Merger {
public:
    Merger(std::span<const std::uint8_t> file, MergedSmf& out, std::string& error)
        : file_(file), out_(out), error_(error) {}

    bool readHeader(std::size_t& chunkAt);
    bool readTrack(std::size_t at, std::size_t end, int index);
    void merge();

private:
    Step readEvent(Reader& r, Track& t);
    Step readChannelMessage(Reader& r, Track& t, int status, std::size_t at);
    Step readSysEx(Reader& r, Track& t, int status, std::size_t at);
    Step readMeta(Reader& r, Track& t, std::size_t at);
    Step keep(const Track& t, std::span<const std::uint8_t> bytes);
    Step keep(const Track& t, std::size_t from, std::size_t to) {
        return keep(t, file_.subspan(from, to - from));
    }
    Step broken(const std::string& what, std::size_t at) {
        error_ = "holds " + what + " at byte " + std::to_string(at);
        return Step::Broken;
    }

    std::span<const std::uint8_t> file_;
    MergedSmf& out_;
    std::string& error_;
};

bool Merger::readHeader(std::size_t& chunkAt) {
    const Reader r{file_, 0, file_.size()};
    if (!r.typeIs(0, headerType)) {
        error_ = "is not a Standard MIDI File (it does not begin with MThd)";
        return false;
    }
    const std::uint32_t length = file_.size() >= chunkHeadBytes ? r.bigEndian(chunkTypeBytes, lengthBytes) : 0;
    if (length < headerFieldBytes || file_.size() < chunkHeadBytes + length) {
        error_ = "has a header too short to read";
        return false;
    }
    const std::size_t fields = chunkHeadBytes;
    out_.format = int(r.bigEndian(fields, fieldBytes));
    out_.division = int(r.bigEndian(fields + divisionField, fieldBytes));
    if (out_.format > lastMergedFormat) {
        error_ = "is format " + std::to_string(out_.format) +
                 " (independent patterns, not one piece); Vesk plays formats 0 and 1";
        return false;
    }
    if (out_.division & smpteDivisionBit || out_.division == 0) {
        error_ = out_.division ? "counts its time in SMPTE frames, which the player does not support"
                               : "has a division of 0 ticks per quarter note";
        return false;
    }
    chunkAt = chunkHeadBytes + length;
    return true;
}

bool Merger::readTrack(std::size_t at, std::size_t end, int index) {
    Reader r{file_, at, end};
    Track t;
    t.index = index;
    for (;;) {
        const std::optional<std::uint32_t> delta = r.variableLength();
        if (!delta) break;  // the track's bytes end here
        t.tick += *delta;
        const Step step = readEvent(r, t);
        if (step == Step::Broken) return false;
        if (step == Step::Dropped) ++out_.dropped;
        if (step == Step::EndOfTrack || step == Step::CutOff) break;
        if (out_.bytes.size() >= std::size_t(smfBufferSize)) {
            error_ = "holds more events than the player's " + std::to_string(smfBufferSize) +
                     " bytes can take";
            return false;
        }
    }
    out_.endTick = std::max(out_.endTick, t.tick);
    ++out_.tracks;
    return true;
}

Step Merger::readEvent(Reader& r, Track& t) {
    const std::size_t at = r.pos;
    if (!r.more()) return Step::CutOff;
    int status = file_[r.pos];
    if (status < statusBit) {
        if (!t.runningStatus) return broken("a data byte where an event must begin", at);
        status = t.runningStatus;
        out_.runningStatus = true;
    } else {
        ++r.pos;
    }
    if (status < sysExStatus) {
        t.runningStatus = status;
        return readChannelMessage(r, t, status, at);
    }
    if (status == sysExStatus || status == escapeStatus) return readSysEx(r, t, status, at);
    if (status == metaStatus) return readMeta(r, t, at);
    return broken("a system message that has no place in a file", at);
}

Step Merger::readChannelMessage(Reader& r, Track& t, int status, std::size_t at) {
    const std::size_t dataBytes = std::size_t(shortMessageLength(std::uint8_t(status)) - 1);
    if (r.pos + dataBytes > r.end) return Step::CutOff;
    std::uint8_t bytes[longestChannelMessage] = {std::uint8_t(status)};
    for (std::size_t i = 0; i < dataBytes; ++i) {
        bytes[i + 1] = file_[r.pos++];
        if (bytes[i + 1] & statusBit) return broken("a status byte where a data byte is due", at);
    }
    if (statusKind(status) == noteOnStatus && bytes[2] > 0) ++out_.noteOns[std::size_t(statusChannel(status))];
    return keep(t, std::span<const std::uint8_t>(bytes, dataBytes + 1));
}

// The player sends a system exclusive message up to its first end byte, so one it would
// read past (a message split into packets, or a stray status byte inside) is left out,
// with the escape packets that continue it.
Step Merger::readSysEx(Reader& r, Track& t, int status, std::size_t at) {
    const std::optional<std::uint32_t> length = r.variableLength();
    if (!length || r.pos + *length > r.end) return Step::CutOff;
    const std::span<const std::uint8_t> data = file_.subspan(r.pos, *length);
    r.pos += *length;
    const bool ends = !data.empty() && data.back() == sysExEnd;
    if (status == escapeStatus) {
        if (!t.inSplitSysEx) return keep(t, at, r.pos);
        t.inSplitSysEx = !ends;
        return Step::Dropped;
    }
    const bool whole = ends && std::all_of(data.begin(), data.end() - 1, [](std::uint8_t b) {
        return !(b & statusBit);
    });
    t.inSplitSysEx = !ends;
    return whole ? keep(t, at, r.pos) : Step::Dropped;
}

Step Merger::readMeta(Reader& r, Track& t, std::size_t at) {
    if (!r.more()) return Step::CutOff;
    const int type = file_[r.pos++];
    const std::optional<std::uint32_t> length = r.variableLength();
    if (!length || r.pos + *length > r.end) return Step::CutOff;
    r.pos += *length;
    if (type == endOfTrackType) return Step::EndOfTrack;
    return keptMeta(type) ? keep(t, at, r.pos) : Step::Dropped;
}

Step Merger::keep(const Track& t, std::span<const std::uint8_t> bytes) {
    out_.events.push_back({t.tick, std::uint32_t(out_.bytes.size()), std::uint32_t(bytes.size())});
    out_.bytes.insert(out_.bytes.end(), bytes.begin(), bytes.end());
    return Step::Kept;
}

// Tracks were read one after the other, so a stable sort by time keeps ties in track order.
void Merger::merge() {
    std::stable_sort(out_.events.begin(), out_.events.end(),
                     [](const MergedEvent& a, const MergedEvent& b) { return a.tick < b.tick; });
}

void appendVariableLength(std::vector<std::uint8_t>& out, std::uint32_t value) {
    std::uint8_t bytes[variableLengthBytes];
    int count = 0;
    do {
        bytes[count++] = std::uint8_t(value & dataMask);
        value >>= bitsPerVariableLengthByte;
    } while (value && count < variableLengthBytes);
    while (count > 1) out.push_back(bytes[--count] | statusBit);
    out.push_back(bytes[0]);
}

void appendBigEndian(std::vector<std::uint8_t>& out, std::uint32_t value, std::size_t bytes) {
    for (std::size_t i = bytes; i-- > 0;) out.push_back(std::uint8_t(value >> (i * fieldBits)));
}

// Appends the delta from `last` to `tick`; false when it is too long for four bytes.
bool appendDelta(std::vector<std::uint8_t>& out, std::uint64_t& last, std::uint64_t tick) {
    if (tick - last > longestDelta) return false;
    appendVariableLength(out, std::uint32_t(tick - last));
    last = tick;
    return true;
}

}  // namespace

std::optional<MergedSmf> mergeSmf(std::span<const std::uint8_t> file, std::string& error) {
    MergedSmf out;
    Merger merger(file, out, error);
    std::size_t at = 0;
    if (!merger.readHeader(at)) return std::nullopt;
    const Reader r{file, 0, file.size()};
    while (at + chunkHeadBytes <= file.size()) {
        const std::size_t length = r.bigEndian(at + chunkTypeBytes, lengthBytes);
        const std::size_t data = at + chunkHeadBytes;
        // A chunk longer than the file is read as far as it goes.
        const std::size_t end = std::min(file.size(), data + length);
        if (r.typeIs(at, trackType) && !merger.readTrack(data, end, out.tracks)) return std::nullopt;
        at = end;
    }
    if (out.tracks == 0) {
        error = "has no track";
        return std::nullopt;
    }
    merger.merge();
    return out;
}

std::optional<std::vector<std::uint8_t>> encodeFormat0(const MergedSmf& smf, std::string& error) {
    std::vector<std::uint8_t> track;
    std::uint64_t last = 0;
    for (const MergedEvent& e : smf.events) {
        if (!appendDelta(track, last, e.tick)) {
            error = "has a pause too long for a format-0 file";
            return std::nullopt;
        }
        const auto begin = smf.bytes.begin() + std::ptrdiff_t(e.offset);
        track.insert(track.end(), begin, begin + std::ptrdiff_t(e.length));
    }
    if (!appendDelta(track, last, std::max(last, smf.endTick))) {
        error = "has a pause too long for a format-0 file";
        return std::nullopt;
    }
    track.insert(track.end(), std::begin(endOfTrack), std::end(endOfTrack));

    std::vector<std::uint8_t> out(headerType, headerType + chunkTypeBytes);
    appendBigEndian(out, headerFieldBytes, lengthBytes);
    appendBigEndian(out, 0, fieldBytes);  // format 0
    appendBigEndian(out, 1, fieldBytes);  // one track
    appendBigEndian(out, std::uint32_t(smf.division), fieldBytes);
    out.insert(out.end(), trackType, trackType + chunkTypeBytes);
    appendBigEndian(out, std::uint32_t(track.size()), lengthBytes);
    out.insert(out.end(), track.begin(), track.end());
    return out;
}

std::optional<std::vector<std::uint8_t>> writeFormat0(const MergedSmf& smf, std::string& error) {
    std::optional<std::vector<std::uint8_t>> out = encodeFormat0(smf, error);
    if (out && out->size() >= std::size_t(smfBufferSize)) {
        error = "makes a format-0 copy of " + std::to_string(out->size()) +
                " bytes, and the player takes files under " + std::to_string(smfBufferSize) + " bytes";
        return std::nullopt;
    }
    return out;
}

std::optional<int> busiestMelodicChannel(const MergedSmf& smf) {
    int best = -1;
    for (int channel = 0; channel < channelCount; ++channel)
        if (channel != drumChannel && smf.noteOns[std::size_t(channel)] > 0 &&
            (best < 0 || smf.noteOns[std::size_t(channel)] > smf.noteOns[std::size_t(best)]))
            best = channel;
    if (best < 0 && smf.noteOns[drumChannel] > 0) best = drumChannel;
    if (best < 0) return std::nullopt;
    return best;
}

}  // namespace vesk::midi
