// Video and sound files through FFmpeg's libraries: the writer for one of the formats in
// the table (VideoFormats.h), written under a temporary name beside the file's own.
//
// Implemented: H.264 (yuv420p) or VP9 pictures converted and scaled from the window's
// pixels by swscale, tagged BT.709 limited range; AAC, Opus or 16-bit PCM sound converted
// by swresample; a frame that did not change is neither converted nor encoded again: the
// picture before it lasts a frame longer (frames on the rate's grid, of varying length);
// no time of creation or library version in the file, so the same run gives the same bytes.
// Limits: the sound is stereo at the layout's rate.
#pragma once

#include <memory>
#include <string>

#include "platform/MediaWriter.h"
#include "platform/video/VideoFormats.h"

namespace vesk::platform::video {

// Null with the reason (naming `path`) when the file cannot be begun.
std::unique_ptr<MediaWriter> openVideoWriter(const std::string& path, const VideoFormat& format,
                                             const MediaLayout& layout, std::string& reason);

}  // namespace vesk::platform::video
