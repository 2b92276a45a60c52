// The tick's steps in their fixed order, the wind-down and the restart. Objects of the
// scene are looked up where they are used, never kept across a call that can restart the
// performance: after a restart inside this tick its last steps work on the new scene.
#include "performance/TickDriver.h"

#include <string>

#include "flake/Meshing.h"
#include "midi/Voice.h"
#include "performance/Finale.h"
#include "performance/PerformanceStart.h"
#include "scene/Colouring.h"
#include "scene/DisplaySetup.h"

namespace vesk {

namespace {

using platform::BoxOwner;

constexpr const char* meshFullText = "Buffer is full!";

constexpr int warningToneHz = 100;
constexpr int warningToneMs = 100;

// The wind-down: the flake spins 3% faster each tick, the ring contracts, notes rise.
constexpr float windDownSpinFactor = 1.03f;
constexpr int windDownFastTimerTick = 10;
constexpr int windDownFastTimerMs = 10;
constexpr int windDownStraightenTick = 50;
constexpr float windDownRingSpinStep = 0.00002f;
constexpr int restartBelowRingOffset = -320;
constexpr int restartPauseMs = 200;

// As the ring contracts, each wind-down tick sounds one random note (played and released
// at once) from a register that rises with the ring's offset band; the band's edges are
// the offsets the last drawing left.
struct WindDownBand {
    int highestOffset, lowestOffset;  // inclusive, highestOffset >= lowestOffset
    int lowestNote, highestNote;
};
constexpr WindDownBand windDownBands[] = {
    {-151, -200, 60, 84},
    {-201, -260, 84, 108},
    {-261, -295, 108, 127},
};
// Just past the last band the finale's opening note sounds once more.
constexpr int windDownOpeningOffset = -296;

void playWindDownNote(Vesk& vesk, int offset) {
    for (const WindDownBand& band : windDownBands) {
        if (offset > band.highestOffset || offset < band.lowestOffset) continue;
        const int note = flake::randomInRange(vesk.random, band.lowestNote, band.highestNote);
        midi::playVoiceNote(vesk.output(), vesk.state, note);
        midi::voiceNoteOff(vesk.output(), note);
        return;
    }
    if (offset == windDownOpeningOffset) playFinaleOpening(vesk.state, vesk.output());
}

void restart(Vesk& vesk) {
    PerformanceState& s = vesk.state;
    scene::releaseScene(vesk.scene, s, vesk.platform.display());
    vesk.platform.desktop().sleep(restartPauseMs);
    s.replayMode = s.replayMode == ReplayMode::ForwardMirrored ? ReplayMode::Backward
                                                               : ReplayMode::ForwardMirrored;
    releaseFinaleOpening(vesk.output());
    startPerformance(vesk);
}

void windDownStep(Vesk& vesk) {
    PerformanceState& s = vesk.state;
    s.spinSpeed = float(double(s.spinSpeed) * double(windDownSpinFactor));
    ++s.windDownTicks;
    s.ringStep = -1;

    playWindDownNote(vesk, s.ringOffset);

    if (s.windDownTicks == windDownFastTimerTick)
        vesk.platform.loop().setTimer(tickTimerId, windDownFastTimerMs);
    if (s.windDownTicks == windDownStraightenTick) {
        // Back to the starting orientation, and the ring moves by two this once.
        if (vesk.scene.flakeFrame)
            vesk.scene.flakeFrame->addRotation(retained::Combine::Replace, {0.0f, 0.0f, 0.0f}, 0.0f);
        s.ringStep *= 2;
    }
    s.ringSpin = float(double(s.ringSpin) + double(windDownRingSpinStep));
    if (s.ringOffset < restartBelowRingOffset) restart(vesk);
}

void decidePhase(Vesk& vesk) {
    PerformanceState& s = vesk.state;
    if (s.noteOnCount != 0) {
        s.silentTicks = 0;
        s.rippleStage = 0;
        ++s.scoreTick;
        return;
    }
    if (s.flake.segmentCount == flake::seedArmCount) {
        // Waiting for the first note, or the wind-down once the finale took the flake apart.
        s.scoreTick = 0;
        s.silentTicks = 0;
        if (s.finaleStarted) windDownStep(vesk);
        return;
    }
    if (s.scoreTick > s.finaleTick) vesk.platform.desktop().beep(warningToneHz, warningToneMs);
    if (s.silentTicks >= firstFinaleStepSilentTicks) {
        finaleStep(s, vesk.scene.flakeMesh.get(), vesk.scene.flakeFrame, vesk.platform.loop(),
                   vesk.output());
        ++s.silentTicks;
        return;
    }
    if (s.silentTicks == finaleStartSilentTicks) {
        s.finaleStarted = 1;
        s.finaleTick = s.scoreTick + 1;
        s.finaleSegmentCount = s.flake.segmentCount;
        playFinaleOpening(s, vesk.output());
    } else if (s.silentTicks == rippleStartSilentTicks) {
        s.rippleStage = 1;
    }
    ++s.scoreTick;
    ++s.silentTicks;
}

// Each note-off releases the newest unreleased segment of its note (the seed arms too).
void matchNoteOffs(PerformanceState& s) {
    for (int k = 0; k < s.noteOffCount; ++k) {
        const int note = s.noteOffQueue[std::size_t(k)];
        for (int i = s.flake.segmentCount - 1; i >= 0; --i) {
            flake::Segment* segment = s.flake.segmentAt(i);
            if (segment && segment->note == note && !segment->released) {
                segment->released = 1;
                segment->endTick = s.scoreTick + 1;
                break;
            }
        }
    }
}

// One segment per queued note while the mesh has room. False after the box that stops
// the tick: the flake could not grow. Notes past a full mesh grow nothing but have counted
// as music already (they hold the silence off), so the finale and the restart still come;
// the first of them in a performance shows the box.
bool growQueuedNotes(Vesk& vesk, retained::MeshBuilder& mesh) {
    PerformanceState& s = vesk.state;
    platform::ModalUi& ui = vesk.platform.modalUi();
    int grown = 0;
    for (int i = 0; i < s.noteOnCount; ++i) {
        if (s.flake.meshSegmentCount >= flake::meshCapacitySegments) {
            if (!vesk.meshFullShown) {
                vesk.meshFullShown = true;
                ui.reportError(meshFullText, BoxOwner::Window,
                               "the flake is full at " + std::to_string(flake::meshCapacitySegments) +
                                   " segments; it stops growing until the next performance");
            }
            continue;
        }
        const int note = s.noteOnQueue[std::size_t(i)];
        if (!flake::growAndMesh(s.flake, mesh, vesk.random, note, s.scoreTick)) {
            ui.reportError(scene::noSceneText, BoxOwner::Window, "the flake cannot grow a segment; it stops growing");
            return false;
        }
        ++s.flake.meshSegmentCount;
        ++grown;
    }
    // The accents take the newest segments for this tick's notes: only those that grew.
    s.noteOnCount = grown;
    return true;
}

}  // namespace

bool waitingForFirstNote(const Vesk& vesk) {
    const PerformanceState& s = vesk.state;
    return vesk.inbox.pending() == 0 && s.noteOnCount == 0 && s.flake.segmentCount == flake::seedArmCount &&
           !s.finaleStarted;
}

bool onTick(Vesk& vesk) {
    PerformanceState& s = vesk.state;
    // What was captured since the last tick joins the queues; the chord analysis and the
    // camera see it on every tick, also one that ends at the next step.
    vesk.inbox.drainInto(s);
    scene::analyseClusters(vesk.clusters, s, vesk.scene.scene.get());
    scene::breatheCamera(vesk.clusters, s, vesk.scene.scene.get(), vesk.scene.camera);

    if (!s.sceneReady) return false;
    s.sceneReady = 0;

    decidePhase(vesk);

    // Looked up after the phase: a restart has built a new scene and a new mesh.
    if (!vesk.scene.flakeMesh) vesk.scene.flakeMesh = std::make_shared<retained::MeshBuilder>();
    retained::MeshBuilder& mesh = *vesk.scene.flakeMesh;
    if (!growQueuedNotes(vesk, mesh)) return false;

    scene::pulseColours(s, mesh);
    scene::accentNewNotes(s, mesh);
    scene::accentFinaleNotes(s, mesh);
    matchNoteOffs(s);
    scene::spinAndRecolour(s, mesh, vesk.scene.flakeFrame);

    s.noteOnCount = 0;
    s.noteOffCount = 0;
    vesk.platform.loop().invalidate();
    s.sceneReady = 1;
    if (vesk.observer) vesk.observer->tickCompleted(vesk);
    return true;
}

}  // namespace vesk
