// A flood of live input, as a MIDI port's thread would post it: a given number of
// messages a second (note-ons, releases and any words at all, a third each) posted to a
// message loop from a thread of its own, in batches every millisecond, for a given time.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <random>
#include <thread>

#include "platform/MessageLoop.h"

namespace vesk::test {

class LiveInputFlood {
public:
    static constexpr auto batchEvery = std::chrono::milliseconds(1);

    // Starts at once; `onEnd` runs on the flood's thread after its last message.
    LiveInputFlood(platform::MessageLoop& loop, int messagesPerSecond, std::chrono::milliseconds duration,
                   std::function<void()> onEnd = {})
        : thread_([this, &loop, messagesPerSecond, duration, onEnd = std::move(onEnd)] {
              std::mt19937 random(11);
              const auto start = std::chrono::steady_clock::now();
              const int perBatch = int(messagesPerSecond * batchEvery / std::chrono::seconds(1));
              for (auto next = start; next - start < duration; next += batchEvery) {
                  for (int i = 0; i < perBatch; ++i)
                      loop.post({platform::MessageType::MidiInput, message(random)});
                  posted_ += std::uint64_t(perBatch);
                  std::this_thread::sleep_until(next + batchEvery);
              }
              if (onEnd) onEnd();
              flooding_ = false;
          }) {}
    ~LiveInputFlood() { thread_.join(); }

    bool flooding() const { return flooding_; }
    std::uint64_t posted() const { return posted_; }

private:
    static std::uint32_t message(std::mt19937& random) {
        const std::uint32_t word = random();
        switch (word % 3) {
        case 0: return 0x400090u | (word & 0x7F0Fu);  // note-on, any channel and note
        case 1: return 0x000080u | (word & 0x7F0Fu);  // note-off
        default: return word;
        }
    }

    std::atomic<bool> flooding_{true};
    std::atomic<std::uint64_t> posted_{0};
    std::thread thread_;  // last: started once everything above exists
};

}  // namespace vesk::test
