// The message loop's priorities and the window timers. Only post() and postQuit() are
// called from other threads; everything else belongs to the window thread.
#include "platform/MessageLoop.h"

#include <algorithm>

namespace vesk::platform {

void MessageLoop::post(const Message& message) {
    {
        std::lock_guard lock(mutex_);
        if (message.type == MessageType::MidiInput) {
            if (pendingMidiInput_ >= midiInputQueueCapacity) {
                ++droppedMidiInput_;
                return;  // the window is awake already: it has all these to take
            }
            ++pendingMidiInput_;
        }
        posted_.push_back(message);
    }
    source_.wake();
}

std::size_t MessageLoop::pendingMidiInput() const {
    std::lock_guard lock(mutex_);
    return pendingMidiInput_;
}

std::uint64_t MessageLoop::droppedMidiInput() const {
    std::lock_guard lock(mutex_);
    return droppedMidiInput_;
}

void MessageLoop::postCall(std::function<void()> call) {
    {
        std::lock_guard lock(mutex_);
        calls_.push_back(std::move(call));
        posted_.push_back({MessageType::Call, 0});
    }
    source_.wake();
}

void MessageLoop::postQuit(int exitCode) {
    {
        std::lock_guard lock(mutex_);
        quitRequested_ = true;
        requestedExitCode_ = exitCode;
    }
    source_.wake();
}

std::optional<std::int64_t> MessageLoop::nextTimerDue() const {
    std::optional<std::int64_t> due;
    for (const WindowTimer& timer : timers_)
        if (!due || timer.nextDueUs < *due) due = timer.nextDueUs;
    return due;
}

bool MessageLoop::getMessage(Message& message) {
    for (;;) {
        if (const std::optional<bool> taken = takePostedOrQuit(message)) return *taken;
        // A paint waits for a due timer, but never for two timer messages in a row: a
        // tick that takes longer than the timer's interval still gets its picture.
        if (paintPending_ && lastWasTimer_) return takePaint(message);
        if (takeDueTimer(message)) return true;
        if (paintPending_) return takePaint(message);
        waitForEvents();
    }
}

std::optional<bool> MessageLoop::takePostedOrQuit(Message& message) {
    std::lock_guard lock(mutex_);
    if (!posted_.empty()) {
        message = posted_.front();
        posted_.pop_front();
        if (message.type == MessageType::MidiInput) --pendingMidiInput_;
        return true;
    }
    if (!quitRequested_) return std::nullopt;
    quitRequested_ = false;
    exitCode_ = requestedExitCode_;
    message = {MessageType::Quit, std::uint32_t(exitCode_)};
    return false;
}

bool MessageLoop::takeDueTimer(Message& message) {
    const std::int64_t now = source_.nowUs();
    auto due = std::min_element(timers_.begin(), timers_.end(),
                                [](const WindowTimer& a, const WindowTimer& b) {
                                    return a.nextDueUs < b.nextDueUs;
                                });
    if (due == timers_.end() || due->nextDueUs > now) return false;
    // One message however late the timer is; the cadence is kept when it is on time.
    due->nextDueUs += due->periodUs;
    if (due->nextDueUs <= now) due->nextDueUs = now + due->periodUs;
    message = {MessageType::Timer, due->id};
    lastWasTimer_ = true;
    return true;
}

bool MessageLoop::takePaint(Message& message) {
    // Taken as handled on delivery: the window procedure paints or hands it to
    // defaultProcessing, which validates it.
    paintPending_ = false;
    lastWasTimer_ = false;
    message = {MessageType::Paint, 0};
    return true;
}

void MessageLoop::waitForEvents() {
    source_.idle();
    if (source_.wait(nextTimerDue())) return;
    // Nothing can ever happen again: the run ends as if quit had been asked for.
    std::lock_guard lock(mutex_);
    if (posted_.empty() && !quitRequested_) {
        quitRequested_ = true;
        requestedExitCode_ = 0;
    }
}

void MessageLoop::dispatch(const Message& message) {
    switch (message.type) {
    case MessageType::ModalDone:
        answered_.insert(message.param);
        return;
    case MessageType::Quit:
        return;
    case MessageType::Call: {
        std::function<void()> call;
        {
            std::lock_guard lock(mutex_);
            if (calls_.empty()) return;
            call = std::move(calls_.front());
            calls_.pop_front();
        }
        if (!destroyed_ && call) call();
        return;
    }
    default:
        break;
    }
    if (destroyed_) return;  // messages that were on their way to a window that is gone

    if (handler_)
        handler_->handleMessage(message);
    else
        defaultProcessing(message);

    if (message.type == MessageType::Destroy) {
        destroyed_ = true;
        timers_.clear();
        paintPending_ = false;
    }
}

int MessageLoop::run() {
    Message message;
    while (getMessage(message)) dispatch(message);
    return exitCode_;
}

bool MessageLoop::runModal(std::uint32_t modalId) {
    while (!answered_.count(modalId)) {
        Message message;
        if (!getMessage(message)) {
            postQuit(exitCode_);
            return false;
        }
        dispatch(message);
    }
    answered_.erase(modalId);
    return true;
}

void MessageLoop::setTimer(std::uint32_t id, int intervalMs) {
    if (destroyed_) return;
    const std::int64_t periodUs = std::int64_t(std::max(intervalMs, minimumTimerIntervalMs)) * 1000;
    const std::int64_t due = source_.nowUs() + periodUs;
    for (WindowTimer& timer : timers_) {
        if (timer.id == id) {
            timer.periodUs = periodUs;
            timer.nextDueUs = due;
            return;
        }
    }
    timers_.push_back({id, periodUs, due});
}

void MessageLoop::killTimer(std::uint32_t id) {
    std::erase_if(timers_, [id](const WindowTimer& timer) { return timer.id == id; });
}

void MessageLoop::invalidate() {
    if (!destroyed_) paintPending_ = true;
}

void MessageLoop::defaultProcessing(const Message& message) {
    if (message.type == MessageType::Close && !destroyed_) dispatch({MessageType::Destroy, 0});
}

}  // namespace vesk::platform
