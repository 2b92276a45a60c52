// The real desktop backend: one borderless SDL2 window with an OpenGL context, the window
// surface streamed to a texture and drawn scaled to the window with black bars, SDL's
// events as the window's messages on a steady_clock, boxes and dialogs drawn with Dear
// ImGui, one-shot timers on their own thread and a square-wave beep on SDL audio.
// One such window per process; SdlPlatform.cpp lists what it implements and its limits.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/Platform.h"
#include "platform/sdl/TextLayout.h"

namespace vesk::platform::sdl {

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

struct SdlBackendData;
class SdlDisplay;
class SdlDesktop;

class SdlPlatform final : public Platform, private EventSource {
public:
    // Null with the reason when SDL, the window, OpenGL or ImGui cannot be set up (no
    // display among them), or when another SdlPlatform is alive.
    static std::unique_ptr<SdlPlatform> create(const WindowOptions& options, std::string& reason);
    ~SdlPlatform() override;
    SdlPlatform(const SdlPlatform&) = delete;
    SdlPlatform& operator=(const SdlPlatform&) = delete;

    MessageLoop& loop() override;
    Surface& surface() override;
    Display& display() override;
    ModalUi& modalUi() override;
    OneShotTimers& timers() override;
    Desktop& desktop() override;
    std::unique_ptr<retained::Engine> createEngine() override;

    // For tools and tests that make up SDL events for this window.
    std::uint32_t windowId() const;
    // Where the open dialog drew control `controlId` (closeBoxControl: its close box) in
    // its last frame, in window pixels; none while no dialog is on top.
    std::optional<PixelRect> dialogControlRect(int controlId) const;
    // Frames shown so far: the picture, with any box or dialog over it.
    std::uint64_t framesPresented() const;

private:
    explicit SdlPlatform(const WindowOptions& options);

    // EventSource
    std::int64_t nowUs() override;
    bool wait(std::optional<std::int64_t> deadlineUs) override;
    void wake() override;
    void idle() override;

    std::unique_ptr<SdlBackendData> bd_;
    std::unique_ptr<SdlDisplay> display_;
    std::unique_ptr<SdlDesktop> desktop_;
};

}  // namespace vesk::platform::sdl
