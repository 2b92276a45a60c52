// Decoding with libavformat and libavcodec, pictures converted by swscale with the
// colourspace and range the stream carries, sound by swresample to planar float.
#include "support/DecodedMedia.h"

#include <algorithm>
#include <cstdlib>
#include <memory>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/pixdesc.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

namespace vesk::test {

namespace {

struct Decoder {
    AVCodecContext* codec = nullptr;
    ~Decoder() { avcodec_free_context(&codec); }
};

struct Resources {
    AVFormatContext* format = nullptr;
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    SwsContext* scaler = nullptr;
    std::vector<Decoder> decoders;
    ~Resources() {
        sws_freeContext(scaler);
        av_frame_free(&frame);
        av_packet_free(&packet);
        avformat_close_input(&format);
    }
};

platform::Image toImage(Resources& r, const AVFrame* f) {
    r.scaler = sws_getCachedContext(r.scaler, f->width, f->height, AVPixelFormat(f->format), f->width,
                                    f->height, AV_PIX_FMT_RGB32, SWS_BILINEAR, nullptr, nullptr, nullptr);
    const int space = f->colorspace == AVCOL_SPC_BT709 ? SWS_CS_ITU709 : SWS_CS_DEFAULT;
    sws_setColorspaceDetails(r.scaler, sws_getCoefficients(space), f->color_range == AVCOL_RANGE_JPEG,
                             sws_getCoefficients(SWS_CS_DEFAULT), 1, 0, 1 << 16, 1 << 16);
    platform::Image image{f->width, f->height, std::vector<std::uint32_t>(std::size_t(f->width) * f->height)};
    auto* out = reinterpret_cast<std::uint8_t*>(image.pixels.data());
    const int stride = f->width * 4;
    sws_scale(r.scaler, f->data, f->linesize, 0, f->height, &out, &stride);
    return image;
}

void appendSound(const AVFrame* f, DecodedMedia& media) {
    const int channels = f->ch_layout.nb_channels;
    media.channels.resize(std::size_t(channels));
    SwrContext* swr = nullptr;
    AVChannelLayout layout = f->ch_layout;
    swr_alloc_set_opts2(&swr, &layout, AV_SAMPLE_FMT_FLTP, f->sample_rate, &layout,
                        AVSampleFormat(f->format), f->sample_rate, 0, nullptr);
    swr_init(swr);
    std::vector<std::vector<float>> planes(std::size_t(channels), std::vector<float>(std::size_t(f->nb_samples)));
    std::vector<std::uint8_t*> out;
    for (auto& p : planes) out.push_back(reinterpret_cast<std::uint8_t*>(p.data()));
    const int got = swr_convert(swr, out.data(), f->nb_samples, const_cast<const std::uint8_t**>(f->extended_data),
                                f->nb_samples);
    for (int c = 0; c < channels; ++c)
        media.channels[std::size_t(c)].insert(media.channels[std::size_t(c)].end(), planes[std::size_t(c)].begin(),
                                              planes[std::size_t(c)].begin() + std::max(got, 0));
    swr_free(&swr);
}

void receive(Resources& r, AVCodecContext* c, const AVStream* stream, DecodedMedia& media) {
    while (avcodec_receive_frame(c, r.frame) >= 0) {
        if (c->codec_type == AVMEDIA_TYPE_VIDEO) {
            media.pixelFormat = av_get_pix_fmt_name(AVPixelFormat(r.frame->format));
            media.frames.push_back(toImage(r, r.frame));
            media.frameSeconds.push_back(double(r.frame->best_effort_timestamp) * av_q2d(stream->time_base));
        } else {
            media.sampleRate = r.frame->sample_rate;
            appendSound(r.frame, media);
        }
        av_frame_unref(r.frame);
    }
}

bool openDecoders(Resources& r, DecodedMedia& media, std::string& error) {
    r.decoders.resize(r.format->nb_streams);
    for (unsigned i = 0; i < r.format->nb_streams; ++i) {
        const AVCodecParameters* par = r.format->streams[i]->codecpar;
        media.streams.push_back(avcodec_get_name(par->codec_id));
        const AVCodec* codec = avcodec_find_decoder(par->codec_id);
        AVCodecContext*& c = r.decoders[i].codec;
        c = avcodec_alloc_context3(codec);
        if (!codec || !c || avcodec_parameters_to_context(c, par) < 0 || avcodec_open2(c, codec, nullptr) < 0) {
            error = "no decoder for stream " + std::to_string(i);
            return false;
        }
    }
    return true;
}

}  // namespace

std::optional<DecodedMedia> decodeMedia(const std::string& path, std::string& error) {
    Resources r;
    DecodedMedia media;
    if (avformat_open_input(&r.format, path.c_str(), nullptr, nullptr) < 0 ||
        avformat_find_stream_info(r.format, nullptr) < 0) {
        error = "cannot open " + path;
        return std::nullopt;
    }
    media.durationSeconds = double(r.format->duration) / AV_TIME_BASE;
    if (!openDecoders(r, media, error)) return std::nullopt;
    while (av_read_frame(r.format, r.packet) >= 0) {
        const auto index = std::size_t(r.packet->stream_index);
        AVCodecContext* c = r.decoders[index].codec;
        if (avcodec_send_packet(c, r.packet) >= 0) receive(r, c, r.format->streams[index], media);
        av_packet_unref(r.packet);
    }
    for (std::size_t i = 0; i < r.decoders.size(); ++i) {
        avcodec_send_packet(r.decoders[i].codec, nullptr);
        receive(r, r.decoders[i].codec, r.format->streams[i], media);
    }
    return media;
}

const platform::Image* frameShownAt(const DecodedMedia& media, double seconds) {
    constexpr double sameTime = 1e-4;
    const platform::Image* shown = nullptr;
    for (std::size_t i = 0; i < media.frames.size(); ++i)
        if (media.frameSeconds[i] - media.frameSeconds.front() <= seconds + sameTime) shown = &media.frames[i];
    return shown;
}

double differingBlockShare(const platform::Image& a, const platform::Image& b, int threshold) {
    if (a.width != b.width || a.height != b.height || a.width < 2 || a.height < 2) return 1.0;
    const auto blockMean = [](const platform::Image& image, int x, int y, int shift) {
        int sum = 0;
        for (int dy = 0; dy < 2; ++dy)
            for (int dx = 0; dx < 2; ++dx)
                sum += int((image.pixels[std::size_t((y + dy) * image.width + x + dx)] >> shift) & 0xFF);
        return sum / 4;
    };
    int differing = 0, blocks = 0;
    for (int y = 0; y + 1 < a.height; y += 2) {
        for (int x = 0; x + 1 < a.width; x += 2, ++blocks) {
            int largest = 0;
            for (int shift = 0; shift < 24; shift += 8)
                largest = std::max(largest, std::abs(blockMean(a, x, y, shift) - blockMean(b, x, y, shift)));
            differing += largest > threshold;
        }
    }
    return double(differing) / blocks;
}

}  // namespace vesk::test
