// vesk: the program. Reads the command line and hands it to the mode it chose: a real
// window with the MIDI devices the table finds, or a headless run on virtual time (see --help).
#include <iostream>
#include <string>
#include <vector>

#include "app/Modes.h"
#include "app/Options.h"

int main(int argc, char** argv) {
    using namespace vesk;
    std::string error;
    const auto options = app::parseCommandLine(std::vector<std::string>(argv + 1, argv + argc), error);
    if (!options) {
        std::cerr << "vesk: " << error << "\n" << app::tryHelpLine << "\n";
        return app::exitBadCommandLine;
    }
    if (options->help) {
        std::cout << app::usageText();
        return 0;
    }
    return app::runProgram(*options);
}
