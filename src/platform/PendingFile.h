// A file or a folder written under a temporary name beside its own and put under its own
// name only once it is complete, so a failed or abandoned write leaves nothing half-made
// where the user looks. Being in the same folder, the last step is one rename.
#pragma once

#include <memory>
#include <string>

namespace vesk::platform {

enum class PendingKind { File, Folder };

class PendingFile {
public:
    // Makes the temporary file or folder beside `path`; null with the reason (naming
    // `path`) when that folder cannot be written.
    static std::unique_ptr<PendingFile> create(const std::string& path, PendingKind kind,
                                               std::string& reason);
    // Removes the temporary one unless it was committed.
    ~PendingFile();
    PendingFile(const PendingFile&) = delete;
    PendingFile& operator=(const PendingFile&) = delete;

    const std::string& path() const { return path_; }
    const std::string& tempPath() const { return tempPath_; }
    // Puts what was written under `path` (a file replaces one there; a folder needs the
    // place free or an empty folder). False with the reason otherwise.
    bool commit(std::string& reason);

private:
    PendingFile(std::string path, std::string tempPath, PendingKind kind)
        : path_(std::move(path)), tempPath_(std::move(tempPath)), kind_(kind) {}

    std::string path_;
    std::string tempPath_;
    PendingKind kind_;
    bool committed_ = false;
};

}  // namespace vesk::platform
