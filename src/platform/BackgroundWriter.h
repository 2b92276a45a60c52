// A writer that hands every frame and stretch of sound to another writer on a thread of its
// own, in the order given, so converting and encoding go on beside the performance that
// makes them. A changed picture is copied (into one of a few buffers, which bounds the
// memory and the lag); an unchanged one is only a mark. The other writer sees exactly the
// calls it would have seen, so what it writes is the same.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/MediaWriter.h"

namespace vesk::platform {

class BackgroundWriter final : public MediaWriter {
public:
    explicit BackgroundWriter(std::unique_ptr<MediaWriter> writer);
    // Stops the thread; the other writer goes too, leaving nothing unless it finished.
    ~BackgroundWriter() override;
    BackgroundWriter(const BackgroundWriter&) = delete;
    BackgroundWriter& operator=(const BackgroundWriter&) = delete;

    bool keepsPicture() const override { return keepsPicture_; }
    bool keepsSound() const override { return keepsSound_; }
    // False once the other writer has failed (possibly on something handed over before).
    bool writeFrame(const FramePixels& window, FrameChange change) override;
    bool writeSound(std::span<const float> left, std::span<const float> right) override;
    // Waits for everything handed over, then finishes the other writer.
    bool finish() override;
    const std::string& error() const override;

private:
    struct Job {
        enum class Kind { Frame, Sound, Finish } kind = Kind::Frame;
        FrameChange change = FrameChange::Same;
        std::vector<std::uint32_t> pixels{};  // a changed frame's
        int width = 0, height = 0;
        std::vector<float> left{}, right{};
    };

    void hand(Job job);
    void run();
    bool perform(Job& job);

    std::unique_ptr<MediaWriter> writer_;
    const bool keepsPicture_, keepsSound_;
    // The worker's own: the picture the other writer was last shown, which an unchanged
    // frame shows again.
    std::vector<std::uint32_t> shown_;
    int shownWidth_ = 0, shownHeight_ = 0;

    mutable std::mutex mutex_;  // guards everything below
    std::condition_variable changed_;
    std::deque<Job> queue_;
    std::vector<std::vector<std::uint32_t>> spareBuffers_;
    int buffersOut_ = 0;  // picture buffers in the queue or being written
    bool failed_ = false, finished_ = false, stopping_ = false;
    bool finishResult_ = false;
    std::string error_;

    std::thread thread_;  // last: it starts once everything it reads exists
};

}  // namespace vesk::platform
