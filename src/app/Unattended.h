// What a run keeps of each performance when nobody may be watching (--snapshot, the
// picture as its finale begins; --record-midi, the live take), and, with --loop, the boxes
// turned into lines. It watches the run beside the observer already there (a trace),
// which it passes everything on to.
#pragma once

#include <cstdint>
#include <string>

#include "app/LiveTake.h"
#include "app/Options.h"
#include "performance/Vesk.h"

namespace vesk::app {

class Unattended final : public VeskObserver {
public:
    // Takes the place of vesk's observer, passing on to it; with nothing to keep and no
    // loop it stands aside.
    Unattended(const Options& options, Vesk& vesk);
    // The take of the performance in progress is written here, at the run's end.
    ~Unattended() override;
    Unattended(const Unattended&) = delete;
    Unattended& operator=(const Unattended&) = delete;

    void performanceStarted(const Vesk& vesk) override;
    void fileLoaded(const Vesk& vesk) override {
        if (next_) next_->fileLoaded(vesk);
    }
    void tickCompleted(const Vesk& vesk) override;
    void repainted(const Vesk& vesk) override;
    void liveInput(const Vesk& vesk, std::uint32_t message) override;

private:
    void writeSnapshot(const Vesk& vesk);
    void writeTake();

    Vesk& vesk_;
    VeskObserver* next_;
    std::string snapshotDir_;
    std::string recordMidi_;
    int performance_ = 0;  // the one in progress, from 1
    std::int64_t startUs_ = 0;
    bool snapshotTaken_ = false;
    bool snapshotFailed_ = false;  // said once
    LiveTake take_;
};

// Where the snapshot of performance `performance` of `song` taken at `when` (seconds since
// the epoch, local time) goes: DIR/2026-12-07T18-05-03_song_0003.png.
std::string snapshotPath(const std::string& dir, std::int64_t when, const std::string& song, int performance);

}  // namespace vesk::app
