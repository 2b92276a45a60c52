// A file given on the command line (or the bundled demo piece), made ready before the
// first performance: read and checked whole, merged into a format-0 copy in the cache
// folder when the player could not take it as it is, its channel chosen, and what was
// done said on one line each. The run then plays it at once and the dialog offers it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/Options.h"
#include "midi/SmfLoading.h"
#include "midi/SmfMerge.h"

namespace vesk::app {

// Larger than any MIDI file a person plays; a larger one is refused before it is read.
constexpr std::uintmax_t largestGivenFileBytes = 16u << 20;

// Where copies go: $XDG_CACHE_HOME/vesk when it names an absolute folder, else
// $HOME/.cache/vesk; empty when neither is set.
std::filesystem::path cacheFolder(const char* xdgCacheHome, const char* home);

// The whole file; none with `error` (a phrase that names the file) when it cannot be read
// or is larger than largestGivenFileBytes.
std::optional<std::vector<std::uint8_t>> readWholeFile(const std::string& path, std::string& error);

// Writes `bytes` to `path`, making its folder; false with `error` naming what failed.
bool writeWholeFile(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes,
                    std::string& error);

// A file made ready to play: the file the player reads (the given one or its copy) with
// the channel that listens, and how many notes that channel plays.
struct PreparedFile {
    midi::SmfChoice choice;
    int notesHeard = 0;
};

// Reads `path` whole, chooses the channel (`listenChannel`, else the busiest melodic one)
// and writes the copy where one is needed, saying on `log` what it chose and wrote. None
// with `error` (naming the file) when it cannot be played.
std::optional<PreparedFile> prepareFile(const std::string& path, std::optional<int> listenChannel,
                                        std::ostream& log, std::string& error);

// The song a played file holds, for names made from it: the file's name without its
// folder and extension, a copy's without what marks it as a copy.
std::string songName(const std::string& path);

// The file and channel the first performance plays, from FILE, or the demo piece with
// --demo; writes the copy where one is needed and says on `log` which channel listens
// and which file plays. None with `error` when it cannot be played.
std::optional<midi::SmfChoice> prepareGivenFile(const Options& options, std::ostream& log,
                                                std::string& error);

// Where the run's files come from: the --loop list round and round, the prepared file
// first, or the dialog every time when none is given. Null, with `error`, when the given file cannot be played.
std::unique_ptr<midi::SmfSource> chooseSource(const Options& options, std::ostream& log,
                                              std::string& error);

}  // namespace vesk::app
