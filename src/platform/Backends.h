// The platform backends by name, as one table: the real desktop window ("sdl") and the
// headless run in virtual time ("headless"). "auto" tries them in the table's order and
// says on stderr which one it took, so a machine without a display still runs.
#pragma once

#include <iosfwd>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "platform/Platform.h"

namespace vesk::platform {

struct BackendOptions {
    bool windowed = false;  // else full screen on the desktop's own mode, picture scaled
    int width = windowSize.width, height = windowSize.height;
    std::string title = "Vesk";
};

// Null with the reason when the backend cannot run here.
using CreateBackend = std::unique_ptr<Platform> (*)(const BackendOptions& options,
                                                    std::string& reason);

struct BackendEntry {
    std::string_view name;
    CreateBackend create;
};

constexpr std::string_view autoBackend = "auto";

// In the order "auto" tries them.
std::span<const BackendEntry> backendTable();

// The backend `name` (or the first of the table that runs, for "auto"); null with the
// reason otherwise. "auto" writes the backend it took, and why it passed over others, to
// `log`.
std::unique_ptr<Platform> createBackend(std::string_view name, const BackendOptions& options,
                                        std::string& reason);
std::unique_ptr<Platform> createBackend(std::string_view name, const BackendOptions& options,
                                        std::string& reason, std::ostream& log);

}  // namespace vesk::platform
