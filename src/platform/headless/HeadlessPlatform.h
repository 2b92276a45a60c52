// The headless backend: one virtual clock for everything, so minutes of ticks run in
// milliseconds and a run with the same inputs is the same run (or, when asked, the real
// clock with real one-shot timers on their own thread, for runs in real time). One-shot timer callbacks
// and scripted events run in deadline order on the window thread while the loop waits;
// dialogs and message boxes are answered from a script after a virtual time open, with
// timers firing meanwhile; everything shown is recorded; the window is an in-memory
// surface that can be written to PNG. Set-up failures can be injected step by step.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/Platform.h"
#include "platform/ThreadTimers.h"

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

// One answer to a dialog's showing: the texts typed into edit fields, then a button
// pressed or the close box, after the dialog has been open `openMs` of virtual time.
struct DialogAnswer {
    enum class Action { Press, Close };
    std::vector<std::pair<int, std::string>> typed;
    Action action = Action::Press;
    int controlId = 0;
    int openMs = 500;
};

struct Record {
    enum class Kind { MessageBox, Dialog, DisplayMode, Beep, Sleep, Pointer };
    std::int64_t timeMs = 0;
    Kind kind = Kind::MessageBox;
    std::string text;  // box text; dialog caption
    int a = 0, b = 0, c = 0;  // mode width, height, bits; beep hz, ms; sleep ms; pointer x, y;
                              // dialog result (dialogAbandoned when the run ended it) and
                              // the control last pressed (0: the close box)
    bool flag = false;        // box owned by the window; mode accepted
    std::vector<std::pair<int, std::string>> fields;  // dialog: edit texts when it ended
};

enum class HeadlessClock {
    Virtual,  // time moves only when everything waits; timer callbacks run on the loop's thread
    Real,     // steady_clock; one-shot timers on their own thread; scripted times are real
};

class HeadlessPlatform final : public Platform, private EventSource {
public:
    explicit HeadlessPlatform(int width = windowSize.width, int height = windowSize.height,
                              HeadlessClock clock = HeadlessClock::Virtual);
    ~HeadlessPlatform() override;

    MessageLoop& loop() override { return loop_; }
    Surface& surface() override { return surface_; }
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
    void answerDialog(DialogAnswer answer) { dialogAnswers_.push_back(std::move(answer)); }
    // Used once the scripted answers are spent; without one the run ends at that showing.
    void setDefaultDialogAnswer(std::optional<DialogAnswer> answer) { defaultAnswer_ = std::move(answer); }
    // Each box stays open this long (virtual ms) before its OK is pressed.
    void setMessageBoxOpenMs(int ms) { boxOpenMs_ = ms; }
    // Empty (the default): every mode is accepted.
    void acceptModes(std::set<DisplayMode> modes) { acceptedModes_ = std::move(modes); }
    void failSetup(SetupFailure step) { failures_.insert(step); }
    void clearSetupFailures() { failures_.clear(); }

    // --- what happened ---
    std::int64_t nowMs() const { return currentUs() / 1000; }
    const std::vector<Record>& records() const { return records_; }
    std::vector<Record> records(Record::Kind kind) const;
    // Called for every record as it is made (a trace, for instance).
    void onRecord(std::function<void(const Record&)> listener) { listener_ = std::move(listener); }
    DisplayMode currentMode() const { return currentMode_; }
    bool windowTargetAttached() const { return targetAttached_; }
    int openModals() const { return openModals_; }
    // Writes the window's pixels as a PNG; empty on success, else the reason.
    std::string writeSurfacePng(const std::string& path) const;

private:
    class HeadlessDisplay;
    class HeadlessModalUi;
    class VirtualTimers;
    class HeadlessDesktop;
    class ScriptedEngine;
    friend class HeadlessDisplay;
    friend class HeadlessModalUi;
    friend class VirtualTimers;
    friend class HeadlessDesktop;

    struct Scheduled {
        TimerId timer = noTimer;  // a one-shot timer's id, else noTimer
        std::function<void()> action;
    };
    using ScheduleKey = std::pair<std::int64_t, std::uint64_t>;  // time, order of scheduling

    // EventSource
    std::int64_t nowUs() override { return currentUs(); }
    bool wait(std::optional<std::int64_t> deadlineUs) override;
    void wake() override;
    std::int64_t currentUs() const { return realTimers_ ? realTimers_->nowUs() : nowUs_; }
    bool waitReal(std::optional<std::int64_t> limitUs);

    ScheduleKey schedule(std::int64_t timeUs, Scheduled item);
    // Runs every scheduled item due up to `untilUs` (and the stop), then sets the clock there.
    void advanceTo(std::int64_t untilUs);
    bool runNextDue(std::int64_t untilUs);
    void record(Record record);
    bool failing(SetupFailure step) const { return failures_.count(step) != 0; }

    std::int64_t nowUs_ = 0;
    std::uint64_t scheduleOrder_ = 0;
    std::map<ScheduleKey, Scheduled> schedule_;
    std::optional<std::int64_t> stopUs_;
    int stopExitCode_ = 0;
    bool stopped_ = false;

    Surface surface_;
    MessageLoop loop_;
    std::unique_ptr<HeadlessDisplay> display_;
    std::unique_ptr<HeadlessModalUi> modalUi_;
    std::unique_ptr<VirtualTimers> timers_;
    std::unique_ptr<HeadlessDesktop> desktop_;
    std::unique_ptr<ThreadTimers> realTimers_;  // only on the real clock
    std::mutex wakeMutex_;
    std::condition_variable wakeUp_;
    bool woken_ = false;

    std::deque<DialogAnswer> dialogAnswers_;
    std::optional<DialogAnswer> defaultAnswer_;
    int boxOpenMs_ = 1000;
    std::set<DisplayMode> acceptedModes_;
    std::set<SetupFailure> failures_;
    DisplayMode currentMode_{};
    bool targetCreated_ = false;
    bool targetAttached_ = false;
    int openModals_ = 0;

    std::vector<Record> records_;
    std::function<void(const Record&)> listener_;
};

}  // namespace vesk::platform::headless
