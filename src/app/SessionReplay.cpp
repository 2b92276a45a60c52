// The session's events put back at their moments: the takes at their ticks, the choices
// in their order, the live input and the answers between the ticks and paints.
#include "app/SessionReplay.h"

#include <iostream>

namespace vesk::app {

namespace {

using platform::headless::DialogAnswer;
using platform::headless::untilAnswered;

constexpr int answerNow = 0;

bool isModal(SessionEvent::Kind kind) { return kind == SessionEvent::Kind::Box || kind == SessionEvent::Kind::Dialog; }

}  // namespace

SessionReplay::SessionReplay(const Session& session, platform::headless::HeadlessPlatform& platform)
    : session_(session), platform_(platform) {
    for (std::size_t i = 0; i < session.events.size(); ++i) {
        const Kind kind = session.events[i].kind;
        if (kind == Kind::Live || isModal(kind) || kind == Kind::End) acts_.push_back(i);
        end_.at = std::max(end_.at, session.events[i].at);
    }
    // A session cut short (the run crashed) is replayed as far as it goes.
    end_.kind = Kind::End;
    if (!session.ended) acts_.push_back(session.events.size());
    claimed_.assign(session.events.size(), false);
}

void SessionReplay::attach(Vesk& vesk) {
    vesk_ = &vesk;
    // Nothing the file's sequencer captures reaches a tick; only the session's notes do.
    vesk.inbox.setTap(this);
    // Every dialog is answered from the session; one it has no answer for ends the run.
    platform_.setDefaultDialogAnswer(std::nullopt);
    if (session_.unattended) vesk.platform.modalUi().setUnattended(true);
}

void SessionReplay::detach() {
    if (vesk_) vesk_->inbox.setTap(nullptr);
}

void SessionReplay::handle(const platform::Message& message, platform::WindowHandler& window) {
    window_ = &window;
    if (SessionClock::isTick(message)) catchUpTo({clock_.now().tick, true});
    clock_.taking(message);
    window.handleMessage(message);
    clock_.taken(message);
    catchUpTo(clock_.now());
}

void SessionReplay::catchUpTo(SessionMoment moment) {
    while (nextAct_ < acts_.size()) {
        const std::size_t index = acts_[nextAct_];
        const SessionEvent& e = index < session_.events.size() ? session_.events[index] : end_;
        if (moment < e.at) return;
        ++nextAct_;
        if (std::erase(answeredAtOpening_, index) == 0) act(e);
    }
}

void SessionReplay::act(const SessionEvent& e) {
    switch (e.kind) {
    case Kind::Live:
        if (window_) window_->handleMessage({platform::MessageType::MidiInput, e.message});
        break;
    case Kind::Box:
    case Kind::Dialog:
        if (!platform_.answerOpenModal())
            divergence(std::string(e.kind == Kind::Box ? "a box" : "the dialog") + " the session answered was not showing");
        break;
    case Kind::End:
        // The replay is done, however the live run ended (Esc, a signal, a failure).
        platform_.loop().postQuit(0);
        break;
    default:
        break;
    }
}

void SessionReplay::drained(std::vector<std::uint8_t>& on, std::vector<std::uint8_t>& off) {
    on.clear();
    off.clear();
    const std::int64_t tick = clock_.now().tick;
    for (; nextTake_ < session_.events.size(); ++nextTake_) {
        const SessionEvent& e = session_.events[nextTake_];
        if (e.kind != Kind::Take) continue;
        if (e.at.tick > tick) return;
        if (e.at.tick < tick) {
            divergence("notes were taken at a tick that has gone by");
            continue;
        }
        on = e.on;
        off = e.off;
        ++nextTake_;
        return;
    }
}

std::optional<SessionReplay::Opening> SessionReplay::openFor(Kind kind) {
    for (std::size_t i = 0; i < session_.events.size(); ++i) {
        if (claimed_[i] || session_.events[i].kind != kind) continue;
        claimed_[i] = true;
        if (session_.events[i].at != clock_.now()) return Opening{i, untilAnswered};
        // Answered where it opened: at once, before anything else can happen.
        answeredAtOpening_.push_back(i);
        return Opening{i, answerNow};
    }
    return std::nullopt;
}

void SessionReplay::boxShowing() {
    const std::optional<Opening> opening = openFor(Kind::Box);
    if (!opening && !session_.unattended) divergence("a box showed that the session has not");
    platform_.setMessageBoxOpenMs(opening ? opening->openMs : answerNow);
}

void SessionReplay::dialogShowing() {
    const std::optional<Opening> opening = openFor(Kind::Dialog);
    if (!opening) {
        // The session ended with the dialog open: it stays open until the end comes.
        platform_.answerDialog({{}, DialogAnswer::Action::Close, 0, untilAnswered});
        return;
    }
    const SessionEvent& e = session_.events[opening->index];
    DialogAnswer answer;
    answer.typed = {{midi::fileNameControl, e.path.empty() ? e.fileText : e.path},
                    {midi::channelControl, e.channelText}};
    answer.action = e.control == 0 ? DialogAnswer::Action::Close : DialogAnswer::Action::Press;
    answer.controlId = e.control;
    answer.openMs = opening->openMs;
    platform_.answerDialog(std::move(answer));
}

std::optional<midi::SmfChoice> SessionReplay::next() {
    endOfRun_.reset();
    while (nextChoice_ < session_.events.size() && session_.events[nextChoice_].kind != Kind::Choice) ++nextChoice_;
    if (nextChoice_ >= session_.events.size()) return std::nullopt;
    const SessionEvent& e = session_.events[nextChoice_++];
    if (!e.path.empty()) return midi::SmfChoice{e.path, e.channel - 1};
    // The dialog, unless the source ended the run there and then.
    std::size_t following = nextChoice_;
    while (following < session_.events.size() && session_.events[following].kind != Kind::Choice) ++following;
    if (following < session_.events.size() && session_.events[following].endOfRun) {
        endOfRun_ = session_.events[following].code;
        nextChoice_ = following + 1;
    }
    return std::nullopt;
}

void SessionReplay::divergence(const std::string& what) {
    if (diverged_) return;
    diverged_ = true;
    std::cerr << "vesk: the replay went otherwise than the session at tick " << clock_.now().tick << ": " << what
              << "; from here it may differ\n";
}

}  // namespace vesk::app
