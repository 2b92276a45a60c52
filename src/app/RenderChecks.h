// What a render checks before any work, so a job that cannot succeed is refused at once
// with one clear line: the frame rate, the size for the output's form, OUT's extension and
// that its folder can be written, and that the file performed can be read.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "app/Render.h"
#include "platform/MediaWriter.h"
#include "platform/OfflineMedia.h"

namespace vesk::app {

struct CheckedJob {
    platform::MediaTarget target;
    platform::FrameRate rate;
    std::int64_t musicUs = 0;  // the file's length, or the live input's when that is longer
};

// None, with the reason, when the job must be refused.
std::optional<CheckedJob> checkRenderJob(const RenderJob& job, std::string& reason);

// The time of frame `frame` at `rate`, in microseconds, rounded down.
std::int64_t frameTimeUs(std::int64_t frame, platform::FrameRate rate);

}  // namespace vesk::app
