// SDL's events as the window's messages. Events are read only while the loop waits, so every
// message the window sees comes through MessageLoop in its order; keys go to an open box or
// dialog before the window, and only the keys of the table reach the window at all.
#include <algorithm>
#include <chrono>
#include <cstdint>

#include <backends/imgui_impl_sdl.h>

#include "platform/Message.h"
#include "platform/sdl/SdlBackendData.h"
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

// `count` consecutive SDL keys from `key` that reach the window as consecutive codes
// from `code`.
struct KeyRun {
    SDL_Keycode key;
    std::uint32_t code;
    int count = 1;
};

constexpr int letterCount = 26;
constexpr int digitCount = 10;
constexpr int functionKeyCount = 12;
static_assert(SDLK_z - SDLK_a == letterCount - 1 && SDLK_9 - SDLK_0 == digitCount - 1 &&
                  SDLK_F12 - SDLK_F1 == functionKeyCount - 1 && SDLK_KP_9 - SDLK_KP_1 == 8,
              "the runs of the key table are consecutive SDL keys");

// The window's key codes: letters as their capital, digits as themselves, the rest as
// Message.h names them. Keys outside this table are not passed on.
constexpr KeyRun keyTable[] = {
    {SDLK_a, 'A', letterCount},
    {SDLK_0, '0', digitCount},
    {SDLK_F1, keyF1, functionKeyCount},
    {SDLK_KP_1, keyKeypad0 + 1, digitCount - 1},  // SDL puts its keypad 0 after the 9
    {SDLK_KP_0, keyKeypad0},
    {SDLK_ESCAPE, keyEscape},
    {SDLK_RETURN, keyEnter},
    {SDLK_KP_ENTER, keyEnter},
    {SDLK_BACKSPACE, keyBackspace},
    {SDLK_TAB, keyTab},
    {SDLK_SPACE, keySpace},
    {SDLK_DELETE, keyDelete},
    {SDLK_LEFT, keyLeft},
    {SDLK_UP, keyUp},
    {SDLK_RIGHT, keyRight},
    {SDLK_DOWN, keyDown},
};

std::optional<std::uint32_t> keyCode(SDL_Keycode key) {
    for (const KeyRun& run : keyTable)
        if (key >= run.key && key < run.key + run.count)
            return run.code + std::uint32_t(key - run.key);
    return std::nullopt;
}

// The close box and the window manager both ask once, however many events in one wait
// say so.
void postClose(SdlBackendData& bd, bool& closePosted) {
    if (closePosted) return;
    closePosted = true;
    bd.loop.post({MessageType::Close, 0});
}

void handleWindowEvent(SdlBackendData& bd, const SDL_Event& event, bool& closePosted) {
    switch (event.window.event) {
    case SDL_WINDOWEVENT_CLOSE: postClose(bd, closePosted); return;
    case SDL_WINDOWEVENT_EXPOSED:
        bd.loop.invalidate();
        bd.presentNeeded = true;
        break;
    case SDL_WINDOWEVENT_SHOWN:
    case SDL_WINDOWEVENT_RESTORED:
    case SDL_WINDOWEVENT_SIZE_CHANGED: bd.presentNeeded = true; break;
    default: break;
    }
    ImGui_ImplSDL2_ProcessEvent(&event);
}

void handleKey(SdlBackendData& bd, const SDL_Event& event) {
    const bool down = event.type == SDL_KEYDOWN;
    const SDL_Keycode key = event.key.keysym.sym;
    if (bd.modalUi->open()) {
        // The box or dialog has the keyboard; the window gets no keys meanwhile.
        const bool enter = key == SDLK_RETURN || key == SDLK_KP_ENTER;
        if (enter || key == SDLK_ESCAPE) {
            if (down && !event.key.repeat)
                bd.modalUi->takeKey(enter ? ModalKey::Enter : ModalKey::Escape);
            return;
        }
        ImGui_ImplSDL2_ProcessEvent(&event);
        return;
    }
    ImGui_ImplSDL2_ProcessEvent(&event);  // keeps ImGui's key state for the next box
    if (const auto code = keyCode(key))
        bd.loop.post({down ? MessageType::KeyDown : MessageType::KeyUp, *code});
}

void handleEvent(SdlBackendData& bd, const SDL_Event& event, bool& closePosted) {
    if (event.type == bd.wakeEventType) {
        bd.wakePending = false;
        return;
    }
    switch (event.type) {
    case SDL_QUIT: postClose(bd, closePosted); return;
    case SDL_WINDOWEVENT: handleWindowEvent(bd, event, closePosted); return;
    case SDL_KEYDOWN:
    case SDL_KEYUP: handleKey(bd, event); return;
    default: ImGui_ImplSDL2_ProcessEvent(&event); return;
    }
}

// -1 waits for an event however long it takes.
int waitTimeoutMs(const SdlBackendData& bd, std::optional<std::int64_t> deadlineUs) {
    int timeoutMs = -1;
    if (deadlineUs) {
        const std::int64_t remainingUs = *deadlineUs - steadyNowUs();
        // Rounded up: waking before the deadline would only wait again.
        timeoutMs = remainingUs <= 0 ? 0 : int(std::min((remainingUs + 999) / 1000, longestWaitMs));
    }
    if (bd.modalUi->open() && (timeoutMs < 0 || timeoutMs > modalFrameMs)) timeoutMs = modalFrameMs;
    return timeoutMs;
}

}  // namespace

std::int64_t steadyNowUs() {
    using namespace std::chrono;
    return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

void registerWakeEvent(SdlBackendData& bd) {
    bd.wakeEventType = SDL_RegisterEvents(1);
    if (bd.wakeEventType == std::uint32_t(-1)) bd.wakeEventType = SDL_USEREVENT;
}

void waitForEvents(SdlBackendData& bd, std::optional<std::int64_t> deadlineUs) {
    const int timeoutMs = waitTimeoutMs(bd, deadlineUs);
    SDL_Event event;
    const int got = timeoutMs < 0 ? SDL_WaitEvent(&event) : SDL_WaitEventTimeout(&event, timeoutMs);
    if (!got) {
        // Without a deadline only a broken event queue returns empty-handed; do not spin.
        if (timeoutMs < 0) SDL_Delay(modalFrameMs);
        return;
    }
    bool closePosted = false;
    handleEvent(bd, event, closePosted);
    for (int n = 0; n < mostEventsPerWait && SDL_PollEvent(&event); ++n)
        handleEvent(bd, event, closePosted);
}

void wakeLoop(SdlBackendData& bd) {
    // On the window thread the loop looks at its queue before it waits again.
    if (std::this_thread::get_id() == bd.windowThread) return;
    // One wake-up event in SDL's queue is enough, however many posts come meanwhile.
    if (bd.wakePending.exchange(true)) return;
    SDL_Event event{};
    event.type = bd.wakeEventType;
    if (SDL_PushEvent(&event) != 1) bd.wakePending = false;
}

}  // namespace vesk::platform::sdl
