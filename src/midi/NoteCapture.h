// Note capture: the notes and pedal changes the flake and the finale are made from. The
// sequencer captures on its timer thread and live input on the window thread; both put
// notes into an inbox under a short lock, and the tick drains the inbox into its queues
// at its start, so a note is taken by one tick or kept for the next, never lost, doubled
// or half-written, and the timer thread never waits for a tick.
#pragma once

#include <array>
#include <cstdint>
#include <mutex>
#include <vector>

#include "midi/SceneBackground.h"
#include "platform/MidiOutput.h"
#include "state/PerformanceState.h"

namespace vesk::midi {

// What a recorded session keeps of the hand-over: the notes each drain takes, in their
// order (the file's from the sequencer's thread and the live ones, as they interleaved),
// or, when a session is replayed, the notes each drain takes instead of what was captured.
class DrainTap {
public:
    virtual ~DrainTap() = default;
    // Window thread, inside drainInto: `on` and `off` hold what this drain takes; the tap
    // may read them or put others in their place.
    virtual void drained(std::vector<std::uint8_t>& on, std::vector<std::uint8_t>& off) = 0;
};

// Notes captured since the last drain. It holds as many notes of each kind as one tick's
// queues; beyond that, notes are dropped (and counted) rather than written past the end:
// only a flood far faster than any keyboard or file, or ticks held up by a box, fills it.
class NoteInbox {
public:
    // Either thread.
    void noteOn(std::uint8_t note);
    void noteOff(std::uint8_t note);

    // Window thread, at the start of a tick: appends everything captured to the state's
    // queues in arrival order (after what an unfinished tick left there) and empties the
    // inbox. What does not fit in a queue is dropped and counted.
    void drainInto(PerformanceState& state);

    int pending() const;
    std::uint64_t dropped() const;
    // A new performance starts with nothing captured.
    void clear();
    // Window thread, while no drain runs; null: none.
    void setTap(DrainTap* tap) { tap_ = tap; }

private:
    void drainThroughTap(PerformanceState& state);

    mutable std::mutex mutex_;
    std::array<std::uint8_t, noteQueueCapacity> on_{};
    std::array<std::uint8_t, noteQueueCapacity> off_{};
    int onCount_ = 0;
    int offCount_ = 0;
    std::uint64_t dropped_ = 0;
    DrainTap* tap_ = nullptr;
    // drainInto's copies for the tap, kept so that a drain allocates nothing once warm
    std::vector<std::uint8_t> tapOn_, tapOff_;
};

// What capture writes to: the inbox, the pedal log, and the output the pedal is echoed on.
struct Capture {
    NoteInbox& inbox;
    PerformanceState& state;
    platform::MidiOutput* output;  // null: no device
};

// Classifies one channel message by the first rule that matches: a sustain-pedal change
// is logged with the score tick and echoed on the voice (other controllers do nothing);
// a note-on with velocity is queued; a note-off, or anything with a second data byte of
// 0, queues a release unless its note is 0. Only the low 8 bits of each value count. The
// sequencer calls it with note messages only, so the pedal log is touched on the window
// thread alone. Once the log holds its 1000 changes, later ones are echoed but not logged.
void captureEvent(Capture& capture, int data1, int data2, int status);

// A short message from the MIDI input, on the window thread. Before the finale it is
// captured; during the finale a note only flashes the scene's background (red on a
// note-on, black on a release) through `setBackground`.
void onMidiInput(Capture& capture, const SetBackground& setBackground, std::uint32_t message);

}  // namespace vesk::midi
