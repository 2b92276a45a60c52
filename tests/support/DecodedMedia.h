// What a render wrote, read back through FFmpeg's own decoders: the container's streams
// and duration, every picture converted to 0xFFRRGGBB at the file's size (as the stream's
// colour tags say), and the sound as float samples per channel.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/headless/PngFile.h"

namespace vesk::test {

struct DecodedMedia {
    std::vector<std::string> streams;  // the codec of each stream: "h264", "aac", ...
    std::string pixelFormat;           // the picture's, as decoded ("yuv420p")
    double durationSeconds = 0;        // the container's
    int sampleRate = 0;
    std::vector<platform::Image> frames;
    std::vector<double> frameSeconds;  // each frame's time
    std::vector<std::vector<float>> channels;  // the sound, one vector per channel
};

// None with the reason when the file cannot be opened or decoded.
std::optional<DecodedMedia> decodeMedia(const std::string& path, std::string& error);

// The frame a player shows `seconds` after the first frame (the performance's time, where
// the container starts the pictures after the sound's encoder delay): the last one that
// starts by then; null without frames.
const platform::Image* frameShownAt(const DecodedMedia& media, double seconds);

// The share of 2x2 blocks whose mean colours differ by more than `threshold` in some
// channel; 1 when the sizes differ. Blocks, because yuv420p keeps one colour per block:
// a lone coloured pixel (a star of the ring) is smeared over its block, not lost.
double differingBlockShare(const platform::Image& a, const platform::Image& b, int threshold);

}  // namespace vesk::test
