// The real desktop backend: one borderless SDL2 window with an OpenGL context, the window
// surface streamed to a texture and drawn scaled to the window with black bars, SDL's
// events as the window's messages on a steady_clock, boxes and dialogs drawn with Dear
// ImGui, one-shot timers on their own thread and a square-wave beep on SDL audio.
// One such window per process (ImGui keeps one current context).
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "platform/Platform.h"
#include "platform/ThreadTimers.h"
#include "platform/sdl/TextLayout.h"

struct SDL_Window;
union SDL_Event;

namespace vesk::platform::sdl {

class SdlModalUi;

// dialogControlRect's id for the dialog's close box.
constexpr int closeBoxControl = -2;

enum class Presentation {
    FullscreenDesktop,  // the desktop's own mode; the picture scaled into it
    Windowed,           // a window of the surface's size
};

struct WindowOptions {
    Presentation presentation = Presentation::FullscreenDesktop;
    int width = windowSize.width;  // the surface, and the window when windowed
    int height = windowSize.height;
    std::string title = "Vesk";
};

class SdlPlatform final : public Platform, private EventSource {
public:
    // Null with the reason when SDL, the window, OpenGL or ImGui cannot be set up (no
    // display among them), or when another SdlPlatform is alive.
    static std::unique_ptr<SdlPlatform> create(const WindowOptions& options, std::string& reason);
    ~SdlPlatform() override;
    SdlPlatform(const SdlPlatform&) = delete;
    SdlPlatform& operator=(const SdlPlatform&) = delete;

    MessageLoop& loop() override { return loop_; }
    Surface& surface() override { return surface_; }
    Display& display() override;
    ModalUi& modalUi() override;
    OneShotTimers& timers() override { return *timers_; }
    Desktop& desktop() override;
    std::unique_ptr<retained::Engine> createEngine() override;

    // For tools and tests that make up SDL events for this window.
    std::uint32_t windowId() const;
    // Where the open dialog drew control `controlId` (closeBoxControl: its close box) in
    // its last frame, in window pixels; none while no dialog is on top.
    std::optional<PixelRect> dialogControlRect(int controlId) const;
    // Frames shown so far: the picture, with any box or dialog over it.
    std::uint64_t framesPresented() const { return framesPresented_; }

private:
    class SdlDisplay;
    class SdlDesktop;
    friend class SdlDisplay;
    friend class SdlDesktop;

    explicit SdlPlatform(const WindowOptions& options);
    bool open(std::string& reason);

    // EventSource
    std::int64_t nowUs() override;
    bool wait(std::optional<std::int64_t> deadlineUs) override;
    void wake() override;
    void idle() override;

    void handle(const SDL_Event& event, bool& closePosted);
    void present(bool pictureChanged);
    // The part of the surface the accepted display mode shows, and where it goes in the window.
    PixelRect pictureRect(float windowWidth, float windowHeight) const;
    void setPointerHidden(bool hidden);
    void updatePointer();

    WindowOptions options_;
    const std::thread::id windowThread_ = std::this_thread::get_id();
    Surface surface_;
    MessageLoop loop_;
    std::unique_ptr<SdlDisplay> display_;
    std::unique_ptr<SdlDesktop> desktop_;
    std::unique_ptr<SdlModalUi> modalUi_;
    std::unique_ptr<ThreadTimers> timers_;

    bool sdlStarted_ = false;
    SDL_Window* window_ = nullptr;
    void* glContext_ = nullptr;
    unsigned texture_ = 0;
    int textureFilter_ = 0;
    void* imguiContext_ = nullptr;
    bool imguiSdl_ = false;
    bool imguiOpenGl_ = false;
    std::uint32_t wakeEventType_ = 0;
    std::atomic<bool> wakePending_{false};
    bool presentNeeded_ = true;
    std::uint64_t framesPresented_ = 0;

    int sourceWidth_;  // of the surface, as the accepted display mode shows it
    int sourceHeight_;
    bool pointerHidden_ = false;
    bool pointerShown_ = true;
};

}  // namespace vesk::platform::sdl
