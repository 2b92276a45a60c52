// A program run as a person runs it, for the tests of the built and the installed vesk:
// its arguments, a few environment variables of its own, standard output and error kept
// in files, waited for with a time limit (killed past it). The files go with the object.
#pragma once

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace vesk::test {

class Subprocess {
public:
    using Environment = std::vector<std::pair<std::string, std::string>>;

    Subprocess(const std::string& program, const std::vector<std::string>& args, const Environment& env = {}) {
        const std::string base = (std::filesystem::temp_directory_path() /
                                  ("vesk-run-" + std::to_string(::getpid()) + "-" + std::to_string(++count())))
                                     .string();
        outPath_ = base + ".out";
        errPath_ = base + ".err";
        pid_ = ::fork();
        if (pid_ != 0) return;
        for (const auto& [name, value] : env) ::setenv(name.c_str(), value.c_str(), 1);
        if (!std::freopen(outPath_.c_str(), "w", stdout) || !std::freopen(errPath_.c_str(), "w", stderr)) ::_exit(126);
        std::vector<char*> argv{const_cast<char*>(program.c_str())};
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        ::execv(program.c_str(), argv.data());
        ::_exit(127);
    }
    ~Subprocess() {
        if (running()) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        std::error_code ignored;
        std::filesystem::remove(outPath_, ignored);
        std::filesystem::remove(errPath_, ignored);
    }
    Subprocess(const Subprocess&) = delete;
    Subprocess& operator=(const Subprocess&) = delete;

    bool running() const { return pid_ > 0 && !code_; }
    pid_t pid() const { return pid_; }

    // The exit code (128 + the signal for one that killed it); none when it was still
    // running after `limit`, and then it is killed.
    std::optional<int> wait(std::chrono::milliseconds limit = std::chrono::seconds(60)) {
        const auto end = std::chrono::steady_clock::now() + limit;
        while (running()) {
            int status = 0;
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                code_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
                break;
            }
            if (std::chrono::steady_clock::now() > end) {
                ::kill(pid_, SIGKILL);
                ::waitpid(pid_, nullptr, 0);
                pid_ = -1;
                return std::nullopt;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return code_;
    }

    std::string out() const { return contents(outPath_); }
    std::string err() const { return contents(errPath_); }

private:
    static int& count() {
        static int n = 0;
        return n;
    }
    static std::string contents(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }

    pid_t pid_ = -1;
    std::optional<int> code_;
    std::string outPath_, errPath_;
};

// The lines of `text`.
inline std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

}  // namespace vesk::test
