// The video backend as a module of its own, loaded only when a render writes a video or
// sound file: FFmpeg's libraries and the hundred libraries they bring would otherwise be
// loaded at every start of the program, doubling the time to its first frame.
#pragma once

#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "platform/MediaWriter.h"
#include "platform/video/VideoFormats.h"

namespace vesk::platform::video {

// What the module gives: the format table and the writer, as VideoFormats.h and
// VideoWriter.h declare them.
struct VideoModuleApi {
    std::span<const VideoFormat> (*formats)();
    const VideoFormat* (*formatFor)(std::string_view extension);
    bool (*available)(const VideoFormat& format, std::string& reason);
    std::unique_ptr<MediaWriter> (*openWriter)(const std::string& path, const VideoFormat& format,
                                               const MediaLayout& layout, std::string& reason);
};

// The module's one exported name, and the file it is built as.
constexpr char videoModuleEntry[] = "vesk_video_module";
constexpr char videoModuleFile[] = "vesk-video.so";

using VideoModuleEntry = const VideoModuleApi* (*)();

}  // namespace vesk::platform::video
