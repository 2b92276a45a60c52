// --record: the session written as the run goes (see SessionFile.h for what it holds). It
// stands beside the window procedure (counting ticks and paints, noting live input), at
// the capture inbox (the notes each tick takes), around the boxes and dialogs, in front
// of the file source, and in the observers' chain (each file as it is loaded).
#pragma once

#include <memory>
#include <string>

#include "app/SessionFile.h"
#include "app/VeskWindow.h"
#include "app/WatchedPlatform.h"
#include "midi/SmfLoading.h"
#include "performance/Vesk.h"

namespace vesk::app {

// Ticks and paints as the window takes them: where each thing happens in a session.
class SessionClock {
public:
    // A message of the tick timer.
    static bool isTick(const platform::Message& message);
    // Before the window takes `message`.
    void taking(const platform::Message& message);
    // After the window has taken it.
    void taken(const platform::Message& message);
    SessionMoment now() const { return now_; }

private:
    SessionMoment now_;
};

class SessionRecorder final : public VeskObserver,
                              public WindowFilter,
                              public midi::DrainTap,
                              public ModalWatcher {
public:
    // Opens `path` for writing; null with the reason when it cannot be.
    static std::unique_ptr<SessionRecorder> open(const std::string& path, std::string& reason);

    // Starts the session: its first line, then the watching of `vesk`, whose platform is
    // the watched one made with this recorder, and whose file choices come from source().
    void start(Vesk& vesk, unsigned seed, bool unattended);
    // The file source to give the sequencer: `inner`'s choices, recorded.
    midi::SmfSource& source(midi::SmfSource& inner);
    // The last line, and the file closed; false when something could not be written.
    bool finish(int exitCode);

    void handle(const platform::Message& message, platform::WindowHandler& window) override;
    void drained(std::vector<std::uint8_t>& on, std::vector<std::uint8_t>& off) override;
    void boxDismissed() override;
    void dialogEnded(const DialogEnd& end) override;

    void performanceStarted(const Vesk& vesk) override;
    void fileLoaded(const Vesk& vesk) override;
    void tickCompleted(const Vesk& vesk) override;
    void repainted(const Vesk& vesk) override;
    void liveInput(const Vesk& vesk, std::uint32_t message) override;

private:
    class RecordedSource final : public midi::SmfSource {
    public:
        explicit RecordedSource(SessionRecorder& recorder) : recorder_(recorder) {}
        std::optional<midi::SmfChoice> next() override;
        midi::SmfChoice offered() const override { return inner_->offered(); }
        std::optional<int> endOfRun() const override;

        SessionRecorder& recorder_;
        midi::SmfSource* inner_ = nullptr;
    };

    SessionRecorder(std::FILE* file, const std::string& path) : writer_(file, path), source_(*this) {}
    SessionEvent event(SessionEvent::Kind kind) const;

    SessionWriter writer_;
    RecordedSource source_;
    Vesk* vesk_ = nullptr;
    std::int64_t startUs_ = 0;  // the run's clock when the session began: its "ms" count from here
    VeskObserver* next_ = nullptr;
    SessionClock clock_;
};

// A name as it will still mean the same file from another folder.
std::string absoluteName(const std::string& name);

}  // namespace vesk::app
