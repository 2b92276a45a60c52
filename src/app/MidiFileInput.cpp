// The chunks, the events of each track with running status, and the tempo map gathered
// from all tracks (a format 1 file keeps it in its first) before any time is taken, so a
// tempo change applies to every track from its tick on.
#include "app/MidiFileInput.h"

#include <algorithm>
#include <climits>
#include <iterator>

#include "app/GivenFile.h"
#include "midi/Sequencer.h"
#include "platform/MidiOutput.h"

namespace vesk::app {

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr int headerLength = 6;
constexpr std::uint8_t tempoMeta = 0x51, endOfTrackMeta = 0x2F;
constexpr std::uint32_t tempoLength = 3;
constexpr int smpteDivisionBit = 0x8000;
constexpr std::int64_t usPerSecond = 1'000'000, usPerMs = 1000;
// A SMPTE division's -29 frames a second is 30000/1001 frames, as the standard has it.
constexpr int dropFrameRate = 29;
constexpr std::int64_t dropFrameNum = 30000, dropFrameDen = 1001;

struct Reader {
    const Bytes& bytes;
    std::size_t pos, end;

    bool byte(std::uint8_t& out) {
        if (pos >= end) return false;
        out = bytes[pos++];
        return true;
    }
    bool number(int count, std::uint32_t& out) {
        out = 0;
        for (std::uint8_t b = 0; count-- > 0; out = out << 8 | b)
            if (!byte(b)) return false;
        return true;
    }
    bool variable(std::uint32_t& out) {
        out = 0;
        for (int i = 0; i < 4; ++i) {  // at most four bytes: 28 bits
            std::uint8_t b = 0;
            if (!byte(b)) return false;
            out = out << 7 | (b & 0x7Fu);
            if ((b & 0x80u) == 0) return true;
        }
        return false;
    }
    bool skip(std::uint32_t count) {
        if (count > end - pos) return false;
        pos += count;
        return true;
    }
};

struct TickedMessage {
    std::uint64_t tick;
    std::uint32_t message;
};
struct TempoChange {
    std::uint64_t tick;
    std::uint32_t usPerQuarter;
};
struct Parsed {
    int division = 0;
    std::vector<TickedMessage> messages;
    std::vector<TempoChange> tempos;
    std::uint64_t lastTick = 0;
};

// A meta event's body; a set-tempo joins the map. False when it runs past the track.
bool readMeta(Reader& r, std::uint64_t tick, Parsed& p, bool& ended) {
    std::uint8_t type = 0;
    std::uint32_t length = 0;
    if (!r.byte(type) || !r.variable(length)) return false;
    if (type == endOfTrackMeta) ended = true;
    if (type != tempoMeta || length < tempoLength) return r.skip(length);
    std::uint32_t usPerQuarter = 0;
    if (!r.number(int(tempoLength), usPerQuarter) || !r.skip(length - tempoLength)) return false;
    if (usPerQuarter > 0) p.tempos.push_back({tick, usPerQuarter});
    return true;
}

// A channel message whose status is known and whose first data byte may be read already.
bool readChannelMessage(Reader& r, std::uint8_t status, std::uint8_t first, std::uint64_t tick,
                        Parsed& p) {
    std::uint32_t message = status | std::uint32_t(first) << platform::firstDataShift;
    if (platform::shortMessageLength(status) == 3) {
        std::uint8_t second = 0;
        if (!r.byte(second) || second > platform::dataMask) return false;
        message |= std::uint32_t(second) << platform::secondDataShift;
    }
    if (first > platform::dataMask) return false;
    p.messages.push_back({tick, message});
    return true;
}

bool readEvent(Reader& r, std::uint64_t tick, std::uint8_t& running, Parsed& p, bool& ended) {
    std::uint8_t lead = 0;
    if (!r.byte(lead)) return false;
    if (lead == platform::metaStatus) return readMeta(r, tick, p, ended);
    if (lead == platform::sysExStatus || lead == platform::escapeStatus) {
        running = 0;
        std::uint32_t length = 0;
        return r.variable(length) && r.skip(length);
    }
    if (lead > platform::dataMask) {
        if (lead >= platform::sysExStatus) return false;  // no system message belongs in a file
        running = lead;
        std::uint8_t first = 0;
        return r.byte(first) && readChannelMessage(r, lead, first, tick, p);
    }
    return running != 0 && readChannelMessage(r, running, lead, tick, p);
}

bool readTrack(Reader r, Parsed& p) {
    std::uint64_t tick = 0;
    std::uint8_t running = 0;
    bool ended = false;
    while (!ended && r.pos < r.end) {
        std::uint32_t delta = 0;
        if (!r.variable(delta) || !readEvent(r, tick += delta, running, p, ended)) return false;
    }
    p.lastTick = std::max(p.lastTick, tick);
    return true;
}

bool readChunks(const Bytes& bytes, Parsed& p, std::string& why) {
    Reader r{bytes, 0, bytes.size()};
    std::uint32_t id = 0, length = 0, format = 0, tracks = 0, division = 0;
    if (!r.number(4, id) || id != 0x4D546864u || !r.number(4, length) || length < headerLength ||
        !r.number(2, format) || !r.number(2, tracks) || !r.number(2, division) ||
        !r.skip(length - headerLength)) {
        why = "no MIDI file header";
        return false;
    }
    if (format > 1 || division == 0) {
        why = format > 1 ? "format " + std::to_string(format) + " is not read" : "a division of 0";
        return false;
    }
    p.division = int(division);
    for (std::uint32_t read = 0; read < tracks && r.pos < r.end; ++read) {
        if (!r.number(4, id) || !r.number(4, length) || length > r.end - r.pos) {
            why = "a chunk runs past the end of the file";
            return false;
        }
        const bool track = id == 0x4D54726Bu;  // other chunks are skipped, as the standard asks
        if (track && !readTrack(Reader{bytes, r.pos, r.pos + length}, p)) {
            why = "an event is cut off or malformed in track " + std::to_string(read + 1);
            return false;
        }
        r.pos += length;
    }
    return true;
}

// Ticks to microseconds: each stretch between tempo changes at its own tempo, summed
// before dividing so no rounding accumulates; the sums up to each change are kept, so a
// time is one search away. A SMPTE division counts frames and ticks instead.
class TempoMap {
public:
    explicit TempoMap(Parsed& p) : division_(p.division) {
        std::stable_sort(p.tempos.begin(), p.tempos.end(),
                         [](const TempoChange& a, const TempoChange& b) { return a.tick < b.tick; });
        Stretch current{0, 0, midi::startUsPerQuarter};
        for (const TempoChange& change : p.tempos) {
            current.scaledUs += Wide(change.tick - current.tick) * current.usPerQuarter;
            current.tick = change.tick;
            current.usPerQuarter = change.usPerQuarter;
            stretches_.push_back(current);
        }
    }
    std::int64_t us(std::uint64_t tick) const {
        if (division_ & smpteDivisionBit) return clamp(smpteScaled(tick));
        auto after = std::upper_bound(stretches_.begin(), stretches_.end(), tick,
                                      [](std::uint64_t t, const Stretch& s) { return t < s.tick; });
        const Stretch start = after == stretches_.begin() ? Stretch{0, 0, midi::startUsPerQuarter}
                                                          : *std::prev(after);
        return clamp((start.scaledUs + Wide(tick - start.tick) * start.usPerQuarter) / unsigned(division_));
    }

private:
    using Wide = unsigned __int128;
    struct Stretch {
        std::uint64_t tick;
        Wide scaledUs;  // microseconds times the division, up to `tick`
        std::uint32_t usPerQuarter;
    };

    static std::int64_t clamp(Wide us) { return us > Wide(INT64_MAX) ? INT64_MAX : std::int64_t(us); }
    Wide smpteScaled(std::uint64_t tick) const {
        const int frames = -std::int8_t(division_ >> 8);
        const int ticksPerFrame = std::max(division_ & 0xFF, 1);
        const std::int64_t num = frames == dropFrameRate ? dropFrameNum : std::max(frames, 1);
        const std::int64_t den = frames == dropFrameRate ? dropFrameDen : 1;
        return Wide(tick) * usPerSecond * unsigned(den) / unsigned(num * ticksPerFrame);
    }

    std::vector<Stretch> stretches_;
    int division_;
};

}  // namespace

std::optional<TimedMessages> readTimedMessages(const std::string& path, std::string& reason) {
    // Read as a given file is: a named pipe or a folder is refused, never waited on.
    const std::optional<Bytes> bytes = readWholeFile(path, reason);
    if (!bytes) return std::nullopt;
    Parsed parsed;
    std::string why;
    if (!readChunks(*bytes, parsed, why)) {
        reason = path + " is not a MIDI file that can be read: " + why;
        return std::nullopt;
    }
    std::stable_sort(parsed.messages.begin(), parsed.messages.end(),
                     [](const TickedMessage& a, const TickedMessage& b) { return a.tick < b.tick; });
    const TempoMap map(parsed);
    TimedMessages out;
    for (const TickedMessage& m : parsed.messages) out.messages.push_back({map.us(m.tick) / usPerMs, m.message});
    out.lengthUs = map.us(parsed.lastTick);
    return out;
}

}  // namespace vesk::app
