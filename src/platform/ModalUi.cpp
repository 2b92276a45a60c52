// The line every error box writes.
#include "platform/ModalUi.h"

#include <iostream>

namespace vesk::platform {

ModalUi::ModalUi() : errorLog_(&std::cerr) {}

void ModalUi::reportError(std::string_view text, BoxOwner owner, std::string_view what) {
    if (errorLog_) {
        // Whole, in one write, so that it stays one line beside another thread's.
        const std::string line = "vesk: " + std::string(what) + " (\"" + std::string(text) + "\")\n";
        *errorLog_ << line << std::flush;
    }
    if (!unattended_) showMessageBox(text, owner);
}

}  // namespace vesk::platform
