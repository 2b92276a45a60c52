// The finale step: settling spin, the replay clock, tumbling, the speed-up, the replayed
// notes and pedal, and the dismantling of the flake segment by segment. Relies on the flake
// keeping its grown segments in growth order from index 6 on, segment i owning faces 2i and
// 2i + 1 of the flake mesh, and on removeSegment for the flake's own bookkeeping.
#include "performance/Finale.h"

#include <algorithm>
#include <cstdint>

#include "flake/FlakeState.h"
#include "midi/Voice.h"

namespace vesk {
namespace {

using flake::Segment;

// The finale's first step comes at silentTicks 15. The flake first slows to 0.9 of its
// spin, then to 0.6, before the replay begins; spinSpeed itself is left alone meanwhile.
constexpr int firstSettlingLastTick = 30;
constexpr int secondSettlingLastTick = 45;
constexpr double firstSettlingSpinFactor = 0.9;
constexpr double secondSettlingSpinFactor = 0.6;
// On this tick mode 1 rewinds its clock and pedal log; mode 2 already replays on it.
constexpr int replayStartTick = 46;

// While the replay runs the flake tumbles about a diagonal and spins 1.2 times as fast.
constexpr retained::Vector3 tumbleAxis{1.0f, 1.0f, 0.0f};
constexpr float tumbleAngle = 0.1f;
constexpr retained::Vector3 spinAxis{0.0f, 0.0f, 1.0f};
constexpr double replaySpinFactor = 1.2;

// On every silent tick from 76 on that is a multiple of 20 (so first at 80) the tick timer
// runs 7% faster, down to 60 ms, and the spin grows by a fifth, up to 0.18 rad per step.
constexpr int speedUpFromTick = 76;
constexpr int speedUpEveryTicks = 20;
constexpr std::int64_t intervalFactorNumerator = 93;
constexpr std::int64_t intervalFactorDenominator = 100;
constexpr int shortestTickIntervalMs = 60;
constexpr double speedUpSpinFactor = 1.2;
// The spin is negative, so its limit is a lower bound.
constexpr double spinSpeedLimit = -0.18;

// Late in the finale (from the 121st silent tick) every replayed note, and its release,
// sounds an octave higher.
constexpr int octaveUpFromTick = 121;
constexpr int octave = midi::semitonesPerOctave;

bool forward(const PerformanceState& state) {
    return state.replayMode == ReplayMode::ForwardMirrored;
}

// Segments the searches may look at: never more than the flake's slots.
int liveCount(const flake::FlakeState& f) { return std::clamp(f.segmentCount, 0, flake::segmentCapacity); }

void rotate(retained::Frame* frame, retained::Vector3 axis, float angle) {
    if (frame) frame->addRotation(retained::Combine::After, axis, angle);
}

// The angle is computed in double from the single-precision spin and rounded to single
// precision, as the rotation takes it.
void spin(retained::Frame* frame, const PerformanceState& state, double factor) {
    rotate(frame, spinAxis, float(double(state.spinSpeed) * factor));
}

void moveReplayClock(PerformanceState& state) {
    if (forward(state))
        ++state.scoreTick;
    else if (state.scoreTick > 0)
        --state.scoreTick;  // the backward clock stops at the performance's first tick
}

void speedUp(PerformanceState& state, platform::MessageLoop& loop) {
    if (state.silentTicks < speedUpFromTick || state.silentTicks % speedUpEveryTicks != 0) return;
    // Integer arithmetic, truncating; in 64 bits so that no interval overflows.
    const std::int64_t shorter =
        std::int64_t(state.tickIntervalMs) * intervalFactorNumerator / intervalFactorDenominator;
    state.tickIntervalMs = int(std::max<std::int64_t>(shorter, shortestTickIntervalMs));
    loop.setTimer(tickTimerId, state.tickIntervalMs);

    const double faster = double(state.spinSpeed) * speedUpSpinFactor;
    state.spinSpeed = float(faster < spinSpeedLimit ? spinSpeedLimit : faster);
}

// Mode 1 sounds each note at its birth tick, mode 2 at its end tick; several may be due.
void soundDueNotes(PerformanceState& state, platform::MidiOutput* output) {
    const auto& f = state.flake;
    const int count = liveCount(f);
    if (forward(state)) {
        for (int i = flake::seedArmCount; i < count; ++i)
            if (const Segment* s = f.segments[i].get(); s && s->birthTick == state.scoreTick)
                midi::playVoiceNote(output, state, replayedPitch(state, *s));
        return;
    }
    for (int i = count - 1; i >= flake::seedArmCount; --i)
        if (const Segment* s = f.segments[i].get(); s && s->endTick == state.scoreTick)
            midi::playVoiceNote(output, state, replayedPitch(state, *s));
}

// At most one change per step. Mode 1 reads the log forward; mode 2 reads it backward from
// the last change recorded, with pressing and releasing exchanged. A change whose tick the
// clock has passed holds the replay there for the rest of the finale.
void replayPedal(PerformanceState& state, platform::MidiOutput* output) {
    const int k = state.pedalIndex;
    if (k < 0 || k >= pedalLogCapacity || state.pedalTicks[k] != state.scoreTick) return;
    if (forward(state)) {
        midi::sendVoicePedal(output, state.pedalValues[k] == pedalLogPressed);
        ++state.pedalIndex;
    } else {
        midi::sendVoicePedal(output, state.pedalValues[k] == pedalLogReleased);
        --state.pedalIndex;
    }
}

// The next segment to go on this step, or -1: mode 1 the oldest whose note ends now,
// mode 2 the newest born now (its note, replayed backward, ends here).
int dueForRemoval(const PerformanceState& state) {
    const auto& f = state.flake;
    const int count = liveCount(f);
    if (forward(state)) {
        for (int i = flake::seedArmCount; i < count; ++i)
            if (const Segment* s = f.segments[i].get(); s && s->endTick == state.scoreTick) return i;
        return -1;
    }
    for (int i = count - 1; i >= flake::seedArmCount; --i)
        if (const Segment* s = f.segments[i].get(); s && s->birthTick == state.scoreTick) return i;
    return -1;
}

void deleteSegmentFaces(retained::MeshBuilder* mesh, int i) {
    if (!mesh) return;
    // Both handles first: deleting face 2i moves face 2i + 1 down into its place.
    const retained::FaceHandle first = mesh->faceAt(2 * std::size_t(i));
    const retained::FaceHandle second = mesh->faceAt(2 * std::size_t(i) + 1);
    mesh->deleteFace(first);
    mesh->deleteFace(second);
}

// The colouring skips empty entries; the count stays so that later entries keep their place.
void forgetAccents(PerformanceState& state, const Segment* segment) {
    const int count = std::clamp(state.accentCount, 0, accentListCapacity);
    for (int k = 0; k < count; ++k)
        if (state.accentList[k] == segment) state.accentList[k] = nullptr;
}

void removeDueSegments(PerformanceState& state, retained::MeshBuilder* mesh,
                       platform::MidiOutput* output) {
    // Each removal shortens the flake, so the searches run out.
    for (int i = dueForRemoval(state); i >= 0; i = dueForRemoval(state)) {
        const Segment* segment = state.flake.segments[i].get();
        midi::voiceNoteOff(output, replayedPitch(state, *segment));
        deleteSegmentFaces(mesh, i);
        forgetAccents(state, segment);
        flake::removeSegment(state.flake, i);
    }
}

}  // namespace

void playFinaleOpening(const PerformanceState& state, platform::MidiOutput* output) {
    midi::selectVoiceProgram(output, finaleOpeningProgram);
    midi::playVoiceNote(output, state, finaleOpeningNote);
}

void releaseFinaleOpening(platform::MidiOutput* output) {
    midi::voiceNoteOff(output, finaleOpeningNote);
    midi::selectVoiceProgram(output, replayProgram);
}

int replayedPitch(const PerformanceState& state, const Segment& segment) {
    const int shift = state.silentTicks >= octaveUpFromTick ? octave : 0;
    const int note = segment.note;
    if (forward(state)) return octave * (note / octave) + octave - note % octave + shift;
    return note + shift;
}

void finaleStep(PerformanceState& state, retained::MeshBuilder* flakeMesh, retained::Frame* flakeFrame,
                platform::MessageLoop& loop, platform::MidiOutput* output) {
    if (state.silentTicks <= firstSettlingLastTick) {
        spin(flakeFrame, state, firstSettlingSpinFactor);
        return;
    }
    if (state.silentTicks <= secondSettlingLastTick) {
        spin(flakeFrame, state, secondSettlingSpinFactor);
        return;
    }
    if (state.silentTicks == replayStartTick && forward(state)) {
        // The forward replay starts from the performance's first tick and first pedal change.
        state.scoreTick = 0;
        state.pedalIndex = 0;
        return;
    }

    moveReplayClock(state);
    rotate(flakeFrame, tumbleAxis, tumbleAngle);
    spin(flakeFrame, state, replaySpinFactor);
    speedUp(state, loop);

    if (state.flake.meshSegmentCount <= flake::seedArmCount) return;  // only the seed arms are left
    soundDueNotes(state, output);
    replayPedal(state, output);
    removeDueSegments(state, flakeMesh, output);
}

}  // namespace vesk
