// The sound's stream: the synthesiser's planar float stereo queued until the encoder's
// frame is full, then converted by swresample to the encoder's own sample format.
#include "platform/video/FfmpegState.h"

#include <algorithm>

extern "C" {
#include <libavutil/channel_layout.h>
}

namespace vesk::platform::video {

namespace {

constexpr AVSampleFormat synthSamples = AV_SAMPLE_FMT_FLTP;
constexpr int stereo = 2;
// Frames per encoder call for an encoder that takes any number (PCM).
constexpr int variableFrameSamples = 4096;

// Float where the encoder takes it (the synthesiser's own), else its first format.
AVSampleFormat sampleFormatFor(const AVCodec* codec) {
    const AVSampleFormat* formats = codec->sample_fmts;
    if (!formats) return synthSamples;
    for (const AVSampleFormat* f = formats; *f != AV_SAMPLE_FMT_NONE; ++f)
        if (*f == AV_SAMPLE_FMT_FLTP || *f == AV_SAMPLE_FMT_FLT) return *f;
    return formats[0];
}

bool makeFrameAndQueue(FfmpegState& s) {
    AVCodecContext* c = s.sound.codec;
    const int samples = c->frame_size > 0 ? c->frame_size : variableFrameSamples;
    AVFrame* frame = s.sound.frame = av_frame_alloc();
    if (!frame) return fail(s, "out of memory for");
    frame->format = c->sample_fmt;
    frame->nb_samples = samples;
    frame->sample_rate = c->sample_rate;
    const int layout = av_channel_layout_copy(&frame->ch_layout, &c->ch_layout);
    if (layout < 0) return fail(s, "out of memory for", layout);
    const int allocated = av_frame_get_buffer(frame, 0);
    if (allocated < 0) return fail(s, "out of memory for", allocated);
    s.queue = av_audio_fifo_alloc(synthSamples, stereo, samples);
    if (!s.queue) return fail(s, "out of memory for");
    s.outLeft.resize(std::size_t(samples));
    s.outRight.resize(std::size_t(samples));
    return true;
}

bool makeResampler(FfmpegState& s) {
    AVCodecContext* c = s.sound.codec;
    AVChannelLayout synthLayout = AV_CHANNEL_LAYOUT_STEREO;
    const int made = swr_alloc_set_opts2(&s.resampler, &c->ch_layout, c->sample_fmt, c->sample_rate,
                                         &synthLayout, synthSamples, c->sample_rate, 0, nullptr);
    if (made < 0) return fail(s, "cannot convert the sound for", made);
    const int ready = swr_init(s.resampler);
    return ready >= 0 || fail(s, "cannot convert the sound for", ready);
}

// Encodes the next `samples` frames of the queue (fewer may be there at the end).
bool encodeQueued(FfmpegState& s, int samples) {
    void* planes[stereo] = {s.outLeft.data(), s.outRight.data()};
    const int read = av_audio_fifo_read(s.queue, planes, samples);
    if (read < 0) return fail(s, "cannot queue the sound for", read);
    std::fill(s.outLeft.begin() + read, s.outLeft.begin() + samples, 0.0f);
    std::fill(s.outRight.begin() + read, s.outRight.begin() + samples, 0.0f);
    AVFrame* frame = s.sound.frame;
    const int writable = av_frame_make_writable(frame);
    if (writable < 0) return fail(s, "out of memory for", writable);
    frame->nb_samples = samples;
    const auto** in = const_cast<const std::uint8_t**>(reinterpret_cast<std::uint8_t**>(planes));
    const int converted = swr_convert(s.resampler, frame->data, samples, in, samples);
    if (converted < 0) return fail(s, "cannot convert the sound for", converted);
    frame->pts = s.sound.nextPts;
    s.sound.nextPts += samples;
    return encode(s, s.sound, frame);
}

}  // namespace

bool openSound(FfmpegState& s, const VideoFormat& format) {
    const std::string name(format.sound.name);
    const AVCodec* codec = avcodec_find_encoder_by_name(name.c_str());
    if (!codec) return fail(s, "this FFmpeg has no " + name + " encoder for");
    AVCodecContext* c = s.sound.codec = avcodec_alloc_context3(codec);
    if (!c) return fail(s, "out of memory for");
    c->sample_rate = s.layout.sampleRate;
    c->sample_fmt = sampleFormatFor(codec);
    c->ch_layout = AV_CHANNEL_LAYOUT_STEREO;
    c->time_base = {1, s.layout.sampleRate};
    if (!openEncoder(s, s.sound, format.sound)) return false;
    return makeFrameAndQueue(s) && makeResampler(s);
}

bool writeSoundFrames(FfmpegState& s, std::span<const float> left, std::span<const float> right) {
    const std::size_t count = std::min(left.size(), right.size());
    void* planes[stereo] = {const_cast<float*>(left.data()), const_cast<float*>(right.data())};
    const int queued = av_audio_fifo_write(s.queue, planes, int(count));
    if (queued < 0) return fail(s, "cannot queue the sound for", queued);
    const int frameSamples = int(s.outLeft.size());
    while (av_audio_fifo_size(s.queue) >= frameSamples)
        if (!encodeQueued(s, frameSamples)) return false;
    return true;
}

bool flushSound(FfmpegState& s) {
    const int left = av_audio_fifo_size(s.queue);
    if (left > 0) {
        // An encoder with a fixed frame takes a short last one only if it says so; else
        // the frame is made up with silence.
        const bool shortLast = s.sound.codec->codec->capabilities &
                               (AV_CODEC_CAP_SMALL_LAST_FRAME | AV_CODEC_CAP_VARIABLE_FRAME_SIZE);
        if (!encodeQueued(s, shortLast ? left : int(s.outLeft.size()))) return false;
    }
    return encode(s, s.sound, nullptr);
}

}  // namespace vesk::platform::video
