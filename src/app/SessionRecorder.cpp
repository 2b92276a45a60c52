// The session's lines as the run makes them, each at the moment the window is at.
#include "app/SessionRecorder.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>

#include "state/PerformanceState.h"

namespace vesk::app {

namespace {

using Kind = SessionEvent::Kind;
constexpr double usPerMs = 1000.0;

std::int64_t steadyMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

std::string absoluteName(const std::string& name) {
    if (name.empty()) return name;
    std::error_code ec;
    const std::filesystem::path path = std::filesystem::absolute(name, ec);
    return ec ? name : path.lexically_normal().string();
}

bool SessionClock::isTick(const platform::Message& m) {
    return m.type == platform::MessageType::Timer && m.param == tickTimerId;
}

void SessionClock::taking(const platform::Message& message) {
    if (!isTick(message)) return;
    ++now_.tick;
    now_.painted = false;
}

void SessionClock::taken(const platform::Message& message) {
    if (message.type == platform::MessageType::Paint) now_.painted = true;
}

std::unique_ptr<SessionRecorder> SessionRecorder::open(const std::string& path, std::string& reason) {
    std::FILE* file = std::fopen(path.c_str(), "w");
    if (!file) {
        reason = "cannot write the session to " + path + ": " + std::strerror(errno);
        return nullptr;
    }
    return std::unique_ptr<SessionRecorder>(new SessionRecorder(file, path));
}

void SessionRecorder::start(Vesk& vesk, unsigned seed, bool unattended) {
    vesk_ = &vesk;
    startUs_ = vesk.platform.loop().source().nowUs();
    next_ = vesk.observer;
    vesk.observer = this;
    vesk.inbox.setTap(this);
    writer_.header(seed, vesk.platform.surface().width(), vesk.platform.surface().height(), unattended);
}

midi::SmfSource& SessionRecorder::source(midi::SmfSource& inner) {
    source_.inner_ = &inner;
    return source_;
}

bool SessionRecorder::finish(int exitCode) {
    if (vesk_) {
        vesk_->inbox.setTap(nullptr);
        if (vesk_->observer == this) vesk_->observer = next_;
    }
    SessionEvent end = event(Kind::End);
    end.code = exitCode;
    writer_.write(end);
    return writer_.close();
}

SessionEvent SessionRecorder::event(Kind kind) const {
    SessionEvent e;
    e.kind = kind;
    e.at = clock_.now();
    if (vesk_) e.ms = double(vesk_->platform.loop().source().nowUs() - startUs_) / usPerMs;
    return e;
}

void SessionRecorder::handle(const platform::Message& message, platform::WindowHandler& window) {
    clock_.taking(message);
    if (SessionClock::isTick(message)) writer_.flushIfDue(steadyMs(), event(Kind::At));
    window.handleMessage(message);
    clock_.taken(message);
}

void SessionRecorder::drained(std::vector<std::uint8_t>& on, std::vector<std::uint8_t>& off) {
    if (on.empty() && off.empty()) return;
    SessionEvent take = event(Kind::Take);
    take.on = on;
    take.off = off;
    writer_.write(take);
}

void SessionRecorder::boxDismissed() { writer_.write(event(Kind::Box)); }

void SessionRecorder::dialogEnded(const DialogEnd& end) {
    SessionEvent dialog = event(Kind::Dialog);
    dialog.fileText = end.fileText;
    dialog.path = absoluteName(end.fileText);
    dialog.channelText = end.channelText;
    dialog.control = end.control;
    writer_.write(dialog);
}

std::optional<midi::SmfChoice> SessionRecorder::RecordedSource::next() {
    std::optional<midi::SmfChoice> choice = inner_->next();
    SessionEvent e = recorder_.event(Kind::Choice);
    if (choice) {
        e.path = absoluteName(choice->path);
        e.channel = choice->listenChannel + 1;
    }
    recorder_.writer_.write(e);
    return choice;
}

std::optional<int> SessionRecorder::RecordedSource::endOfRun() const {
    const std::optional<int> code = inner_->endOfRun();
    if (code) {
        SessionEvent e = recorder_.event(Kind::Choice);
        e.endOfRun = true;
        e.code = *code;
        recorder_.writer_.write(e);
    }
    return code;
}

void SessionRecorder::fileLoaded(const Vesk& vesk) {
    SessionEvent load = event(Kind::Load);
    load.path = absoluteName(vesk.smf.smfPath);
    load.sha256 = sha256Hex({vesk.smf.smfBuffer.get(), std::size_t(vesk.smf.smfLength)});
    writer_.write(load);
    if (next_) next_->fileLoaded(vesk);
}

void SessionRecorder::liveInput(const Vesk& vesk, std::uint32_t message) {
    SessionEvent live = event(Kind::Live);
    live.message = message;
    writer_.write(live);
    if (next_) next_->liveInput(vesk, message);
}

void SessionRecorder::performanceStarted(const Vesk& vesk) {
    writer_.write(event(Kind::Start));
    if (next_) next_->performanceStarted(vesk);
}

void SessionRecorder::tickCompleted(const Vesk& vesk) {
    if (next_) next_->tickCompleted(vesk);
}

void SessionRecorder::repainted(const Vesk& vesk) {
    if (next_) next_->repainted(vesk);
}

}  // namespace vesk::app
