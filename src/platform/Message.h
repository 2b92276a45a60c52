// The messages a window receives, and the window procedure that handles them. Messages
// are small values: a type and one 32-bit parameter (a key code, a timer id, a MIDI
// short message, an exit code).
#pragma once

#include <cstdint>

namespace vesk::platform {

enum class MessageType : std::uint8_t {
    Destroy,    // the window is going away; sent after a close request's default processing
    Close,      // the user asked to close the window (close box, window manager, Alt+F4)
    Paint,      // the window's picture needs drawing; param unused
    KeyDown,    // param: key code (keyEscape for Esc; letters and digits as their ASCII code)
    KeyUp,      // param: key code
    Timer,      // param: the window timer's id
    MidiInput,  // param: a MIDI short message: status | data1 << 8 | data2 << 16
    ModalDone,  // internal to modal loops: the box or dialog with id `param` was answered
    Call,       // internal: runs the next call posted with postCall, on the window thread
    Quit,       // never dispatched: getMessage returns false instead; param: exit code
};

// The window's key codes for the keys that are not a letter or a digit (a letter comes as
// its capital, a digit as itself): a desktop's virtual key codes.
constexpr std::uint32_t keyBackspace = 0x08;
constexpr std::uint32_t keyTab = 0x09;
constexpr std::uint32_t keyEnter = 0x0D;
constexpr std::uint32_t keyEscape = 0x1B;
constexpr std::uint32_t keySpace = 0x20;
constexpr std::uint32_t keyLeft = 0x25;
constexpr std::uint32_t keyUp = 0x26;
constexpr std::uint32_t keyRight = 0x27;
constexpr std::uint32_t keyDown = 0x28;
constexpr std::uint32_t keyDelete = 0x2E;
constexpr std::uint32_t keyKeypad0 = 0x60;  // to keyKeypad0 + 9
constexpr std::uint32_t keyF1 = 0x70;       // to keyF1 + 11 for F12

struct Message {
    MessageType type = MessageType::Paint;
    std::uint32_t param = 0;

    bool operator==(const Message&) const = default;
};

// The window procedure. It runs on the window thread only, and it can be entered again
// while it is running: a message box or dialog it opens runs a modal loop that keeps
// dispatching the window's messages.
class WindowHandler {
public:
    virtual ~WindowHandler() = default;
    virtual void handleMessage(const Message& message) = 0;
};

}  // namespace vesk::platform
