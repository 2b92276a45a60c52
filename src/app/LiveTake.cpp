// The take written through the file merger's own format-0 writer, so a take and a copy of
// a given file are laid out alike.
#include "app/LiveTake.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "midi/SmfMerge.h"
#include "platform/MidiOutput.h"

namespace vesk::app {

namespace {

constexpr std::uint8_t metaStatus = platform::metaStatus;
constexpr std::uint8_t trackNameMeta = 0x03, tempoMeta = 0x51;
constexpr std::uint8_t tempoLength = 3;
// A track name longer than one byte of length says is cut: the name is for a person.
constexpr std::size_t trackNameMax = 127;
constexpr const char* defaultExtension = ".mid";
constexpr const char* numberFormat = "-%04d";
constexpr std::size_t numberTextMax = 16;

void addEvent(midi::MergedSmf& smf, std::uint64_t tick, const std::vector<std::uint8_t>& bytes) {
    smf.events.push_back({tick, std::uint32_t(smf.bytes.size()), std::uint32_t(bytes.size())});
    smf.bytes.insert(smf.bytes.end(), bytes.begin(), bytes.end());
}

}  // namespace

void LiveTake::add(std::int64_t ms, std::uint32_t message) {
    const auto status = std::uint8_t(message & platform::byteMask);
    if (status < platform::noteOffStatus || status >= platform::sysExStatus) return;
    const int length = platform::shortMessageLength(status);
    for (int i = 1; i < length; ++i)
        if ((message >> (platform::firstDataShift * i)) & ~std::uint32_t(platform::dataMask) & platform::byteMask)
            return;
    if (messages_.size() >= takeMessagesMax) {
        ++dropped_;
        return;
    }
    messages_.push_back({std::max<std::int64_t>(ms, 0), message});
}

void LiveTake::clear() {
    messages_.clear();
    dropped_ = 0;
}

std::vector<std::uint8_t> LiveTake::smf(const std::string& songName) const {
    midi::MergedSmf smf;
    smf.division = takeTicksPerQuarter;
    const std::string name = songName.substr(0, trackNameMax);
    std::vector<std::uint8_t> meta{metaStatus, trackNameMeta, std::uint8_t(name.size())};
    meta.insert(meta.end(), name.begin(), name.end());
    addEvent(smf, 0, meta);
    addEvent(smf, 0, {metaStatus, tempoMeta, tempoLength, std::uint8_t(takeUsPerQuarter >> 16),
                      std::uint8_t(takeUsPerQuarter >> 8), std::uint8_t(takeUsPerQuarter)});
    for (const Message& m : messages_) {
        const auto status = std::uint8_t(m.message & platform::byteMask);
        std::vector<std::uint8_t> bytes{status};
        for (int i = 1; i < platform::shortMessageLength(status); ++i)
            bytes.push_back(std::uint8_t(m.message >> (platform::firstDataShift * i)));
        addEvent(smf, std::uint64_t(m.ms), bytes);
    }
    std::string error;
    // Milliseconds from a performance's start fit the delta times for far longer than any
    // performance lasts; a take that did not would be one without its music.
    return midi::encodeFormat0(smf, error).value_or(std::vector<std::uint8_t>{});
}

std::string takePath(const std::string& given, int performance) {
    const std::filesystem::path path(given);
    char number[numberTextMax];
    std::snprintf(number, sizeof number, numberFormat, performance);
    const std::string extension = path.has_extension() ? path.extension().string() : defaultExtension;
    return (path.parent_path() / (path.stem().string() + number + extension)).string();
}

}  // namespace vesk::app
