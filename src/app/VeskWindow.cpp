// Message dispatch and the start-up order.
#include "app/VeskWindow.h"

#include <optional>

#include "midi/SmfLoading.h"
#include "overlay/Ripples.h"
#include "performance/Finale.h"
#include "performance/PerformanceStart.h"
#include "performance/TickDriver.h"

namespace vesk::app {

using platform::MessageType;

void VeskWindow::handleMessage(const platform::Message& message) {
    PerformanceState& s = vesk_.state;
    switch (message.type) {
    case MessageType::Destroy:
        destroy();
        break;
    case MessageType::Paint:
        if (scene::repaint(vesk_.scene, s, vesk_.platform) && vesk_.observer)
            vesk_.observer->repainted(vesk_);
        break;
    case MessageType::KeyDown:
        if (message.param == platform::keyEscape) vesk_.platform.loop().postQuit(0);
        break;
    case MessageType::KeyUp:
        break;
    case MessageType::Timer:
        // The ripple first, so a stage the tick sets is drawn from the next message on;
        // the ring last, so it sees the step the tick has just set.
        if (overlay::rippleInProgress(s) &&
            overlay::drawRipples(s, vesk_.platform.surface()) == overlay::RippleStep::Ended)
            releaseFinaleOpening(vesk_.output());
        onTick(vesk_);
        overlay::drawStarRing(vesk_.ring, s, vesk_.platform.surface());
        break;
    case MessageType::MidiInput: {
        if (vesk_.observer) vesk_.observer->liveInput(vesk_, message.param);
        midi::Capture capture = vesk_.capture();
        midi::onMidiInput(capture, scene::backgroundSetter(vesk_.scene), message.param);
        break;
    }
    default:
        vesk_.platform.loop().defaultProcessing(message);
        break;
    }
}

void VeskWindow::destroy() {
    scene::releaseScene(vesk_.scene, vesk_.state, vesk_.platform.display());
    vesk_.scene.engine.reset();
    // Nothing may play into the devices once they close.
    vesk_.sequencer.stopPlayback();
    vesk_.sequencer.setOutput(nullptr);
    midi::closeMidi(vesk_.devices);
    midi::freeSmfBuffer(vesk_.smf);
    vesk_.platform.loop().postQuit(0);
}

namespace {

class Filtered final : public platform::WindowHandler {
public:
    Filtered(WindowFilter& filter, platform::WindowHandler& window) : filter_(filter), window_(window) {}
    void handleMessage(const platform::Message& message) override { filter_.handle(message, window_); }

private:
    WindowFilter& filter_;
    platform::WindowHandler& window_;
};

}  // namespace

int runApplication(Vesk& vesk, platform::MidiPorts* ports, const std::function<void()>& devicesOpened,
                   WindowFilter* filter) {
    VeskWindow window(vesk);
    std::optional<Filtered> filtered;
    if (filter) filtered.emplace(*filter, window);
    platform::MessageLoop& loop = vesk.platform.loop();
    loop.setHandler(filtered ? static_cast<platform::WindowHandler*>(&*filtered) : &window);
    if (ports) midi::openMidi(vesk.devices, *ports, loop, vesk.platform.modalUi());
    if (devicesOpened) devicesOpened();
    vesk.sequencer.setOutput(vesk.output());
    if (!midi::allocSmfBuffer(vesk.smf)) midi::showError(vesk.platform.modalUi(), midi::SmfError::Memory, vesk.smf);
    startPerformance(vesk);
    const int code = loop.run();
    // Quit without the window's destruction (Esc, the dialog's quit): the same release.
    if (!loop.destroyed()) window.handleMessage({MessageType::Destroy, 0});
    tellDroppedInput(vesk);
    loop.setHandler(nullptr);
    return code;
}

}  // namespace vesk::app
