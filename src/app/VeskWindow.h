// The window procedure: each message of the one window to the part that handles it. The
// timer message runs the ripple, the tick and the star ring, in that order.
#pragma once

#include <functional>

#include "performance/Vesk.h"
#include "platform/Message.h"
#include "platform/MessageLoop.h"

namespace vesk::app {

class VeskWindow final : public platform::WindowHandler {
public:
    explicit VeskWindow(Vesk& vesk) : vesk_(vesk) {}
    void handleMessage(const platform::Message& message) override;

private:
    void destroy();

    Vesk& vesk_;
};

// A window procedure without the picture, for runs that never look at it: a paint only
// validates the window, as it does before the scene is ready; every other message, the
// overlay's ticks included, reaches `window`.
class WithoutPicture final : public platform::WindowHandler {
public:
    WithoutPicture(platform::WindowHandler& window, platform::MessageLoop& loop) : window_(window), loop_(loop) {}
    void handleMessage(const platform::Message& message) override {
        if (message.type == platform::MessageType::Paint)
            loop_.defaultProcessing(message);
        else
            window_.handleMessage(message);
    }

private:
    platform::WindowHandler& window_;
    platform::MessageLoop& loop_;
};

// Stands between the message loop and the window procedure: it sees every message the
// window takes and may hand the window messages of its own (a recorded session counts the
// ticks and paints; its replay delivers between them what came live).
class WindowFilter {
public:
    virtual ~WindowFilter() = default;
    virtual void handle(const platform::Message& message, platform::WindowHandler& window) = 0;
};

// The start-up after the window exists: the MIDI devices (on `ports`; null: none), then
// `devicesOpened` when given, the file buffer, the first performance, then the message
// loop until quit, through `filter` when given. Returns the exit code the quit request carried.
int runApplication(Vesk& vesk, platform::MidiPorts* ports, const std::function<void()>& devicesOpened = {},
                   WindowFilter* filter = nullptr);

}  // namespace vesk::app
