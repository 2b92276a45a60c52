// The checks in the order a person fixes a command line: the numbers first, then OUT, then
// the file. Writing is tried for real (a temporary file made and removed), since who may
// write where is more than the permission bits say (a root user, a read-only mount).
#include "app/RenderChecks.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <numeric>

#include "app/MidiFileInput.h"
#include "platform/PendingFile.h"

namespace vesk::app {

namespace {

constexpr double lowestFps = 1.0, highestFps = 240.0;
// A fractional rate is kept to a thousandth of a frame a second (29.97 is 2997/100).
constexpr int fractionalFpsDenominator = 1000;
constexpr double wholeFpsTolerance = 1e-9;
constexpr int smallestSide = 16, largestSide = 8192;
constexpr std::int64_t usPerSecond = 1'000'000, usPerMs = 1000;
constexpr int channels = 16;

std::optional<platform::FrameRate> frameRateFor(double fps, std::string& reason) {
    if (!std::isfinite(fps) || fps < lowestFps || fps > highestFps) {
        reason = "a frame rate of " + std::to_string(fps) + " cannot be rendered: it must be 1 to 240 frames a second";
        return std::nullopt;
    }
    if (std::abs(fps - std::round(fps)) < wholeFpsTolerance) return platform::FrameRate{int(std::round(fps)), 1};
    const int num = int(std::lround(fps * fractionalFpsDenominator));
    const int common = std::gcd(num, fractionalFpsDenominator);
    return platform::FrameRate{num / common, fractionalFpsDenominator / common};
}

bool sizeFits(const RenderJob& job, const platform::MediaTarget& target, std::string& reason) {
    const std::string size = std::to_string(job.width) + "x" + std::to_string(job.height);
    if (job.width < smallestSide || job.height < smallestSide || job.width > largestSide ||
        job.height > largestSide)
        reason = "a size of " + size + " cannot be rendered: each side must be 16 to 8192 pixels";
    else if (target.evenSize && (job.width % 2 != 0 || job.height % 2 != 0))
        reason = "a size of " + size + " cannot be rendered to " + job.out + ": " + target.description +
                 " needs an even width and height";
    else if (target.windowSizeOnly && (job.width != platform::windowSize.width ||
                                       job.height != platform::windowSize.height))
        reason = "PNG frames are the window's own " + std::to_string(platform::windowSize.width) + "x" +
                 std::to_string(platform::windowSize.height) + " pixels; a size of " + size +
                 " needs a video file";
    return reason.empty();
}

bool outWritable(const RenderJob& job, const platform::MediaTarget& target, std::string& reason) {
    namespace fs = std::filesystem;
    std::error_code error;
    if (target.form == platform::MediaTarget::Form::Folder && fs::exists(job.out, error) &&
        !fs::is_empty(job.out, error)) {
        reason = "cannot write PNG frames to " + job.out + ": it is not an empty folder";
        return false;
    }
    const auto kind = target.form == platform::MediaTarget::Form::Folder ? platform::PendingKind::Folder
                                                                         : platform::PendingKind::File;
    return platform::PendingFile::create(job.out, kind, reason) != nullptr;
}

// The file's length for the progress; a file this reader cannot make out is left to the
// performance, which says why in its own box.
std::optional<std::int64_t> musicLength(const RenderJob& job, std::string& reason) {
    std::error_code error;
    if (!std::filesystem::is_regular_file(job.file, error)) {
        reason = "cannot read " + job.file + ": no such file";
        return std::nullopt;
    }
    std::string unreadable;
    const auto timed = readTimedMessages(job.file, unreadable);
    std::int64_t length = timed ? timed->lengthUs : 0;
    for (const ScriptedInput& input : job.input) length = std::max(length, input.ms * usPerMs);
    return length;
}

}  // namespace

std::int64_t frameTimeUs(std::int64_t frame, platform::FrameRate rate) {
    return frame * rate.den * usPerSecond / rate.num;
}

std::optional<CheckedJob> checkRenderJob(const RenderJob& job, std::string& reason) {
    const auto rate = frameRateFor(job.fps, reason);
    if (!rate) return std::nullopt;
    if (job.channel < 1 || job.channel > channels) {
        reason = "channel " + std::to_string(job.channel) + " cannot be listened to: it must be 1 to 16";
        return std::nullopt;
    }
    const auto target = platform::mediaTargetFor(job.out, reason);
    if (!target || !sizeFits(job, *target, reason) || !outWritable(job, *target, reason))
        return std::nullopt;
    const auto music = musicLength(job, reason);
    if (!music) return std::nullopt;
    return CheckedJob{*target, *rate, *music};
}

}  // namespace vesk::app
