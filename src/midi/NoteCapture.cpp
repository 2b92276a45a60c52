// The capture rules and the locked hand-over of notes to the tick.
#include "midi/NoteCapture.h"

#include "midi/Voice.h"
#include "platform/MidiMessage.h"

namespace vesk::midi {

namespace {

using platform::byteMask;
using platform::statusKind;

constexpr std::uint32_t flashBackground = 0xFF7F0000u;
constexpr std::uint32_t darkBackground = 0xFF000000u;

bool isControlChange(int status) { return statusKind(status) == platform::controlChangeStatus; }
bool isNoteOn(int status, int data2) {
    return statusKind(status) == platform::noteOnStatus && data2 > 0;
}
bool isRelease(int status, int data1, int data2) {
    return (statusKind(status) == platform::noteOffStatus || data2 == 0) && data1 != 0;
}

void append(std::array<std::uint8_t, noteQueueCapacity>& queue, int& count, std::uint8_t note,
            std::uint64_t& dropped) {
    if (count >= noteQueueCapacity) {
        ++dropped;
        return;
    }
    queue[std::size_t(count++)] = note;
}

}  // namespace

void NoteInbox::noteOn(std::uint8_t note) {
    std::lock_guard lock(mutex_);
    append(on_, onCount_, note, dropped_);
}

void NoteInbox::noteOff(std::uint8_t note) {
    std::lock_guard lock(mutex_);
    append(off_, offCount_, note, dropped_);
}

void NoteInbox::drainInto(PerformanceState& state) {
    if (tap_) {
        drainThroughTap(state);
        return;
    }
    std::lock_guard lock(mutex_);
    for (int i = 0; i < onCount_; ++i)
        append(state.noteOnQueue, state.noteOnCount, on_[std::size_t(i)], dropped_);
    for (int i = 0; i < offCount_; ++i)
        append(state.noteOffQueue, state.noteOffCount, off_[std::size_t(i)], dropped_);
    onCount_ = offCount_ = 0;
}

// The tap sees the notes outside the lock (it may write them to a file): the sequencer's
// thread never waits for it.
void NoteInbox::drainThroughTap(PerformanceState& state) {
    {
        std::lock_guard lock(mutex_);
        tapOn_.assign(on_.begin(), on_.begin() + onCount_);
        tapOff_.assign(off_.begin(), off_.begin() + offCount_);
        onCount_ = offCount_ = 0;
    }
    tap_->drained(tapOn_, tapOff_);
    std::uint64_t dropped = 0;
    for (const std::uint8_t note : tapOn_) append(state.noteOnQueue, state.noteOnCount, note, dropped);
    for (const std::uint8_t note : tapOff_) append(state.noteOffQueue, state.noteOffCount, note, dropped);
    std::lock_guard lock(mutex_);
    dropped_ += dropped;
}

int NoteInbox::pending() const {
    std::lock_guard lock(mutex_);
    return onCount_ + offCount_;
}

std::uint64_t NoteInbox::dropped() const {
    std::lock_guard lock(mutex_);
    return dropped_;
}

void NoteInbox::clear() {
    std::lock_guard lock(mutex_);
    onCount_ = offCount_ = 0;
}

void captureEvent(Capture& capture, int data1, int data2, int status) {
    data1 &= byteMask;
    data2 &= byteMask;
    status &= byteMask;
    if (isControlChange(status)) {
        if (data1 != platform::sustainController) return;
        const bool down = data2 >= platform::switchOnFrom;
        sendVoicePedal(capture.output, down);
        PerformanceState& s = capture.state;
        if (s.pedalIndex + 1 >= pedalLogCapacity) return;
        ++s.pedalIndex;
        s.pedalTicks[std::size_t(s.pedalIndex)] = s.scoreTick;
        s.pedalValues[std::size_t(s.pedalIndex)] = down ? pedalLogPressed : pedalLogReleased;
        return;
    }
    if (isNoteOn(status, data2)) {
        capture.inbox.noteOn(std::uint8_t(data1));
    } else if (isRelease(status, data1, data2)) {
        capture.inbox.noteOff(std::uint8_t(data1));
    }
}

void onMidiInput(Capture& capture, const SetBackground& setBackground, std::uint32_t message) {
    const int status = int(message & byteMask);
    const int data1 = int((message >> platform::firstDataShift) & byteMask);
    const int data2 = int((message >> platform::secondDataShift) & byteMask);
    if (!capture.state.finaleStarted) {
        captureEvent(capture, data1, data2, status);
        return;
    }
    if (!setBackground) return;
    if (isNoteOn(status, data2))
        setBackground(flashBackground);
    else if (isRelease(status, data1, data2))
        setBackground(darkBackground);
}

}  // namespace vesk::midi
