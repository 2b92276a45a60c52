// The desktop's small services: a warning tone, a pause of the window thread, and the
// mouse pointer.
#pragma once

namespace vesk::platform {

// A tone is a square wave this far either side of silence on a 16-bit scale (about a fifth
// of full scale), wherever it is made to sound.
constexpr int beepAmplitude16 = 6000;

class Desktop {
public:
    virtual ~Desktop() = default;
    // A tone of `hz` for `ms`; returns at once, the tone sounds meanwhile (or, where no
    // sound can be made, not at all).
    virtual void beep(int hz, int ms) = 0;
    // Pauses the window thread; the one-shot timers keep firing meanwhile.
    virtual void sleep(int ms) = 0;
    // Moves the mouse pointer, in window coordinates; a position off the window hides it.
    virtual void setPointerPosition(int x, int y) = 0;
};

}  // namespace vesk::platform
