// The display and the desktop's small services on SDL. Modes are kept, not switched: the
// window stays on the desktop's own mode and the picture is scaled. The beep is a square
// wave queued on an SDL audio device; the pointer is warped onto the picture, or hidden
// when asked for a place off it.
#include <algorithm>
#include <cstdint>
#include <iostream>
#include <vector>

#include "platform/sdl/SdlBackendData.h"

namespace vesk::platform::sdl {

namespace {

constexpr int trueColourBits = 32;
constexpr int packedTrueColourBits = 24;

constexpr int beepSampleRate = 44100;
constexpr int lowestBeepHz = 37;  // a desktop's tone generator's range
constexpr int highestBeepHz = 20000;
constexpr int longestBeepMs = 10000;
constexpr int mostQueuedBeepMs = 2000;  // beyond this a new tone is dropped, not queued
constexpr Sint16 beepAmplitude = Sint16(beepAmplitude16);
constexpr Uint16 beepBufferSamples = 1024;

// Opened at the first tone; a desktop without sound is said once and then left silent.
bool openBeepAudio(SdlBackendData& bd) {
    if (bd.audioDevice) return true;
    if (bd.audioFailed) return false;
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) == 0) {
        bd.audioStarted = true;
        SDL_AudioSpec want{};
        want.freq = beepSampleRate;
        want.format = AUDIO_S16SYS;
        want.channels = 1;
        want.samples = beepBufferSamples;
        bd.audioDevice = SDL_OpenAudioDevice(nullptr, 0, &want, nullptr, 0);
    }
    if (!bd.audioDevice) {
        bd.audioFailed = true;
        std::cerr << "vesk: no audio device could be opened (" << SDL_GetError()
                  << "); beeps stay silent\n";
        return false;
    }
    SDL_PauseAudioDevice(bd.audioDevice, 0);
    return true;
}

std::vector<Sint16> squareWave(int hz, int ms) {
    std::vector<Sint16> samples(std::size_t(std::int64_t(beepSampleRate) * ms / 1000));
    for (std::size_t i = 0; i < samples.size(); ++i) {
        // Two half-periods per cycle: which half sample i falls in.
        const bool high = (std::int64_t(i) * 2 * hz / beepSampleRate) % 2 == 0;
        samples[i] = high ? beepAmplitude : Sint16(-beepAmplitude);
    }
    return samples;
}

}  // namespace

// --- the display ---

bool SdlDisplay::connect() { return SDL_WasInit(SDL_INIT_VIDEO) != 0; }

// A mode is accepted at 32 or 24 bits when it fits the desktop, and then the window shows
// the part of the surface that mode would show (its top-left width x height), scaled to
// the window keeping its aspect.
bool SdlDisplay::setDisplayMode(int width, int height, int bits) {
    if ((bits != trueColourBits && bits != packedTrueColourBits) || width <= 0 || height <= 0 ||
        !bd_.window)
        return false;
    const int index = SDL_GetWindowDisplayIndex(bd_.window);
    SDL_DisplayMode desktop;
    if (index < 0 || SDL_GetDesktopDisplayMode(index, &desktop) != 0) return false;
    if (width > desktop.w || height > desktop.h) return false;
    bd_.sourceWidth = std::min(width, bd_.surface.width());
    bd_.sourceHeight = std::min(height, bd_.surface.height());
    bd_.presentNeeded = true;
    return true;
}

bool SdlDisplay::createWindowTarget() {
    bd_.targetCreated = true;
    return true;
}

bool SdlDisplay::attachWindowTarget() {
    bd_.targetAttached = bd_.targetCreated;
    return bd_.targetAttached;
}

void SdlDisplay::releaseWindowTarget() { bd_.targetCreated = bd_.targetAttached = false; }

Size SdlDisplay::clientSize() { return {bd_.surface.width(), bd_.surface.height()}; }

// --- the desktop's services ---

void SdlDesktop::beep(int hz, int ms) {
    if (ms <= 0 || !openBeepAudio(bd_)) return;
    hz = std::clamp(hz, lowestBeepHz, highestBeepHz);
    ms = std::min(ms, longestBeepMs);
    const Uint32 bytesPerMs = beepSampleRate / 1000 * sizeof(Sint16);
    if (SDL_GetQueuedAudioSize(bd_.audioDevice) > Uint32(mostQueuedBeepMs) * bytesPerMs) return;
    const std::vector<Sint16> samples = squareWave(hz, ms);
    SDL_QueueAudio(bd_.audioDevice, samples.data(), Uint32(samples.size() * sizeof(Sint16)));
}

void SdlDesktop::sleep(int ms) {
    if (ms > 0) SDL_Delay(Uint32(ms));
}

void SdlDesktop::setPointerPosition(int x, int y) {
    if (x < 0 || y < 0 || x >= bd_.sourceWidth || y >= bd_.sourceHeight) {
        setPointerHidden(bd_, true);
        return;
    }
    int width = 0, height = 0;
    SDL_GetWindowSize(bd_.window, &width, &height);
    const PixelRect r = pictureRect(bd_, float(width), float(height));
    const float scale = r.width / float(bd_.sourceWidth);
    // The middle of the surface pixel, where it lands in the window.
    SDL_WarpMouseInWindow(bd_.window, int(r.x + (float(x) + 0.5f) * scale),
                          int(r.y + (float(y) + 0.5f) * scale));
    setPointerHidden(bd_, false);
}

void closeBeepAudio(SdlBackendData& bd) {
    if (bd.audioDevice) SDL_CloseAudioDevice(bd.audioDevice);
    if (bd.audioStarted) SDL_QuitSubSystem(SDL_INIT_AUDIO);
    bd.audioDevice = 0;
    bd.audioStarted = false;
}

}  // namespace vesk::platform::sdl
