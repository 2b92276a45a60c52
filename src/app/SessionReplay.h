// --session: a recorded session played again on the headless backend, on virtual time. Each
// tick takes the notes the live tick took (the file's notes are played for the sound, but
// the sequencer's timing no longer decides the tick they land in); each live message is
// handed to the window at its moment among the ticks and paints; each box and dialog is
// answered at the moment it was answered live, the dialog with what was typed; every file
// comes from where it came from; the run ends where the session did. With the same seed,
// every tick's state and every frame come out as they were.
#pragma once

#include <cstddef>
#include <optional>

#include "app/SessionFile.h"
#include "app/SessionRecorder.h"
#include "app/VeskWindow.h"
#include "app/WatchedPlatform.h"
#include "midi/SmfLoading.h"
#include "performance/Vesk.h"
#include "platform/headless/HeadlessPlatform.h"

namespace vesk::app {

class SessionReplay final : public WindowFilter, public midi::DrainTap, public ModalWatcher, public midi::SmfSource {
public:
    SessionReplay(const Session& session, platform::headless::HeadlessPlatform& platform);

    // Takes over `vesk`'s capture inbox; vesk's platform is the watched one made with this replay.
    void attach(Vesk& vesk);
    void detach();
    // The first moment the replay found the run going otherwise than the session (a box
    // the session has not, a dialog it did not answer); said on standard error once.
    bool diverged() const { return diverged_; }

    void handle(const platform::Message& message, platform::WindowHandler& window) override;
    void drained(std::vector<std::uint8_t>& on, std::vector<std::uint8_t>& off) override;
    void boxShowing() override;
    void dialogShowing() override;

    std::optional<midi::SmfChoice> next() override;
    midi::SmfChoice offered() const override { return midi::dialogDefaults(); }
    std::optional<int> endOfRun() const override { return endOfRun_; }

private:
    using Kind = SessionEvent::Kind;

    // Does, in their order, what the session did up to `moment`: live input, answers, the end.
    void catchUpTo(SessionMoment moment);
    void act(const SessionEvent& event);
    // The box or dialog now showing is the session's next of `kind`: which event answers
    // it, and how long it stays open; none when the session has no more of them.
    struct Opening {
        std::size_t index;
        int openMs;
    };
    std::optional<Opening> openFor(Kind kind);
    void divergence(const std::string& what);

    const Session& session_;
    platform::headless::HeadlessPlatform& platform_;
    Vesk* vesk_ = nullptr;
    platform::WindowHandler* window_ = nullptr;
    SessionClock clock_;
    std::vector<std::size_t> acts_;  // the events done at their moment, in order
    std::size_t nextAct_ = 0;
    std::size_t nextTake_ = 0, nextChoice_ = 0;
    std::vector<bool> claimed_;  // the boxes and dialogs given to one that showed
    std::vector<std::size_t> answeredAtOpening_;  // acts already done when their modal opened
    std::optional<int> endOfRun_;
    SessionEvent end_;
    bool diverged_ = false;
};

}  // namespace vesk::app
