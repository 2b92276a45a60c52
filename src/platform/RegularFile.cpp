// Opening without waiting, then asking the opened file what it is, so nothing can change
// between the question and the read.
#include "platform/RegularFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

namespace vesk::platform {

namespace {

// Why a file that opened is not read, by what it is.
std::string notRegular(mode_t mode) {
    if (S_ISDIR(mode)) return "it is a directory, not a file";
    if (S_ISFIFO(mode)) return "it is a named pipe, not a regular file";
    if (S_ISCHR(mode) || S_ISBLK(mode)) return "it is a device, not a regular file";
    if (S_ISSOCK(mode)) return "it is a socket, not a regular file";
    return "it is not a regular file";
}

}  // namespace

std::optional<RegularFile> RegularFile::open(const std::string& path, std::string& reason) {
    // O_NONBLOCK: a named pipe with no writer would otherwise hold the open for ever; it
    // changes nothing for a regular file.
    const int descriptor = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (descriptor < 0) {
        reason = std::strerror(errno);
        return std::nullopt;
    }
    struct stat status {};
    if (::fstat(descriptor, &status) != 0) {
        reason = std::strerror(errno);
        ::close(descriptor);
        return std::nullopt;
    }
    if (!S_ISREG(status.st_mode)) {
        reason = notRegular(status.st_mode);
        ::close(descriptor);
        return std::nullopt;
    }
    return RegularFile(descriptor, std::uintmax_t(status.st_size));
}

RegularFile::~RegularFile() {
    if (descriptor_ >= 0) ::close(descriptor_);
}

RegularFile::RegularFile(RegularFile&& other) noexcept
    : descriptor_(std::exchange(other.descriptor_, -1)), size_(other.size_) {}

RegularFile& RegularFile::operator=(RegularFile&& other) noexcept {
    std::swap(descriptor_, other.descriptor_);
    size_ = other.size_;
    return *this;
}

std::optional<std::size_t> RegularFile::read(std::uint8_t* into, std::size_t count, std::string& reason) {
    std::size_t done = 0;
    while (done < count) {
        const ssize_t got = ::read(descriptor_, into + done, count - done);
        if (got == 0) break;
        if (got < 0) {
            if (errno == EINTR) continue;  // a signal's handler ran; the read goes on
            reason = std::strerror(errno);
            return std::nullopt;
        }
        done += std::size_t(got);
    }
    return done;
}

}  // namespace vesk::platform
