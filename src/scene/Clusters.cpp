// Chord clusters, the background flash and the camera's breathing. The flash arithmetic
// is exact to the bit: single-precision constants, the running level held in double
// precision through the scan and the decay, stored in single precision where it says.
#include "scene/Clusters.h"

#include <algorithm>

#include "platform/MidiMessage.h"

namespace vesk::scene {
namespace {

// Chords are thinned only once the flake is this large, so a young flake still grows
// from every note of a chord.
constexpr int thinningAboveSegments = 100;
constexpr int thinningFromNotes = 3;
constexpr int highestNoteStart = 0;
constexpr int lowestNoteStart = platform::highestNoteNumber;
// Neighbours this many semitones apart, or fewer (but not equal), are a cluster.
constexpr int clusterSpanSemitones = 2;

constexpr float flashStep = 0.1f;
// A flash out of darkness starts one step brighter, so a lone cluster is still seen
// after the decay of its own tick.
constexpr float firstFlash = 0.2f;
constexpr float flashCeiling = 0.5f;
constexpr std::uint32_t opaqueBlack = 0xFF000000u;
constexpr int redShift = 16;

// Nearest the flake first; cameraZ only ever holds one of these.
constexpr float cameraDistances[] = {-5.0f, -5.2f, -5.4f, -5.6f, -5.8f};
constexpr int cameraDistanceCount = int(std::size(cameraDistances));
constexpr int stepBackAfterSilentTicks = 2;

using NoteQueue = std::array<std::uint8_t, noteQueueCapacity>;
using ClusterList = std::array<std::uint8_t, clusterNoteCapacity>;

// A count outside its list is taken as the nearest bound, so a bad count never leads a
// scan past the list.
void keepCountInList(int& count, int capacity) { count = std::clamp(count, 0, capacity); }

template <std::size_t N>
int firstIndexOf(const std::array<std::uint8_t, N>& list, int count, std::uint8_t note) {
    for (int i = 0; i < count; ++i)
        if (list[std::size_t(i)] == note) return i;
    return -1;
}

// Later entries move down by one place and keep their order.
template <std::size_t N>
void removeAt(std::array<std::uint8_t, N>& list, int& count, int index) {
    std::copy(list.begin() + index + 1, list.begin() + count, list.begin() + index);
    --count;
}

void remember(ClusterState& clusters, PerformanceState& state, std::uint8_t note) {
    if (state.clusterCount >= clusterNoteCapacity) removeAt(clusters.clusterNotes, state.clusterCount, 0);
    clusters.clusterNotes[std::size_t(state.clusterCount++)] = note;
}

// A dropped note grows no segment, and its note-off must not end another segment of the
// same number: taken out now if it is already queued, else swallowed when it comes.
void dropNoteAt(ClusterState& clusters, PerformanceState& state, int index) {
    const std::uint8_t note = state.noteOnQueue[std::size_t(index)];
    const int off = firstIndexOf(state.noteOffQueue, state.noteOffCount, note);
    if (off >= 0)
        removeAt(state.noteOffQueue, state.noteOffCount, off);
    else
        remember(clusters, state, note);
    removeAt(state.noteOnQueue, state.noteOnCount, index);
}

// On a large flake replaying forwards a chord keeps only its highest and lowest notes.
// The last queued note is left out of the chord and always kept.
void thinChord(ClusterState& clusters, PerformanceState& state) {
    if (state.flake.segmentCount <= thinningAboveSegments ||
        state.replayMode != ReplayMode::ForwardMirrored || state.noteOnCount < thinningFromNotes)
        return;
    int chordNotes = state.noteOnCount - 1;
    int high = highestNoteStart;
    int low = lowestNoteStart;
    for (int k = 0; k < chordNotes; ++k) {
        high = std::max<int>(high, state.noteOnQueue[std::size_t(k)]);
        low = std::min<int>(low, state.noteOnQueue[std::size_t(k)]);
    }
    for (int k = 0; k < chordNotes;) {
        const int v = state.noteOnQueue[std::size_t(k)];
        if (v == high || v == low) {
            ++k;
            continue;
        }
        dropNoteAt(clusters, state, k);
        --chordNotes;
    }
}

bool isCluster(int higher, int lower) {
    const int span = higher - lower;
    return span >= 1 && span <= clusterSpanSemitones;
}

// Drops the higher of every two queued neighbours that form a cluster and returns the
// flash level raised by one step per drop, still in double precision.
double dropClusters(ClusterState& clusters, PerformanceState& state, double flash) {
    // The bound is read again after every drop: the queue shrinks under the scan.
    for (int i = 0; i < state.noteOnCount - 1;) {
        const int a = state.noteOnQueue[std::size_t(i)];
        const int b = state.noteOnQueue[std::size_t(i) + 1];
        int higher;
        if (isCluster(a, b))
            higher = i;
        else if (isCluster(b, a))
            higher = i + 1;
        else {
            ++i;
            continue;
        }
        dropNoteAt(clusters, state, higher);
        flash += double(flashStep);
        // Exact: only a flash that was exactly dark lands on the step itself.
        if (flash == double(flashStep)) flash = double(firstFlash);
        // Position i is examined again, against its new neighbour.
    }
    return flash;
}

void decayFlash(ClusterState& clusters, double flash, retained::Frame* scene) {
    // Below one step the background keeps whatever colour it was last given, here or
    // elsewhere (live input flashes it too).
    if (!(flash >= double(flashStep))) return;
    flash -= double(flashStep);
    clusters.flashLevel = float(flash);
    // The ceiling is tested on the double, before rounding to single precision.
    if (flash > double(flashCeiling)) clusters.flashLevel = flashCeiling;
    if (!scene) return;
    // Red byte: the stored single-precision level times 255 in double, truncated; the
    // level lies in 0..0.5 here, so it fits the byte.
    const auto red = std::uint32_t(double(clusters.flashLevel) * 255.0);
    scene->setSceneBackground(opaqueBlack | (red << redShift));
}

// Note-offs of notes dropped on earlier ticks are swallowed, each by its first entry.
void absorbNoteOffs(ClusterState& clusters, PerformanceState& state) {
    if (state.clusterCount <= 0 || state.noteOffCount <= 0) return;
    for (int j = 0; j < state.noteOffCount;) {
        const std::uint8_t note = state.noteOffQueue[std::size_t(j)];
        const int c = firstIndexOf(clusters.clusterNotes, state.clusterCount, note);
        if (c < 0) {
            ++j;
            continue;
        }
        removeAt(clusters.clusterNotes, state.clusterCount, c);
        removeAt(state.noteOffQueue, state.noteOffCount, j);
    }
}

int distanceIndex(float z) {
    for (int i = 0; i < cameraDistanceCount; ++i)
        if (z == cameraDistances[i]) return i;
    return -1;
}

// -5.8 to -5.6, -5.6 to -5.4, -5.4 to -5.2; anything else to -5.0.
float stepNearer(float z) {
    const int i = distanceIndex(z);
    return cameraDistances[i > 0 ? i - 1 : 0];
}

// -5.0 to -5.2, -5.2 to -5.4, -5.4 to -5.6; anything else to -5.8.
float stepBack(float z) {
    const int i = distanceIndex(z);
    return cameraDistances[i >= 0 && i < cameraDistanceCount - 1 ? i + 1 : cameraDistanceCount - 1];
}

}  // namespace

void analyseClusters(ClusterState& clusters, PerformanceState& state, retained::Frame* scene) {
    keepCountInList(state.noteOnCount, noteQueueCapacity);
    keepCountInList(state.noteOffCount, noteQueueCapacity);
    keepCountInList(state.clusterCount, clusterNoteCapacity);

    thinChord(clusters, state);
    // Held in double precision from here to the decay's ceiling test.
    const double flash = dropClusters(clusters, state, clusters.flashLevel);
    clusters.flashLevel = float(flash);
    decayFlash(clusters, flash, scene);
    absorbNoteOffs(clusters, state);
}

bool breatheCamera(ClusterState& clusters, PerformanceState& state, retained::Frame* scene,
                   retained::Frame* camera) {
    if (state.noteOnCount > 0) {
        clusters.breathCounter = 0;
        state.cameraZ = stepNearer(state.cameraZ);
    } else if (clusters.breathCounter >= stepBackAfterSilentTicks - 1) {
        // Tested before counting up, so a counter that went astray cannot overflow.
        clusters.breathCounter = 0;
        state.cameraZ = stepBack(state.cameraZ);
    } else {
        ++clusters.breathCounter;
    }
    if (!scene || !camera) return false;
    camera->setPosition(scene, {state.cameraX, state.cameraY, state.cameraZ});
    return true;
}

}  // namespace vesk::scene
