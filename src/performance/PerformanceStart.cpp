// Performance start and reset, in their fixed order.
#include "performance/PerformanceStart.h"

#include <iostream>

#include "flake/Meshing.h"
#include "midi/Voice.h"
#include "scene/Colouring.h"
#include "scene/DisplaySetup.h"

namespace vesk {

namespace {

// Far to the right of every display mode the set-up can choose.
constexpr int pointerAwayX = 1500;
constexpr int pointerAwayY = 0;
// The first pedal entries a reset clears; later ones keep what earlier performances left.
constexpr int pedalEntriesCleared = 255;

// A scene that could not be built still gets a flake: it grows, colours and comes apart
// as ever, only nothing shows it. Segment i owns faces 2i and 2i + 1, so the flake starts
// on an empty mesh (a set-up that failed early left the last one). False after the box
// when the arms could not be grown.
bool growSeedArms(Vesk& vesk) {
    PerformanceState& s = vesk.state;
    if (!vesk.scene.flakeMesh || vesk.scene.flakeMesh->faceCount() != 0)
        vesk.scene.flakeMesh = std::make_shared<retained::MeshBuilder>();
    retained::MeshBuilder& mesh = *vesk.scene.flakeMesh;
    for (int arm = 0; arm < flake::seedArmCount; ++arm) {
        if (!flake::growAndMesh(s.flake, mesh, vesk.random, flake::seedArmNote, s.scoreTick)) {
            vesk.platform.modalUi().reportError(scene::noSceneText, platform::BoxOwner::Window,
                                                "the flake's six seed arms cannot be grown");
            return false;
        }
        ++s.flake.meshSegmentCount;
    }
    // The seed arms are not counted at depth 0.
    s.flake.depthPopulation.fill(0);
    scene::initColours(s, mesh);
    return true;
}

}  // namespace

void tellDroppedInput(Vesk& vesk) {
    const std::uint64_t messages = vesk.platform.loop().droppedMidiInput();
    const std::uint64_t notes = vesk.inbox.dropped();
    if (messages == vesk.droppedMessagesTold && notes == vesk.droppedNotesTold) return;
    std::cerr << "vesk: live input came faster than it could be taken: "
              << messages - vesk.droppedMessagesTold << " messages and " << notes - vesk.droppedNotesTold
              << " notes dropped in this performance\n";
    vesk.droppedMessagesTold = messages;
    vesk.droppedNotesTold = notes;
}

void startPerformance(Vesk& vesk) {
    // What the last performance dropped is told before this one begins.
    tellDroppedInput(vesk);
    vesk.platform.desktop().setPointerPosition(pointerAwayX, pointerAwayY);
    scene::initDisplay(vesk.scene, vesk.state, vesk.platform);
    resetPerformance(vesk);
    vesk.state.tickIntervalMs = startTickIntervalMs;
    vesk.platform.loop().setTimer(tickTimerId, startTickIntervalMs);
    if (vesk.observer) vesk.observer->performanceStarted(vesk);
    vesk.sequencer.startPlayback(scene::backgroundSetter(vesk.scene));
    if (vesk.observer && vesk.sequencer.playing()) vesk.observer->fileLoaded(vesk);
}

bool resetPerformance(Vesk& vesk) {
    PerformanceState& s = vesk.state;
    flake::clearFlake(s.flake);  // also segmentCount, meshSegmentCount, tips, currentTip
    s.spinSpeed = startSpinSpeed;
    s.silentTicks = 0;
    s.accentCount = 0;
    s.clusterCount = 0;
    s.scoreTick = 0;
    s.finaleStarted = 0;
    s.finaleTick = finaleTickUnset;
    s.windDownTicks = 0;
    s.rippleStage = 0;
    s.noteOnCount = 0;
    s.noteOffCount = 0;
    vesk.inbox.clear();
    vesk.meshFullShown = false;

    midi::selectVoiceProgram(vesk.output(), midi::voiceProgram);
    midi::setVoiceControllers(vesk.output());

    if (!growSeedArms(vesk)) return false;

    s.noteOnQueue.fill(0);
    std::fill_n(s.pedalValues.begin(), pedalEntriesCleared, 0);
    std::fill_n(s.pedalTicks.begin(), pedalEntriesCleared, 0);
    s.pedalIndex = -1;

    overlay::initStarRing(vesk.ring, s);
    return true;
}

}  // namespace vesk
