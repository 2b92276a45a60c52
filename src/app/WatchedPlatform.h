// A platform whose boxes and dialogs are watched: a recorded session notes when each was
// answered and what the dialog was given; its replay answers them at those moments.
// Everything else is the platform underneath, unchanged.
#pragma once

#include <string>

#include "platform/Platform.h"

namespace vesk::app {

// What the file dialog ended on: the fields as the last button found them, and that
// button (0: the close box).
struct DialogEnd {
    std::string fileText, channelText;
    int control = 0;
};

class ModalWatcher {
public:
    virtual ~ModalWatcher() = default;
    virtual void boxShowing() {}
    virtual void boxDismissed() {}
    virtual void dialogShowing() {}
    virtual void dialogEnded(const DialogEnd&) {}
};

class WatchedPlatform final : public platform::Platform {
public:
    WatchedPlatform(platform::Platform& inner, ModalWatcher& watcher) : inner_(inner), ui_(inner, watcher) {}

    platform::MessageLoop& loop() override { return inner_.loop(); }
    platform::Surface& surface() override { return inner_.surface(); }
    platform::Display& display() override { return inner_.display(); }
    platform::ModalUi& modalUi() override { return ui_; }
    platform::OneShotTimers& timers() override { return inner_.timers(); }
    platform::Desktop& desktop() override { return inner_.desktop(); }
    std::unique_ptr<retained::Engine> createEngine() override { return inner_.createEngine(); }

private:
    class WatchedUi final : public platform::ModalUi {
    public:
        WatchedUi(platform::Platform& inner, ModalWatcher& watcher) : inner_(inner), watcher_(watcher) {}
        void showMessageBox(std::string_view text, platform::BoxOwner owner) override;
        int runDialog(const platform::DialogTemplate& dialog, platform::DialogProcedure& procedure) override;

    private:
        platform::Platform& inner_;
        ModalWatcher& watcher_;
    };

    platform::Platform& inner_;
    WatchedUi ui_;
};

}  // namespace vesk::app
