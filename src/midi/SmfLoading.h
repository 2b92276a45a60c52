// Choosing and loading the file at the start of a performance: the file dialog (its
// template, defaults and the three ways it ends), the checks in their order, the read of
// at most a buffer's worth, and the message boxes with the system's own texts.
#pragma once

#include <optional>

#include "midi/SceneBackground.h"
#include "midi/SmfFile.h"
#include "platform/DialogTemplate.h"
#include "platform/Platform.h"

namespace vesk::midi {

// The dialog's controls and results.
constexpr int fileNameControl = 1000;
constexpr int channelControl = 1001;
constexpr int runButton = 1;
constexpr int quitButton = 1002;
constexpr int dialogRun = 1;   // also the result of the close box
constexpr int dialogQuit = 20;
// What the dialog reads: a file name of up to 254 characters, a channel of up to two.
constexpr std::size_t fileNameLimit = 254;
constexpr std::size_t channelLimit = 2;

// The file dialog as the user sees it.
const platform::DialogTemplate& smfDialogTemplate();

// The dialog's procedure: defaults at every showing ("vobe.mid", "1"); Run reads both
// fields into `file` (the channel typed minus 1); Quit ends with 20; the close box ends
// with 1 without reading the fields.
class SmfDialogProcedure final : public platform::DialogProcedure {
public:
    explicit SmfDialogProcedure(SmfFile& file) : file_(file) {}
    void onInit(platform::DialogContext& dialog) override;
    void onCommand(platform::DialogContext& dialog, int controlId) override;
    void onClose(platform::DialogContext& dialog) override;

private:
    SmfFile& file_;
};

// The channel field's number as the C library's atoi reads it: leading blanks, a sign,
// digits up to the first non-digit; no digits give 0.
int parseChannelText(const std::string& text);

// A box owned by the window with the text of `code`.
void showError(platform::ModalUi& ui, SmfError code);
void showChannelError(platform::ModalUi& ui);

// Shows the dialog until a file opens with a valid channel (or the user quits: the quit
// request is posted), sets the scene's background by the count of loads through
// `setBackground`, and reads the file. True when a file is loaded; false after a quit,
// after the size check failed (its box shown), or when there is no buffer to load into
// (the memory box shown again).
bool chooseAndLoadSmf(SmfFile& file, platform::Platform& platform, const SetBackground& setBackground);

}  // namespace vesk::midi
