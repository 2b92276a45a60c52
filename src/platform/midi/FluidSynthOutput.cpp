// The embedded synthesiser on FluidSynth, with SDL's audio device pulling frames from it.
// FluidSynth's API lock (synth.threadsafe-api) serialises the senders and the audio
// callback, so this unit adds no lock of its own. Each short message also looks whether
// the device is still there (an atomic read in SDL).
#include "platform/midi/FluidSynthOutput.h"

#include <atomic>
#include <algorithm>
#include <array>
#include <climits>
#include <filesystem>
#include <iostream>

#include <SDL.h>
#include <fluidsynth.h>

namespace vesk::platform::midi {

namespace {

// Where Debian's General MIDI SoundFont packages install them (timgm6mb-soundfont,
// fluid-soundfont-gm, the sf3 build of FluidR3, and the default-GM alternative that any of
// them may provide). The small TimGM6mb comes first: it loads in a fraction of the time.
constexpr std::array standardSoundFonts = {
    "/usr/share/sounds/sf2/TimGM6mb.sf2",
    "/usr/share/sounds/sf2/FluidR3_GM.sf2",
    "/usr/share/sounds/sf3/FluidR3_GM.sf3",
    "/usr/share/sounds/sf2/default-GM.sf2",
};

// Frames per audio callback: about 11 ms at 48 kHz, short enough that notes sent from the
// sequencer's timer are not audibly late, long enough not to starve on a loaded machine.
constexpr int audioBufferFrames = 512;

constexpr std::uint8_t sysexStart = 0xF0;
constexpr std::uint8_t sysexEnd = 0xF7;

bool isDataByte(std::uint8_t byte) { return byte < 0x80; }

}  // namespace

bool isSoundFont(const std::string& path) {
    // FluidSynth logs an error for a file it cannot open; a missing file is no error here,
    // only a place where no SoundFont was installed.
    std::error_code error;
    return std::filesystem::is_regular_file(path, error) && fluid_is_soundfont(path.c_str());
}

std::string findSoundFont(const std::string& given) {
    if (!given.empty()) return given;
    for (const char* path : standardSoundFonts)
        if (isSoundFont(path)) return path;
    return {};
}

struct FluidSynthOutput::Impl {
    fluid_settings_t* settings = nullptr;
    fluid_synth_t* synth = nullptr;
    std::string soundFontName;
    bool audioStarted = false;
    std::string silentBecause;  // meant to be heard, but no audio device opened: why
    SDL_AudioDeviceID device = 0;
    std::atomic<bool> deviceLost{false};  // it opened, then went away

    ~Impl() {
        // The device goes first: closing it waits for a running callback, which reads the
        // synthesiser.
        if (device != 0) SDL_CloseAudioDevice(device);
        if (audioStarted) SDL_QuitSubSystem(SDL_INIT_AUDIO);
        if (synth) delete_fluid_synth(synth);
        if (settings) delete_fluid_settings(settings);
    }

    static void pull(void* self, Uint8* stream, int bytes) {
        auto* impl = static_cast<Impl*>(self);
        const int frames = bytes / int(2 * sizeof(float));
        // Interleaved stereo: left at even samples, right at odd ones.
        fluid_synth_write_float(impl->synth, frames, stream, 0, 2, stream, 1, 2);
    }

    // Starts the audio device; false (with the reason) when there is none to play on.
    bool startAudio(std::string& why) {
        if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
            why = SDL_GetError();
            return false;
        }
        audioStarted = true;
        SDL_AudioSpec wanted{};
        wanted.freq = synthSampleRate;
        wanted.format = AUDIO_F32SYS;
        wanted.channels = 2;
        wanted.samples = audioBufferFrames;
        wanted.callback = &Impl::pull;
        wanted.userdata = this;
        SDL_AudioSpec obtained{};
        // No changes allowed: SDL converts to whatever the device wants, so the synthesiser
        // always renders at its own rate.
        device = SDL_OpenAudioDevice(nullptr, 0, &wanted, &obtained, 0);
        if (device == 0) {
            why = SDL_GetError();
            return false;
        }
        SDL_PauseAudioDevice(device, 0);
        return true;
    }

    // A device that goes away (unplugged, its server gone) is stopped by SDL, which goes on
    // pulling frames and drops them; the synthesiser plays on unheard. Said once.
    void checkDevice() {
        if (device == 0 || deviceLost || SDL_GetAudioDeviceStatus(device) != SDL_AUDIO_STOPPED) return;
        if (!deviceLost.exchange(true))
            std::cerr << "vesk: the synthesiser's audio device has gone away; the performance goes on without sound\n";
    }
};

FluidSynthOutput::FluidSynthOutput(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

FluidSynthOutput::~FluidSynthOutput() = default;

std::unique_ptr<FluidSynthOutput> FluidSynthOutput::create(const std::string& soundFont,
                                                           SynthAudio audio,
                                                           std::string& reason) {
    if (soundFont.empty()) {
        reason = "no SoundFont";
        return nullptr;
    }
    if (!isSoundFont(soundFont)) {
        reason = soundFont + " is not a SoundFont that can be read";
        return nullptr;
    }
    auto impl = std::make_unique<Impl>();
    impl->soundFontName = std::filesystem::path(soundFont).filename().string();
    impl->settings = new_fluid_settings();
    if (!impl->settings) {
        reason = "FluidSynth cannot make its settings";
        return nullptr;
    }
    fluid_settings_setnum(impl->settings, "synth.sample-rate", double(synthSampleRate));
    // Already FluidSynth's default; the senders on two threads and the audio callback rely on it.
    fluid_settings_setint(impl->settings, "synth.threadsafe-api", 1);
    impl->synth = new_fluid_synth(impl->settings);
    if (!impl->synth) {
        reason = "FluidSynth cannot make a synthesiser";
        return nullptr;
    }
    if (fluid_synth_sfload(impl->synth, soundFont.c_str(), 1) == FLUID_FAILED) {
        reason = "FluidSynth cannot load " + soundFont;
        return nullptr;
    }
    std::unique_ptr<FluidSynthOutput> output(new FluidSynthOutput(std::move(impl)));
    if (audio == SynthAudio::Device) output->startAudioDevice();
    return output;
}

void FluidSynthOutput::startAudioDevice() {
    if (impl_->device != 0 || impl_->audioStarted) return;
    // Told in describe(), on the program's one line about its devices.
    std::string why;
    if (!impl_->startAudio(why)) impl_->silentBecause = why.empty() ? "unknown" : why;
}

void FluidSynthOutput::sendShort(std::uint32_t message) {
    impl_->checkDevice();
    const auto status = std::uint8_t(message);
    const auto data1 = std::uint8_t(message >> 8);
    const auto data2 = std::uint8_t(message >> 16);
    // System messages (clock, start, stop, song position, ...) mean nothing to a synthesiser.
    if (isDataByte(status) || status >= sysexStart) return;
    // A data byte with its top bit set would be a status byte on a wire: the message is not
    // a valid one, and FluidSynth must not be asked to guess.
    if (!isDataByte(data1)) return;
    if (shortMessageLength(status) == 3 && !isDataByte(data2)) return;
    fluid_synth_t* synth = impl_->synth;
    const int channel = status & 0x0F;
    switch (status & 0xF0) {
    case 0x80: fluid_synth_noteoff(synth, channel, data1); break;
    case 0x90:
        // Running-status keyboards send a note-off as a note-on with velocity 0.
        if (data2 == 0) fluid_synth_noteoff(synth, channel, data1);
        else fluid_synth_noteon(synth, channel, data1, data2);
        break;
    case 0xA0: fluid_synth_key_pressure(synth, channel, data1, data2); break;
    case 0xB0: fluid_synth_cc(synth, channel, data1, data2); break;
    case 0xC0: fluid_synth_program_change(synth, channel, data1); break;
    case 0xD0: fluid_synth_channel_pressure(synth, channel, data1); break;
    case 0xE0: fluid_synth_pitch_bend(synth, channel, data1 | data2 << 7); break;
    default: break;
    }
}

void FluidSynthOutput::sendLong(std::span<const std::uint8_t> bytes) {
    // FluidSynth takes the body only: manufacturer id onwards, without F0 and F7.
    if (!bytes.empty() && bytes.front() == sysexStart) bytes = bytes.subspan(1);
    if (!bytes.empty() && bytes.back() == sysexEnd) bytes = bytes.first(bytes.size() - 1);
    if (bytes.empty() || bytes.size() > std::size_t(INT_MAX)) return;
    fluid_synth_sysex(impl_->synth, reinterpret_cast<const char*>(bytes.data()), int(bytes.size()),
                      nullptr, nullptr, nullptr, 0);
}

void FluidSynthOutput::reset() {
    fluid_synth_t* synth = impl_->synth;
    // As a port's reset: all-notes-off leaves notes held by a pedal sounding, so the pedals
    // are lifted first; then every note is released and every sound cut, so nothing is left
    // ringing when the output closes.
    const int channels = fluid_synth_count_midi_channels(synth);
    for (int channel = 0; channel < channels; ++channel) {
        fluid_synth_cc(synth, channel, sustainController, 0);
        fluid_synth_cc(synth, channel, sostenutoController, 0);
    }
    fluid_synth_all_notes_off(synth, -1);
    fluid_synth_all_sounds_off(synth, -1);
}

std::size_t FluidSynthOutput::render(std::span<float> left, std::span<float> right) {
    if (impl_->device != 0) return 0;
    const std::size_t frames = std::min({left.size(), right.size(), std::size_t(INT_MAX)});
    if (frames == 0) return 0;
    fluid_synth_write_float(impl_->synth, int(frames), left.data(), 0, 1, right.data(), 0, 1);
    return frames;
}

bool FluidSynthOutput::audible() const { return impl_->device != 0 && !impl_->deviceLost; }

std::string FluidSynthOutput::describe() const {
    if (impl_->deviceLost) return impl_->soundFontName + ", silent: its audio device went away";
    return impl_->silentBecause.empty()
               ? impl_->soundFontName
               : impl_->soundFontName + ", silent: no audio device (" + impl_->silentBecause + ")";
}

}  // namespace vesk::platform::midi
