// The files an offline render can write through FFmpeg's libraries, by their extension:
// the container, the encoder of each stream and its settings. Everything the render and
// its checks know of a format comes from this one table.
#pragma once

#include <span>
#include <string>
#include <string_view>

namespace vesk::platform::video {

struct EncoderChoice {
    std::string_view name;     // FFmpeg's encoder; empty: the file has no such stream
    std::string_view options;  // "key=value:key=value", the encoder's own options
};

struct VideoFormat {
    std::string_view extension;  // with its dot, lower case
    std::string_view muxer;      // FFmpeg's name of the container
    std::string_view description;
    EncoderChoice picture;
    EncoderChoice sound;
    std::string_view muxerOptions;
    bool evenSize;  // the picture's chroma is halved both ways: width and height must be even
};

std::span<const VideoFormat> videoFormats();
// The format for `extension` (".mp4"; any case), or null.
const VideoFormat* videoFormatFor(std::string_view extension);
// False with the reason when this machine's FFmpeg lacks the format's container or encoders.
bool videoFormatAvailable(const VideoFormat& format, std::string& reason);

}  // namespace vesk::platform::video
