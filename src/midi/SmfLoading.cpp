// The file dialog, the choice and the load. Relative names open from the working directory.
#include "midi/SmfLoading.h"

#include "platform/MidiMessage.h"
#include "platform/RegularFile.h"

namespace vesk::midi {

namespace {

using platform::BoxOwner;
using platform::ControlKind;
namespace style = platform::controlStyle;

constexpr const char* defaultFileName = "vobe.mid";
constexpr const char* channelErrorText = "チャネルのエラーです。";

// Backgrounds of the first, third, ... and of the second, fourth, ... file opened.
constexpr std::uint32_t evenLoadBackground = 0xFF020000u;
constexpr std::uint32_t oddLoadBackground = 0xFF050000u;

platform::DialogTemplate makeTemplate() {
    platform::DialogTemplate d;
    d.id = 104;
    d.caption = "Select SMF";
    d.width = 199;
    d.height = 165;
    d.fontName = "ＭＳ Ｐゴシック";
    d.fontPoints = 9;
    d.closeBox = true;
    const std::uint32_t label = style::alignCentre | style::verticalCentre;
    const std::uint32_t prompt = style::alignLeft | style::verticalCentre;
    const std::uint32_t field = style::border | style::scrollHorizontally | style::tabStop;
    d.controls = {
        {ControlKind::Static, platform::noControlId, 10, 15, 150, 25,
         "読み込むSMFを指定してください。", prompt},
        {ControlKind::Static, platform::noControlId, 5, 45, 60, 20, "File Name", label},
        {ControlKind::Edit, fileNameControl, 70, 45, 80, 20, "", field, fileNameLimit},
        {ControlKind::Static, platform::noControlId, 10, 75, 145, 20,
         "音をひろうチャネルを指定してください。", prompt},
        {ControlKind::Static, platform::noControlId, 10, 100, 55, 20, "Midi Chanel", label},
        {ControlKind::Edit, channelControl, 70, 100, 25, 20, "", field | style::alignCentre,
         channelLimit},
        {ControlKind::Button, runButton, 35, 140, 50, 14, "実行",
         style::defaultButton | style::tabStop},
        {ControlKind::Button, quitButton, 105, 140, 50, 15, "終了", style::tabStop},
    };
    return d;
}

const char* errorText(SmfError code) {
    switch (code) {
    case SmfError::Memory: return "メモリのエラーです！";
    case SmfError::FileOpen: return "ファイルオープンのエラーです！";
    case SmfError::FileSize: return "ファイルサイズのエラーです！";
    case SmfError::Format: return "このフォーマットはサポートしていません！";
    case SmfError::TimerTooSlow: return "CPUクロックが遅すぎます！";
    case SmfError::UndefinedEvent:
        return "未定義のMIDIイベントが含まれています。市販のシーケンスソフトで開いて、"
               "フォーマット０で保存してからもう一度開いてみて下さい。";
    }
    return nullptr;
}

// The dialog's answer: true to go on with its fields, false when the run is to end.
bool askForFile(SmfFile& file, platform::Platform& platform, const SmfChoice& offered) {
    SmfDialogProcedure procedure(file, offered);
    const int result = platform.modalUi().runDialog(smfDialogTemplate(), procedure);
    if (result == platform::dialogAbandoned) return false;  // the quit is on its way already
    if (result == dialogQuit) {
        platform.loop().postQuit(0);
        return false;
    }
    return true;
}

// The next file and channel into `file`: the source's choice, or the dialog's answer.
bool choose(SmfFile& file, platform::Platform& platform, SmfSource& source) {
    if (const std::optional<SmfChoice> choice = source.next()) {
        file.smfPath = choice->path;
        file.listenChannel = choice->listenChannel;
        return true;
    }
    if (const std::optional<int> code = source.endOfRun()) {
        platform.loop().postQuit(*code);
        return false;
    }
    return askForFile(file, platform, source.offered());
}

std::string quoted(const std::string& path) { return "\"" + path + "\""; }

std::string whatHappened(SmfError code, const SmfFile& file, const std::string& reason) {
    const std::string name = quoted(file.smfPath);
    switch (code) {
    case SmfError::Memory:
        return "no memory for the file buffer of " + std::to_string(smfBufferSize) + " bytes";
    case SmfError::FileOpen: return "cannot open " + name + ": " + reason;
    case SmfError::FileSize:
        return file.smfLength == 0 ? name + " is empty"
                                   : name + " is " + std::to_string(smfBufferSize) +
                                         " bytes or more; the player takes smaller files";
    case SmfError::Format:
        return name + " is not a file the player takes: " + headerProblem(file) +
               " (given on the command line, 'vesk FILE' converts it)";
    case SmfError::TimerTooSlow:
        return "the timers cannot keep up with " + name + ": its ticks are too short";
    case SmfError::UndefinedEvent:
        return name + " holds an event the player cannot play (running status or a system "
                      "message); its playback stops here";
    }
    return {};
}

void showChannelError(platform::ModalUi& ui, const SmfFile& file) {
    ui.reportError(channelErrorText, BoxOwner::Window,
                   "the channel is not a number from 1 to 16; " + quoted(file.smfPath) + " is not played");
}

}  // namespace

SmfChoice dialogDefaults() { return {defaultFileName, 0}; }

std::optional<SmfChoice> GivenThenAsk::next() {
    if (played_) return std::nullopt;
    played_ = true;
    return given_;
}

const platform::DialogTemplate& smfDialogTemplate() {
    static const platform::DialogTemplate dialog = makeTemplate();
    return dialog;
}

int parseChannelText(const std::string& text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    int value = 0;
    // The field holds two characters, so the value cannot grow beyond two digits.
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9' && value < 100000; ++i)
        value = value * 10 + (text[i] - '0');
    return negative ? -value : value;
}

void SmfDialogProcedure::onInit(platform::DialogContext& dialog) {
    dialog.setControlText(fileNameControl, offered_.path);
    dialog.setControlText(channelControl, std::to_string(offered_.listenChannel + 1));
}

void SmfDialogProcedure::onCommand(platform::DialogContext& dialog, int controlId) {
    if (controlId == runButton) {
        file_.smfPath = dialog.controlText(fileNameControl, fileNameLimit);
        file_.listenChannel = parseChannelText(dialog.controlText(channelControl, channelLimit)) - 1;
        dialog.endDialog(dialogRun);
    } else if (controlId == quitButton) {
        dialog.endDialog(dialogQuit);
    }
    // Any other command (Esc's cancel among them) leaves the dialog open.
}

void SmfDialogProcedure::onClose(platform::DialogContext& dialog) { dialog.endDialog(dialogRun); }

SmfErrorReport describeError(SmfError code, const SmfFile& file, const std::string& reason) {
    return {code, whatHappened(code, file, reason)};
}

void showError(platform::ModalUi& ui, const SmfErrorReport& report) {
    if (const char* text = errorText(report.code)) ui.reportError(text, BoxOwner::Window, report.what);
}

bool chooseAndLoadSmf(SmfFile& file, platform::Platform& platform, const SetBackground& setBackground) {
    AskEveryTime dialog;
    return chooseAndLoadSmf(file, platform, setBackground, dialog);
}

bool chooseAndLoadSmf(SmfFile& file, platform::Platform& platform, const SetBackground& setBackground,
                      SmfSource& source) {
    platform::ModalUi& ui = platform.modalUi();
    if (!choose(file, platform, source)) return false;
    // Only a regular file opens: a named pipe, a device or a folder is the open error.
    std::optional<platform::RegularFile> opened;
    for (;;) {
        std::string reason;
        opened = platform::RegularFile::open(file.smfPath, reason);
        if (!opened) showError(ui, describeError(SmfError::FileOpen, file, reason));
        if (file.listenChannel < 0 || file.listenChannel >= platform::channelCount) {
            opened.reset();
            showChannelError(ui, file);
        } else if (opened) {
            break;
        }
        if (!choose(file, platform, source)) return false;
    }

    if (setBackground) setBackground(file.loadCount % 2 == 0 ? evenLoadBackground : oddLoadBackground);
    ++file.loadCount;

    // Nothing is read through a buffer that is not there.
    if (!file.smfBuffer) {
        showError(ui, SmfError::Memory, file);
        return false;
    }
    // A read that fails (the disk, not the file) is taken as nothing read: the size error.
    std::string reason;
    file.smfLength = int(opened->read(file.smfBuffer.get(), smfBufferSize, reason).value_or(0));
    if (file.smfLength == 0 || file.smfLength == smfBufferSize) {
        showError(ui, SmfError::FileSize, file);
        return false;
    }
    return true;
}

}  // namespace vesk::midi
