// A frame that did not change is a hard link to the last one's file: nothing is encoded or
// written again. Where the file system has no links it is copied.
#include "platform/headless/PngFrames.h"

#include <cstdio>
#include <filesystem>

#include "platform/PendingFile.h"
#include "platform/headless/PngFile.h"

namespace vesk::platform {

namespace {

// Six digits, so the files sort in the order they were drawn.
constexpr char framePattern[] = "/frame-%06d.png";
constexpr int framePathMax = 32;

class PngFramesWriter final : public MediaWriter {
public:
    PngFramesWriter(std::unique_ptr<PendingFile> folder, const MediaLayout& layout)
        : folder_(std::move(folder)), layout_(layout) {}

    bool keepsPicture() const override { return true; }
    bool keepsSound() const override { return false; }
    bool writeFrame(const FramePixels& window, FrameChange change) override {
        if (!error_.empty()) return false;
        const std::string path = framePngPath(folder_->tempPath(), ++frames_);
        if (change == FrameChange::Same && frames_ > 1 && linkLast(path)) return true;
        if (window.width != layout_.width || window.height != layout_.height) {
            error_ = "PNG frames of " + folder_->path() + " are the window's own size";
            return false;
        }
        const std::vector<std::uint32_t> pixels(window.pixels, window.pixels + std::size_t(window.width) * std::size_t(window.height));
        const std::string failed = writePng(path, Image{window.width, window.height, pixels});
        if (!failed.empty()) error_ = "cannot write the frames of " + folder_->path() + ": " + failed;
        return failed.empty();
    }
    bool writeSound(std::span<const float>, std::span<const float>) override { return false; }
    bool finish() override {
        if (!error_.empty()) return false;
        return folder_->commit(error_);
    }
    const std::string& error() const override { return error_; }

private:
    bool linkLast(const std::string& path) {
        const std::string last = framePngPath(folder_->tempPath(), frames_ - 1);
        std::error_code failed;
        std::filesystem::create_hard_link(last, path, failed);
        if (failed) std::filesystem::copy_file(last, path, failed);
        return !failed;
    }

    std::unique_ptr<PendingFile> folder_;
    MediaLayout layout_;
    int frames_ = 0;
    std::string error_;
};

}  // namespace

std::string framePngPath(const std::string& folder, int frame) {
    char name[framePathMax];
    std::snprintf(name, sizeof name, framePattern, frame);
    return folder + name;
}

std::unique_ptr<MediaWriter> openPngFrames(const std::string& folder, const MediaLayout& layout,
                                           std::string& reason) {
    auto pending = PendingFile::create(folder, PendingKind::Folder, reason);
    if (!pending) return nullptr;
    return std::make_unique<PngFramesWriter>(std::move(pending), layout);
}

}  // namespace vesk::platform
