// The backend table and the "auto" choice over it. The SDL entry fails where no display
// opens, which is what lets "auto" go on to the headless run; a build without SDL has no
// such entry.
#include "platform/Backends.h"

#include <iostream>

#include "platform/headless/HeadlessPlatform.h"
#if VESK_WITH_SDL
#include "platform/sdl/SdlPlatform.h"
#endif

namespace vesk::platform {

namespace {

#if VESK_WITH_SDL
std::unique_ptr<Platform> createSdl(const BackendOptions& options, std::string& reason) {
    sdl::WindowOptions window;
    window.presentation =
        options.windowed ? sdl::Presentation::Windowed : sdl::Presentation::FullscreenDesktop;
    window.width = options.width;
    window.height = options.height;
    window.title = options.title;
    return sdl::SdlPlatform::create(window, reason);
}
#endif

std::unique_ptr<Platform> createHeadless(const BackendOptions& options, std::string& reason) {
    if (options.width <= 0 || options.height <= 0) {
        reason = "a window of " + std::to_string(options.width) + " x " +
                 std::to_string(options.height) + " pixels cannot be made";
        return nullptr;
    }
    return std::make_unique<headless::HeadlessPlatform>(options.width, options.height);
}

constexpr BackendEntry table[] = {
#if VESK_WITH_SDL
    {"sdl", createSdl},
#endif
    {"headless", createHeadless},
};

}  // namespace

std::span<const BackendEntry> backendTable() { return table; }

std::unique_ptr<Platform> createBackend(std::string_view name, const BackendOptions& options,
                                        std::string& reason) {
    return createBackend(name, options, reason, std::cerr);
}

std::unique_ptr<Platform> createBackend(std::string_view name, const BackendOptions& options,
                                        std::string& reason, std::ostream& log) {
    if (name == autoBackend) {
        std::string passedOver;  // "name: why" of each backend that could not run
        for (const BackendEntry& entry : table) {
            std::string why;
            if (auto platform = entry.create(options, why)) {
                log << "vesk: using the " << entry.name << " backend";
                if (!passedOver.empty()) log << " (" << passedOver << ")";
                log << "\n";
                return platform;
            }
            if (!passedOver.empty()) passedOver += "; ";
            passedOver += std::string(entry.name) + ": " + why;
        }
        reason = "no backend can run here (" + passedOver + ")";
        return nullptr;
    }
    for (const BackendEntry& entry : table)
        if (entry.name == name) return entry.create(options, reason);
    std::string known;
    for (const BackendEntry& entry : table) known += " " + std::string(entry.name);
    reason = "no backend is called \"" + std::string(name) + "\"; there are" + known + " and " +
             std::string(autoBackend);
    return nullptr;
}

}  // namespace vesk::platform
