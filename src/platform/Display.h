// The display the window's picture goes to: the screen's connection, its display mode,
// and the target through which the device's picture reaches the window. The scene
// set-up takes these steps in order and tells the user which one failed.
#pragma once

namespace vesk::platform {

struct Size {
    int width = 0;
    int height = 0;
    bool operator==(const Size&) const = default;
};

// The program's one window: as large as the largest display mode the scene set-up asks for,
// whatever mode it then gets.
constexpr Size windowSize{1024, 768};

class Display {
public:
    virtual ~Display() = default;
    // Reaches the display (the screen's driver).
    virtual bool connect() = 0;
    // The window shares the screen with other programs rather than owning it.
    virtual bool shareWithWindow() = 0;
    // Asks for a display mode; false when the display refuses it. The window keeps its
    // size: a real backend scales the window's picture to the mode it accepted.
    virtual bool setDisplayMode(int width, int height, int bits) = 0;
    // The target through which a device presents into the window, clipped to it.
    virtual bool createWindowTarget() = 0;
    virtual bool attachWindowTarget() = 0;
    virtual void releaseWindowTarget() = 0;
    // The window's client area in pixels.
    virtual Size clientSize() = 0;
};

}  // namespace vesk::platform
