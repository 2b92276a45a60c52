// A MIDI output for the fuzz targets that touches every byte it is given, so a message
// that points past its data is a read the sanitizers see, and keeps nothing.
#pragma once

#include <cstdint>
#include <span>

#include "platform/MidiOutput.h"

namespace vesk::fuzz {

class ReadingOutput final : public platform::MidiOutput {
public:
    void sendShort(std::uint32_t message) override { sum_ += message; }
    void sendLong(std::span<const std::uint8_t> bytes) override {
        for (std::uint8_t b : bytes) sum_ += b;
    }
    void reset() override {}

private:
    std::uint64_t sum_ = 0;
};

}  // namespace vesk::fuzz
