// The signal watch: a signalfd for the two signals and an eventfd that stops it, polled by
// one thread. A second signal means the orderly end itself is stuck: the program then
// ends at once, as it would have without us.
#include "app/QuitOnSignals.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace vesk::app {

namespace {

const char* signalName(int signalNumber) { return signalNumber == SIGINT ? "SIGINT" : "SIGTERM"; }

}  // namespace

QuitOnSignals::QuitOnSignals() {
    sigemptyset(&signals_);
    sigaddset(&signals_, SIGINT);
    sigaddset(&signals_, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals_, &previousMask_);
    signalFd_ = signalfd(-1, &signals_, SFD_CLOEXEC);
    stopFd_ = eventfd(0, EFD_CLOEXEC);
    if (signalFd_ < 0 || stopFd_ < 0) {
        // Without the watch the signals keep their default action: the program ends at
        // once, as before, rather than not at all.
        std::perror("vesk: cannot watch for SIGINT and SIGTERM");
        pthread_sigmask(SIG_SETMASK, &previousMask_, nullptr);
        return;
    }
    thread_ = std::thread(&QuitOnSignals::watch, this);
}

QuitOnSignals::~QuitOnSignals() {
    if (thread_.joinable()) {
        const std::uint64_t stop = 1;
        if (write(stopFd_, &stop, sizeof stop) == sizeof stop) thread_.join();
        else thread_.detach();  // cannot happen with an eventfd; never block the exit on it
    }
    if (signalFd_ >= 0) close(signalFd_);
    if (stopFd_ >= 0) close(stopFd_);
    pthread_sigmask(SIG_SETMASK, &previousMask_, nullptr);
}

QuitOnSignals::Attachment QuitOnSignals::attach(platform::MessageLoop& loop) {
    setLoop(&loop);
    return Attachment(*this);
}

void QuitOnSignals::setLoop(platform::MessageLoop* loop) {
    std::lock_guard lock(mutex_);
    loop_ = loop;
    if (loop_ && exitCode_ != 0) loop_->postQuit(exitCode_);
}

void QuitOnSignals::watch() {
    pollfd watched[] = {{signalFd_, POLLIN, 0}, {stopFd_, POLLIN, 0}};
    for (;;) {
        if (poll(watched, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (watched[1].revents) return;
        signalfd_siginfo info{};
        if (read(signalFd_, &info, sizeof info) == sizeof info) onSignal(int(info.ssi_signo));
    }
}

void QuitOnSignals::onSignal(int signalNumber) {
    const int code = signalExitBase + signalNumber;
    std::lock_guard lock(mutex_);
    if (exitCode_ != 0) {
        std::fprintf(stderr, "vesk: %s again: ending at once\n", signalName(signalNumber));
        std::_Exit(code);
    }
    std::fprintf(stderr, "vesk: %s: ending\n", signalName(signalNumber));
    exitCode_ = code;
    received_ = signalNumber;
    if (loop_) loop_->postQuit(code);
}

}  // namespace vesk::app
