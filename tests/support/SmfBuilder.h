// Small Standard MIDI Files for tests: a header, then a track written event by event
// (delta time, bytes), with the track length filled in. Files go to a temporary folder of
// the test process, which goes with everything in it when the process ends.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <initializer_list>
#include <string>
#include <system_error>
#include <vector>

#include <unistd.h>

namespace vesk::test {

using Bytes = std::vector<std::uint8_t>;

// The variable-length form of `value` (7 bits a byte, most significant first).
inline Bytes variableLength(std::uint32_t value) {
    Bytes out{std::uint8_t(value & 0x7F)};
    while (value >>= 7) out.insert(out.begin(), std::uint8_t(0x80 | (value & 0x7F)));
    return out;
}

class SmfBuilder {
public:
    explicit SmfBuilder(int division = 480, int format = 0) : division_(division), format_(format) {}

    // An event at `delta` ticks after the one before.
    SmfBuilder& event(std::uint32_t delta, std::initializer_list<std::uint8_t> bytes) {
        return raw(variableLength(delta)).raw(Bytes(bytes));
    }
    SmfBuilder& tempo(std::uint32_t delta, std::uint32_t usPerQuarter) {
        return event(delta, {0xFF, 0x51, 0x03, std::uint8_t(usPerQuarter >> 16),
                             std::uint8_t(usPerQuarter >> 8), std::uint8_t(usPerQuarter)});
    }
    SmfBuilder& endOfTrack(std::uint32_t delta = 0) { return event(delta, {0xFF, 0x2F, 0x00}); }
    SmfBuilder& raw(const Bytes& bytes) {
        track_.insert(track_.end(), bytes.begin(), bytes.end());
        return *this;
    }

    // The whole file; `trackLength` overrides the true length (for broken files).
    Bytes bytes(std::int64_t trackLength = -1) const {
        const std::uint32_t length = trackLength < 0 ? std::uint32_t(track_.size()) : std::uint32_t(trackLength);
        Bytes out = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, std::uint8_t(format_), 0, 1,
                     std::uint8_t(division_ >> 8), std::uint8_t(division_), 'M', 'T', 'r', 'k',
                     std::uint8_t(length >> 24), std::uint8_t(length >> 16), std::uint8_t(length >> 8),
                     std::uint8_t(length)};
        out.insert(out.end(), track_.begin(), track_.end());
        return out;
    }

    // The track alone, as a chunk: its type, its length and its events.
    Bytes trackChunk() const {
        const Bytes all = bytes();
        return Bytes(all.begin() + headerChunkBytes, all.end());
    }

    static constexpr std::ptrdiff_t headerChunkBytes = 14;

private:
    int division_;
    int format_;
    Bytes track_;
};

// A file of several tracks: the header of `format` and `division`, then each track's chunk.
inline Bytes multiTrackFile(int format, int division, std::initializer_list<SmfBuilder> tracks) {
    const Bytes head = SmfBuilder(division, format).bytes();
    Bytes out(head.begin(), head.begin() + SmfBuilder::headerChunkBytes);
    out[11] = std::uint8_t(tracks.size());  // the track count's low byte
    for (const SmfBuilder& track : tracks) {
        const Bytes chunk = track.trackChunk();
        out.insert(out.end(), chunk.begin(), chunk.end());
    }
    return out;
}

// The folder of this process's test files. CTest runs every case as a process of its own,
// so removing it at the end of the process leaves nothing behind after any case. A child
// the process forks leaves it alone.
class TestFolder {
public:
    static const std::filesystem::path& path() {
        static const TestFolder folder;
        return folder.path_;
    }

private:
    TestFolder()
        : owner_(::getpid()),
          path_(std::filesystem::temp_directory_path() / ("vesk-test-" + std::to_string(owner_))) {
        std::filesystem::create_directories(path_);
    }
    ~TestFolder() {
        if (::getpid() != owner_) return;
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }

    pid_t owner_;
    std::filesystem::path path_;
};

// Writes `bytes` to a file of that name in the test folder; returns its path.
inline std::string writeTestFile(const std::string& name, const Bytes& bytes) {
    const std::string path = (TestFolder::path() / name).string();
    if (std::FILE* f = std::fopen(path.c_str(), "wb")) {
        if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
    }
    return path;
}

}  // namespace vesk::test
