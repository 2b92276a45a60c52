// vesk-compose-demo: writes "First Frost", the piece Vesk plays for a newcomer, as a
// Standard MIDI File. The repository keeps its output as assets/demo.mid; a test holds the
// two to each other byte for byte, so run this again after any change to the piece.
#include <cstdio>
#include <exception>
#include <fstream>
#include <string>

#include "compose/DemoPiece.h"

namespace {

constexpr int exitUsage = 2;
constexpr int exitFailed = 1;

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2 || std::string(argv[1]) == "--help") {
        std::fprintf(stderr, "Usage: vesk-compose-demo OUTPUT.mid   (the repository keeps it as assets/demo.mid)\n");
        return exitUsage;
    }
    try {
        const std::vector<std::uint8_t> bytes = vesk::compose::composeDemo();
        std::ofstream out(argv[1], std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        out.close();
        if (!out) {
            std::fprintf(stderr, "vesk-compose-demo: could not write %s\n", argv[1]);
            return exitFailed;
        }
        std::printf("wrote %s: %zu bytes\n", argv[1], bytes.size());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "vesk-compose-demo: the piece does not hold together: %s\n", e.what());
        return exitFailed;
    }
    return 0;
}
