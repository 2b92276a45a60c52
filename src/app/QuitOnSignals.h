// SIGINT and SIGTERM end the program the way Esc does: as a quit request on the window's
// message loop, so the orderly end runs (playback stopped, notes released, the trace's
// last line written, files closed) and the exit code is the shell's 130 or 143. The
// signals are blocked before any other thread starts, so every thread inherits the block,
// and a thread of our own reads them from a signalfd: nothing runs in a signal handler.
#pragma once

#include <atomic>
#include <csignal>
#include <mutex>
#include <thread>

#include "platform/MessageLoop.h"

namespace vesk::app {

// A shell's exit code for a program that a signal ended: 128 + the signal's number.
constexpr int signalExitBase = 128;
constexpr int interruptedExitCode = signalExitBase + SIGINT;  // 130
constexpr int terminatedExitCode = signalExitBase + SIGTERM;  // 143

class QuitOnSignals {
public:
    // Make it before any other thread: it blocks the signals in the calling thread.
    QuitOnSignals();
    // Stops the watching thread and gives the calling thread its signal mask back.
    ~QuitOnSignals();
    QuitOnSignals(const QuitOnSignals&) = delete;
    QuitOnSignals& operator=(const QuitOnSignals&) = delete;

    // While it lives, a signal posts its quit to `loop`; a signal that came earlier posts
    // it at once. The loop must outlive it.
    class Attachment {
    public:
        explicit Attachment(QuitOnSignals& owner) : owner_(owner) {}
        ~Attachment() { owner_.setLoop(nullptr); }
        Attachment(const Attachment&) = delete;
        Attachment& operator=(const Attachment&) = delete;

    private:
        QuitOnSignals& owner_;
    };
    [[nodiscard]] Attachment attach(platform::MessageLoop& loop);

    // The first signal's number, 0 while none has come: what a run without a message loop
    // (a render) watches to stop.
    const std::atomic<int>& received() const { return received_; }

private:
    void watch();
    void onSignal(int signalNumber);
    void setLoop(platform::MessageLoop* loop);

    sigset_t signals_{};
    sigset_t previousMask_{};
    int signalFd_ = -1;
    int stopFd_ = -1;  // an eventfd that ends the watch

    std::mutex mutex_;  // guards loop_ and exitCode_
    platform::MessageLoop* loop_ = nullptr;
    int exitCode_ = 0;  // of the first signal; 0 while none has come
    std::atomic<int> received_{0};
    std::thread thread_;  // last: started once everything above exists
};

}  // namespace vesk::app
