// The state a performance shares between its subsystems: the flake, the score clock and
// its phases, the capture queues, the palette, the dot ring's motion, the display mode
// and the camera. One aggregate owns it for the whole run; nothing here is global, so a
// test builds a fresh one. Members hold their program-start values as initialised here.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>

#include "flake/FlakeState.h"
#include "platform/Display.h"

namespace vesk {

constexpr int noteQueueCapacity = 256;
constexpr int pedalLogCapacity = 1000;
// What the pedal log keeps of each change: pressed or released, whatever value came in.
constexpr int pedalLogPressed = 127;
constexpr int pedalLogReleased = 0;
constexpr int accentListCapacity = flake::segmentCapacity;
// `finaleTick` before the finale has started: beyond any score tick a performance reaches.
constexpr int finaleTickUnset = 30000;

// Window timer 1 drives the ticks; every performance starts it at 200 ms, and the finale
// and the wind-down shorten it.
constexpr std::uint32_t tickTimerId = 1;
constexpr int startTickIntervalMs = 200;
// The flake's spin per rotation step (radians) when a performance starts.
constexpr float startSpinSpeed = -0.08f;

// The star ring's motion when a performance starts: it turns 0.02 rad a drawing and its
// radius offset grows by one pixel.
constexpr float startRingSpin = 0.02f;
constexpr int startRingStep = 1;

// The palette every reset sets (components 0.0 to 1.0, single precision on purpose: the
// colour words depend on it). The silence switches the red and accent parts.
struct Palette {
    float baseRed, baseGreen, baseBlue, greenStep;
    float accentRed, accentGreen, accentBlue;
};
constexpr Palette startPalette{0.0f, 0.4f, 0.5f, 1.0f, 0.45f, 0.7f, 0.5f};

enum class ReplayMode : int { ForwardMirrored = 1, Backward = 2 };

struct PerformanceState {
    // The flake: segments, tips, depth population (growth and finale).
    flake::FlakeState flake;

    // The score clock and the phases of a performance.
    int scoreTick = 0;
    int silentTicks = 0;
    // Read by the sequencer on the timer thread, which stops at its next firing once set.
    std::atomic<std::uint8_t> finaleStarted = 0;
    int finaleTick = 0;
    int finaleSegmentCount = 0;
    int windDownTicks = 0;
    ReplayMode replayMode = ReplayMode::Backward;  // the first performance replays backwards
    int tickIntervalMs = startTickIntervalMs;
    float spinSpeed = startSpinSpeed;  // radians per rotation step about the flake's z axis
    int rippleStage = 0;       // 0 none, 1..29 circles drawn, 30 finished
    std::uint8_t sceneReady = 0;

    // Notes and pedal changes captured since the last tick.
    std::array<std::uint8_t, noteQueueCapacity> noteOnQueue{};
    int noteOnCount = 0;
    std::array<std::uint8_t, noteQueueCapacity> noteOffQueue{};
    int noteOffCount = 0;
    std::array<int, pedalLogCapacity> pedalTicks{};
    std::array<int, pedalLogCapacity> pedalValues{};
    int pedalIndex = 0;
    std::array<flake::Segment*, accentListCapacity> accentList{};
    int accentCount = 0;
    int clusterCount = 0;

    // The palette; until the first reset colours the flake it holds the reset values.
    float baseRed = startPalette.baseRed;
    float baseGreen = startPalette.baseGreen;
    float baseBlue = startPalette.baseBlue;
    float greenStep = startPalette.greenStep;
    float accentRed = startPalette.accentRed;
    float accentGreen = startPalette.accentGreen;
    float accentBlue = startPalette.accentBlue;

    // The dot ring's motion, shared with the wind-down and the colour switch.
    int ringOffset = 0;
    int ringStep = startRingStep;
    float ringSpin = startRingSpin;

    // The display mode the scene was built for; until the first set-up, the window's size.
    int screenWidth = platform::windowSize.width;
    int screenHeight = platform::windowSize.height;
    int screenBits = 32;

    // The camera, moved in and out by the breathing; not reset between performances.
    float cameraX = 0.0f;
    float cameraY = 0.0f;
    float cameraZ = -5.0f;
};

}  // namespace vesk
