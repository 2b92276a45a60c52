// The program's one aggregate: the performance state and the state of every subsystem
// (scene, clusters, star ring, the file and its sequencer, the capture inbox, the MIDI
// devices), the platform it runs on and the random source. Operations are free functions
// that take it; tests and offline runs make a fresh one.
#pragma once

#include <cstdint>
#include <memory>

#include "flake/Random.h"
#include "midi/Devices.h"
#include "midi/NoteCapture.h"
#include "midi/Sequencer.h"
#include "midi/SmfFile.h"
#include "overlay/StarRing.h"
#include "state/PerformanceState.h"
#include "platform/Platform.h"
#include "scene/Clusters.h"
#include "scene/DisplaySetup.h"

namespace vesk {

struct Vesk;

// What a run reports as it goes (a trace, frames for a video); every call is on the
// window thread. The defaults do nothing.
class VeskObserver {
public:
    virtual ~VeskObserver() = default;
    virtual void performanceStarted(const Vesk&) {}
    // The performance's file has been loaded into the file buffer, to be played.
    virtual void fileLoaded(const Vesk&) {}
    virtual void tickCompleted(const Vesk&) {}
    virtual void repainted(const Vesk&) {}
    // A live input message (keyboard or script) as the window takes it, before capture.
    virtual void liveInput(const Vesk&, std::uint32_t /*message*/) {}
};

struct Vesk {
    Vesk(platform::Platform& platform, flake::RandomSource& random)
        : platform(platform), random(random) {}
    Vesk(const Vesk&) = delete;
    Vesk& operator=(const Vesk&) = delete;
    // The sequencer goes first: no timer may fire into what is destroyed after it.
    ~Vesk() { sequencer.stopPlayback(); }

    platform::Platform& platform;
    flake::RandomSource& random;
    VeskObserver* observer = nullptr;

    PerformanceState state;
    scene::SceneObjects scene;
    scene::ClusterState clusters;
    overlay::StarRing ring;
    midi::SmfFile smf;
    midi::NoteInbox inbox;
    midi::MidiDevices devices;
    midi::Sequencer sequencer{smf, state, inbox, platform, nullptr};

    // What this performance has already told the user: the full mesh's box comes once.
    bool meshFullShown = false;
    // Live input dropped (messages by the window's queue, notes by capture) up to the end
    // of the last performance whose drops were told.
    std::uint64_t droppedMessagesTold = 0;
    std::uint64_t droppedNotesTold = 0;

    platform::MidiOutput* output() const { return devices.output.get(); }
    midi::Capture capture() { return {inbox, state, output()}; }
};

}  // namespace vesk
