// The list behind --loop and the source that plays it round and round. Each file is made
// ready again at its turn, so a file replaced while the installation runs plays as it now is.
#include "app/Playlist.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <ostream>
#include <system_error>

#include "app/GivenFile.h"
#include "app/Options.h"
#include "platform/MidiMessage.h"

namespace vesk::app {

namespace {

namespace fs = std::filesystem;

constexpr char channelSeparator = ':';
constexpr std::size_t channelDigitsMax = 2;
constexpr char commentMark = '#';
constexpr const char* listExtensions[] = {".m3u", ".m3u8"};
constexpr const char* midiExtensions[] = {".mid", ".midi"};
constexpr const char* blanks = " \t\r\n";

std::string quoted(const std::string& text) { return "\"" + text + "\""; }

std::string lowerExtension(const fs::path& path) {
    std::string ext = path.extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return ext;
}

template <std::size_t N>
bool hasExtension(const fs::path& path, const char* const (&extensions)[N]) {
    const std::string ext = lowerExtension(path);
    return std::any_of(std::begin(extensions), std::end(extensions), [&](const char* e) { return ext == e; });
}

// "NAME:N" as NAME with channel N; a name whose ending is not ":" and digits stays whole.
PlaylistEntry splitChannel(const std::string& item) {
    const std::size_t colon = item.rfind(channelSeparator);
    if (colon == std::string::npos || colon == 0) return {item, std::nullopt, {}};
    const std::string digits = item.substr(colon + 1);
    if (digits.empty() || digits.size() > channelDigitsMax ||
        !std::all_of(digits.begin(), digits.end(), [](unsigned char c) { return std::isdigit(c); }))
        return {item, std::nullopt, {}};
    PlaylistEntry entry{item.substr(0, colon), std::stoi(digits) - 1, {}};
    if (*entry.listenChannel < 0 || *entry.listenChannel >= platform::channelCount)
        entry.channelError = quoted(item) + " names channel " + digits + "; channels are 1 to 16";
    return entry;
}

bool addFolder(const PlaylistEntry& folder, std::vector<PlaylistEntry>& out, std::string& error) {
    std::error_code ec;
    std::vector<fs::path> files;
    for (fs::directory_iterator it(folder.path, ec), end; !ec && it != end; it.increment(ec))
        if (it->is_regular_file(ec) && hasExtension(it->path(), midiExtensions)) files.push_back(it->path());
    if (ec) {
        error = "cannot read the folder " + quoted(folder.path) + ": " + ec.message();
        return false;
    }
    std::sort(files.begin(), files.end(), [](const fs::path& a, const fs::path& b) {
        return a.filename().string() < b.filename().string();
    });
    for (const fs::path& file : files) out.push_back({file.string(), folder.listenChannel, folder.channelError});
    return true;
}

// A line without a channel of its own takes the list's ("list.m3u:3"), as a folder's files do.
bool addList(const PlaylistEntry& list, std::vector<PlaylistEntry>& out, std::string& error) {
    const std::optional<std::vector<std::uint8_t>> bytes = readWholeFile(list.path, error);
    if (!bytes) return false;
    const std::string text(bytes->begin(), bytes->end());
    const fs::path base = fs::path(list.path).parent_path();
    for (std::size_t start = 0; start < text.size();) {
        const std::size_t end = std::min(text.find('\n', start), text.size());
        std::string line = text.substr(start, end - start);
        start = end + 1;
        line.erase(0, line.find_first_not_of(blanks));
        line.erase(line.find_last_not_of(blanks) + 1);
        if (line.empty() || line.front() == commentMark) continue;
        PlaylistEntry entry = splitChannel(line);
        if (fs::path(entry.path).is_relative()) entry.path = (base / entry.path).string();
        if (!entry.listenChannel) {
            entry.listenChannel = list.listenChannel;
            entry.channelError = list.channelError;
        }
        out.push_back(std::move(entry));
    }
    return true;
}

}  // namespace

std::optional<std::vector<PlaylistEntry>> expandPlaylist(const std::vector<std::string>& items,
                                                         std::string& error) {
    std::vector<PlaylistEntry> entries;
    for (const std::string& item : items) {
        std::error_code ec;
        const PlaylistEntry split = splitChannel(item);
        if (fs::is_directory(split.path, ec)) {
            if (!addFolder(split, entries, error)) return std::nullopt;
        } else if (hasExtension(split.path, listExtensions)) {
            if (!addList(split, entries, error)) return std::nullopt;
        } else {
            entries.push_back(split);
        }
    }
    if (entries.empty()) {
        error = "--loop names no MIDI file to play";
        return std::nullopt;
    }
    return entries;
}

LoopingSource::LoopingSource(std::vector<PlaylistEntry> entries, std::optional<int> listenChannel,
                             std::ostream& log)
    : entries_(std::move(entries)),
      listenChannel_(listenChannel),
      log_(log),
      readyTold_(entries_.size(), false),
      reasonTold_(entries_.size()) {}

bool LoopingSource::start() {
    ready_ = nextPlayable();
    return ready_.has_value();
}

std::optional<midi::SmfChoice> LoopingSource::next() {
    std::optional<midi::SmfChoice> choice = ready_ ? std::exchange(ready_, std::nullopt) : nextPlayable();
    if (choice) last_ = *choice;
    if (gaveUp_) log_ << "vesk: " << gaveUpText() << "\n" << std::flush;
    return choice;
}

std::string LoopingSource::gaveUpText() const {
    if (entries_.size() == 1) return "the one file of the loop cannot be played";
    return "none of the " + std::to_string(entries_.size()) + " files of the loop can be played";
}

std::optional<int> LoopingSource::endOfRun() const {
    return gaveUp_ ? std::optional<int>(exitFailed) : std::nullopt;
}

// At most one round: the same entries again would fail for the same reasons.
std::optional<midi::SmfChoice> LoopingSource::nextPlayable() {
    for (std::size_t tried = 0; tried < entries_.size(); ++tried) {
        const std::size_t index = cursor_;
        cursor_ = (cursor_ + 1) % entries_.size();
        if (std::optional<midi::SmfChoice> choice = prepare(index)) return choice;
    }
    gaveUp_ = true;
    return std::nullopt;
}

std::optional<midi::SmfChoice> LoopingSource::prepare(std::size_t index) {
    const PlaylistEntry& entry = entries_[index];
    // What was chosen and copied is said the first time round only: the loop runs for days.
    std::ostream quiet(nullptr);
    std::string reason = entry.channelError;
    std::optional<PreparedFile> prepared;
    if (reason.empty()) {
        prepared = prepareFile(entry.path, entry.listenChannel ? entry.listenChannel : listenChannel_,
                               readyTold_[index] ? quiet : log_, reason);
    }
    if (prepared && prepared->notesHeard == 0) {
        // Nothing would grow, and without notes no finale comes to end the performance.
        reason = quoted(entry.path) + " plays no notes on channel " +
                 std::to_string(prepared->choice.listenChannel + 1);
        prepared.reset();
    }
    if (prepared) {
        readyTold_[index] = true;
        reasonTold_[index].clear();
        return std::move(prepared->choice);
    }
    if (reason != reasonTold_[index]) log_ << "vesk: " << reason << "; the loop passes it over\n" << std::flush;
    reasonTold_[index] = reason;
    return std::nullopt;
}

}  // namespace vesk::app
