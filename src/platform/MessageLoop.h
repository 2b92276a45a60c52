// The window's message loop, one implementation for every backend: posted messages in
// order, then the quit request, then at most one message per due window timer, and a
// paint when nothing else is waiting (but never behind two timer messages in a row).
// Modal boxes and dialogs run nested loops on it that keep dispatching the window's
// messages. A backend supplies the clock and the waiting through EventSource.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <set>
#include <vector>

#include "platform/Message.h"

namespace vesk::platform {

class EventSource {
public:
    virtual ~EventSource() = default;
    // Microseconds on the clock the window timers run on.
    virtual std::int64_t nowUs() = 0;
    // Waits until `deadlineUs` (none: no deadline) or until something may have been posted,
    // delivering the backend's own events meanwhile. May return early. Returns false when
    // nothing can ever happen again without a deadline (a headless run with nothing
    // scheduled); the loop then ends the run.
    virtual bool wait(std::optional<std::int64_t> deadlineUs) = 0;
    // From any thread, after a post: a blocked wait() returns soon.
    virtual void wake() = 0;
    // The loop has handled everything that was waiting and is about to wait: a real
    // window presents what changed here.
    virtual void idle() {}
};

class MessageLoop {
public:
    // Window timers shorter than this run at this interval, as a desktop's window timers do.
    static constexpr int minimumTimerIntervalMs = 10;
    // Live input waiting for the window thread, at most: a flood faster than the window
    // takes it is dropped here, and counted, rather than held in memory. Each message is
    // handled in microseconds, so only a window held up for a while fills it: a fifth of
    // a second of 20,000 messages a second, far beyond any keyboard.
    static constexpr std::size_t midiInputQueueCapacity = 4096;

    explicit MessageLoop(EventSource& source) : source_(source) {}
    MessageLoop(const MessageLoop&) = delete;
    MessageLoop& operator=(const MessageLoop&) = delete;

    void setHandler(WindowHandler* handler) { handler_ = handler; }
    EventSource& source() { return source_; }

    // Both thread-safe: MIDI input and timer threads post to the window. A MidiInput
    // message is dropped while midiInputQueueCapacity of them are waiting.
    void post(const Message& message);
    void postQuit(int exitCode);
    // Thread-safe: `call` runs on the window thread when its turn in the queue comes (for
    // work another thread must not do itself, such as showing a message box).
    void postCall(std::function<void()> call);

    // Window thread. The next message by priority; false once the quit request is taken
    // (its code is exitCode()).
    bool getMessage(Message& message);
    // To the window procedure. A close request without a handler (or handed to
    // defaultProcessing) destroys the window.
    void dispatch(const Message& message);
    // getMessage and dispatch until quit; returns the exit code.
    int run();

    // Nested loop of a modal box or dialog: runs until answer(modalId) has been posted.
    // False when a quit request ended it first; the request is then posted again so the
    // enclosing loops end too.
    bool runModal(std::uint32_t modalId);
    std::uint32_t newModalId() { return ++lastModalId_; }
    // Any thread: the modal `modalId` has its answer.
    void answer(std::uint32_t modalId) { post({MessageType::ModalDone, modalId}); }

    // Starts window timer `id` or re-arms it: its next message comes `intervalMs` from now.
    // A timer that falls behind yields one message, not a burst: at most one is pending.
    void setTimer(std::uint32_t id, int intervalMs);
    void killTimer(std::uint32_t id);
    // The whole window needs painting; one paint message follows once the queue is empty.
    void invalidate();
    bool paintPending() const { return paintPending_; }
    // What a window does with a message its procedure does not handle: a paint is taken as
    // done (validated), a close request destroys the window; everything else is ignored.
    void defaultProcessing(const Message& message);

    int exitCode() const { return exitCode_; }
    bool destroyed() const { return destroyed_; }
    // Thread-safe: MidiInput messages waiting, and those dropped since the loop was made.
    std::size_t pendingMidiInput() const;
    std::uint64_t droppedMidiInput() const;

private:
    struct WindowTimer {
        std::uint32_t id;
        std::int64_t periodUs;
        std::int64_t nextDueUs;
    };

    std::optional<std::int64_t> nextTimerDue() const;
    // getMessage's sources in their order. A posted message (true) or the quit request
    // (false), or nothing (none) when neither waits.
    std::optional<bool> takePostedOrQuit(Message& message);
    // The message of the window timer due first, if one is due.
    bool takeDueTimer(Message& message);
    bool takePaint(Message& message);
    // Until something may have happened; ends the run when nothing ever can.
    void waitForEvents();

    EventSource& source_;
    WindowHandler* handler_ = nullptr;

    // guards posted_, calls_, quitRequested_, requestedExitCode_ and the input counts
    mutable std::mutex mutex_;
    std::deque<Message> posted_;
    std::size_t pendingMidiInput_ = 0;
    std::uint64_t droppedMidiInput_ = 0;
    std::deque<std::function<void()>> calls_;
    bool quitRequested_ = false;
    int requestedExitCode_ = 0;

    std::vector<WindowTimer> timers_;
    bool paintPending_ = false;
    bool lastWasTimer_ = false;
    bool destroyed_ = false;
    int exitCode_ = 0;
    std::uint32_t lastModalId_ = 0;
    std::set<std::uint32_t> answered_;
};

}  // namespace vesk::platform
