// The table of formats and the encoder settings, chosen for speed first: a render should
// run many times faster than the music lasts on a two-core machine. Every setting that
// would make two renders of the same run differ (thread counts left to the machine, a
// time of creation) is pinned, so the same run gives the same bytes.
#include "platform/video/VideoFormats.h"

#include <algorithm>
#include <cctype>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

namespace vesk::platform::video {

namespace {

// x264's fastest preset: about 3 ms a 1024x768 frame on one core, against 6.5 for
// "veryfast", whose file of the demo piece is 11 MiB instead of 26 (1.3 Mbit/s). Encoding
// is most of a render's time. Two threads, whatever the machine: x264's output depends on
// the count.
constexpr EncoderChoice h264{"libx264", "preset=ultrafast:crf=23:threads=2"};
// libvpx's real-time mode at its fastest setting; VP9 is the slow one of the three.
constexpr EncoderChoice vp9{"libvpx-vp9", "deadline=realtime:cpu-used=8:crf=32:b=0:row-mt=1:threads=2"};
constexpr EncoderChoice aac{"aac", "b=192000"};
constexpr EncoderChoice opus{"libopus", "b=128000"};
constexpr EncoderChoice pcm16{"pcm_s16le", ""};
constexpr EncoderChoice none{"", ""};

constexpr VideoFormat formats[] = {
    {".mp4", "mp4", "H.264 and AAC in MP4", h264, aac, "movflags=+faststart", true},
    {".mkv", "matroska", "H.264 and AAC in Matroska", h264, aac, "", true},
    {".webm", "webm", "VP9 and Opus in WebM", vp9, opus, "", true},
    {".wav", "wav", "the sound alone, 16-bit PCM in WAV", none, pcm16, "", false},
};

bool sameLetters(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
    });
}

}  // namespace

std::span<const VideoFormat> videoFormats() { return formats; }

const VideoFormat* videoFormatFor(std::string_view extension) {
    for (const VideoFormat& format : formats)
        if (sameLetters(format.extension, extension)) return &format;
    return nullptr;
}

bool videoFormatAvailable(const VideoFormat& format, std::string& reason) {
    const std::string muxer(format.muxer);
    if (!av_guess_format(muxer.c_str(), nullptr, nullptr)) {
        reason = "this FFmpeg has no " + muxer + " container";
        return false;
    }
    for (const EncoderChoice& encoder : {format.picture, format.sound}) {
        const std::string name(encoder.name);
        if (!name.empty() && !avcodec_find_encoder_by_name(name.c_str())) {
            reason = "this FFmpeg has no " + name + " encoder";
            return false;
        }
    }
    return true;
}

}  // namespace vesk::platform::video
