// The headless backend's state, its clock and schedule, and the parts that read and write
// that state. Everything runs on the one thread that runs the message loop; "the timer
// thread" is the loop waiting (on the real clock, ThreadTimers' own thread instead).
#include "platform/headless/HeadlessPlatform.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <thread>

#include "platform/ThreadTimers.h"
#include "platform/headless/PngFile.h"

namespace vesk::platform::headless {

namespace {

constexpr std::int64_t usPerMs = 1000;

// The engine makes frames in the order the scene set-up asks for them: the scene's root,
// the camera, the flake's frame.
constexpr SetupFailure frameFailuresByOrder[] = {SetupFailure::CreateSceneFrame,
                                                 SetupFailure::CreateCameraFrame,
                                                 SetupFailure::CreateFlakeFrame};

}  // namespace

struct HeadlessState {
    struct Scheduled {
        TimerId timer = noTimer;  // a one-shot timer's id, else noTimer
        std::function<void()> action;
    };
    using ScheduleKey = std::pair<std::int64_t, std::uint64_t>;  // time, order of scheduling

    HeadlessState(int width, int height, HeadlessClock clock, EventSource& events)
        : surface(width, height), loop(events) {
        if (clock == HeadlessClock::Real) realTimers = std::make_unique<ThreadTimers>();
    }

    // The clock and what is scheduled on it.
    std::int64_t virtualUs = 0;
    std::unique_ptr<ThreadTimers> realTimers;  // only on the real clock
    std::uint64_t scheduleOrder = 0;
    std::map<ScheduleKey, Scheduled> schedule;
    std::optional<std::int64_t> stopUs;
    int stopExitCode = 0;
    bool stopped = false;
    std::mutex wakeMutex;  // the real clock's wait: another thread's post wakes it
    std::condition_variable wakeUp;
    bool woken = false;

    // The virtual one-shot timers not yet fired.
    TimerId lastTimerId = noTimer;
    std::map<TimerId, ScheduleKey> pendingTimers;

    // The window and its display.
    Surface surface;
    MessageLoop loop;
    DisplayMode currentMode{};
    bool targetCreated = false;
    bool targetAttached = false;
    int openModals = 0;
    // The boxes and dialogs open now, innermost last: their modal and, unless they wait to
    // be answered by answerOpenModal, their scheduled answer.
    struct OpenModal {
        std::uint32_t id;
        std::optional<std::pair<std::int64_t, std::uint64_t>> answer;
    };
    std::vector<OpenModal> openModalStack;

    // The script.
    std::deque<DialogAnswer> dialogAnswers;
    std::optional<DialogAnswer> defaultAnswer;
    int boxOpenMs = 1000;
    std::set<DisplayMode> acceptedModes;
    std::set<SetupFailure> failures;

    // What happened.
    std::vector<Record> records;
    std::function<void(const Record&)> listener;
    std::function<void(std::int64_t)> clockListener;
    std::function<bool()> nothingScheduled;
};

namespace {

using Scheduled = HeadlessState::Scheduled;
using ScheduleKey = HeadlessState::ScheduleKey;

std::int64_t currentUs(const HeadlessState& s) {
    return s.realTimers ? s.realTimers->nowUs() : s.virtualUs;
}

bool failing(const HeadlessState& s, SetupFailure step) { return s.failures.count(step) != 0; }

void record(HeadlessState& s, Record r) {
    r.timeMs = currentUs(s) / usPerMs;
    if (s.listener)
        s.listener(r);
    else
        s.records.push_back(std::move(r));
}

ScheduleKey schedule(HeadlessState& s, std::int64_t timeUs, Scheduled item) {
    const ScheduleKey key{std::max(timeUs, currentUs(s)), ++s.scheduleOrder};
    s.schedule.emplace(key, std::move(item));
    return key;
}

void moveClock(HeadlessState& s, std::int64_t toUs) {
    if (toUs <= s.virtualUs) return;
    if (s.clockListener) s.clockListener(toUs);
    s.virtualUs = toUs;
}

bool runNextDue(HeadlessState& s, std::int64_t untilUs) {
    if (s.schedule.empty() || s.schedule.begin()->first.first > untilUs) return false;
    moveClock(s, s.schedule.begin()->first.first);
    auto node = s.schedule.extract(s.schedule.begin());
    if (node.mapped().timer != noTimer) s.pendingTimers.erase(node.mapped().timer);
    node.mapped().action();
    return true;
}

void quitIfStopReached(HeadlessState& s, std::int64_t nowUs) {
    if (s.stopUs && !s.stopped && nowUs >= *s.stopUs) {
        s.stopped = true;
        s.loop.postQuit(s.stopExitCode);
    }
}

// Runs every scheduled item due up to `untilUs` (and the stop), then sets the clock there.
void advanceTo(HeadlessState& s, std::int64_t untilUs) {
    while (runNextDue(s, untilUs)) {
    }
    moveClock(s, untilUs);
    quitIfStopReached(s, s.virtualUs);
}

bool waitVirtual(HeadlessState& s, std::optional<std::int64_t> limitUs) {
    if (s.schedule.empty() && !s.stopUs && s.nothingScheduled && s.nothingScheduled()) {
        s.loop.postQuit(0);
        return true;
    }
    if (!limitUs) {
        // No deadline: jump to whatever is scheduled next, if anything is.
        if (s.schedule.empty()) return false;
        return runNextDue(s, s.schedule.begin()->first.first);
    }
    if (runNextDue(s, *limitUs)) return true;
    advanceTo(s, *limitUs);
    return true;
}

// The real clock: sleep until the limit, the next scripted item or a post from another
// thread, then run the scripted items that are due.
bool waitReal(HeadlessState& s, std::optional<std::int64_t> limitUs) {
    std::optional<std::int64_t> until = limitUs;
    if (!s.schedule.empty() && (!until || s.schedule.begin()->first.first < *until))
        until = s.schedule.begin()->first.first;
    {
        std::unique_lock lock(s.wakeMutex);
        if (until) {
            const auto deadline =
                std::chrono::steady_clock::now() +
                std::chrono::microseconds(std::max<std::int64_t>(*until - currentUs(s), 0));
            s.wakeUp.wait_until(lock, deadline, [&s] { return s.woken; });
        } else {
            s.wakeUp.wait(lock, [&s] { return s.woken; });
        }
        s.woken = false;
    }
    const std::int64_t now = currentUs(s);
    while (runNextDue(s, now)) {
    }
    quitIfStopReached(s, now);
    return true;
}

// Keeps a box or dialog open `openMs` while the loop goes on, then answers it. False when
// a quit request ended the run first; the answer is then taken off the schedule.
bool stayOpen(HeadlessState& s, int openMs) {
    const std::uint32_t id = s.loop.newModalId();
    std::optional<ScheduleKey> answer;
    if (openMs != untilAnswered)
        answer = schedule(s, currentUs(s) + std::int64_t(std::max(openMs, 0)) * usPerMs,
                          {noTimer, [&s, id] { s.loop.answer(id); }});
    s.openModalStack.push_back({id, answer});
    const bool answered = s.loop.runModal(id);
    if (s.openModalStack.back().answer) s.schedule.erase(*s.openModalStack.back().answer);
    s.openModalStack.pop_back();
    return answered;
}

std::optional<DialogAnswer> nextDialogAnswer(HeadlessState& s) {
    if (s.dialogAnswers.empty()) return s.defaultAnswer;
    DialogAnswer answer = std::move(s.dialogAnswers.front());
    s.dialogAnswers.pop_front();
    return answer;
}

class HeadlessDisplay final : public Display {
public:
    explicit HeadlessDisplay(HeadlessState& s) : s_(s) {}

    bool connect() override { return !failing(s_, SetupFailure::Connect); }
    bool shareWithWindow() override { return !failing(s_, SetupFailure::ShareWithWindow); }
    bool setDisplayMode(int width, int height, int bits) override {
        const DisplayMode mode{width, height, bits};
        const bool accepted = s_.acceptedModes.empty() || s_.acceptedModes.count(mode) != 0;
        if (accepted) s_.currentMode = mode;
        record(s_, {.kind = Record::Kind::DisplayMode,
                    .width = width, .height = height, .bits = bits, .accepted = accepted});
        return accepted;
    }
    bool createWindowTarget() override {
        if (failing(s_, SetupFailure::CreateWindowTarget)) return false;
        s_.targetCreated = true;
        return true;
    }
    bool attachWindowTarget() override {
        if (!s_.targetCreated || failing(s_, SetupFailure::AttachWindowTarget)) return false;
        s_.targetAttached = true;
        return true;
    }
    void releaseWindowTarget() override { s_.targetCreated = s_.targetAttached = false; }
    Size clientSize() override {
        if (failing(s_, SetupFailure::EmptyClientArea)) return {};
        return {s_.surface.width(), s_.surface.height()};
    }

private:
    HeadlessState& s_;
};

class HeadlessModalUi final : public ModalUi {
public:
    explicit HeadlessModalUi(HeadlessState& s) : s_(s) {}

    void showMessageBox(std::string_view text, BoxOwner owner) override {
        record(s_, {.kind = Record::Kind::MessageBox, .text = std::string(text), .owner = owner});
        ++s_.openModals;
        stayOpen(s_, s_.boxOpenMs);
        --s_.openModals;
    }

    int runDialog(const DialogTemplate& dialog, DialogProcedure& procedure) override {
        DialogControls controls(dialog);
        ++s_.openModals;
        procedure.onInit(controls);
        int lastControl = 0;
        while (!controls.ended()) {
            const std::optional<DialogAnswer> answer = nextDialogAnswer(s_);
            if (!answer) {
                // Nobody is left to answer: the run ends here.
                s_.loop.postQuit(0);
                break;
            }
            if (!stayOpen(s_, answer->openMs)) break;
            lastControl = give(*answer, dialog, controls, procedure);
        }
        --s_.openModals;
        const int result = controls.ended() ? controls.result() : dialogAbandoned;
        recordDialog(dialog, controls, result, lastControl);
        return result;
    }

private:
    // Types the answer's texts, then presses its button or the close box; returns the
    // control pressed (0: the close box). Pressing what is not a button does nothing.
    static int give(const DialogAnswer& answer, const DialogTemplate& dialog,
                    DialogControls& controls, DialogProcedure& procedure) {
        for (const auto& [controlId, text] : answer.typed) controls.type(controlId, text);
        if (answer.action == DialogAnswer::Action::Close) {
            procedure.onClose(controls);
            return 0;
        }
        const DialogControl* button = dialog.control(answer.controlId);
        if (button && button->kind == ControlKind::Button) procedure.onCommand(controls, answer.controlId);
        return answer.controlId;
    }

    void recordDialog(const DialogTemplate& dialog, const DialogControls& controls, int result,
                      int lastControl) {
        std::vector<std::pair<int, std::string>> fields;
        for (const DialogControl& c : dialog.controls)
            if (c.kind == ControlKind::Edit) fields.emplace_back(c.id, controls.text(c.id));
        record(s_, {.kind = Record::Kind::Dialog, .text = dialog.caption, .result = result,
                    .lastControl = lastControl, .fields = std::move(fields)});
    }

    HeadlessState& s_;
};

class VirtualTimers final : public OneShotTimers {
public:
    explicit VirtualTimers(HeadlessState& s) : s_(s) {}

    unsigned minimumPeriodMs() const override { return 1; }
    std::int64_t nowUs() const override { return s_.virtualUs; }
    TimerId startAt(std::int64_t deadlineUs, unsigned, std::function<void()> callback) override {
        if (!callback) return noTimer;
        const TimerId id = ++s_.lastTimerId;
        s_.pendingTimers[id] =
            schedule(s_, std::max(deadlineUs, s_.virtualUs), {id, std::move(callback)});
        return id;
    }
    void kill(TimerId id) override {
        auto it = s_.pendingTimers.find(id);
        if (it == s_.pendingTimers.end()) return;
        s_.schedule.erase(it->second);
        s_.pendingTimers.erase(it);
    }

private:
    HeadlessState& s_;
};

class HeadlessDesktop final : public Desktop {
public:
    explicit HeadlessDesktop(HeadlessState& s) : s_(s) {}

    void beep(int hz, int ms) override { record(s_, {.kind = Record::Kind::Beep, .hz = hz, .ms = ms}); }
    void sleep(int ms) override {
        record(s_, {.kind = Record::Kind::Sleep, .ms = ms});
        const int pauseMs = std::max(ms, 0);
        if (s_.realTimers)
            std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs));
        else
            advanceTo(s_, s_.virtualUs + pauseMs * usPerMs);
    }
    void setPointerPosition(int x, int y) override {
        record(s_, {.kind = Record::Kind::Pointer, .x = x, .y = y});
    }

private:
    HeadlessState& s_;
};

// Fails the creations the script names. It takes the failures as they stand when it is
// made: an engine may outlive the platform that made it.
class ScriptedEngine final : public retained::Engine {
public:
    explicit ScriptedEngine(const HeadlessState& s) : failures_(s.failures) {}

    std::unique_ptr<retained::Device> createDevice(int width, int height) override {
        if (failing(SetupFailure::CreateDevice)) return nullptr;
        return Engine::createDevice(width, height);
    }
    std::unique_ptr<retained::Frame> createRootFrame() override {
        if (nextFrameFails()) return nullptr;
        return Engine::createRootFrame();
    }
    retained::Frame* createFrame(retained::Frame& parent) override {
        if (nextFrameFails()) return nullptr;
        return Engine::createFrame(parent);
    }
    std::unique_ptr<retained::Viewport> createViewport(retained::Device& device,
                                                       retained::Frame& camera, int x, int y,
                                                       int width, int height) override {
        if (failing(SetupFailure::CreateViewport)) return nullptr;
        return Engine::createViewport(device, camera, x, y, width, height);
    }
    std::shared_ptr<retained::MeshBuilder> createMeshBuilder() override {
        if (failing(SetupFailure::CreateMeshBuilder)) return nullptr;
        return Engine::createMeshBuilder();
    }
    bool addLight(retained::Frame& frame, const retained::Light& light) override {
        if (failing(SetupFailure::AddLight)) return false;
        return Engine::addLight(frame, light);
    }

private:
    bool failing(SetupFailure step) const { return failures_.count(step) != 0; }
    bool nextFrameFails() {
        const std::size_t n = framesMade_++;
        return n < std::size(frameFailuresByOrder) && failing(frameFailuresByOrder[n]);
    }

    std::set<SetupFailure> failures_;
    std::size_t framesMade_ = 0;
};

}  // namespace

struct HeadlessParts {
    explicit HeadlessParts(HeadlessState& s) : display(s), modalUi(s), timers(s), desktop(s) {}
    HeadlessDisplay display;
    HeadlessModalUi modalUi;
    VirtualTimers timers;
    HeadlessDesktop desktop;
};

HeadlessPlatform::HeadlessPlatform(int width, int height, HeadlessClock clock)
    : state_(std::make_unique<HeadlessState>(width, height, clock, static_cast<EventSource&>(*this))),
      parts_(std::make_unique<HeadlessParts>(*state_)) {}

HeadlessPlatform::~HeadlessPlatform() = default;

MessageLoop& HeadlessPlatform::loop() { return state_->loop; }
Surface& HeadlessPlatform::surface() { return state_->surface; }
Display& HeadlessPlatform::display() { return parts_->display; }
ModalUi& HeadlessPlatform::modalUi() { return parts_->modalUi; }
OneShotTimers& HeadlessPlatform::timers() {
    if (state_->realTimers) return *state_->realTimers;
    return parts_->timers;
}
Desktop& HeadlessPlatform::desktop() { return parts_->desktop; }

std::unique_ptr<retained::Engine> HeadlessPlatform::createEngine() {
    if (failing(*state_, SetupFailure::CreateEngine)) return nullptr;
    return std::make_unique<ScriptedEngine>(*state_);
}

void HeadlessPlatform::stopAt(std::int64_t ms, int exitCode) {
    state_->stopUs = ms * usPerMs;
    state_->stopExitCode = exitCode;
    state_->stopped = false;
}

void HeadlessPlatform::postAt(std::int64_t ms, const Message& message) {
    schedule(*state_, ms * usPerMs, {noTimer, [this, message] { state_->loop.post(message); }});
}

void HeadlessPlatform::runAt(std::int64_t ms, std::function<void()> action) {
    schedule(*state_, ms * usPerMs, {noTimer, std::move(action)});
}

void HeadlessPlatform::answerDialog(DialogAnswer answer) {
    state_->dialogAnswers.push_back(std::move(answer));
}
void HeadlessPlatform::setDefaultDialogAnswer(std::optional<DialogAnswer> answer) {
    state_->defaultAnswer = std::move(answer);
}
void HeadlessPlatform::setMessageBoxOpenMs(int ms) { state_->boxOpenMs = ms; }
void HeadlessPlatform::acceptModes(std::set<DisplayMode> modes) { state_->acceptedModes = std::move(modes); }
void HeadlessPlatform::failSetup(SetupFailure step) { state_->failures.insert(step); }
void HeadlessPlatform::clearSetupFailures() { state_->failures.clear(); }

std::int64_t HeadlessPlatform::nowMs() const { return currentUs(*state_) / usPerMs; }
const std::vector<Record>& HeadlessPlatform::records() const { return state_->records; }

std::vector<Record> HeadlessPlatform::records(Record::Kind kind) const {
    std::vector<Record> out;
    std::copy_if(state_->records.begin(), state_->records.end(), std::back_inserter(out),
                 [kind](const Record& r) { return r.kind == kind; });
    return out;
}

void HeadlessPlatform::onRecord(std::function<void(const Record&)> listener) {
    state_->listener = std::move(listener);
}
void HeadlessPlatform::onClockMove(std::function<void(std::int64_t)> listener) {
    state_->clockListener = std::move(listener);
}
void HeadlessPlatform::onNothingScheduled(std::function<bool()> endsRun) {
    state_->nothingScheduled = std::move(endsRun);
}
DisplayMode HeadlessPlatform::currentMode() const { return state_->currentMode; }
bool HeadlessPlatform::windowTargetAttached() const { return state_->targetAttached; }
int HeadlessPlatform::openModals() const { return state_->openModals; }

bool HeadlessPlatform::answerOpenModal() {
    HeadlessState& s = *state_;
    if (s.openModalStack.empty() || s.openModalStack.back().id == 0) return false;
    HeadlessState::OpenModal& open = s.openModalStack.back();
    if (open.answer) s.schedule.erase(*open.answer);
    open.answer.reset();
    s.loop.answer(open.id);
    open.id = 0;  // answered: a second call does nothing
    return true;
}

std::string HeadlessPlatform::writeSurfacePng(const std::string& path) const {
    const Surface& s = state_->surface;
    return writePng(path, Image{s.width(), s.height(), s.pixels()});
}

std::int64_t HeadlessPlatform::nowUs() { return currentUs(*state_); }

bool HeadlessPlatform::wait(std::optional<std::int64_t> deadlineUs) {
    HeadlessState& s = *state_;
    std::optional<std::int64_t> limit = deadlineUs;
    if (s.stopUs && !s.stopped && (!limit || *s.stopUs < *limit)) limit = s.stopUs;
    return s.realTimers ? waitReal(s, limit) : waitVirtual(s, limit);
}

void HeadlessPlatform::wake() {
    HeadlessState& s = *state_;
    if (!s.realTimers) return;  // virtual time: everything runs on the loop's thread
    {
        std::lock_guard lock(s.wakeMutex);
        s.woken = true;
    }
    s.wakeUp.notify_one();
}

}  // namespace vesk::platform::headless
