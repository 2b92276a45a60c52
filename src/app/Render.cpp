// The render's run: the headless backend scripted with the file's answer and the live
// input, the picture sampled whenever the virtual clock is about to move on, the MIDI
// stream into the offline synthesiser, beeps mixed in as tones, and the file finished
// (or abandoned) at the end. Everything runs on this one thread, in virtual time.
#include "app/Render.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <ostream>

#include "app/RenderChecks.h"
#include "app/SessionReplay.h"
#include "app/VeskWindow.h"
#include "app/WatchedPlatform.h"
#include "flake/FlakeState.h"
#include "flake/Random.h"
#include "platform/BackgroundWriter.h"
#include "platform/ForwardingPorts.h"
#include "midi/SmfLoading.h"
#include "platform/headless/HeadlessPlatform.h"

namespace vesk::app {

namespace {

using platform::FrameChange;
using platform::headless::DialogAnswer;
using platform::headless::HeadlessPlatform;
using platform::headless::Record;

constexpr std::int64_t usPerMs = 1000;
constexpr double usPerSecond = 1e6;

// A performance that never ends (a file stuck before any note in a way not foreseen)
// still ends the render, long after any it could have been.
std::int64_t renderLimitMs(std::int64_t musicUs) {
    constexpr std::int64_t times = 3, extraUs = 600'000'000;
    return (LengthEstimate(musicUs).expectedUs(0) * times + extraUs) / usPerMs;
}

// Every message taken, nothing sounded: a render of pictures alone plays the performance
// as one with sound does.
class SilentOutput final : public platform::MidiOutput {
public:
    void sendShort(std::uint32_t) override {}
    void sendLong(std::span<const std::uint8_t>) override {}
    void reset() override {}
};

// A render of the sound alone never looks at the window, so the flake is not drawn
// (through a session's replay, if any).
class SoundAlone final : public WindowFilter {
public:
    SoundAlone(platform::MessageLoop& loop, WindowFilter* next) : loop_(loop), next_(next) {}
    void handle(const platform::Message& message, platform::WindowHandler& window) override {
        WithoutPicture undrawn(window, loop_);
        if (next_)
            next_->handle(message, undrawn);
        else
            undrawn.handleMessage(message);
    }

private:
    platform::MessageLoop& loop_;
    WindowFilter* next_;
};

std::string signalName(int signal) {
    if (signal == SIGINT) return "SIGINT";
    if (signal == SIGTERM) return "SIGTERM";
    return "signal " + std::to_string(signal);
}

class Render final : public VeskObserver {
public:
    Render(const RenderJob& job, CheckedJob checked, std::ostream& out)
        : job_(job), checked_(std::move(checked)), out_(out), estimate_(checked_.musicUs),
          progress_(out, job.progress) {
        for (const ScriptedInput& input : job.input) lastInputUs_ = std::max(lastInputUs_, input.ms * usPerMs);
    }

    bool open(std::string& reason);
    int perform();
    int finish(int code);
    void performanceStarted(const Vesk&) override;
    void tickCompleted(const Vesk& vesk) override;

private:
    void script();
    void onClockMove(std::int64_t toUs);
    void captureFrames(std::int64_t untilUs);
    void endAt(std::int64_t timeUs, int code, std::string why);
    void onRecord(const Record& r);
    void sayWritten(std::int64_t endUs) const;
    // Everything is kept, or only the one performance asked for is, now that it plays.
    bool keeping() const { return !job_.performance || performances_ == *job_.performance; }

    const RenderJob& job_;
    CheckedJob checked_;
    std::ostream& out_;
    HeadlessPlatform platform_;
    std::unique_ptr<platform::MediaWriter> writer_;
    std::unique_ptr<platform::OfflineSound> sound_;
    SilentOutput silent_;
    LengthEstimate estimate_;
    RenderProgress progress_;
    std::int64_t lastInputUs_ = 0;
    int performances_ = 0;
    std::int64_t originUs_ = 0;  // where the file's time 0 lies on the run's clock
    std::int64_t nextFrame_ = 0;
    std::optional<std::int64_t> endedAtUs_;  // set when the render ends before the performance
    std::string failure_;                    // a write error: the file is abandoned
    std::vector<std::string> notes_;
};

bool Render::open(std::string& reason) {
    if (checked_.target.keepsSound) {
        sound_ = platform::openOfflineSound(
            job_.soundFont, [this] { return platform_.timers().nowUs(); },
            [this](std::span<const float> left, std::span<const float> right) {
                // Past the end nothing more is kept: the file ends where its pictures do.
                return endedAtUs_ || !keeping() || writer_->writeSound(left, right);
            },
            reason);
        if (!sound_) return false;
    }
    const platform::MediaLayout layout{job_.width, job_.height, checked_.rate, sound_ ? sound_->sampleRate() : 0};
    auto writer = platform::openMediaWriter(checked_.target, job_.out, layout, reason);
    if (!writer) return false;
    // Converting and encoding beside the performance and the synthesiser: two cores' work.
    writer_ = std::make_unique<platform::BackgroundWriter>(std::move(writer));
    return true;
}

void Render::script() {
    platform_.onClockMove([this](std::int64_t toUs) { onClockMove(toUs); });
    platform_.onRecord([this](const Record& r) { onRecord(r); });
    // A session has its own end, and its own answers and live input.
    if (job_.session) return;
    platform_.stopAt(renderLimitMs(checked_.musicUs), 0);
    platform_.answerDialog({{{midi::fileNameControl, job_.file}, {midi::channelControl, std::to_string(job_.channel)}},
                            DialogAnswer::Action::Press, midi::runButton, 0});
    // No answer after that one: the next showing of the dialog ends the run.
    platform_.setDefaultDialogAnswer(std::nullopt);
    for (const ScriptedInput& input : job_.input)
        platform_.postAt(input.ms, {platform::MessageType::MidiInput, input.message});
}

int Render::perform() {
    script();
    std::srand(job_.session ? job_.session->seed : job_.seed ? *job_.seed : unsigned(std::time(nullptr)));
    flake::CLibraryRandom random;
    std::optional<SessionReplay> replay;
    std::optional<WatchedPlatform> watched;
    if (job_.session) watched.emplace(platform_, replay.emplace(*job_.session, platform_));
    Vesk vesk(watched ? static_cast<platform::Platform&>(*watched) : platform_, random);
    vesk.observer = this;
    if (replay) {
        vesk.sequencer.setSource(&*replay);
        replay->attach(vesk);
    }
    platform::ForwardingPorts ports(sound_ ? static_cast<platform::MidiOutput&>(*sound_) : silent_, "offline render");
    WindowFilter* filter = replay ? &*replay : nullptr;
    std::optional<SoundAlone> soundAlone;
    if (!writer_->keepsPicture()) filter = &soundAlone.emplace(platform_.loop(), filter);
    const int code = runApplication(vesk, &ports, {}, filter);
    if (replay) replay->detach();
    vesk.observer = nullptr;
    return code;
}

void Render::performanceStarted(const Vesk&) {
    ++performances_;
    if (!job_.performance) return;
    if (performances_ == *job_.performance) originUs_ = platform_.timers().nowUs();
    if (performances_ > *job_.performance && !endedAtUs_) endAt(platform_.timers().nowUs(), 0, {});
}

// Before the clock leaves the present: the sound up to the next moment anything can
// happen, and every frame whose time lies before it, showing the window as it is now.
void Render::onClockMove(std::int64_t toUs) {
    if (endedAtUs_) return;
    if (sound_) sound_->renderUntil(toUs);
    captureFrames(toUs);
    if (!failure_.empty() || (sound_ && !sound_->sinkOk())) {
        if (failure_.empty()) failure_ = writer_->error();
        endAt(toUs, exitFailed, {});
    } else if (const int signal = job_.stop ? job_.stop->load() : 0; signal != 0) {
        endAt(toUs, exitStoppedBySignal + signal,
              "stopped by " + signalName(signal) + " at " + formatLength(toUs) + "; " + job_.out +
                  " holds the performance up to there");
    }
    // A session lasts as long as the live run did, or less (its ticks may have come late).
    const auto sessionUs = job_.session ? std::int64_t(job_.session->lengthMs * usPerMs) : 0;
    progress_.update(toUs, job_.session ? std::max(toUs, sessionUs) : estimate_.expectedUs(toUs));
}

void Render::captureFrames(std::int64_t untilUs) {
    if (!writer_->keepsPicture() || !failure_.empty() || !keeping()) return;
    platform::Surface& window = platform_.surface();
    bool first = true;
    while (originUs_ + frameTimeUs(nextFrame_, checked_.rate) < untilUs) {
        // The surface's own record of change, taken only when a frame is due to see it.
        const FrameChange change = first && window.takeChanged() ? FrameChange::Changed : FrameChange::Same;
        first = false;
        if (!writer_->writeFrame({window.pixels().data(), window.width(), window.height()}, change)) {
            failure_ = writer_->error();
            return;
        }
        ++nextFrame_;
    }
}

void Render::endAt(std::int64_t timeUs, int code, std::string why) {
    endedAtUs_ = timeUs;
    if (!why.empty()) notes_.push_back(std::move(why));
    platform_.loop().postQuit(code);
}

void Render::onRecord(const Record& r) {
    if (r.kind == Record::Kind::Beep && sound_) sound_->addTone(r.hz, r.ms);
    if (r.kind == Record::Kind::MessageBox)
        notes_.push_back("at " + formatLength(platform_.nowMs() * usPerMs) +
                         " the performance showed the box \"" + r.text + "\"");
}

// A performance that heard no note waits for one for ever; with the file played out (or
// stopped on an event it could not play: no timer left armed) and no live input to come,
// nothing more will happen, so the render ends there. (The next performance ticks before
// its dialog shows; that showing ends the render anyway.)
void Render::tickCompleted(const Vesk& vesk) {
    const std::int64_t now = platform_.timers().nowUs();
    estimate_.tick(now, vesk.state);
    if (job_.session) return;  // a session ends where it ended
    const bool filePlaying = vesk.sequencer.playing() && vesk.sequencer.lastDeadlineUs() > now;
    if (performances_ != 1 || filePlaying || vesk.state.finaleStarted || now <= lastInputUs_ ||
        vesk.state.flake.segmentCount != flake::seedArmCount || endedAtUs_)
        return;
    endAt(now, 0, "no note came on channel " + std::to_string(job_.channel) +
                      ", so the flake never grew; the render ends where the file does");
}

int Render::finish(int code) {
    progress_.endLine();
    for (const std::string& note : notes_) out_ << "vesk: " << note << "\n";
    if (!failure_.empty()) {
        out_ << "vesk: " << failure_ << "; nothing was left at " << job_.out << "\n";
        return exitFailed;
    }
    const std::int64_t endUs = endedAtUs_.value_or(platform_.timers().nowUs());
    if (!job_.session && endUs >= renderLimitMs(checked_.musicUs) * usPerMs)
        out_ << "vesk: the performance had not ended after " << formatLength(endUs) << "; the render stops there\n";
    if (!endedAtUs_) {
        if (sound_) sound_->renderUntil(endUs);
        captureFrames(endUs);
    }
    if (!failure_.empty() || !writer_->finish()) {
        out_ << "vesk: " << (failure_.empty() ? writer_->error() : failure_) << "; nothing was left at "
             << job_.out << "\n";
        return exitFailed;
    }
    sayWritten(endUs - originUs_);
    return code;
}

void Render::sayWritten(std::int64_t endUs) const {
    const double seconds = progress_.elapsedSeconds();
    char figures[160];
    std::snprintf(figures, sizeof figures, " in %.1f s, %.1fx real time", seconds,
                  seconds > 0 ? double(endUs) / usPerSecond / seconds : 0.0);
    out_ << "vesk: wrote " << job_.out << ": " << formatLength(endUs) << " of " << checked_.target.description;
    if (writer_->keepsPicture())
        out_ << ", " << job_.width << "x" << job_.height << " at " << job_.fps << " fps (" << nextFrame_
             << " frames)";
    out_ << figures << "\n";
}

}  // namespace

int renderPerformance(const RenderJob& job, std::ostream& progress) {
    std::string reason;
    const auto checked = checkRenderJob(job, reason);
    if (!checked) {
        progress << "vesk: " << reason << "\n";
        return exitBadCommandLine;
    }
    Render render(job, *checked, progress);
    if (!render.open(reason)) {
        progress << "vesk: " << reason << "\n";
        return exitFailed;
    }
    return render.finish(render.perform());
}

}  // namespace vesk::app
