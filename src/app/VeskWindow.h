// The window procedure: each message of the one window to the part that handles it. The
// timer message runs the ripple, the tick and the star ring, in that order.
#pragma once

#include <functional>

#include "performance/Vesk.h"
#include "platform/Message.h"

namespace vesk::app {

class VeskWindow final : public platform::WindowHandler {
public:
    explicit VeskWindow(Vesk& vesk) : vesk_(vesk) {}
    void handleMessage(const platform::Message& message) override;

private:
    void destroy();

    Vesk& vesk_;
};

// The start-up after the window exists: the MIDI devices (on `ports`; null: none), then
// `devicesOpened` when given, the file buffer, the first performance, then the message
// loop until quit. Returns the exit code the quit request carried.
int runApplication(Vesk& vesk, platform::MidiPorts* ports, const std::function<void()>& devicesOpened = {});

}  // namespace vesk::app
