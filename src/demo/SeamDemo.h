// A small program that exercises the whole platform seam the way a performance does:
// the display and scene set-up, the six seed arms turning on the window timer, the star
// ring, a ripple, and a message box opened from inside a tick while ticks go on. Every
// backend runs the same program; the headless run is reproducible to the byte.
#pragma once

#include <functional>
#include <string>

#include "platform/MidiOutput.h"
#include "platform/Platform.h"

namespace vesk::demo {

struct SeamDemoOptions {
    // The tick whose work opens the message box (0: none), and the box's text.
    int boxAtTick = 12;
    std::string boxText = "チャネルのエラーです。";
    // The tick that starts a ripple (0: none).
    int rippleAtTick = 4;
    // The run quits after this many complete ticks (0: runs until Esc or the window's close).
    int quitAfterTicks = 0;
    // Seeds the growth's random draws (the seed arms do not depend on it).
    unsigned seed = 1;
    // Called after every window-timer message has been handled, with the ticks completed
    // so far and whether the box is open: tests take screenshots here.
    std::function<void(int ticks, bool boxOpen)> afterTimer;
    // Called after every repaint that rendered the scene.
    std::function<void(int repaints)> afterRepaint;
};

// Runs until quit; returns the exit code. `output` may be null (no MIDI device).
int runSeamDemo(platform::Platform& platform, platform::MidiOutput* output,
                const SeamDemoOptions& options);

}  // namespace vesk::demo
