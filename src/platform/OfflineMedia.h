// What an offline render can write, by the form of the name it is given: a folder of PNG
// frames always, and with VESK_WITH_VIDEO the video and sound files of FFmpeg's table; and
// the synthesiser it hears the performance on. A build without video has only the folder.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/MediaWriter.h"

namespace vesk::platform {

struct MediaTarget {
    enum class Form { Folder, File };
    Form form = Form::Folder;
    std::string description;   // "H.264 and AAC in MP4"
    bool keepsPicture = true;
    bool keepsSound = false;
    bool windowSizeOnly = false;  // the pictures cannot be scaled
    bool evenSize = false;        // width and height must be even
    const void* format = nullptr;  // the backend's own entry
};

// A name is a folder when it ends in '/', is a folder already or has no extension; else
// its extension chooses the file. None, with the reason listing what is known, for an
// extension no format has, or a format this machine's libraries cannot write.
std::optional<MediaTarget> mediaTargetFor(const std::string& path, std::string& reason);

// Null with the reason (naming `path`) when the writer cannot be begun.
std::unique_ptr<MediaWriter> openMediaWriter(const MediaTarget& target, const std::string& path,
                                             const MediaLayout& layout, std::string& reason);

// The embedded synthesiser on `soundFont` (empty: the one the live program finds),
// rendering into `sink`; null with the reason.
std::unique_ptr<OfflineSound> openOfflineSound(const std::string& soundFont,
                                               std::function<std::int64_t()> clockUs,
                                               SoundSink sink, std::string& reason);

}  // namespace vesk::platform
