// Everything the system asks of its operating environment, as one aggregate a backend
// provides: the window's message loop and pixels, the display, modal boxes and dialogs,
// one-shot timers, the desktop's small services and the retained-mode engine. The
// system's code sees only these interfaces, never a backend's library.
#pragma once

#include <memory>
#include <string>

#include "platform/Desktop.h"
#include "platform/Display.h"
#include "platform/MessageLoop.h"
#include "platform/ModalUi.h"
#include "platform/OneShotTimers.h"
#include "platform/Surface.h"
#include "retained/Engine.h"

namespace vesk::platform {

class Platform {
public:
    virtual ~Platform() = default;

    virtual MessageLoop& loop() = 0;
    virtual Surface& surface() = 0;
    virtual Display& display() = 0;
    virtual ModalUi& modalUi() = 0;
    virtual OneShotTimers& timers() = 0;
    virtual Desktop& desktop() = 0;
    // The retained-mode root object; null when it cannot be made.
    virtual std::unique_ptr<retained::Engine> createEngine() = 0;
};

}  // namespace vesk::platform
