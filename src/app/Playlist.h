// Unattended play: the files an installation plays one after another, for ever. What
// --loop names (files, folders of .mid files, .m3u lists) becomes one list; each
// performance takes the next file that can be played, made ready as a file given on the
// command line is, and a file that cannot is passed over with a line, never a box.
#pragma once

#include <cstddef>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "midi/SmfLoading.h"

namespace vesk::app {

struct PlaylistEntry {
    std::string path;
    std::optional<int> listenChannel;  // 0-based, from "song.mid:3"; none: --channel or auto
    std::string channelError;          // the entry's ":N" is no channel; it is passed over
};

// The entries of `items` in their order: a folder gives its .mid and .midi files in name
// order, a list (.m3u, .m3u8) its lines (relative to the list's folder, '#' lines and
// blank ones left out), anything else is one file. "NAME:N" names a file whose channel N
// (1 to 16) listens, or gives a folder's or a list's files that channel. None, with `error`, when a folder or list cannot be read or the
// whole list names no file.
std::optional<std::vector<PlaylistEntry>> expandPlaylist(const std::vector<std::string>& items,
                                                         std::string& error);

// Each performance's file from the list, round and round. A file that cannot be played is
// passed over with one line on `log` (again only when its reason changes); when a whole
// round finds nothing to play, the run ends with exitFailed.
class LoopingSource final : public midi::SmfSource {
public:
    LoopingSource(std::vector<PlaylistEntry> entries, std::optional<int> listenChannel, std::ostream& log);

    // Makes the first playable file ready; false when none is (gaveUpText() says so).
    bool start();
    std::string gaveUpText() const;
    std::optional<midi::SmfChoice> next() override;
    midi::SmfChoice offered() const override { return last_; }
    std::optional<int> endOfRun() const override;

private:
    std::optional<midi::SmfChoice> nextPlayable();
    std::optional<midi::SmfChoice> prepare(std::size_t index);

    std::vector<PlaylistEntry> entries_;
    std::optional<int> listenChannel_;
    std::ostream& log_;
    // What the log has heard of each entry: that it was made ready, why it was passed over.
    std::vector<bool> readyTold_;
    std::vector<std::string> reasonTold_;
    std::size_t cursor_ = 0;
    std::optional<midi::SmfChoice> ready_;  // made ready by start(), played first
    midi::SmfChoice last_ = midi::dialogDefaults();
    bool gaveUp_ = false;
};

}  // namespace vesk::app
