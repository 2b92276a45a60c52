// A render's progress as a person watches it: on a terminal one line redrawn in place (a
// bar, the share of the expected length, elapsed time, speed against real time, time
// left), elsewhere a line at every tenth; and how long the performance is expected to
// last, refined from what it does as it goes.
#pragma once

#include <chrono>
#include <cstdint>
#include <iosfwd>
#include <string>

#include "state/PerformanceState.h"

namespace vesk::app {

enum class ProgressDisplay {
    Terminal,  // one line, redrawn
    Lines,     // a line at every tenth, for a log
};

// The performance's expected length: the file's length (through its tempo map; the live
// input's when that goes on longer), the silence before the finale, and the finale's and
// wind-down's typical length for that much music. Refined as the run goes: from the
// finale's true start once it has begun, and from the wind-down's start once that has.
class LengthEstimate {
public:
    explicit LengthEstimate(std::int64_t fileUs) : fileUs_(fileUs) {}
    // At every complete tick.
    void tick(std::int64_t nowUs, const PerformanceState& s);
    // Never before `nowUs`: a performance that runs longer than expected is not done yet.
    std::int64_t expectedUs(std::int64_t nowUs) const;

private:
    std::int64_t fileUs_;
    std::int64_t finaleStartUs_ = -1;
    std::int64_t windDownStartUs_ = -1;
};

class RenderProgress {
public:
    RenderProgress(std::ostream& out, ProgressDisplay display);

    // `doneUs` of an expected `expectedUs` rendered. Cheap enough for every clock move: a
    // terminal is redrawn at most ten times a second.
    void update(std::int64_t doneUs, std::int64_t expectedUs);
    // Ends a terminal's line, so what is said next starts on its own.
    void endLine();
    double elapsedSeconds() const;

private:
    void drawLine(std::int64_t doneUs, std::int64_t expectedUs, double elapsed);

    std::ostream& out_;
    ProgressDisplay display_;
    std::chrono::steady_clock::time_point start_;
    std::chrono::steady_clock::time_point lastDraw_{};
    int tenthsSaid_ = 0;
    bool lineOpen_ = false;
};

// "2:46.5": minutes, seconds and a tenth.
std::string formatLength(std::int64_t us);

}  // namespace vesk::app
