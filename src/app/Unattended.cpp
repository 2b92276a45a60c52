// Snapshots and takes. Both are written on the window thread as a performance turns (a
// PNG of the window's pixels, a small MIDI file); a failure to write is one line on
// standard error and the run goes on, as nothing here may stop an installation.
#include "app/Unattended.h"

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <iostream>
#include <system_error>

#include "app/GivenFile.h"
#include "platform/headless/PngFile.h"

namespace vesk::app {

namespace {

constexpr const char* dateFormat = "%Y-%m-%dT%H-%M-%S";
constexpr std::size_t dateTextMax = 32;
constexpr const char* numberFormat = "_%04d.png";
constexpr std::size_t numberTextMax = 16;
constexpr std::int64_t usPerMs = 1000;

bool makeFolderOf(const std::string& path, std::string& error) {
    const std::filesystem::path folder = std::filesystem::path(path).parent_path();
    std::error_code ec;
    if (!folder.empty()) std::filesystem::create_directories(folder, ec);
    if (ec) error = "cannot make the folder \"" + folder.string() + "\": " + ec.message();
    return !ec;
}

}  // namespace

std::string snapshotPath(const std::string& dir, std::int64_t when, const std::string& song, int performance) {
    const std::time_t time = std::time_t(when);
    std::tm local{};
    localtime_r(&time, &local);
    char date[dateTextMax];
    std::strftime(date, sizeof date, dateFormat, &local);
    char number[numberTextMax];
    std::snprintf(number, sizeof number, numberFormat, performance);
    return (std::filesystem::path(dir) / (std::string(date) + "_" + song + number)).string();
}

Unattended::Unattended(const Options& o, Vesk& vesk)
    : vesk_(vesk), next_(vesk.observer), snapshotDir_(o.snapshotDir), recordMidi_(o.recordMidi) {
    if (!o.loop.empty()) vesk.platform.modalUi().setUnattended(true);
    if (!snapshotDir_.empty() || !recordMidi_.empty()) vesk.observer = this;
}

Unattended::~Unattended() {
    writeTake();
    if (vesk_.observer == this) vesk_.observer = next_;
}

void Unattended::performanceStarted(const Vesk& vesk) {
    // The last performance has ended: its file is still the one loaded.
    writeTake();
    ++performance_;
    startUs_ = vesk.platform.loop().source().nowUs();
    snapshotTaken_ = false;
    if (next_) next_->performanceStarted(vesk);
}

void Unattended::tickCompleted(const Vesk& vesk) {
    if (next_) next_->tickCompleted(vesk);
}

void Unattended::repainted(const Vesk& vesk) {
    if (next_) next_->repainted(vesk);
    // The first picture of the finale is the whole flake, before any segment goes.
    if (!snapshotDir_.empty() && vesk.state.finaleStarted && !snapshotTaken_) {
        snapshotTaken_ = true;
        writeSnapshot(vesk);
    }
}

void Unattended::liveInput(const Vesk& vesk, std::uint32_t message) {
    if (!recordMidi_.empty()) take_.add((vesk.platform.loop().source().nowUs() - startUs_) / usPerMs, message);
    if (next_) next_->liveInput(vesk, message);
}

void Unattended::writeSnapshot(const Vesk& vesk) {
    const platform::Surface& surface = vesk.platform.surface();
    const std::string path =
        snapshotPath(snapshotDir_, std::int64_t(std::time(nullptr)), songName(vesk.smf.smfPath), performance_);
    std::string error;
    if (makeFolderOf(path, error)) error = platform::writePng(path, {surface.width(), surface.height(), surface.pixels()});
    if (error.empty() || snapshotFailed_) return;
    snapshotFailed_ = true;
    std::cerr << "vesk: cannot keep the finale's picture: " << error << "\n";
}

void Unattended::writeTake() {
    if (recordMidi_.empty() || take_.empty()) return;
    const std::string path = takePath(recordMidi_, performance_);
    std::string error;
    if (makeFolderOf(path, error)) {
        if (take_.dropped())
            std::cerr << "vesk: " << take_.dropped() << " live messages past the first " << takeMessagesMax
                      << " of performance " << performance_ << " are not in " << path << "\n";
        writeWholeFile(path, take_.smf(songName(vesk_.smf.smfPath)), error);
    }
    if (!error.empty()) std::cerr << "vesk: cannot keep the live take: " << error << "\n";
    take_.clear();
}

}  // namespace vesk::app
