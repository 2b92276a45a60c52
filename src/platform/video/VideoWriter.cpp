// The writer's life: the container and its streams opened under the temporary name, the
// packets of both encoders interleaved into it, and at the end the encoders drained, the
// container closed and the file renamed. The first error stops everything after it.
#include "platform/video/VideoWriter.h"

#include "platform/video/FfmpegState.h"

extern "C" {
#include <libavutil/dict.h>
#include <libavutil/error.h>
}

namespace vesk::platform::video {

namespace {

// FFmpeg's own chatter (encoder statistics, capabilities) stays off the terminal; its
// errors still show, and each failure is said once more in the render's own words.
void quietLibraries() { av_log_set_level(AV_LOG_ERROR); }

AVDictionary* optionsFrom(std::string_view text) {
    AVDictionary* options = nullptr;
    if (!text.empty()) av_dict_parse_string(&options, std::string(text).c_str(), "=", ":", 0);
    return options;
}

bool openContainer(FfmpegState& s, const VideoFormat& format) {
    const std::string& temp = s.file->tempPath();
    const int made = avformat_alloc_output_context2(&s.format, nullptr,
                                                    std::string(format.muxer).c_str(), temp.c_str());
    if (made < 0) return fail(s, "cannot make the container", made);
    // No library version, and stream ids and Matroska's UIDs from the content, not chance.
    s.format->flags |= AVFMT_FLAG_BITEXACT;
    if (!format.picture.name.empty() && !openPicture(s, format)) return false;
    if (!format.sound.name.empty() && !openSound(s, format)) return false;
    const int opened = avio_open(&s.format->pb, temp.c_str(), AVIO_FLAG_WRITE);
    if (opened < 0) return fail(s, "cannot open", opened);
    AVDictionary* options = optionsFrom(format.muxerOptions);
    const int header = avformat_write_header(s.format, &options);
    av_dict_free(&options);
    if (header < 0) return fail(s, "cannot write the header of", header);
    s.headerWritten = true;
    s.packet = av_packet_alloc();
    return s.packet || fail(s, "out of memory for");
}

class FfmpegWriter final : public MediaWriter {
public:
    FfmpegState s;

    bool keepsPicture() const override { return s.picture.open(); }
    bool keepsSound() const override { return s.sound.open(); }
    bool writeFrame(const FramePixels& window, FrameChange change) override {
        return s.error.empty() && keepsPicture() && writePicture(s, window, change);
    }
    bool writeSound(std::span<const float> left, std::span<const float> right) override {
        return s.error.empty() && keepsSound() && writeSoundFrames(s, left, right);
    }
    bool finish() override {
        if (!s.error.empty()) return false;
        if (s.picture.open() && !flushPicture(s)) return false;
        if (s.sound.open() && !flushSound(s)) return false;
        const int trailer = av_write_trailer(s.format);
        if (trailer < 0) return fail(s, "cannot finish", trailer);
        const int closed = avio_closep(&s.format->pb);
        if (closed < 0) return fail(s, "cannot write", closed);
        std::string reason;
        if (!s.file->commit(reason)) return fail(s, reason);
        return true;
    }
    const std::string& error() const override { return s.error; }
};

}  // namespace

FfmpegState::~FfmpegState() {
    avcodec_free_context(&picture.codec);
    av_frame_free(&picture.frame);
    avcodec_free_context(&sound.codec);
    av_frame_free(&sound.frame);
    sws_freeContext(scaler);
    swr_free(&resampler);
    if (queue) av_audio_fifo_free(queue);
    av_packet_free(&packet);
    if (format) {
        if (format->pb) avio_closep(&format->pb);
        avformat_free_context(format);
    }
}

bool fail(FfmpegState& s, const std::string& what, int code) {
    char reason[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, reason, sizeof reason);
    return fail(s, what + " " + s.file->path() + ": " + reason);
}

bool fail(FfmpegState& s, const std::string& what) {
    if (s.error.empty()) s.error = what;
    return false;
}

bool openEncoder(FfmpegState& s, Encoding& e, const EncoderChoice& choice) {
    e.codec->flags |= AV_CODEC_FLAG_BITEXACT;
    if (s.format->oformat->flags & AVFMT_GLOBALHEADER) e.codec->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    AVDictionary* options = optionsFrom(choice.options);
    const int opened = avcodec_open2(e.codec, e.codec->codec, &options);
    av_dict_free(&options);
    const std::string name(choice.name);
    if (opened < 0) return fail(s, "cannot open the " + name + " encoder for", opened);
    e.stream = avformat_new_stream(s.format, nullptr);
    if (!e.stream) return fail(s, "cannot add a stream to");
    e.stream->time_base = e.codec->time_base;
    const int copied = avcodec_parameters_from_context(e.stream->codecpar, e.codec);
    if (copied < 0) return fail(s, "cannot describe the " + name + " stream of", copied);
    return true;
}

bool encode(FfmpegState& s, Encoding& e, const AVFrame* frame) {
    const int sent = avcodec_send_frame(e.codec, frame);
    if (sent < 0) return fail(s, "cannot encode for", sent);
    for (;;) {
        const int received = avcodec_receive_packet(e.codec, s.packet);
        if (received == AVERROR(EAGAIN) || received == AVERROR_EOF) return true;
        if (received < 0) return fail(s, "cannot encode for", received);
        // A picture lasts until the next (the last one of an MP4 would otherwise have no
        // length, and players drop it).
        if (auto lasted = s.framesLasted.find(s.packet->pts); &e == &s.picture && lasted != s.framesLasted.end()) {
            s.packet->duration = lasted->second;
            s.framesLasted.erase(lasted);
        }
        av_packet_rescale_ts(s.packet, e.codec->time_base, e.stream->time_base);
        s.packet->stream_index = e.stream->index;
        const int written = av_interleaved_write_frame(s.format, s.packet);
        if (written < 0) return fail(s, "cannot write", written);
    }
}

std::unique_ptr<MediaWriter> openVideoWriter(const std::string& path, const VideoFormat& format,
                                             const MediaLayout& layout, std::string& reason) {
    quietLibraries();
    auto writer = std::make_unique<FfmpegWriter>();
    writer->s.layout = layout;
    writer->s.file = PendingFile::create(path, PendingKind::File, reason);
    if (!writer->s.file) return nullptr;
    if (!openContainer(writer->s, format)) {
        reason = writer->s.error;
        return nullptr;
    }
    return writer;
}

}  // namespace vesk::platform::video
