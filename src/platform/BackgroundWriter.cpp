// One worker thread and a queue. A few picture buffers circulate between the two sides:
// the caller waits for one to come back when all are queued, so the render never runs
// more than that many changed frames ahead of the encoder.
#include "platform/BackgroundWriter.h"

namespace vesk::platform {

namespace {

// Changed frames that may wait for the encoder: enough to ride out a slow frame, few
// enough to keep the memory small (3 MiB each at 1024x768).
constexpr int pictureBuffers = 4;

}  // namespace

BackgroundWriter::BackgroundWriter(std::unique_ptr<MediaWriter> writer)
    : writer_(std::move(writer)), keepsPicture_(writer_->keepsPicture()), keepsSound_(writer_->keepsSound()),
      thread_([this] { run(); }) {}

BackgroundWriter::~BackgroundWriter() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

bool BackgroundWriter::writeFrame(const FramePixels& window, FrameChange change) {
    Job job{.kind = Job::Kind::Frame, .change = change};
    if (change == FrameChange::Changed) {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return failed_ || buffersOut_ < pictureBuffers; });
        if (failed_) return false;
        ++buffersOut_;
        if (!spareBuffers_.empty()) {
            job.pixels = std::move(spareBuffers_.back());
            spareBuffers_.pop_back();
        }
        lock.unlock();
        job.pixels.assign(window.pixels, window.pixels + std::size_t(window.width) * std::size_t(window.height));
        job.width = window.width;
        job.height = window.height;
    }
    hand(std::move(job));
    std::lock_guard lock(mutex_);
    return !failed_;
}

bool BackgroundWriter::writeSound(std::span<const float> left, std::span<const float> right) {
    hand({.kind = Job::Kind::Sound, .left = {left.begin(), left.end()}, .right = {right.begin(), right.end()}});
    std::lock_guard lock(mutex_);
    return !failed_;
}

bool BackgroundWriter::finish() {
    hand({.kind = Job::Kind::Finish});
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return finished_ || (failed_ && queue_.empty()); });
    return finished_ && finishResult_;
}

const std::string& BackgroundWriter::error() const {
    std::lock_guard lock(mutex_);
    return error_;
}

void BackgroundWriter::hand(Job job) {
    {
        std::lock_guard lock(mutex_);
        queue_.push_back(std::move(job));
    }
    changed_.notify_all();
}

void BackgroundWriter::run() {
    for (;;) {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
        if (stopping_) return;  // what is still queued belongs to a file abandoned
        Job job = std::move(queue_.front());
        queue_.pop_front();
        // After a failure the rest is only taken off the queue: the file is lost anyway.
        const bool skipped = failed_;
        lock.unlock();
        const bool ok = skipped || perform(job);
        lock.lock();
        if (job.kind == Job::Kind::Frame && job.change == FrameChange::Changed) {
            spareBuffers_.push_back(std::move(job.pixels));
            --buffersOut_;
        }
        if (!ok && !failed_) {
            failed_ = true;
            error_ = writer_->error();
        }
        if (job.kind == Job::Kind::Finish) {
            finished_ = !skipped;
            finishResult_ = ok && !skipped;
        }
        lock.unlock();
        changed_.notify_all();
    }
}

bool BackgroundWriter::perform(Job& job) {
    switch (job.kind) {
    case Job::Kind::Frame:
        if (job.change == FrameChange::Changed) {
            std::swap(shown_, job.pixels);
            shownWidth_ = job.width;
            shownHeight_ = job.height;
        }
        return writer_->writeFrame({shown_.data(), shownWidth_, shownHeight_}, job.change);
    case Job::Kind::Sound:
        return writer_->writeSound(job.left, job.right);
    case Job::Kind::Finish:
        return writer_->finish();
    }
    return false;
}

}  // namespace vesk::platform
