// The picture's stream: the window's 32-bit pixels converted (and scaled, when the file's
// size is another) to the encoder's yuv420p by swscale, BT.709 limited range, which is
// what players assume for a picture of this size when a file does not say. Frames last as
// long as the window did not change: an encoder charges an unchanged frame nearly as much
// as a new one, so a picture is encoded once, with its length, when the next one comes.
#include "platform/video/FfmpegState.h"

extern "C" {
#include <libavutil/pixfmt.h>
}

namespace vesk::platform::video {

namespace {

constexpr AVPixelFormat encoderPixels = AV_PIX_FMT_YUV420P;
// The surface's 0xAARRGGBB words in the machine's own byte order.
constexpr AVPixelFormat windowPixels = AV_PIX_FMT_RGB32;
constexpr int bytesPerWindowPixel = 4;
constexpr int fullRange = 1, limitedRange = 0;
// swscale's brightness, contrast and saturation in 16.16 fixed point: as they are.
constexpr int noBrightness = 0, unitContrast = 1 << 16, unitSaturation = 1 << 16;

void tagColours(AVCodecContext* c) {
    c->color_range = AVCOL_RANGE_MPEG;
    c->colorspace = AVCOL_SPC_BT709;
    c->color_primaries = AVCOL_PRI_BT709;
    c->color_trc = AVCOL_TRC_BT709;
}

bool makeScaler(FfmpegState& s, const FramePixels& window) {
    const AVCodecContext* c = s.picture.codec;
    s.scaler = sws_getCachedContext(s.scaler, window.width, window.height, windowPixels,
                                    c->width, c->height, encoderPixels, SWS_BILINEAR,
                                    nullptr, nullptr, nullptr);
    if (!s.scaler) return fail(s, "cannot convert the window's pixels for");
    sws_setColorspaceDetails(s.scaler, sws_getCoefficients(SWS_CS_DEFAULT), fullRange,
                             sws_getCoefficients(SWS_CS_ITU709), limitedRange, noBrightness,
                             unitContrast, unitSaturation);
    s.sourceWidth = window.width;
    s.sourceHeight = window.height;
    return true;
}

bool convert(FfmpegState& s, const FramePixels& window) {
    if (!s.scaler || window.width != s.sourceWidth || window.height != s.sourceHeight)
        if (!makeScaler(s, window)) return false;
    AVFrame* frame = s.picture.frame;
    // The encoder may still hold the last frame's pixels.
    const int writable = av_frame_make_writable(frame);
    if (writable < 0) return fail(s, "out of memory for", writable);
    const auto* pixels = reinterpret_cast<const std::uint8_t*>(window.pixels);
    const int stride = window.width * bytesPerWindowPixel;
    sws_scale(s.scaler, &pixels, &stride, 0, window.height, frame->data, frame->linesize);
    return true;
}

// The held picture, from its frame until the present one.
bool encodeHeld(FfmpegState& s) {
    s.picture.frame->pts = s.heldFrame;
    s.framesLasted[s.heldFrame] = s.picture.nextPts - s.heldFrame;
    s.pictureHeld = false;
    return encode(s, s.picture, s.picture.frame);
}

}  // namespace

bool openPicture(FfmpegState& s, const VideoFormat& format) {
    const std::string name(format.picture.name);
    const AVCodec* codec = avcodec_find_encoder_by_name(name.c_str());
    if (!codec) return fail(s, "this FFmpeg has no " + name + " encoder for");
    AVCodecContext* c = s.picture.codec = avcodec_alloc_context3(codec);
    if (!c) return fail(s, "out of memory for");
    c->width = s.layout.width;
    c->height = s.layout.height;
    c->time_base = {s.layout.fps.den, s.layout.fps.num};
    c->framerate = {s.layout.fps.num, s.layout.fps.den};
    c->pix_fmt = encoderPixels;
    tagColours(c);
    if (!openEncoder(s, s.picture, format.picture)) return false;
    AVFrame* frame = s.picture.frame = av_frame_alloc();
    if (!frame) return fail(s, "out of memory for");
    frame->format = encoderPixels;
    frame->width = c->width;
    frame->height = c->height;
    const int allocated = av_frame_get_buffer(frame, 0);
    return allocated >= 0 || fail(s, "out of memory for", allocated);
}

bool writePicture(FfmpegState& s, const FramePixels& window, FrameChange change) {
    // An unchanged window is the picture already converted, lasting a frame longer: no
    // conversion, and nothing for the encoder either.
    if (change == FrameChange::Same && s.pictureHeld) {
        ++s.picture.nextPts;
        return true;
    }
    if (s.pictureHeld && !encodeHeld(s)) return false;
    if (!convert(s, window)) return false;
    s.pictureHeld = true;
    s.heldFrame = s.picture.nextPts++;
    return true;
}

bool flushPicture(FfmpegState& s) {
    if (s.pictureHeld && !encodeHeld(s)) return false;
    return encode(s, s.picture, nullptr);
}

}  // namespace vesk::platform::video
