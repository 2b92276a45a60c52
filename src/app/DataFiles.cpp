// The data folders relative to the program: VESK_DATA_FROM_BIN is the installed share
// folder as seen from the installed bin folder ("../share/vesk"); the build copies the
// data to share/vesk beside build/vesk.
#include "app/DataFiles.h"

#include <system_error>

namespace vesk::app {

namespace {

constexpr const char* selfLink = "/proc/self/exe";
constexpr const char* buildTreeData = "share/vesk";

}  // namespace

std::vector<std::filesystem::path> dataFolders(const std::filesystem::path& program) {
    const std::filesystem::path folder = program.parent_path();
    return {(folder / VESK_DATA_FROM_BIN).lexically_normal(), (folder / buildTreeData).lexically_normal()};
}

std::filesystem::path runningProgram() {
    std::error_code error;
    std::filesystem::path program = std::filesystem::read_symlink(selfLink, error);
    return error ? std::filesystem::path() : program;
}

std::optional<std::filesystem::path> findDataFile(std::string_view name, std::string& searched) {
    searched.clear();
    for (const std::filesystem::path& folder : dataFolders(runningProgram())) {
        const std::filesystem::path candidate = folder / name;
        std::error_code error;
        if (std::filesystem::is_regular_file(candidate, error)) return candidate;
        searched += (searched.empty() ? "" : " and ") + folder.string();
    }
    return std::nullopt;
}

}  // namespace vesk::app
