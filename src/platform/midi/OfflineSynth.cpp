// Offline rendering on the embedded synthesiser. FluidSynth itself renders in blocks of 64
// frames and starts what a message sets going at its next block, so a message lands on
// the first 64-frame boundary at or after its own sample (at most 1.3 ms late at 48 kHz);
// rendering up to each message's sample first keeps it there, never later.
#include "platform/midi/OfflineSynth.h"

#include <algorithm>

#include "platform/Desktop.h"

namespace vesk::platform::midi {

namespace {

constexpr std::int64_t usPerSecond = 1'000'000;
constexpr std::int64_t msPerSecond = 1000;
// Frames rendered per call to the synthesiser and handed to the sink at once: small
// enough to stay in the cache, large enough that a call costs nothing.
constexpr std::size_t chunkFrames = 1024;
constexpr float beepLevel = float(beepAmplitude16) / 32768.0f;

std::int64_t frameAt(std::int64_t timeUs) {
    return std::max<std::int64_t>(timeUs, 0) * synthSampleRate / usPerSecond;
}

}  // namespace

std::unique_ptr<OfflineSynth> OfflineSynth::create(const std::string& soundFont,
                                                   std::function<std::int64_t()> clockUs,
                                                   SoundSink sink, std::string& reason) {
    auto synth = FluidSynthOutput::create(soundFont, SynthAudio::Offline, reason);
    if (!synth) return nullptr;
    return std::unique_ptr<OfflineSynth>(
        new OfflineSynth(std::move(synth), std::move(clockUs), std::move(sink)));
}

OfflineSynth::OfflineSynth(std::unique_ptr<FluidSynthOutput> synth,
                           std::function<std::int64_t()> clockUs, SoundSink sink)
    : synth_(std::move(synth)), clockUs_(std::move(clockUs)), sink_(std::move(sink)),
      left_(chunkFrames), right_(chunkFrames) {}

void OfflineSynth::sendShort(std::uint32_t message) {
    renderUntil(clockUs_());
    synth_->sendShort(message);
}

void OfflineSynth::sendLong(std::span<const std::uint8_t> bytes) {
    renderUntil(clockUs_());
    synth_->sendLong(bytes);
}

void OfflineSynth::reset() {
    renderUntil(clockUs_());
    synth_->reset();
}

void OfflineSynth::renderUntil(std::int64_t timeUs) {
    const std::int64_t until = frameAt(timeUs);
    while (sinkOk_ && rendered_ < until)
        renderChunk(std::size_t(std::min<std::int64_t>(until - rendered_, chunkFrames)));
}

void OfflineSynth::addTone(int hz, int ms) {
    if (hz <= 0 || ms <= 0) return;
    const std::int64_t start = frameAt(clockUs_());
    tones_.push_back({start, start + std::int64_t(ms) * synthSampleRate / msPerSecond, hz});
}

void OfflineSynth::renderChunk(std::size_t frames) {
    synth_->render(std::span(left_.data(), frames), std::span(right_.data(), frames));
    mixTones(frames);
    rendered_ += std::int64_t(frames);
    sinkOk_ = sink_(std::span<const float>(left_.data(), frames),
                    std::span<const float>(right_.data(), frames));
}

// The square wave as the desktop's beep makes it: two half-periods a cycle, counted from
// the tone's first frame.
void OfflineSynth::mixTones(std::size_t frames) {
    const std::int64_t first = rendered_;
    const std::int64_t end = rendered_ + std::int64_t(frames);
    for (const Tone& tone : tones_) {
        for (std::int64_t f = std::max(first, tone.startFrame); f < std::min(end, tone.endFrame); ++f) {
            const bool high = ((f - tone.startFrame) * 2 * tone.hz / synthSampleRate) % 2 == 0;
            const float level = high ? beepLevel : -beepLevel;
            left_[std::size_t(f - first)] += level;
            right_[std::size_t(f - first)] += level;
        }
    }
    std::erase_if(tones_, [end](const Tone& tone) { return tone.endFrame <= end; });
}

}  // namespace vesk::platform::midi
