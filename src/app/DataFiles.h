// Where vesk finds its own data (the demo piece): beside the program in the build tree,
// and in the installed tree's share folder, both found from where the program itself is,
// so a build or an installation can move without anything being set.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vesk::app {

constexpr std::string_view demoPieceName = "demo.mid";

// The folders that may hold the data of the program at `program`, nearest first.
std::vector<std::filesystem::path> dataFolders(const std::filesystem::path& program);

// The running program's file, from /proc/self/exe; empty when it cannot be read.
std::filesystem::path runningProgram();

// `name` in the first of the running program's data folders that has it; none with
// `searched` listing the folders looked in.
std::optional<std::filesystem::path> findDataFile(std::string_view name, std::string& searched);

}  // namespace vesk::app
