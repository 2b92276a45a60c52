// The watched boxes and dialogs: the watcher is told around each, and the dialog's
// procedure is watched for the fields its buttons read.
#include "app/WatchedPlatform.h"

#include "midi/SmfLoading.h"

namespace vesk::app {

namespace {

// The fields are read when a button is pressed: that is what the dialog's own procedure reads.
class WatchedProcedure final : public platform::DialogProcedure {
public:
    explicit WatchedProcedure(platform::DialogProcedure& inner) : inner_(inner) {}
    void onInit(platform::DialogContext& dialog) override { inner_.onInit(dialog); }
    void onCommand(platform::DialogContext& dialog, int controlId) override {
        end_ = {dialog.controlText(midi::fileNameControl, midi::fileNameLimit),
                dialog.controlText(midi::channelControl, midi::channelLimit), controlId};
        inner_.onCommand(dialog, controlId);
    }
    void onClose(platform::DialogContext& dialog) override {
        end_.control = 0;
        inner_.onClose(dialog);
    }
    const DialogEnd& end() const { return end_; }

private:
    platform::DialogProcedure& inner_;
    DialogEnd end_;
};

}  // namespace

void WatchedPlatform::WatchedUi::showMessageBox(std::string_view text, platform::BoxOwner owner) {
    watcher_.boxShowing();
    inner_.modalUi().showMessageBox(text, owner);
    watcher_.boxDismissed();
}

int WatchedPlatform::WatchedUi::runDialog(const platform::DialogTemplate& dialog,
                                          platform::DialogProcedure& procedure) {
    WatchedProcedure watched(procedure);
    watcher_.dialogShowing();
    const int result = inner_.modalUi().runDialog(dialog, watched);
    if (result != platform::dialogAbandoned) watcher_.dialogEnded(watched.end());
    return result;
}

}  // namespace vesk::app
