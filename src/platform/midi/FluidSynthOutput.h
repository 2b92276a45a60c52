// The embedded synthesiser: a MIDI output that plays on FluidSynth with a General MIDI
// SoundFont, heard through an SDL audio device, or rendered on demand for tests and
// offline runs. Without an audio device it still takes every message, silently.
// Relies on FluidSynth's own API lock for the window and timer threads sending at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "platform/MidiOutput.h"

namespace vesk::platform::midi {

// Every frame the synthesiser renders, live or offline, is at this rate.
constexpr int synthSampleRate = 48000;

// The SoundFont to play: `given` when the user named one, else the first General MIDI
// SoundFont found where Debian's packages put them; empty when there is none.
std::string findSoundFont(const std::string& given);

// True when `path` is a SoundFont file FluidSynth can read.
bool isSoundFont(const std::string& path);

enum class SynthAudio {
    Device,   // heard through the default audio device (silent when none opens)
    Offline,  // heard nowhere; the owner pulls frames with render()
};

class FluidSynthOutput final : public MidiOutput {
public:
    // Null with the reason when the SoundFont cannot be loaded or the synthesiser not made.
    static std::unique_ptr<FluidSynthOutput> create(const std::string& soundFont, SynthAudio audio,
                                                    std::string& reason);
    ~FluidSynthOutput() override;
    FluidSynthOutput(const FluidSynthOutput&) = delete;
    FluidSynthOutput& operator=(const FluidSynthOutput&) = delete;

    void sendShort(std::uint32_t message) override;
    // A system-exclusive message, with or without its F0 ... F7 frame.
    void sendLong(std::span<const std::uint8_t> bytes) override;
    // Every sound stops at once, notes held by a pedal (sustain, sostenuto) included, and
    // the pedals are up; programs and other controllers stay as they were.
    void reset() override;

    // Offline only: renders the next frames into both channels, as many as the shorter
    // span holds, and returns that count. Returns 0 when an audio device pulls the frames.
    std::size_t render(std::span<float> left, std::span<float> right);

    // Made Offline, from now on heard through the default audio device (render() then gives
    // nothing); silent, with describe() saying why, when none opens. Once, on the thread
    // that runs SDL, so the SoundFont can be loaded on another meanwhile.
    void startAudioDevice();

    // True when an audio device is playing the synthesiser (not once it went away: that is
    // noticed at the next short message, and said once on stderr).
    bool audible() const;
    // The SoundFont's file name and, live, whether it can be heard ("TimGM6mb.sf2, silent:
    // no audio device").
    std::string describe() const;

private:
    struct Impl;
    explicit FluidSynthOutput(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

}  // namespace vesk::platform::midi
