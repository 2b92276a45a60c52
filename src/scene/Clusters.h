// Chord clusters and camera breathing, run at the very start of every tick: neighbouring
// notes one or two semitones apart lose their higher note and flash the background red,
// a large flake replaying forwards keeps only the outer notes of a chord, and the camera
// steps in on ticks with notes and out on every second silent tick. Relies on the
// performance's note queues and on the scene's root and camera frames.
#pragma once

#include <array>
#include <cstdint>

#include "state/PerformanceState.h"
#include "retained/Frame.h"

namespace vesk::scene {

constexpr int clusterNoteCapacity = 256;

// Lives for the whole run; only `clusterCount` (in PerformanceState) goes back to 0 with
// each performance reset.
struct ClusterState {
    // Red level of the background flash, 0.0 to 0.5 after each tick (single precision:
    // the background's red byte depends on it).
    float flashLevel = 0.0f;
    // Notes dropped here whose note-off has not been seen yet; the first clusterCount are
    // in use. A full list forgets its oldest entry to make room for a new one: the oldest
    // are the likeliest to be notes whose note-off never came (live input that lost it),
    // while the newest is the one whose note-off is about to arrive. The forgotten note's
    // note-off, if it ever comes, then reaches the note-off matching like any other.
    std::array<std::uint8_t, clusterNoteCapacity> clusterNotes{};
    // Silent ticks since the camera last stepped back or since the last tick with notes.
    int breathCounter = 0;
};

// Thins chords (large flake, forward replay), drops close neighbours and flashes, lets
// the flash die down by one step, and swallows the note-offs of notes dropped earlier.
// With no `scene` (released between performances) the state moves but the background
// is left alone.
void analyseClusters(ClusterState& clusters, PerformanceState& state, retained::Frame* scene);

// Steps the camera in or out and places it relative to `scene`. False when there is no
// scene or camera to place (cameraZ still moves), true otherwise.
bool breatheCamera(ClusterState& clusters, PerformanceState& state, retained::Frame* scene,
                   retained::Frame* camera);

}  // namespace vesk::scene
