// The embedded synthesiser heard offline, for renders on virtual time: before each
// message it renders the sound up to that message's sample on the run's clock, so the
// stream the performance sent is heard with each message at its own time, and desktop
// tones are mixed in as the square waves they are. Not thread-safe: a virtual-time run
// sends everything from its one thread.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/MediaWriter.h"
#include "platform/midi/FluidSynthOutput.h"

namespace vesk::platform::midi {

class OfflineSynth final : public OfflineSound {
public:
    // `clockUs` is the run's clock; the sound starts at its 0. Null with the reason when
    // the synthesiser cannot be made on `soundFont`.
    static std::unique_ptr<OfflineSynth> create(const std::string& soundFont,
                                                std::function<std::int64_t()> clockUs,
                                                SoundSink sink, std::string& reason);

    void sendShort(std::uint32_t message) override;
    void sendLong(std::span<const std::uint8_t> bytes) override;
    void reset() override;

    void renderUntil(std::int64_t timeUs) override;
    void addTone(int hz, int ms) override;
    bool sinkOk() const override { return sinkOk_; }
    int sampleRate() const override { return synthSampleRate; }

    // Frames rendered so far, at synthSampleRate.
    std::int64_t framesRendered() const { return rendered_; }
    std::string describe() const { return synth_->describe(); }

private:
    struct Tone {
        std::int64_t startFrame, endFrame;
        int hz;
    };

    OfflineSynth(std::unique_ptr<FluidSynthOutput> synth, std::function<std::int64_t()> clockUs,
                 SoundSink sink);
    void renderChunk(std::size_t frames);
    void mixTones(std::size_t frames);

    std::unique_ptr<FluidSynthOutput> synth_;
    std::function<std::int64_t()> clockUs_;
    SoundSink sink_;
    bool sinkOk_ = true;
    std::int64_t rendered_ = 0;
    std::vector<Tone> tones_;
    std::vector<float> left_, right_;
};

}  // namespace vesk::platform::midi
