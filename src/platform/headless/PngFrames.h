// An offline render's pictures as a folder of numbered PNG files, the window's own pixels
// at its own size, the folder appearing under its name once complete. The same names as
// the headless run's frames, so the two can be compared file by file.
#pragma once

#include <memory>
#include <string>

#include "platform/MediaWriter.h"

namespace vesk::platform {

// Where frame `frame` (counted from 1) is kept under `folder`.
std::string framePngPath(const std::string& folder, int frame);

// Null with the reason when the folder cannot be begun. Pictures only: sound is refused.
std::unique_ptr<MediaWriter> openPngFrames(const std::string& folder, const MediaLayout& layout,
                                           std::string& reason);

}  // namespace vesk::platform
