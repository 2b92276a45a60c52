// The module's entry: the table of what it gives, found by name with dlsym.
#include "platform/video/VideoModule.h"

#include "platform/video/VideoWriter.h"

namespace {

constexpr vesk::platform::video::VideoModuleApi api{
    vesk::platform::video::videoFormats,
    vesk::platform::video::videoFormatFor,
    vesk::platform::video::videoFormatAvailable,
    vesk::platform::video::openVideoWriter,
};

}  // namespace

extern "C" __attribute__((visibility("default"))) const vesk::platform::video::VideoModuleApi*
vesk_video_module() {
    return &api;
}
