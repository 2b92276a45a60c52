// What an offline render writes to and hears through: a writer that takes the window's
// pictures at a steady frame rate and the sound beside them and leaves a complete file
// under its name (or nothing), and a MIDI output heard offline, rendered on demand up to a
// time on the run's virtual clock. Backends implement them; the render sees only these.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>

#include "platform/MidiOutput.h"

namespace vesk::platform {

// Frames per second as a fraction, so 30000/1001 is kept exactly.
struct FrameRate {
    int num = 30;
    int den = 1;
};

struct MediaLayout {
    int width = 0, height = 0;  // of the pictures written; the window's are scaled to it
    FrameRate fps;
    int sampleRate = 0;  // stereo sound at this many frames a second
};

// A picture as the window holds it: 0xFFRRGGBB words, row after row, owned by the caller.
struct FramePixels {
    const std::uint32_t* pixels = nullptr;
    int width = 0, height = 0;
};

enum class FrameChange {
    Changed,  // the window changed since the last frame
    Same,     // the same picture as the last frame: written again at next to no cost
};

class MediaWriter {
public:
    // Destroyed without finish(): nothing stays behind under the file's name.
    virtual ~MediaWriter() = default;

    virtual bool keepsPicture() const = 0;
    virtual bool keepsSound() const = 0;
    // The next frame, which shows `window` (scaled to the layout's size). False on an error.
    virtual bool writeFrame(const FramePixels& window, FrameChange change) = 0;
    // The next stretch of sound, both channels as long. False on an error.
    virtual bool writeSound(std::span<const float> left, std::span<const float> right) = 0;
    // Writes what is left and puts the file under its name. False on an error (the file
    // is then not there).
    virtual bool finish() = 0;
    // After a false: what went wrong, naming the file.
    virtual const std::string& error() const = 0;
};

// Rendered stereo sound as it is made: both channels as long. False stops the rendering.
using SoundSink = std::function<bool(std::span<const float> left, std::span<const float> right)>;

// A MIDI output that is heard offline: nothing sounds until the owner asks for the sound
// up to a time, and every message takes effect at the sample of the time it was sent.
class OfflineSound : public MidiOutput {
public:
    // Renders to the sink up to the sample of `timeUs` on the run's clock.
    virtual void renderUntil(std::int64_t timeUs) = 0;
    // A desktop tone of `hz` for `ms`, starting now, mixed into the sound.
    virtual void addTone(int hz, int ms) = 0;
    // False once the sink refused sound.
    virtual bool sinkOk() const = 0;
    // Stereo frames a second.
    virtual int sampleRate() const = 0;
};

}  // namespace vesk::platform
