// The seam demo's window procedure: the timer message runs the ripple, a small tick and
// the star ring in that order, like a performance; the tick guards the scene with
// `sceneReady`, so a tick entered again inside the box's modal loop stays out while the
// ring and the ripple go on.
#include "demo/SeamDemo.h"

#include <cstdlib>

#include "flake/Meshing.h"
#include "flake/Random.h"
#include "midi/Voice.h"
#include "overlay/Ripples.h"
#include "overlay/StarRing.h"
#include "performance/PerformanceState.h"
#include "scene/Colouring.h"
#include "scene/DisplaySetup.h"

namespace vesk::demo {

namespace {

constexpr std::uint32_t tickTimerId = 1;
constexpr int tickIntervalMs = 200;
constexpr int seedArmNote = 72;
// A slow rising figure so the flake grows a little beyond its seed arms.
constexpr int growthNotes[] = {60, 64, 67, 71, 74, 62, 65, 69};
constexpr int ticksPerGrowth = 3;

class DemoWindow final : public platform::WindowHandler {
public:
    DemoWindow(platform::Platform& platform, platform::MidiOutput* output,
               const SeamDemoOptions& options)
        : platform_(platform), output_(output), options_(options) {}

    void start() {
        platform_.desktop().setPointerPosition(1500, 0);
        scene::initDisplay(objects_, state_, platform_);
        midi::selectVoiceProgram(output_, 0);
        midi::setVoiceControllers(output_);
        if (objects_.flakeMesh) {
            for (int arm = 0; arm < flake::seedArmCount; ++arm) {
                if (!flake::growAndMesh(state_.flake, *objects_.flakeMesh, random_, seedArmNote,
                                        state_.scoreTick))
                    break;
                ++state_.flake.meshSegmentCount;
            }
            state_.flake.depthPopulation.fill(0);
            scene::initColours(state_, *objects_.flakeMesh);
        }
        overlay::initStarRing(ring_, state_);
        platform_.loop().setTimer(tickTimerId, tickIntervalMs);
    }

    void handleMessage(const platform::Message& message) override {
        using platform::MessageType;
        switch (message.type) {
        case MessageType::Destroy:
            scene::releaseScene(objects_, state_, platform_.display());
            platform_.loop().postQuit(0);
            break;
        case MessageType::Paint:
            if (scene::repaint(objects_, state_, platform_) && options_.afterRepaint)
                options_.afterRepaint(++repaints_);
            break;
        case MessageType::KeyDown:
            if (message.param == platform::keyEscape) platform_.loop().postQuit(0);
            break;
        case MessageType::Timer:
            if (state_.rippleStage > 0 && state_.rippleStage < 30)
                overlay::drawRipples(state_, platform_.surface(), output_);
            tick();
            overlay::drawStarRing(ring_, state_, platform_.surface());
            if (options_.afterTimer) options_.afterTimer(ticks_, boxOpen_);
            break;
        default:
            platform_.loop().defaultProcessing(message);
            break;
        }
    }

    void finish() { scene::releaseScene(objects_, state_, platform_.display()); }

private:
    void tick() {
        if (!state_.sceneReady) return;  // a tick or repaint is in progress further out
        state_.sceneReady = 0;
        const int tick = ++ticks_;

        if (tick == options_.rippleAtTick) {
            // The ripple opens with the long low note; its end releases it.
            state_.rippleStage = 1;
            midi::selectVoiceProgram(output_, 100);
            midi::playVoiceNote(output_, state_, 30);
        }
        if (objects_.complete()) {
            if (tick % ticksPerGrowth == 0) {
                const int note = growthNotes[(tick / ticksPerGrowth) % std::size(growthNotes)];
                // The score clock stays at 0, as while a performance waits: the flake
                // turns on every tick and takes its depth colours band by band.
                if (flake::growAndMesh(state_.flake, *objects_.flakeMesh, random_, note,
                                       state_.scoreTick))
                    ++state_.flake.meshSegmentCount;
            }
            scene::pulseColours(state_, *objects_.flakeMesh);
            scene::spinAndRecolour(state_, *objects_.flakeMesh, objects_.flakeFrame);
        }
        if (tick == options_.boxAtTick) {
            boxOpen_ = true;
            platform_.modalUi().showMessageBox(options_.boxText, platform::BoxOwner::Window);
            boxOpen_ = false;
        }
        platform_.loop().invalidate();
        state_.sceneReady = 1;
        if (options_.quitAfterTicks > 0 && tick >= options_.quitAfterTicks)
            platform_.loop().postQuit(0);
    }

    platform::Platform& platform_;
    platform::MidiOutput* output_;
    const SeamDemoOptions& options_;
    PerformanceState state_;
    scene::SceneObjects objects_;
    overlay::StarRing ring_;
    flake::CLibraryRandom random_;
    int ticks_ = 0;
    int repaints_ = 0;
    bool boxOpen_ = false;
};

}  // namespace

int runSeamDemo(platform::Platform& platform, platform::MidiOutput* output,
                const SeamDemoOptions& options) {
    std::srand(options.seed);
    DemoWindow window(platform, output, options);
    platform.loop().setHandler(&window);
    window.start();
    const int code = platform.loop().run();
    window.finish();
    platform.loop().setHandler(nullptr);
    return code;
}

}  // namespace vesk::demo
