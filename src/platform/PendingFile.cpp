// Temporary names from mkstemp and mkdtemp: hidden, unique, in the target's own folder.
#include "platform/PendingFile.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

namespace vesk::platform {

namespace {

namespace fs = std::filesystem;

// What a file or folder made the ordinary way gets: mkstemp and mkdtemp make theirs for
// their owner alone, which a finished video must not keep.
mode_t ordinaryMode(PendingKind kind) {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    const mode_t full = kind == PendingKind::Folder ? 0777 : 0666;
    return full & ~mask;
}

// "dir/.name.XXXXXX": what mkstemp and mkdtemp fill in.
std::vector<char> tempTemplate(const fs::path& path) {
    const fs::path folder = path.has_parent_path() ? path.parent_path() : fs::path(".");
    const std::string text = (folder / ("." + path.filename().string() + ".XXXXXX")).string();
    std::vector<char> name(text.begin(), text.end());
    name.push_back('\0');
    return name;
}

}  // namespace

std::unique_ptr<PendingFile> PendingFile::create(const std::string& path, PendingKind kind,
                                                 std::string& reason) {
    const fs::path target(path);
    if (target.filename().empty()) {
        reason = "cannot write " + path + ": it names no file";
        return nullptr;
    }
    std::vector<char> name = tempTemplate(target);
    bool made = false;
    if (kind == PendingKind::Folder) {
        made = ::mkdtemp(name.data()) != nullptr;
    } else {
        const int fd = ::mkstemp(name.data());
        made = fd >= 0;
        if (made) ::close(fd);
    }
    if (!made) {
        reason = "cannot write " + path + ": " + std::strerror(errno);
        return nullptr;
    }
    ::chmod(name.data(), ordinaryMode(kind));
    return std::unique_ptr<PendingFile>(new PendingFile(path, name.data(), kind));
}

PendingFile::~PendingFile() {
    if (committed_) return;
    std::error_code ignored;
    if (kind_ == PendingKind::Folder)
        fs::remove_all(tempPath_, ignored);
    else
        fs::remove(tempPath_, ignored);
}

bool PendingFile::commit(std::string& reason) {
    if (std::rename(tempPath_.c_str(), path_.c_str()) != 0) {
        reason = "cannot put the finished file at " + path_ + ": " + std::strerror(errno);
        return false;
    }
    committed_ = true;
    return true;
}

}  // namespace vesk::platform
