// The vesk program run in-process for the app tests: a command line read as main reads it
// and handed to the mode it chose, in a temporary folder that goes away with the test.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>
#include <unistd.h>

#include "app/Modes.h"
#include "app/Options.h"
#include "support/SmfBuilder.h"

namespace vesk::test {

// A fresh folder under the system's temporary folder, removed with all it holds.
class TempFolder {
public:
    explicit TempFolder(const std::string& name)
        : path_(std::filesystem::temp_directory_path() /
                ("vesk-" + name + "-" + std::to_string(::getpid()))) {
        std::filesystem::remove_all(path_);
        std::filesystem::create_directories(path_);
    }
    ~TempFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    std::string operator/(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

inline std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

inline void writeFile(const std::string& path, const Bytes& bytes) {
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                std::streamsize(bytes.size()));
}

// A trace's (or session's) lines, each parsed; a line cut short, as a killed run leaves
// it, is a discarded value.
inline std::vector<nlohmann::json> traceOf(const std::string& path) {
    std::vector<nlohmann::json> lines;
    std::istringstream text(readFile(path));
    for (std::string line; std::getline(text, line);) lines.push_back(nlohmann::json::parse(line, nullptr, false));
    return lines;
}

// The program's exit code for `args` (the arguments after its name); -1, and a failure,
// when the command line is refused.
inline int runVesk(const std::vector<std::string>& args) {
    std::string error;
    const auto options = app::parseCommandLine(args, error);
    if (!options) {
        ADD_FAILURE() << "command line refused: " << error;
        return -1;
    }
    return app::runProgram(*options);
}

// A short piece for channel 2: a tempo, a system exclusive message (a long message on the
// way out), a program change (two bytes) and a handful of notes (three bytes each).
inline Bytes shortPiece() {
    SmfBuilder smf(480);
    smf.tempo(0, 500'000).event(0, {0xF0, 0x05, 0x7E, 0x7F, 0x09, 0x01, 0xF7}).event(0, {0xC1, 0x05});
    const std::uint8_t notes[] = {60, 64, 67, 72, 67, 64};
    for (std::uint8_t note : notes) smf.event(0, {0x91, note, 100}).event(240, {0x81, note, 0});
    return smf.endOfTrack().bytes();
}

}  // namespace vesk::test
