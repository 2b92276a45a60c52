// The SDL window, its events and its presentation. Events are read only while the loop
// waits, so every message the window sees comes through MessageLoop in its order; a frame
// is drawn when the loop is idle and the picture changed or a box or dialog is open.
// Relies on SDL2, OpenGL 3 through libGL and Dear ImGui's SDL2 and OpenGL3 backends.
#include "platform/sdl/SdlPlatform.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <vector>

#include <SDL.h>
#include <GL/gl.h>
#include <backends/imgui_impl_opengl3.h>
#include <backends/imgui_impl_sdl.h>
#include <imgui.h>

#include "platform/sdl/SdlModalUi.h"

namespace vesk::platform::sdl {

namespace {

// While a box or dialog is open the loop wakes at least this often to draw it (~30 fps).
constexpr int modalFrameMs = 33;
// A wait with a far deadline is made in pieces of this length, which keeps it in an int.
constexpr std::int64_t longestWaitMs = 60 * 60 * 1000;
// More events than this in one wait are left for the next, so a flood of pointer motion
// cannot keep the loop from its messages.
constexpr int mostEventsPerWait = 256;
// Box and dialog text at the picture's own scale; grows with the picture on a larger screen.
constexpr float uiFontPixels = 16.0f;
constexpr int largestWindowSide = 16384;

constexpr int beepSampleRate = 44100;
constexpr int lowestBeepHz = 37;  // a desktop's tone generator's range
constexpr int highestBeepHz = 20000;
constexpr int longestBeepMs = 10000;
constexpr int mostQueuedBeepMs = 2000;  // beyond this a new tone is dropped, not queued
constexpr Sint16 beepAmplitude = 6000;  // about a fifth of full scale

// The window's key codes: letters as their capital, digits as themselves, the rest as a
// desktop's virtual key codes. Keys outside this table are not passed on.
std::optional<std::uint32_t> keyCode(SDL_Keycode key) {
    if (key >= SDLK_a && key <= SDLK_z) return std::uint32_t('A' + (key - SDLK_a));
    if (key >= SDLK_0 && key <= SDLK_9) return std::uint32_t(key);
    if (key >= SDLK_F1 && key <= SDLK_F12) return std::uint32_t(0x70 + (key - SDLK_F1));
    if (key >= SDLK_KP_1 && key <= SDLK_KP_9) return std::uint32_t(0x61 + (key - SDLK_KP_1));
    switch (key) {
    case SDLK_ESCAPE: return keyEscape;
    case SDLK_RETURN:
    case SDLK_KP_ENTER: return 0x0D;
    case SDLK_BACKSPACE: return 0x08;
    case SDLK_TAB: return 0x09;
    case SDLK_SPACE: return 0x20;
    case SDLK_DELETE: return 0x2E;
    case SDLK_LEFT: return 0x25;
    case SDLK_UP: return 0x26;
    case SDLK_RIGHT: return 0x27;
    case SDLK_DOWN: return 0x28;
    case SDLK_KP_0: return 0x60;
    default: return std::nullopt;
    }
}

}  // namespace

// --- the display ---

// Modes are kept, not switched: the window stays on the desktop's own mode and the
// picture is scaled. A mode is accepted at 32 or 24 bits when it fits the desktop, and
// then the window shows the part of the surface that mode would show (its top-left
// width x height), scaled to the window keeping its aspect.
class SdlPlatform::SdlDisplay final : public Display {
public:
    explicit SdlDisplay(SdlPlatform& p) : p_(p) {}

    bool connect() override { return SDL_WasInit(SDL_INIT_VIDEO) != 0; }
    bool shareWithWindow() override { return true; }
    bool setDisplayMode(int width, int height, int bits) override {
        if ((bits != 32 && bits != 24) || width <= 0 || height <= 0 || !p_.window_) return false;
        const int index = SDL_GetWindowDisplayIndex(p_.window_);
        SDL_DisplayMode desktop;
        if (index < 0 || SDL_GetDesktopDisplayMode(index, &desktop) != 0) return false;
        if (width > desktop.w || height > desktop.h) return false;
        p_.sourceWidth_ = std::min(width, p_.surface_.width());
        p_.sourceHeight_ = std::min(height, p_.surface_.height());
        p_.presentNeeded_ = true;
        return true;
    }
    bool createWindowTarget() override {
        created_ = true;
        return true;
    }
    bool attachWindowTarget() override {
        attached_ = created_;
        return attached_;
    }
    void releaseWindowTarget() override { created_ = attached_ = false; }
    Size clientSize() override { return {p_.surface_.width(), p_.surface_.height()}; }

private:
    SdlPlatform& p_;
    bool created_ = false;
    bool attached_ = false;
};

// --- the desktop's services ---

class SdlPlatform::SdlDesktop final : public Desktop {
public:
    explicit SdlDesktop(SdlPlatform& p) : p_(p) {}
    ~SdlDesktop() override {
        if (device_) SDL_CloseAudioDevice(device_);
        if (audioStarted_) SDL_QuitSubSystem(SDL_INIT_AUDIO);
    }
    SdlDesktop(const SdlDesktop&) = delete;
    SdlDesktop& operator=(const SdlDesktop&) = delete;

    void beep(int hz, int ms) override {
        if (ms <= 0 || !openAudio()) return;
        hz = std::clamp(hz, lowestBeepHz, highestBeepHz);
        ms = std::min(ms, longestBeepMs);
        const Uint32 bytesPerMs = beepSampleRate / 1000 * sizeof(Sint16);
        if (SDL_GetQueuedAudioSize(device_) > Uint32(mostQueuedBeepMs) * bytesPerMs) return;
        std::vector<Sint16> samples(std::size_t(std::int64_t(beepSampleRate) * ms / 1000));
        for (std::size_t i = 0; i < samples.size(); ++i) {
            // Two half-periods per cycle: which half sample i falls in.
            const bool high = (std::int64_t(i) * 2 * hz / beepSampleRate) % 2 == 0;
            samples[i] = high ? beepAmplitude : Sint16(-beepAmplitude);
        }
        SDL_QueueAudio(device_, samples.data(), Uint32(samples.size() * sizeof(Sint16)));
    }

    void sleep(int ms) override {
        if (ms > 0) SDL_Delay(Uint32(ms));
    }

    void setPointerPosition(int x, int y) override {
        if (x < 0 || y < 0 || x >= p_.sourceWidth_ || y >= p_.sourceHeight_) {
            p_.setPointerHidden(true);
            return;
        }
        int width = 0, height = 0;
        SDL_GetWindowSize(p_.window_, &width, &height);
        const PixelRect r = p_.pictureRect(float(width), float(height));
        const float scale = r.width / float(p_.sourceWidth_);
        SDL_WarpMouseInWindow(p_.window_, int(r.x + (float(x) + 0.5f) * scale),
                              int(r.y + (float(y) + 0.5f) * scale));
        p_.setPointerHidden(false);
    }

private:
    // Opened at the first tone; a desktop without sound is said once and then left silent.
    bool openAudio() {
        if (device_) return true;
        if (audioFailed_) return false;
        if (SDL_InitSubSystem(SDL_INIT_AUDIO) == 0) {
            audioStarted_ = true;
            SDL_AudioSpec want{};
            want.freq = beepSampleRate;
            want.format = AUDIO_S16SYS;
            want.channels = 1;
            want.samples = 1024;
            device_ = SDL_OpenAudioDevice(nullptr, 0, &want, nullptr, 0);
        }
        if (!device_) {
            audioFailed_ = true;
            std::cerr << "vesk: no audio device could be opened (" << SDL_GetError()
                      << "); beeps stay silent\n";
            return false;
        }
        SDL_PauseAudioDevice(device_, 0);
        return true;
    }

    SdlPlatform& p_;
    SDL_AudioDeviceID device_ = 0;
    bool audioStarted_ = false;
    bool audioFailed_ = false;
};

// --- the platform ---

SdlPlatform::SdlPlatform(const WindowOptions& options)
    : options_(options),
      surface_(options.width, options.height),
      loop_(static_cast<EventSource&>(*this)),
      display_(std::make_unique<SdlDisplay>(*this)),
      desktop_(std::make_unique<SdlDesktop>(*this)),
      sourceWidth_(surface_.width()),
      sourceHeight_(surface_.height()) {}

std::unique_ptr<SdlPlatform> SdlPlatform::create(const WindowOptions& options, std::string& reason) {
    if (ImGui::GetCurrentContext()) {
        reason = "another SDL window is already open in this process";
        return nullptr;
    }
    std::unique_ptr<SdlPlatform> platform(new SdlPlatform(options));
    if (!platform->open(reason)) return nullptr;
    return platform;
}

bool SdlPlatform::open(std::string& reason) {
    const auto sdlFailure = [&reason](const char* what) {
        reason = std::string(what) + ": " + SDL_GetError();
        return false;
    };
    if (options_.width <= 0 || options_.height <= 0 || options_.width > largestWindowSide ||
        options_.height > largestWindowSide) {
        reason = "a window of " + std::to_string(options_.width) + " x " +
                 std::to_string(options_.height) + " pixels cannot be made";
        return false;
    }
    if (SDL_Init(SDL_INIT_VIDEO | SDL_INIT_EVENTS) != 0)
        return sdlFailure("no display could be opened");
    sdlStarted_ = true;
    // SDL falls back to drivers that draw nowhere; those count as no display unless asked
    // for by name, so that the headless backend is taken instead.
    const std::string driver = SDL_GetCurrentVideoDriver() ? SDL_GetCurrentVideoDriver() : "";
    const char* requested = std::getenv("SDL_VIDEODRIVER");
    if ((driver == "offscreen" || driver == "dummy") && !(requested && driver == requested)) {
        reason = "no display could be opened (SDL offers only its " + driver + " driver)";
        return false;
    }

    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
    Uint32 flags = SDL_WINDOW_OPENGL | SDL_WINDOW_BORDERLESS | SDL_WINDOW_SHOWN |
                   SDL_WINDOW_ALLOW_HIGHDPI;
    SDL_Rect place{int(SDL_WINDOWPOS_CENTERED), int(SDL_WINDOWPOS_CENTERED), options_.width,
                   options_.height};
    if (options_.presentation == Presentation::FullscreenDesktop) {
        flags |= SDL_WINDOW_FULLSCREEN_DESKTOP;
        // Made with the screen's own place and size, so that it covers the screen even
        // where no window manager acts on the full-screen request.
        SDL_Rect screen;
        if (SDL_GetDisplayBounds(0, &screen) == 0 && screen.w > 0 && screen.h > 0) place = screen;
    }
    window_ = SDL_CreateWindow(options_.title.c_str(), place.x, place.y, place.w, place.h, flags);
    if (!window_) return sdlFailure("the window could not be created");
    glContext_ = SDL_GL_CreateContext(window_);
    if (!glContext_) return sdlFailure("no OpenGL context for the window");
    if (SDL_GL_MakeCurrent(window_, glContext_) != 0)
        return sdlFailure("the OpenGL context could not be made current");
    SDL_GL_SetSwapInterval(1);  // where the display has a vertical sync; refusal is fine

    const char* version = reinterpret_cast<const char*>(glGetString(GL_VERSION));
    if (!version || std::atoi(version) < 3) {
        reason = std::string("OpenGL 3.0 or later is needed; the display offers ") +
                 (version ? version : "none");
        return false;
    }

    wakeEventType_ = SDL_RegisterEvents(1);
    if (wakeEventType_ == std::uint32_t(-1)) wakeEventType_ = SDL_USEREVENT;

    glGenTextures(1, &texture_);
    glBindTexture(GL_TEXTURE_2D, texture_);
    textureFilter_ = GL_NEAREST;
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, textureFilter_);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, textureFilter_);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, surface_.width(), surface_.height(), 0, GL_BGRA,
                 GL_UNSIGNED_INT_8_8_8_8_REV, nullptr);
    if (!texture_ || glGetError() != GL_NO_ERROR) {
        reason = "the picture's texture could not be made";
        return false;
    }

    IMGUI_CHECKVERSION();
    imguiContext_ = ImGui::CreateContext();
    ImGuiIO& io = ImGui::GetIO();
    io.IniFilename = nullptr;  // boxes and dialogs keep no state between runs
    io.LogFilename = nullptr;
    ImGui::StyleColorsLight();
    ImGuiStyle& style = ImGui::GetStyle();
    style.WindowRounding = 0;
    style.FrameRounding = 0;
    style.WindowBorderSize = 1;
    style.FrameBorderSize = 1;
    imguiSdl_ = ImGui_ImplSDL2_InitForOpenGL(window_, glContext_);
    if (!imguiSdl_) {
        reason = "ImGui could not take the window's events";
        return false;
    }
    imguiOpenGl_ = ImGui_ImplOpenGL3_Init("#version 130");
    if (!imguiOpenGl_) {
        reason = "ImGui could not draw with the window's OpenGL";
        return false;
    }

    int width = 0, height = 0;
    SDL_GetWindowSize(window_, &width, &height);
    const float scale = std::clamp(std::min(float(width) / float(options_.width),
                                            float(height) / float(options_.height)),
                                   0.75f, 4.0f);
    modalUi_ = std::make_unique<SdlModalUi>(loop_, std::round(uiFontPixels * scale), windowThread_);
    timers_ = std::make_unique<ThreadTimers>();
    SDL_RaiseWindow(window_);
    return true;
}

SdlPlatform::~SdlPlatform() {
    timers_.reset();   // no callback posts once the window is going
    desktop_.reset();  // the audio device
    if (imguiOpenGl_) ImGui_ImplOpenGL3_Shutdown();
    if (imguiSdl_) ImGui_ImplSDL2_Shutdown();
    if (imguiContext_) ImGui::DestroyContext(static_cast<ImGuiContext*>(imguiContext_));
    modalUi_.reset();  // after the atlas that used its font data
    if (texture_) glDeleteTextures(1, &texture_);
    if (glContext_) SDL_GL_DeleteContext(glContext_);
    if (window_) SDL_DestroyWindow(window_);
    if (sdlStarted_) SDL_Quit();
}

Display& SdlPlatform::display() { return *display_; }
ModalUi& SdlPlatform::modalUi() { return *modalUi_; }
Desktop& SdlPlatform::desktop() { return *desktop_; }

std::unique_ptr<retained::Engine> SdlPlatform::createEngine() {
    return std::make_unique<retained::Engine>();
}

std::uint32_t SdlPlatform::windowId() const { return SDL_GetWindowID(window_); }

std::optional<PixelRect> SdlPlatform::dialogControlRect(int controlId) const {
    return modalUi_->controlRect(controlId);
}

std::int64_t SdlPlatform::nowUs() {
    using namespace std::chrono;
    return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

bool SdlPlatform::wait(std::optional<std::int64_t> deadlineUs) {
    int timeoutMs = -1;  // none: until an event
    if (deadlineUs) {
        const std::int64_t remainingUs = *deadlineUs - nowUs();
        // Rounded up: waking before the deadline would only wait again.
        timeoutMs = remainingUs <= 0 ? 0 : int(std::min((remainingUs + 999) / 1000, longestWaitMs));
    }
    if (modalUi_->open() && (timeoutMs < 0 || timeoutMs > modalFrameMs)) timeoutMs = modalFrameMs;

    SDL_Event event;
    const int got = timeoutMs < 0 ? SDL_WaitEvent(&event) : SDL_WaitEventTimeout(&event, timeoutMs);
    if (!got) {
        // Without a deadline only a broken event queue returns empty-handed; do not spin.
        if (timeoutMs < 0) SDL_Delay(modalFrameMs);
        return true;
    }
    bool closePosted = false;
    handle(event, closePosted);
    for (int n = 0; n < mostEventsPerWait && SDL_PollEvent(&event); ++n) handle(event, closePosted);
    return true;
}

void SdlPlatform::wake() {
    // On the window thread the loop looks at its queue before it waits again.
    if (std::this_thread::get_id() == windowThread_) return;
    // One wake-up event in SDL's queue is enough, however many posts come meanwhile.
    if (wakePending_.exchange(true)) return;
    SDL_Event event{};
    event.type = wakeEventType_;
    if (SDL_PushEvent(&event) != 1) wakePending_ = false;
}

void SdlPlatform::idle() {
    const bool pictureChanged = surface_.takeChanged();
    const bool modalClosed = modalUi_->takeClosed();
    if (pictureChanged || modalClosed || presentNeeded_ || modalUi_->open()) present(pictureChanged);
}

void SdlPlatform::handle(const SDL_Event& event, bool& closePosted) {
    // The close box and the window manager both ask once, however many events say so.
    const auto postClose = [&] {
        if (closePosted) return;
        closePosted = true;
        loop_.post({MessageType::Close, 0});
    };
    if (event.type == wakeEventType_) {
        wakePending_ = false;
        return;
    }
    switch (event.type) {
    case SDL_QUIT:
        postClose();
        return;
    case SDL_WINDOWEVENT:
        switch (event.window.event) {
        case SDL_WINDOWEVENT_CLOSE: postClose(); return;
        case SDL_WINDOWEVENT_EXPOSED:
            loop_.invalidate();
            presentNeeded_ = true;
            break;
        case SDL_WINDOWEVENT_SHOWN:
        case SDL_WINDOWEVENT_RESTORED:
        case SDL_WINDOWEVENT_SIZE_CHANGED: presentNeeded_ = true; break;
        default: break;
        }
        ImGui_ImplSDL2_ProcessEvent(&event);
        return;
    case SDL_KEYDOWN:
    case SDL_KEYUP: {
        const bool down = event.type == SDL_KEYDOWN;
        const SDL_Keycode key = event.key.keysym.sym;
        if (modalUi_->open()) {
            // The box or dialog has the keyboard; the window gets no keys meanwhile.
            const bool enter = key == SDLK_RETURN || key == SDLK_KP_ENTER;
            if (enter || key == SDLK_ESCAPE) {
                if (down && !event.key.repeat)
                    modalUi_->takeKey(enter ? ModalKey::Enter : ModalKey::Escape);
                return;
            }
            ImGui_ImplSDL2_ProcessEvent(&event);
            return;
        }
        ImGui_ImplSDL2_ProcessEvent(&event);  // keeps ImGui's key state for the next box
        if (const auto code = keyCode(key))
            loop_.post({down ? MessageType::KeyDown : MessageType::KeyUp, *code});
        return;
    }
    default:
        ImGui_ImplSDL2_ProcessEvent(&event);
        return;
    }
}

PixelRect SdlPlatform::pictureRect(float windowWidth, float windowHeight) const {
    const float scale = std::min(windowWidth / float(sourceWidth_), windowHeight / float(sourceHeight_));
    const float width = std::round(float(sourceWidth_) * scale);
    const float height = std::round(float(sourceHeight_) * scale);
    return {std::floor((windowWidth - width) / 2), std::floor((windowHeight - height) / 2), width,
            height};
}

void SdlPlatform::setPointerHidden(bool hidden) {
    pointerHidden_ = hidden;
    updatePointer();
}

void SdlPlatform::updatePointer() {
    // A box or dialog needs the pointer whatever the picture asked for.
    const bool show = !pointerHidden_ || (modalUi_ && modalUi_->open());
    if (show == pointerShown_) return;
    SDL_ShowCursor(show ? SDL_ENABLE : SDL_DISABLE);
    pointerShown_ = show;
}

void SdlPlatform::present(bool pictureChanged) {
    presentNeeded_ = false;
    modalUi_->prepareFrame();
    if (pictureChanged) {
        glBindTexture(GL_TEXTURE_2D, texture_);
        glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
        glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
        // 0xAARRGGBB words: blue in the lowest byte, which _REV reads first.
        glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, surface_.width(), surface_.height(), GL_BGRA,
                        GL_UNSIGNED_INT_8_8_8_8_REV, surface_.pixels().data());
    }

    ImGui_ImplOpenGL3_NewFrame();
    ImGui_ImplSDL2_NewFrame();
    ImGui::NewFrame();
    const ImVec2 display = ImGui::GetIO().DisplaySize;
    const PixelRect r = pictureRect(display.x, display.y);
    // Pixel for pixel when unscaled, so the screen shows the surface's exact colours.
    const int filter = (r.width == float(sourceWidth_) && r.height == float(sourceHeight_))
                           ? GL_NEAREST
                           : GL_LINEAR;
    if (filter != textureFilter_) {
        glBindTexture(GL_TEXTURE_2D, texture_);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, filter);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, filter);
        textureFilter_ = filter;
    }
    ImGui::GetBackgroundDrawList()->AddImage(
        reinterpret_cast<ImTextureID>(static_cast<std::intptr_t>(texture_)), ImVec2(r.x, r.y),
        ImVec2(r.x + r.width, r.y + r.height), ImVec2(0, 0),
        ImVec2(float(sourceWidth_) / float(surface_.width()),
               float(sourceHeight_) / float(surface_.height())));
    modalUi_->draw();
    ImGui::Render();
    updatePointer();

    int width = 0, height = 0;
    SDL_GL_GetDrawableSize(window_, &width, &height);
    glViewport(0, 0, width, height);
    glDisable(GL_SCISSOR_TEST);
    glClearColor(0, 0, 0, 1);  // the bars beside a picture of another aspect
    glClear(GL_COLOR_BUFFER_BIT);
    ImGui_ImplOpenGL3_RenderDrawData(ImGui::GetDrawData());
    SDL_GL_SwapWindow(window_);
    ++framesPresented_;
}

}  // namespace vesk::platform::sdl
