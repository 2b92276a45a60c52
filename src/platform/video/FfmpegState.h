// The video backend's state, one struct its parts share: the container being written
// under its temporary name, one encoder per stream, the picture's converter and the
// sound's queue. Only this folder's sources include it.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include "platform/MediaWriter.h"
#include "platform/PendingFile.h"
#include "platform/video/VideoFormats.h"

namespace vesk::platform::video {

// One stream of the file and the encoder that fills it.
struct Encoding {
    AVCodecContext* codec = nullptr;
    AVStream* stream = nullptr;
    AVFrame* frame = nullptr;  // the next input, in the encoder's own format
    std::int64_t nextPts = 0;  // in the encoder's time base

    bool open() const { return codec != nullptr; }
};

struct FfmpegState {
    FfmpegState() = default;
    FfmpegState(const FfmpegState&) = delete;
    FfmpegState& operator=(const FfmpegState&) = delete;
    ~FfmpegState();

    std::unique_ptr<PendingFile> file;
    MediaLayout layout;
    AVFormatContext* format = nullptr;
    bool headerWritten = false;
    AVPacket* packet = nullptr;
    std::string error;  // the first error, naming the file

    Encoding picture;
    SwsContext* scaler = nullptr;
    int sourceWidth = 0, sourceHeight = 0;  // what the scaler was made for
    // The last picture converted waits in picture.frame until the next change says how
    // many frames it lasts; picture.nextPts counts the frames given so far.
    bool pictureHeld = false;
    std::int64_t heldFrame = 0;
    std::map<std::int64_t, std::int64_t> framesLasted;  // by pts, until the packet comes out

    Encoding sound;
    SwrContext* resampler = nullptr;
    AVAudioFifo* queue = nullptr;           // planar float stereo, as the synthesiser makes it
    std::vector<float> outLeft, outRight;   // one encoder frame taken from the queue
};

// Records the first error (FFmpeg's reason for `code`, after `what`); returns false.
bool fail(FfmpegState& s, const std::string& what, int code);
bool fail(FfmpegState& s, const std::string& what);

// Opens `choice` with its options on `codec` (already set up by the caller) and adds its stream.
bool openEncoder(FfmpegState& s, Encoding& e, const EncoderChoice& choice);
// Hands `frame` to the encoder (null: the end) and writes every packet it gives back.
bool encode(FfmpegState& s, Encoding& e, const AVFrame* frame);

// The picture's stream: open, one frame, and the end.
bool openPicture(FfmpegState& s, const VideoFormat& format);
bool writePicture(FfmpegState& s, const FramePixels& window, FrameChange change);
bool flushPicture(FfmpegState& s);

// The sound's stream: open, a stretch of stereo sound, and what is left at the end.
bool openSound(FfmpegState& s, const VideoFormat& format);
bool writeSoundFrames(FfmpegState& s, std::span<const float> left, std::span<const float> right);
bool flushSound(FfmpegState& s);

}  // namespace vesk::platform::video
