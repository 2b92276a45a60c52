// The headless backend: the whole platform without a screen, for tests, traces and
// offline runs. Its parts (display, modal UI, one-shot timers, desktop, engine) share one
// HeadlessState, which only this backend's source sees.
//
// Implemented:
//  - virtual time: one clock for everything that moves only while the loop waits, so
//    minutes of ticks run in milliseconds and the same inputs give the same run; one-shot
//    timer callbacks and scripted events run in deadline order on the window thread;
//  - scripted dialogs and boxes: answered from a script after a virtual time open, the
//    timers firing meanwhile; a dialog with nobody left to answer it ends the run, and so
//    may a run with nothing left on its schedule (onNothingScheduled);
//  - injectable set-up failures: any step of the display and scene set-up can be made to fail;
//  - records of every box, dialog, display mode, beep, pause and pointer move, with the
//    virtual millisecond, kept for the caller or handed to a listener as they are made;
//  - the window as an in-memory surface that can be written to PNG, and a listener told
//    before the virtual clock moves on, which is how an offline render samples the picture.
// Limits:
//  - the real-clock mode (steady_clock, one-shot timers on their own thread) is for runs
//    in real time; scripted times are then real milliseconds and runs are not reproducible;
//  - nothing is shown or heard: beeps, pauses and pointer moves are only recorded.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/Platform.h"

namespace vesk::platform::headless {

// A step of the display and scene set-up that can be made to fail.
enum class SetupFailure {
    Connect,
    ShareWithWindow,
    CreateWindowTarget,
    AttachWindowTarget,
    CreateEngine,
    EmptyClientArea,
    CreateDevice,
    CreateSceneFrame,   // the engine's first frame
    CreateCameraFrame,  // its second
    CreateFlakeFrame,   // its third
    CreateViewport,
    AddLight,
    CreateMeshBuilder,
};

struct DisplayMode {
    int width = 0, height = 0, bits = 0;
    bool operator==(const DisplayMode&) const = default;
    auto operator<=>(const DisplayMode&) const = default;
};

// A box or dialog open this long stays open until answerOpenModal() answers it.
constexpr int untilAnswered = -1;

// One answer to a dialog's showing: the texts typed into edit fields, then a button
// pressed or the close box, after the dialog has been open `openMs` of virtual time.
struct DialogAnswer {
    enum class Action { Press, Close };
    std::vector<std::pair<int, std::string>> typed;
    Action action = Action::Press;
    int controlId = 0;
    int openMs = 500;
};

// Something the program showed or asked of the desktop. Only the fields of its kind are set.
struct Record {
    enum class Kind { MessageBox, Dialog, DisplayMode, Beep, Sleep, Pointer };
    std::int64_t timeMs = 0;
    Kind kind = Kind::MessageBox;
    std::string text{};  // box text; dialog caption
    BoxOwner owner = BoxOwner::None;  // MessageBox
    int result = 0;       // Dialog: what it ended with (dialogAbandoned when the run ended it)
    int lastControl = 0;  // Dialog: the control last pressed (0: the close box)
    std::vector<std::pair<int, std::string>> fields{};  // Dialog: edit texts when it ended
    int width = 0, height = 0, bits = 0;  // DisplayMode
    bool accepted = false;                // DisplayMode
    int hz = 0;  // Beep
    int ms = 0;  // Beep, Sleep
    int x = 0, y = 0;  // Pointer
};

enum class HeadlessClock {
    Virtual,  // time moves only when everything waits; timer callbacks run on the loop's thread
    Real,     // steady_clock; one-shot timers on their own thread; scripted times are real
};

struct HeadlessState;  // the backend's data, shared by its parts
struct HeadlessParts;  // the interfaces the platform hands out

class HeadlessPlatform final : public Platform, private EventSource {
public:
    explicit HeadlessPlatform(int width = windowSize.width, int height = windowSize.height,
                              HeadlessClock clock = HeadlessClock::Virtual);
    ~HeadlessPlatform() override;

    MessageLoop& loop() override;
    Surface& surface() override;
    Display& display() override;
    ModalUi& modalUi() override;
    OneShotTimers& timers() override;
    Desktop& desktop() override;
    std::unique_ptr<retained::Engine> createEngine() override;

    // --- the script ---
    // The run ends (quit with `exitCode`) when virtual time reaches `ms`.
    void stopAt(std::int64_t ms, int exitCode = 0);
    // Posts `message` to the window at virtual time `ms` (MIDI input, keys, a close).
    void postAt(std::int64_t ms, const Message& message);
    // Runs `action` on the window thread at virtual time `ms`, while the loop waits.
    void runAt(std::int64_t ms, std::function<void()> action);
    void answerDialog(DialogAnswer answer);
    // Used once the scripted answers are spent; without one the run ends at that showing.
    void setDefaultDialogAnswer(std::optional<DialogAnswer> answer);
    // Each box stays open this long (virtual ms, or untilAnswered) before its OK is pressed.
    void setMessageBoxOpenMs(int ms);
    // Answers the innermost box or dialog open now, as its scripted answer would (the box's
    // OK, the dialog's next answer); false when none is open or it has its answer already.
    bool answerOpenModal();
    // Empty (the default): every mode is accepted.
    void acceptModes(std::set<DisplayMode> modes);
    void failSetup(SetupFailure step);
    void clearSetupFailures();

    // --- what happened ---
    std::int64_t nowMs() const;
    const std::vector<Record>& records() const;
    std::vector<Record> records(Record::Kind kind) const;
    // Called for every record as it is made (a trace, for instance), instead of keeping
    // it in records(): a run that streams what happens holds none of it, however long.
    void onRecord(std::function<void(const Record&)> listener);
    // Virtual clock only: called just before the clock moves on to `toUs`, once everything
    // due until now has run and the window has been painted, so the surface shows now what
    // the window shows until `toUs`. The listener may post, not schedule.
    void onClockMove(std::function<void(std::int64_t toUs)> listener);
    // Virtual clock without a stop: asked whenever the loop waits with nothing scheduled (no
    // one-shot timer, no scripted event, no box or dialog waiting for its answer), when
    // nothing but the window timers can happen any more. True ends the run there (exit
    // code 0) rather than let virtual time run on for ever.
    void onNothingScheduled(std::function<bool()> endsRun);
    DisplayMode currentMode() const;
    bool windowTargetAttached() const;
    int openModals() const;
    // Writes the window's pixels as a PNG; empty on success, else the reason.
    std::string writeSurfacePng(const std::string& path) const;

private:
    // EventSource: the loop waits on the schedule.
    std::int64_t nowUs() override;
    bool wait(std::optional<std::int64_t> deadlineUs) override;
    void wake() override;

    std::unique_ptr<HeadlessState> state_;
    std::unique_ptr<HeadlessParts> parts_;
};

}  // namespace vesk::platform::headless
