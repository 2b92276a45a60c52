// vesk: the program. Reads the command line and does the task it asks for, or hands it to
// the mode it chose: a real window with the MIDI devices the table finds, or a headless
// run on virtual time (see --help).
#include <iostream>
#include <string>
#include <vector>

#include "app/Modes.h"
#include "app/Options.h"
#include "app/Tasks.h"

int main(int argc, char** argv) {
    using namespace vesk;
    std::string error;
    const auto options = app::parseCommandLine(std::vector<std::string>(argv + 1, argv + argc), error);
    if (!options) {
        std::cerr << "vesk: " << error << "\n" << app::tryHelpLine << "\n";
        return app::exitBadCommandLine;
    }
    int code = 0;
    if (app::runTask(*options, code)) return code;
    return app::runProgram(*options);
}
