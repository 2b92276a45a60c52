// A named file opened for reading only when it is a regular file. The open itself never
// waits: a named pipe with no writer, a device or a folder is refused with the reason,
// where a plain open would hang the window's thread or read something that is no file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace vesk::platform {

class RegularFile {
public:
    // The file open for reading; none with `reason` ("it is a folder", the system's own
    // "No such file or directory") when it does not open or is not a regular file.
    static std::optional<RegularFile> open(const std::string& path, std::string& reason);
    ~RegularFile();
    RegularFile(RegularFile&& other) noexcept;
    RegularFile& operator=(RegularFile&& other) noexcept;
    RegularFile(const RegularFile&) = delete;
    RegularFile& operator=(const RegularFile&) = delete;

    // Its size when it was opened.
    std::uintmax_t size() const { return size_; }
    // Up to `count` bytes into `into`, fewer at the end of the file; none with `reason`
    // when reading fails.
    std::optional<std::size_t> read(std::uint8_t* into, std::size_t count, std::string& reason);

private:
    RegularFile(int descriptor, std::uintmax_t size) : descriptor_(descriptor), size_(size) {}

    int descriptor_ = -1;
    std::uintmax_t size_ = 0;
};

}  // namespace vesk::platform
