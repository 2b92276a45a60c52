// The SDL backend's state in one struct, which each of its parts receives: the events, the
// presentation, the display, the desktop's services and the modal UI. Only the files of
// this folder include it; the rest of the system sees SdlPlatform and the interfaces.
// Relies on SDL2 for the handles it keeps.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <thread>

#include <SDL.h>

#include "platform/Desktop.h"
#include "platform/Display.h"
#include "platform/MessageLoop.h"
#include "platform/Surface.h"
#include "platform/ThreadTimers.h"
#include "platform/sdl/SdlPlatform.h"
#include "platform/sdl/TextLayout.h"

struct ImGuiContext;

namespace vesk::platform::sdl {

class SdlModalUi;

struct SdlBackendData {
    SdlBackendData(const WindowOptions& options, EventSource& events);
    ~SdlBackendData();
    SdlBackendData(const SdlBackendData&) = delete;
    SdlBackendData& operator=(const SdlBackendData&) = delete;

    const WindowOptions options;
    const std::thread::id windowThread = std::this_thread::get_id();
    Surface surface;
    MessageLoop loop;
    std::unique_ptr<SdlModalUi> modalUi;  // made once ImGui is up
    std::unique_ptr<ThreadTimers> timers;

    // What opening made, each released by closing.
    bool sdlStarted = false;
    SDL_Window* window = nullptr;
    SDL_GLContext glContext = nullptr;
    unsigned texture = 0;  // the picture's
    ImGuiContext* imguiContext = nullptr;
    bool imguiSdl = false;
    bool imguiOpenGl = false;

    // The events.
    std::uint32_t wakeEventType = 0;
    std::atomic<bool> wakePending{false};

    // The presentation.
    int textureFilter = 0;
    bool presentNeeded = true;
    std::uint64_t framesPresented = 0;
    int sourceWidth;  // of the surface, as the accepted display mode shows it
    int sourceHeight;
    bool pointerHidden = false;  // as the picture asked for
    bool pointerShown = true;    // as it stands

    // The display's window target.
    bool targetCreated = false;
    bool targetAttached = false;

    // The beep's audio, opened at the first tone.
    SDL_AudioDeviceID audioDevice = 0;
    bool audioStarted = false;
    bool audioFailed = false;
};

// --- opening and closing (SdlPlatform.cpp) ---

// Makes the window, its OpenGL context, the picture's texture, ImGui, the modal UI and the
// timers in that order; false with the reason at the first that fails.
bool openBackend(SdlBackendData& bd, std::string& reason);
// Releases what opening made, timers and sound first, SDL last.
void closeBackend(SdlBackendData& bd);

// --- the events (SdlEvents.cpp) ---

std::int64_t steadyNowUs();
void registerWakeEvent(SdlBackendData& bd);
// Waits for SDL's events until the deadline (at most a modal frame while a box or dialog
// is open) and hands each to the loop.
void waitForEvents(SdlBackendData& bd, std::optional<std::int64_t> deadlineUs);
void wakeLoop(SdlBackendData& bd);

// --- the presentation (SdlPresentation.cpp) ---

// Presents a frame when the picture changed, a box or dialog is open or has just gone,
// or the window asked for one.
void presentIfNeeded(SdlBackendData& bd);
// The part of the surface the accepted display mode shows, and where it goes in a window
// of this size: scaled to fit, keeping its aspect, centred.
PixelRect pictureRect(const SdlBackendData& bd, float windowWidth, float windowHeight);
void setPointerHidden(SdlBackendData& bd, bool hidden);

// --- the display and the desktop's services (SdlDesktop.cpp) ---

class SdlDisplay final : public Display {
public:
    explicit SdlDisplay(SdlBackendData& bd) : bd_(bd) {}
    bool connect() override;
    bool shareWithWindow() override { return true; }
    bool setDisplayMode(int width, int height, int bits) override;
    bool createWindowTarget() override;
    bool attachWindowTarget() override;
    void releaseWindowTarget() override;
    Size clientSize() override;

private:
    SdlBackendData& bd_;
};

class SdlDesktop final : public Desktop {
public:
    explicit SdlDesktop(SdlBackendData& bd) : bd_(bd) {}
    void beep(int hz, int ms) override;
    void sleep(int ms) override;
    void setPointerPosition(int x, int y) override;

private:
    SdlBackendData& bd_;
};

void closeBeepAudio(SdlBackendData& bd);

}  // namespace vesk::platform::sdl
