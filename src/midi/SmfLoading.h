// Choosing and loading the file at the start of a performance: where the choice comes
// from (the file dialog, or a file chosen before the run), the dialog (its template,
// defaults and the three ways it ends), the checks in their order, the read of at most a
// buffer's worth, and the message boxes with the system's own texts.
#pragma once

#include <optional>
#include <string>

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

// A file and the channel to listen to in it.
struct SmfChoice {
    std::string path;
    int listenChannel = 0;  // 0-based
};

// What the dialog offers at every showing unless told otherwise: "vobe.mid" and "1".
SmfChoice dialogDefaults();

// Where each performance's file comes from. The dialog asks every time; a file chosen
// before the run (on the command line) plays at once and the dialog then offers it. A
// source that never answers none never shows the dialog.
class SmfSource {
public:
    virtual ~SmfSource() = default;
    // The next performance's file, chosen without asking; none: ask with the dialog.
    virtual std::optional<SmfChoice> next() = 0;
    // What the dialog shows in its fields when it asks.
    virtual SmfChoice offered() const = 0;
    // The exit code the run ends with, instead of asking, once next() has answered none
    // for a source that has nothing left to play and nobody to ask; none: ask.
    virtual std::optional<int> endOfRun() const { return std::nullopt; }
};

// The dialog, every time, with its own defaults.
class AskEveryTime final : public SmfSource {
public:
    std::optional<SmfChoice> next() override { return std::nullopt; }
    SmfChoice offered() const override { return dialogDefaults(); }
};

// `given` at once, then the dialog offering it, so that Enter plays it again.
class GivenThenAsk final : public SmfSource {
public:
    explicit GivenThenAsk(SmfChoice given) : given_(std::move(given)) {}
    std::optional<SmfChoice> next() override;
    SmfChoice offered() const override { return given_; }

private:
    SmfChoice given_;
    bool played_ = false;
};

// The dialog's procedure: `offered` in the fields at every showing; Run reads both fields
// into `file` (the channel typed minus 1); Quit ends with 20; the close box ends with 1
// without reading the fields.
class SmfDialogProcedure final : public platform::DialogProcedure {
public:
    explicit SmfDialogProcedure(SmfFile& file, SmfChoice offered = dialogDefaults())
        : file_(file), offered_(std::move(offered)) {}
    void onInit(platform::DialogContext& dialog) override;
    void onCommand(platform::DialogContext& dialog, int controlId) override;
    void onClose(platform::DialogContext& dialog) override;

private:
    SmfFile& file_;
    SmfChoice offered_;
};

// The channel field's number as the C library's atoi reads it: leading blanks, a sign,
// digits up to the first non-digit; no digits give 0.
int parseChannelText(const std::string& text);

// A numbered error as the user learns of it: the box's text by the code, and what
// happened to which file in English, taken when it happened.
struct SmfErrorReport {
    SmfError code;
    std::string what;
};

// The report of `code` for the file as it stands; `reason` is the system's, where one was
// given (why a file did not open).
SmfErrorReport describeError(SmfError code, const SmfFile& file, const std::string& reason = {});

// A box owned by the window with the text of the code, and its line.
void showError(platform::ModalUi& ui, const SmfErrorReport& report);
inline void showError(platform::ModalUi& ui, SmfError code, const SmfFile& file) {
    showError(ui, describeError(code, file));
}

// Takes the next choice from `source` (or the dialog) until a file opens with a valid
// channel (or the user quits: the quit request is posted), sets the scene's background by
// the count of loads through `setBackground`, and reads the file. True when a file is
// loaded; false after a quit, after the size check failed (its box shown), or when there is
// no buffer to load into (the memory box shown again).
bool chooseAndLoadSmf(SmfFile& file, platform::Platform& platform, const SetBackground& setBackground,
                      SmfSource& source);
// The dialog every time.
bool chooseAndLoadSmf(SmfFile& file, platform::Platform& platform, const SetBackground& setBackground);

}  // namespace vesk::midi
