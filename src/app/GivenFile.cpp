// Reading, checking and copying the given file, and the lines that say what was done.
#include "app/GivenFile.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ostream>
#include <system_error>

#include "app/DataFiles.h"
#include "app/Playlist.h"
#include "midi/SmfFile.h"
#include "platform/RegularFile.h"

namespace vesk::app {

namespace {

namespace fs = std::filesystem;

constexpr const char* cacheSubfolder = "vesk";
constexpr const char* homeCache = ".cache";
// "song.mid" is copied to "song.format0.mid", so a copy never takes the name of a file
// the user gave.
constexpr const char* copyInfix = ".format0";

std::string quoted(const std::string& path) { return "\"" + path + "\""; }

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// Why the player could not take the file as it is; empty when it could.
std::string whyCopy(const midi::MergedSmf& smf, std::size_t size) {
    if (smf.format != 0 || smf.tracks > 1)
        return "is format " + std::to_string(smf.format) + " with " + std::to_string(smf.tracks) + " tracks";
    if (smf.runningStatus) return "uses running status, which the player does not read";
    if (size >= std::size_t(midi::smfBufferSize)) return "is too large for the player as it is";
    return {};
}

int chooseChannel(std::optional<int> given, const midi::MergedSmf& smf, const std::string& path,
                  std::ostream& log) {
    if (given) return *given;
    const std::optional<int> busiest = busiestMelodicChannel(smf);
    if (!busiest) {
        log << "vesk: " << quoted(path) << " plays no notes; the flake listens to channel 1\n";
        return 0;
    }
    log << "vesk: listening to channel " << *busiest + 1 << " of " << quoted(path) << ", "
        << (*busiest == midi::drumChannel ? "the drums', the only one that plays"
                                          : "the melodic one with the most notes")
        << " (" << smf.noteOns[std::size_t(*busiest)] << "); --channel N chooses another\n";
    return *busiest;
}

// The copy in the cache folder; none with `error` when it cannot be written.
std::optional<std::string> writeCopy(const std::string& path, const midi::MergedSmf& smf, std::string& error) {
    const std::optional<std::vector<std::uint8_t>> copy = midi::writeFormat0(smf, error);
    if (!copy) {
        error = quoted(path) + " " + error;
        return std::nullopt;
    }
    const fs::path folder = cacheFolder(std::getenv("XDG_CACHE_HOME"), std::getenv("HOME"));
    if (folder.empty()) {
        error = "no folder for a copy of " + quoted(path) + ": neither XDG_CACHE_HOME nor HOME is set";
        return std::nullopt;
    }
    const fs::path given(path);
    const fs::path target = folder / (given.stem().string() + copyInfix + given.extension().string());
    std::error_code ec;
    if (fs::equivalent(given, target, ec)) {
        error = "a copy of " + quoted(path) + " would be written over it";
        return std::nullopt;
    }
    if (!writeWholeFile(target, *copy, error)) return std::nullopt;
    return target.string();
}

// FILE, or the demo piece for --demo; empty with `error` when the demo cannot be found.
std::string givenPath(const Options& o, std::string& error) {
    if (!o.file.empty() || !o.demo) return o.file;
    std::string searched;
    if (const std::optional<fs::path> demo = findDataFile(demoPieceName, searched)) return demo->string();
    error = "the demo piece " + std::string(demoPieceName) + " is in none of vesk's data folders (" + searched + ")";
    return {};
}

}  // namespace

fs::path cacheFolder(const char* xdgCacheHome, const char* home) {
    // The XDG rule: a relative XDG_CACHE_HOME is not to be used.
    if (xdgCacheHome && fs::path(xdgCacheHome).is_absolute()) return fs::path(xdgCacheHome) / cacheSubfolder;
    if (home && *home) return fs::path(home) / homeCache / cacheSubfolder;
    return {};
}

std::optional<std::vector<std::uint8_t>> readWholeFile(const std::string& path, std::string& error) {
    std::string reason;
    std::optional<platform::RegularFile> file = platform::RegularFile::open(path, reason);
    if (!file) {
        error = "cannot open " + quoted(path) + ": " + reason;
        return std::nullopt;
    }
    if (file->size() > largestGivenFileBytes) {
        error = quoted(path) + " is " + std::to_string(file->size()) + " bytes, more than any MIDI file vesk plays";
        return std::nullopt;
    }
    std::vector<std::uint8_t> bytes(file->size());
    const std::optional<std::size_t> read = file->read(bytes.data(), bytes.size(), reason);
    if (!read) {
        error = "cannot read " + quoted(path) + ": " + reason;
        return std::nullopt;
    }
    // A file that shrank while it was read is what it holds now.
    bytes.resize(*read);
    return bytes;
}

bool writeWholeFile(const fs::path& path, const std::vector<std::uint8_t>& bytes, std::string& error) {
    std::error_code ec;
    if (path.has_parent_path()) fs::create_directories(path.parent_path(), ec);
    if (ec) {
        error = "cannot make the folder " + quoted(path.parent_path().string()) + ": " + ec.message();
        return false;
    }
    File file(std::fopen(path.c_str(), "wb"));
    const bool written = file && std::fwrite(bytes.data(), 1, bytes.size(), file.get()) == bytes.size();
    if (!written || std::fclose(file.release()) != 0) {
        error = "cannot write " + quoted(path.string()) + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

std::optional<PreparedFile> prepareFile(const std::string& path, std::optional<int> listenChannel,
                                        std::ostream& log, std::string& error) {
    const std::optional<std::vector<std::uint8_t>> bytes = readWholeFile(path, error);
    if (!bytes) return std::nullopt;
    const std::optional<midi::MergedSmf> smf = midi::mergeSmf(*bytes, error);
    if (!smf) {
        error = quoted(path) + " " + error;
        return std::nullopt;
    }
    PreparedFile prepared{{path, chooseChannel(listenChannel, *smf, path, log)}, 0};
    prepared.notesHeard = smf->noteOns[std::size_t(prepared.choice.listenChannel)];
    const std::string why = whyCopy(*smf, bytes->size());
    if (why.empty()) return prepared;
    const std::optional<std::string> copy = writeCopy(path, *smf, error);
    if (!copy) return std::nullopt;
    log << "vesk: " << quoted(path) << " " << why << "; playing its format-0 copy " << *copy << "\n";
    prepared.choice.path = *copy;
    return prepared;
}

std::string songName(const std::string& path) {
    const std::string stem = fs::path(path).stem().string();
    const std::string_view infix(copyInfix);
    if (stem.size() > infix.size() && stem.ends_with(infix)) return stem.substr(0, stem.size() - infix.size());
    return stem;
}

std::optional<midi::SmfChoice> prepareGivenFile(const Options& o, std::ostream& log, std::string& error) {
    const std::string path = givenPath(o, error);
    if (path.empty()) return std::nullopt;
    std::optional<PreparedFile> prepared = prepareFile(path, o.listenChannel, log, error);
    if (!prepared) return std::nullopt;
    return std::move(prepared->choice);
}

std::unique_ptr<midi::SmfSource> chooseSource(const Options& o, std::ostream& log, std::string& error) {
    if (!o.loop.empty()) {
        std::optional<std::vector<PlaylistEntry>> entries = expandPlaylist(o.loop, error);
        if (!entries) return nullptr;
        auto looping = std::make_unique<LoopingSource>(std::move(*entries), o.listenChannel, log);
        if (looping->start()) return looping;
        error = looping->gaveUpText();
        return nullptr;
    }
    if (o.file.empty() && !o.demo) return std::make_unique<midi::AskEveryTime>();
    std::optional<midi::SmfChoice> given = prepareGivenFile(o, log, error);
    if (!given) return nullptr;
    return std::make_unique<midi::GivenThenAsk>(std::move(*given));
}

}  // namespace vesk::app
