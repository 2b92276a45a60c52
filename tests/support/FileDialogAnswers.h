// The file dialog as a user answers it on the headless backend: a file and a channel
// with Run, Quit, or the close box, each after the dialog has been open `openMs`. The
// fields are the ones the system's own dialog reads, so no test spells out its controls.
#pragma once

#include <string>

#include "midi/SmfLoading.h"
#include "platform/headless/HeadlessPlatform.h"

namespace vesk::test {

using platform::headless::DialogAnswer;

// `channel` is the text typed, 1-based as the user types it.
inline DialogAnswer runAnswer(const std::string& file, const std::string& channel = "1",
                              int openMs = 0) {
    return {{{midi::fileNameControl, file}, {midi::channelControl, channel}},
            DialogAnswer::Action::Press, midi::runButton, openMs};
}

inline DialogAnswer quitAnswer(int openMs = 0) {
    return {{}, DialogAnswer::Action::Press, midi::quitButton, openMs};
}

inline DialogAnswer closeBoxAnswer(int openMs = 0) {
    return {{}, DialogAnswer::Action::Close, 0, openMs};
}

}  // namespace vesk::test
