// The headless backend's clock, schedule, scripted answers and records. Everything runs
// on the one thread that runs the message loop; "the timer thread" is the loop waiting.
#include "platform/headless/HeadlessPlatform.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "platform/headless/PngFile.h"

namespace vesk::platform::headless {

class HeadlessPlatform::HeadlessDisplay final : public Display {
public:
    explicit HeadlessDisplay(HeadlessPlatform& p) : p_(p) {}

    bool connect() override { return !p_.failing(SetupFailure::Connect); }
    bool shareWithWindow() override { return !p_.failing(SetupFailure::ShareWithWindow); }
    bool setDisplayMode(int width, int height, int bits) override {
        const DisplayMode mode{width, height, bits};
        const bool accepted = p_.acceptedModes_.empty() || p_.acceptedModes_.count(mode) != 0;
        if (accepted) p_.currentMode_ = mode;
        Record r;
        r.kind = Record::Kind::DisplayMode;
        r.a = width;
        r.b = height;
        r.c = bits;
        r.flag = accepted;
        p_.record(std::move(r));
        return accepted;
    }
    bool createWindowTarget() override {
        if (p_.failing(SetupFailure::CreateWindowTarget)) return false;
        p_.targetCreated_ = true;
        return true;
    }
    bool attachWindowTarget() override {
        if (!p_.targetCreated_ || p_.failing(SetupFailure::AttachWindowTarget)) return false;
        p_.targetAttached_ = true;
        return true;
    }
    void releaseWindowTarget() override { p_.targetCreated_ = p_.targetAttached_ = false; }
    Size clientSize() override {
        if (p_.failing(SetupFailure::EmptyClientArea)) return {};
        return {p_.surface_.width(), p_.surface_.height()};
    }

private:
    HeadlessPlatform& p_;
};

class HeadlessPlatform::HeadlessModalUi final : public ModalUi {
public:
    explicit HeadlessModalUi(HeadlessPlatform& p) : p_(p) {}

    void showMessageBox(std::string_view text, BoxOwner owner) override {
        Record r;
        r.kind = Record::Kind::MessageBox;
        r.text = std::string(text);
        r.flag = owner == BoxOwner::Window;
        p_.record(std::move(r));
        const std::uint32_t id = p_.loop_.newModalId();
        const ScheduleKey answer =
            p_.schedule(p_.currentUs() + std::int64_t(p_.boxOpenMs_) * 1000,
                        {noTimer, [this, id] { p_.loop_.answer(id); }});
        ++p_.openModals_;
        if (!p_.loop_.runModal(id)) p_.schedule_.erase(answer);
        --p_.openModals_;
    }

    int runDialog(const DialogTemplate& dialog, DialogProcedure& procedure) override {
        DialogControls controls(dialog);
        ++p_.openModals_;
        procedure.onInit(controls);
        int result = dialogAbandoned;
        int lastControl = 0;
        while (!controls.ended()) {
            std::optional<DialogAnswer> answer;
            if (!p_.dialogAnswers_.empty()) {
                answer = std::move(p_.dialogAnswers_.front());
                p_.dialogAnswers_.pop_front();
            } else {
                answer = p_.defaultAnswer_;
            }
            if (!answer) {
                // Nobody is left to answer: the run ends here.
                p_.loop_.postQuit(0);
                break;
            }
            const std::uint32_t id = p_.loop_.newModalId();
            const ScheduleKey key =
                p_.schedule(p_.currentUs() + std::int64_t(std::max(answer->openMs, 0)) * 1000,
                            {noTimer, [this, id] { p_.loop_.answer(id); }});
            if (!p_.loop_.runModal(id)) {
                p_.schedule_.erase(key);
                break;
            }
            for (const auto& [controlId, text] : answer->typed) controls.type(controlId, text);
            lastControl = answer->action == DialogAnswer::Action::Close ? 0 : answer->controlId;
            if (answer->action == DialogAnswer::Action::Close) {
                procedure.onClose(controls);
            } else {
                const DialogControl* button = dialog.control(answer->controlId);
                if (button && button->kind == ControlKind::Button)
                    procedure.onCommand(controls, answer->controlId);
            }
        }
        if (controls.ended()) result = controls.result();
        --p_.openModals_;

        Record r;
        r.kind = Record::Kind::Dialog;
        r.text = dialog.caption;
        r.a = result;
        r.b = lastControl;
        for (const DialogControl& c : dialog.controls)
            if (c.kind == ControlKind::Edit) r.fields.emplace_back(c.id, controls.text(c.id));
        p_.record(std::move(r));
        return result;
    }

private:
    HeadlessPlatform& p_;
};

class HeadlessPlatform::VirtualTimers final : public OneShotTimers {
public:
    explicit VirtualTimers(HeadlessPlatform& p) : p_(p) {}

    unsigned minimumPeriodMs() const override { return 1; }
    std::int64_t nowUs() const override { return p_.nowUs_; }
    TimerId startAt(std::int64_t deadlineUs, unsigned, std::function<void()> callback) override {
        if (!callback) return noTimer;
        const TimerId id = ++lastId_;
        pending_[id] = p_.schedule(std::max(deadlineUs, p_.nowUs_), {id, std::move(callback)});
        return id;
    }
    void kill(TimerId id) override {
        auto it = pending_.find(id);
        if (it == pending_.end()) return;
        p_.schedule_.erase(it->second);
        pending_.erase(it);
    }
    void fired(TimerId id) { pending_.erase(id); }

private:
    HeadlessPlatform& p_;
    TimerId lastId_ = noTimer;
    std::map<TimerId, ScheduleKey> pending_;
};

class HeadlessPlatform::HeadlessDesktop final : public Desktop {
public:
    explicit HeadlessDesktop(HeadlessPlatform& p) : p_(p) {}

    void beep(int hz, int ms) override {
        Record r;
        r.kind = Record::Kind::Beep;
        r.a = hz;
        r.b = ms;
        p_.record(std::move(r));
    }
    void sleep(int ms) override {
        Record r;
        r.kind = Record::Kind::Sleep;
        r.a = ms;
        p_.record(std::move(r));
        if (p_.realTimers_)
            std::this_thread::sleep_for(std::chrono::milliseconds(std::max(ms, 0)));
        else
            p_.advanceTo(p_.nowUs_ + std::int64_t(std::max(ms, 0)) * 1000);
    }
    void setPointerPosition(int x, int y) override {
        Record r;
        r.kind = Record::Kind::Pointer;
        r.a = x;
        r.b = y;
        p_.record(std::move(r));
    }

private:
    HeadlessPlatform& p_;
};

// Fails the creations the script names; frames are counted in the order the scene
// set-up makes them: the scene's root, the camera, the flake's frame.
class HeadlessPlatform::ScriptedEngine final : public retained::Engine {
public:
    explicit ScriptedEngine(std::set<SetupFailure> failures) : failures_(std::move(failures)) {}

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
        static constexpr SetupFailure byOrder[] = {SetupFailure::CreateSceneFrame,
                                                   SetupFailure::CreateCameraFrame,
                                                   SetupFailure::CreateFlakeFrame};
        const int n = framesMade_++;
        return n < 3 && failing(byOrder[n]);
    }

    std::set<SetupFailure> failures_;
    int framesMade_ = 0;
};

HeadlessPlatform::HeadlessPlatform(int width, int height, HeadlessClock clock)
    : surface_(width, height),
      loop_(static_cast<EventSource&>(*this)),
      display_(std::make_unique<HeadlessDisplay>(*this)),
      modalUi_(std::make_unique<HeadlessModalUi>(*this)),
      timers_(std::make_unique<VirtualTimers>(*this)),
      desktop_(std::make_unique<HeadlessDesktop>(*this)) {
    if (clock == HeadlessClock::Real) realTimers_ = std::make_unique<ThreadTimers>();
}

HeadlessPlatform::~HeadlessPlatform() = default;

Display& HeadlessPlatform::display() { return *display_; }
ModalUi& HeadlessPlatform::modalUi() { return *modalUi_; }
OneShotTimers& HeadlessPlatform::timers() {
    if (realTimers_) return *realTimers_;
    return *timers_;
}
Desktop& HeadlessPlatform::desktop() { return *desktop_; }

std::unique_ptr<retained::Engine> HeadlessPlatform::createEngine() {
    if (failing(SetupFailure::CreateEngine)) return nullptr;
    return std::make_unique<ScriptedEngine>(failures_);
}

void HeadlessPlatform::stopAt(std::int64_t ms, int exitCode) {
    stopUs_ = ms * 1000;
    stopExitCode_ = exitCode;
    stopped_ = false;
}

void HeadlessPlatform::postAt(std::int64_t ms, const Message& message) {
    schedule(ms * 1000, {noTimer, [this, message] { loop_.post(message); }});
}

void HeadlessPlatform::runAt(std::int64_t ms, std::function<void()> action) {
    schedule(ms * 1000, {noTimer, std::move(action)});
}

HeadlessPlatform::ScheduleKey HeadlessPlatform::schedule(std::int64_t timeUs, Scheduled item) {
    const ScheduleKey key{std::max(timeUs, currentUs()), ++scheduleOrder_};
    schedule_.emplace(key, std::move(item));
    return key;
}

bool HeadlessPlatform::runNextDue(std::int64_t untilUs) {
    if (schedule_.empty() || schedule_.begin()->first.first > untilUs) return false;
    auto node = schedule_.extract(schedule_.begin());
    nowUs_ = std::max(nowUs_, node.key().first);
    if (node.mapped().timer != noTimer) timers_->fired(node.mapped().timer);
    node.mapped().action();
    return true;
}

void HeadlessPlatform::advanceTo(std::int64_t untilUs) {
    while (runNextDue(untilUs)) {
    }
    nowUs_ = std::max(nowUs_, untilUs);
    if (stopUs_ && !stopped_ && nowUs_ >= *stopUs_) {
        stopped_ = true;
        loop_.postQuit(stopExitCode_);
    }
}

void HeadlessPlatform::wake() {
    if (!realTimers_) return;  // virtual time: everything runs on the loop's thread
    {
        std::lock_guard lock(wakeMutex_);
        woken_ = true;
    }
    wakeUp_.notify_one();
}

// The real clock: sleep until the limit, the next scripted item or a post from another
// thread, then run the scripted items that are due.
bool HeadlessPlatform::waitReal(std::optional<std::int64_t> limitUs) {
    std::optional<std::int64_t> until = limitUs;
    if (!schedule_.empty() && (!until || schedule_.begin()->first.first < *until))
        until = schedule_.begin()->first.first;
    {
        std::unique_lock lock(wakeMutex_);
        if (until) {
            const auto deadline = std::chrono::steady_clock::now() +
                                  std::chrono::microseconds(std::max<std::int64_t>(*until - currentUs(), 0));
            wakeUp_.wait_until(lock, deadline, [this] { return woken_; });
        } else {
            wakeUp_.wait(lock, [this] { return woken_; });
        }
        woken_ = false;
    }
    const std::int64_t now = currentUs();
    while (runNextDue(now)) {
    }
    if (stopUs_ && !stopped_ && now >= *stopUs_) {
        stopped_ = true;
        loop_.postQuit(stopExitCode_);
    }
    return true;
}

bool HeadlessPlatform::wait(std::optional<std::int64_t> deadlineUs) {
    std::optional<std::int64_t> limit = deadlineUs;
    if (stopUs_ && !stopped_ && (!limit || *stopUs_ < *limit)) limit = stopUs_;
    if (realTimers_) return waitReal(limit);
    if (!limit) {
        // No deadline: jump to whatever is scheduled next, if anything is.
        if (schedule_.empty()) return false;
        return runNextDue(schedule_.begin()->first.first);
    }
    if (runNextDue(*limit)) return true;
    advanceTo(*limit);
    return true;
}

void HeadlessPlatform::record(Record record) {
    record.timeMs = nowMs();
    records_.push_back(std::move(record));
    if (listener_) listener_(records_.back());
}

std::vector<Record> HeadlessPlatform::records(Record::Kind kind) const {
    std::vector<Record> out;
    std::copy_if(records_.begin(), records_.end(), std::back_inserter(out),
                 [kind](const Record& r) { return r.kind == kind; });
    return out;
}

std::string HeadlessPlatform::writeSurfacePng(const std::string& path) const {
    return writePng(path, Image{surface_.width(), surface_.height(), surface_.pixels()});
}

}  // namespace vesk::platform::headless
