// An Xvfb of this process on the first free display, which it names on a pipe once it
// takes clients, stopped with this object (or when the process dies). For the window
// tests and the start-up benchmark; installed() is false where there is no Xvfb to run.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace vesk::test {

class XServer {
public:
    XServer() {
        int fds[2];
        if (::pipe(fds) != 0) return;
        const pid_t parent = ::getpid();
        pid_ = ::fork();
        if (pid_ == 0) {
            // The server goes with this process, even when it crashes.
            ::prctl(PR_SET_PDEATHSIG, SIGTERM);
            if (::getppid() != parent) ::_exit(127);
            const int null = ::open("/dev/null", O_WRONLY);
            ::dup2(null, 1);
            ::dup2(null, 2);
            const std::string fd = std::to_string(fds[1]);
            // -noreset: a server that resets when its last client leaves turns the next
            // window of the run away while it does.
            ::execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1024x768x24",
                     "-nolisten", "tcp", "-noreset", nullptr);
            ::_exit(127);
        }
        ::close(fds[1]);
        pollfd ready{fds[0], POLLIN, 0};
        char number[16] = {};
        if (pid_ > 0 && ::poll(&ready, 1, 10000) > 0 && ::read(fds[0], number, sizeof number - 1) > 0)
            display_ = ":" + std::to_string(std::atoi(number));
        ::close(fds[0]);
        if (display_.empty()) stop();  // 127: no Xvfb to run
    }
    ~XServer() { stop(); }
    XServer(const XServer&) = delete;
    XServer& operator=(const XServer&) = delete;

    void stop() {
        int status = 0;
        if (pid_ > 0 && ::kill(pid_, SIGTERM) == 0 && ::waitpid(pid_, &status, 0) == pid_)
            installed_ = !(WIFEXITED(status) && WEXITSTATUS(status) == 127);
        pid_ = -1;
    }

    bool installed() const { return installed_; }
    const std::string& display() const { return display_; }

private:
    pid_t pid_ = -1;
    bool installed_ = true;
    std::string display_;
};

}  // namespace vesk::test
