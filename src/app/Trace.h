// The headless run's trace: JSON Lines, one object per event with the virtual (or real)
// time `t` in milliseconds to the microsecond and the event's name `ev`, written as things
// happen: MIDI sent, boxes and dialogs shown, display modes asked for, performance starts,
// complete ticks, beeps, frames written, the exit. A MIDI output records into it; frames
// go to PNG files. A trace that cannot be written is said once and fails the run.
#pragma once

#include <cstdio>
#include <functional>
#include <mutex>
#include <nlohmann/json_fwd.hpp>
#include <span>
#include <string>
#include <string_view>

#include "performance/Vesk.h"
#include "platform/MidiPorts.h"
#include "platform/headless/HeadlessPlatform.h"

namespace vesk::app {

class Trace final : public VeskObserver {
public:
    // `out` may be null (no trace); `framesDir` empty (no frames).
    Trace(platform::headless::HeadlessPlatform& platform, std::FILE* out, std::string framesDir);

    void performanceStarted(const Vesk& vesk) override;
    void tickCompleted(const Vesk& vesk) override;
    void repainted(const Vesk& vesk) override;
    void exit(int code);
    // False once a frame could not be written (said once on standard error).
    bool framesOk() const { return framesOk_; }
    // False once a line could not be written (said once; no line is written after it).
    bool traceOk() const { return traceOk_; }

    // The headless MIDI devices: an output that writes to the trace, no input.
    platform::MidiPorts& ports() { return ports_; }

private:
    class TracingOutput final : public platform::MidiOutput {
    public:
        explicit TracingOutput(Trace& trace) : trace_(trace) {}
        void sendShort(std::uint32_t message) override;
        void sendLong(std::span<const std::uint8_t> bytes) override;
        void reset() override;

    private:
        Trace& trace_;
    };
    class Ports final : public platform::MidiPorts {
    public:
        explicit Ports(Trace& trace) : trace_(trace) {}
        bool hasOutput() override { return true; }
        std::unique_ptr<platform::MidiOutput> openOutput() override;
        std::unique_ptr<platform::MidiInput> openInput() override { return nullptr; }
        std::string describe() const override { return "trace"; }

    private:
        Trace& trace_;
    };

    void record(const platform::headless::Record& r);
    // One line: {"t":..,"ev":"name", then `fields` in their order}; thread-safe (MIDI
    // comes from the timer thread).
    void line(std::string_view event, const nlohmann::ordered_json& fields);
    void writeFailed();

    platform::headless::HeadlessPlatform& platform_;
    std::FILE* out_;
    std::string framesDir_;
    int frames_ = 0;
    bool framesOk_ = true;
    bool traceOk_ = true;
    std::mutex mutex_;
    Ports ports_{*this};
};

// Where the run's `frame`th repaint (counted from 1) is written under `framesDir`.
std::string framePath(const std::string& framesDir, int frame);

}  // namespace vesk::app
