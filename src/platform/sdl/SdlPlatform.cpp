// The real desktop backend: SdlPlatform on SDL2, OpenGL 3 and Dear ImGui. This file opens
// and closes it; its state is one SdlBackendData that the parts in this folder receive.
//
// Implemented features:
//  [x] One borderless window: full screen on the desktop's own mode, or a window of the
//      surface's size. The surface goes to an OpenGL texture in each frame it changed and
//      is drawn scaled to the window keeping its aspect, black bars beside it; pixel for
//      pixel (nearest) when the scale is one, so the screen shows the surface's colours.
//  [x] Display modes at 32 or 24 bits that fit the desktop are accepted: the window then
//      shows the top-left part of the surface that the mode would show, scaled up.
//  [x] SDL's events as the window's messages on steady_clock: keys by a table of key codes,
//      each close request (close box, window manager) as one Close. Posts from other
//      threads wake the wait through one SDL user event.
//  [x] Message boxes and dialogs drawn with Dear ImGui over the picture in IPA P Gothic,
//      with the Japanese glyphs and any other glyph a text brings. While one is open it has
//      the keyboard (Enter and Esc answer it) and the pointer, and frames come at ~30 fps.
//  [x] The beep: a square wave on SDL audio, the device opened at the first tone.
//  [x] The pointer: moved to a place on the picture, hidden when asked for a place off it.
//  [x] One-shot timers on their own thread (ThreadTimers).
//
// Limitations:
//  [ ] Display modes are never switched: the desktop keeps its own and the picture is
//      scaled. Modes larger than the desktop, or of 16 or 8 bits, are refused.
//  [ ] One window per process (ImGui's one current context): a second create() fails.
//  [ ] Full screen covers the first display only.
//  [ ] Only the table's keys reach the window, as key down and up; the window gets no text
//      input (a dialog's fields take typed text through ImGui).
//  [ ] Boxes and dialogs live inside the window: they cannot be moved, boxes have no
//      caption, and they open on the window thread only (off it, the text goes to stderr).
//      Glyphs beyond U+FFFF are not drawn; without the font file ImGui's default font
//      stands in, which has no Japanese.
//  [ ] The beep is a plain square wave of 37 Hz to 20 kHz and at most 10 s, dropped while
//      2 s are still queued, and silent (said once) without an audio device.
//  [ ] SDL's offscreen and dummy drivers count as no display unless named in
//      SDL_VIDEODRIVER. OpenGL 3.0 or later is needed, though only to present: the picture
//      itself comes from the software rasteriser (createEngine).
#include "platform/sdl/SdlPlatform.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>

#include <GL/gl.h>
#include <backends/imgui_impl_opengl3.h>
#include <backends/imgui_impl_sdl.h>
#include <imgui.h>

#include "platform/sdl/SdlBackendData.h"
#include "platform/sdl/SdlModalUi.h"

namespace vesk::platform::sdl {

namespace {

constexpr int largestWindowSide = 16384;
constexpr int leastOpenGlMajorVersion = 3;
constexpr const char* glslVersion = "#version 130";  // OpenGL 3.0's
// Box and dialog text at the picture's own scale; grows with the picture on a larger
// screen, within these bounds.
constexpr float uiFontPixels = 16.0f;
constexpr float smallestUiScale = 0.75f;
constexpr float largestUiScale = 4.0f;

bool sdlFailure(std::string& reason, const char* what) {
    reason = std::string(what) + ": " + SDL_GetError();
    return false;
}

bool checkWindowSize(const WindowOptions& options, std::string& reason) {
    if (options.width > 0 && options.height > 0 && options.width <= largestWindowSide &&
        options.height <= largestWindowSide)
        return true;
    reason = "a window of " + std::to_string(options.width) + " x " +
             std::to_string(options.height) + " pixels cannot be made";
    return false;
}

bool startSdl(SdlBackendData& bd, std::string& reason) {
    if (SDL_Init(SDL_INIT_VIDEO | SDL_INIT_EVENTS) != 0)
        return sdlFailure(reason, "no display could be opened");
    bd.sdlStarted = true;
    // SDL falls back to drivers that draw nowhere; those count as no display unless asked
    // for by name, so that the headless backend is taken instead.
    const std::string driver = SDL_GetCurrentVideoDriver() ? SDL_GetCurrentVideoDriver() : "";
    const char* requested = std::getenv("SDL_VIDEODRIVER");
    if ((driver == "offscreen" || driver == "dummy") && !(requested && driver == requested)) {
        reason = "no display could be opened (SDL offers only its " + driver + " driver)";
        return false;
    }
    return true;
}

bool openWindow(SdlBackendData& bd, std::string& reason) {
    const WindowOptions& o = bd.options;
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
    Uint32 flags = SDL_WINDOW_OPENGL | SDL_WINDOW_BORDERLESS | SDL_WINDOW_SHOWN |
                   SDL_WINDOW_ALLOW_HIGHDPI;
    SDL_Rect place{int(SDL_WINDOWPOS_CENTERED), int(SDL_WINDOWPOS_CENTERED), o.width, o.height};
    if (o.presentation == Presentation::FullscreenDesktop) {
        flags |= SDL_WINDOW_FULLSCREEN_DESKTOP;
        // Made with the screen's own place and size, so that it covers the screen even
        // where no window manager acts on the full-screen request.
        SDL_Rect screen;
        if (SDL_GetDisplayBounds(0, &screen) == 0 && screen.w > 0 && screen.h > 0) place = screen;
    }
    bd.window = SDL_CreateWindow(o.title.c_str(), place.x, place.y, place.w, place.h, flags);
    if (!bd.window) return sdlFailure(reason, "the window could not be created");
    return true;
}

bool openGlContext(SdlBackendData& bd, std::string& reason) {
    bd.glContext = SDL_GL_CreateContext(bd.window);
    if (!bd.glContext) return sdlFailure(reason, "no OpenGL context for the window");
    if (SDL_GL_MakeCurrent(bd.window, bd.glContext) != 0)
        return sdlFailure(reason, "the OpenGL context could not be made current");
    SDL_GL_SetSwapInterval(1);  // where the display has a vertical sync; refusal is fine

    const char* version = reinterpret_cast<const char*>(glGetString(GL_VERSION));
    if (!version || std::atoi(version) < leastOpenGlMajorVersion) {
        reason = std::string("OpenGL 3.0 or later is needed; the display offers ") +
                 (version ? version : "none");
        return false;
    }
    return true;
}

// The texture the surface is streamed to, as large as the surface.
bool createPictureTexture(SdlBackendData& bd, std::string& reason) {
    glGenTextures(1, &bd.texture);
    glBindTexture(GL_TEXTURE_2D, bd.texture);
    bd.textureFilter = GL_NEAREST;
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, bd.textureFilter);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, bd.textureFilter);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, bd.surface.width(), bd.surface.height(), 0, GL_BGRA,
                 GL_UNSIGNED_INT_8_8_8_8_REV, nullptr);
    if (!bd.texture || glGetError() != GL_NO_ERROR) {
        reason = "the picture's texture could not be made";
        return false;
    }
    return true;
}

// Square, framed widgets on the light style, as a desktop's dialogs look.
void styleImGui() {
    ImGui::StyleColorsLight();
    ImGuiStyle& style = ImGui::GetStyle();
    style.WindowRounding = 0;
    style.FrameRounding = 0;
    style.WindowBorderSize = 1;
    style.FrameBorderSize = 1;
}

bool startImGui(SdlBackendData& bd, std::string& reason) {
    IMGUI_CHECKVERSION();
    bd.imguiContext = ImGui::CreateContext();
    ImGuiIO& io = ImGui::GetIO();
    io.IniFilename = nullptr;  // boxes and dialogs keep no state between runs
    io.LogFilename = nullptr;
    styleImGui();
    bd.imguiSdl = ImGui_ImplSDL2_InitForOpenGL(bd.window, bd.glContext);
    if (!bd.imguiSdl) {
        reason = "ImGui could not take the window's events";
        return false;
    }
    bd.imguiOpenGl = ImGui_ImplOpenGL3_Init(glslVersion);
    if (!bd.imguiOpenGl) {
        reason = "ImGui could not draw with the window's OpenGL";
        return false;
    }
    return true;
}

// The modal UI's font grows with the window beyond the surface's size.
void startModalUiAndTimers(SdlBackendData& bd) {
    int width = 0, height = 0;
    SDL_GetWindowSize(bd.window, &width, &height);
    const float scale = std::clamp(std::min(float(width) / float(bd.options.width),
                                            float(height) / float(bd.options.height)),
                                   smallestUiScale, largestUiScale);
    bd.modalUi = std::make_unique<SdlModalUi>(bd, std::round(uiFontPixels * scale));
    bd.timers = std::make_unique<ThreadTimers>();
}

}  // namespace

SdlBackendData::SdlBackendData(const WindowOptions& options, EventSource& events)
    : options(options),
      surface(options.width, options.height),
      loop(events),
      sourceWidth(surface.width()),
      sourceHeight(surface.height()) {}

SdlBackendData::~SdlBackendData() = default;

bool openBackend(SdlBackendData& bd, std::string& reason) {
    if (!checkWindowSize(bd.options, reason) || !startSdl(bd, reason) ||
        !openWindow(bd, reason) || !openGlContext(bd, reason))
        return false;
    registerWakeEvent(bd);
    if (!createPictureTexture(bd, reason) || !startImGui(bd, reason)) return false;
    startModalUiAndTimers(bd);
    SDL_RaiseWindow(bd.window);
    return true;
}

void closeBackend(SdlBackendData& bd) {
    bd.timers.reset();  // no callback posts once the window is going
    closeBeepAudio(bd);
    if (bd.imguiOpenGl) ImGui_ImplOpenGL3_Shutdown();
    if (bd.imguiSdl) ImGui_ImplSDL2_Shutdown();
    if (bd.imguiContext) ImGui::DestroyContext(bd.imguiContext);
    bd.modalUi.reset();  // after the atlas that used its font data
    if (bd.texture) glDeleteTextures(1, &bd.texture);
    if (bd.glContext) SDL_GL_DeleteContext(bd.glContext);
    if (bd.window) SDL_DestroyWindow(bd.window);
    if (bd.sdlStarted) SDL_Quit();
}

// --- the platform ---

SdlPlatform::SdlPlatform(const WindowOptions& options)
    : bd_(std::make_unique<SdlBackendData>(options, static_cast<EventSource&>(*this))),
      display_(std::make_unique<SdlDisplay>(*bd_)),
      desktop_(std::make_unique<SdlDesktop>(*bd_)) {}

std::unique_ptr<SdlPlatform> SdlPlatform::create(const WindowOptions& options, std::string& reason) {
    if (ImGui::GetCurrentContext()) {
        reason = "another SDL window is already open in this process";
        return nullptr;
    }
    std::unique_ptr<SdlPlatform> platform(new SdlPlatform(options));
    if (!openBackend(*platform->bd_, reason)) return nullptr;
    return platform;
}

SdlPlatform::~SdlPlatform() { closeBackend(*bd_); }

MessageLoop& SdlPlatform::loop() { return bd_->loop; }
Surface& SdlPlatform::surface() { return bd_->surface; }
Display& SdlPlatform::display() { return *display_; }
ModalUi& SdlPlatform::modalUi() { return *bd_->modalUi; }
OneShotTimers& SdlPlatform::timers() { return *bd_->timers; }
Desktop& SdlPlatform::desktop() { return *desktop_; }

std::unique_ptr<retained::Engine> SdlPlatform::createEngine() {
    return std::make_unique<retained::Engine>();
}

std::uint32_t SdlPlatform::windowId() const { return SDL_GetWindowID(bd_->window); }

std::optional<PixelRect> SdlPlatform::dialogControlRect(int controlId) const {
    return bd_->modalUi->controlRect(controlId);
}

std::uint64_t SdlPlatform::framesPresented() const { return bd_->framesPresented; }

std::int64_t SdlPlatform::nowUs() { return steadyNowUs(); }

bool SdlPlatform::wait(std::optional<std::int64_t> deadlineUs) {
    waitForEvents(*bd_, deadlineUs);
    return true;
}

void SdlPlatform::wake() { wakeLoop(*bd_); }

void SdlPlatform::idle() { presentIfNeeded(*bd_); }

}  // namespace vesk::platform::sdl
