// MIDI devices for a run whose output is kept elsewhere (an offline render's synthesiser, a
// test's recorder): each output opened forwards to that one, which outlives them; no input.
#pragma once

#include <memory>
#include <span>
#include <string>
#include <utility>

#include "platform/MidiPorts.h"

namespace vesk::platform {

class ForwardingPorts final : public MidiPorts {
public:
    ForwardingPorts(MidiOutput& to, std::string description) : to_(to), description_(std::move(description)) {}
    bool hasOutput() override { return true; }
    std::unique_ptr<MidiOutput> openOutput() override { return std::make_unique<Forward>(to_); }
    std::unique_ptr<MidiInput> openInput() override { return nullptr; }
    std::string describe() const override { return description_; }

private:
    class Forward final : public MidiOutput {
    public:
        explicit Forward(MidiOutput& to) : to_(to) {}
        void sendShort(std::uint32_t m) override { to_.sendShort(m); }
        void sendLong(std::span<const std::uint8_t> b) override { to_.sendLong(b); }
        void reset() override { to_.reset(); }

    private:
        MidiOutput& to_;
    };

    MidiOutput& to_;
    std::string description_;
};

}  // namespace vesk::platform
