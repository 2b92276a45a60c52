// The estimate's figures and the progress lines.
#include "app/RenderProgress.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ostream>

#include "flake/FlakeState.h"
#include "performance/TickDriver.h"

namespace vesk::app {

namespace {

constexpr double usPerSecond = 1e6;
constexpr std::int64_t usPerMs = 1000;

// From the finale's start to the next performance, measured over files of 5 to 400 s:
// the replay goes over the music again at a pace that speeds up to about 0.3 of it, after
// a settling time; within 4 % of 19.9, 30.4, 49.5, 86.7 and 151.9 s for finales starting
// at 7.8, 22.8, 62.8, 182.8 and 402.8 s.
constexpr double finaleShareOfMusic = 0.3;
constexpr double finaleBaseSeconds = 14.0;
constexpr double finaleSettlingSeconds = 21.0;
constexpr double finaleSettlingScaleSeconds = 50.0;
// From the flake's last segment going to the next performance: 3.4 to 4.2 s in those runs.
constexpr double windDownSeconds = 3.6;

// The terminal's line.
constexpr int barCells = 24;
constexpr auto redrawEvery = std::chrono::milliseconds(100);
constexpr int tenths = 10;
constexpr int percentShownUntilDone = 99;

std::int64_t finaleLengthUs(std::int64_t finaleStartUs) {
    const double music = double(finaleStartUs) / usPerSecond;
    const double seconds = finaleShareOfMusic * music + finaleBaseSeconds +
                           finaleSettlingSeconds * (1.0 - std::exp(-music / finaleSettlingScaleSeconds));
    return std::int64_t(seconds * usPerSecond);
}

int percentOf(std::int64_t doneUs, std::int64_t expectedUs) {
    if (expectedUs <= 0) return 0;
    return int(std::min<std::int64_t>(doneUs * 100 / expectedUs, percentShownUntilDone));
}

}  // namespace

void LengthEstimate::tick(std::int64_t nowUs, const PerformanceState& s) {
    if (s.finaleStarted && finaleStartUs_ < 0) finaleStartUs_ = nowUs;
    if (s.finaleStarted && s.flake.segmentCount == flake::seedArmCount && windDownStartUs_ < 0)
        windDownStartUs_ = nowUs;
}

std::int64_t LengthEstimate::expectedUs(std::int64_t nowUs) const {
    std::int64_t expected = 0;
    if (windDownStartUs_ >= 0) {
        expected = windDownStartUs_ + std::int64_t(windDownSeconds * usPerSecond);
    } else if (finaleStartUs_ >= 0) {
        expected = finaleStartUs_ + finaleLengthUs(finaleStartUs_);
    } else {
        const std::int64_t silence = std::int64_t(finaleStartSilentTicks) * startTickIntervalMs * usPerMs;
        const std::int64_t finaleStart = std::max(fileUs_, nowUs) + silence;
        expected = finaleStart + finaleLengthUs(finaleStart);
    }
    return std::max(expected, nowUs);
}

std::string formatLength(std::int64_t us) {
    const std::int64_t tenthsOfSecond = std::max<std::int64_t>(us, 0) / 100'000;
    char text[32];
    std::snprintf(text, sizeof text, "%lld:%02lld.%lld", static_cast<long long>(tenthsOfSecond / 600),
                  static_cast<long long>(tenthsOfSecond / 10 % 60), static_cast<long long>(tenthsOfSecond % 10));
    return text;
}

RenderProgress::RenderProgress(std::ostream& out, ProgressDisplay display)
    : out_(out), display_(display), start_(std::chrono::steady_clock::now()) {}

double RenderProgress::elapsedSeconds() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
}

void RenderProgress::update(std::int64_t doneUs, std::int64_t expectedUs) {
    const auto now = std::chrono::steady_clock::now();
    if (display_ == ProgressDisplay::Terminal) {
        if (now - lastDraw_ < redrawEvery) return;
        lastDraw_ = now;
        drawLine(doneUs, expectedUs, std::chrono::duration<double>(now - start_).count());
        return;
    }
    const int tenth = percentOf(doneUs, expectedUs) / tenths;
    if (tenth <= tenthsSaid_) return;
    tenthsSaid_ = tenth;
    const double elapsed = std::chrono::duration<double>(now - start_).count();
    char line[128];
    std::snprintf(line, sizeof line, "vesk: rendered %d %% (%s of about %s) in %.1f s, %.1fx real time\n",
                  tenth * tenths, formatLength(doneUs).c_str(), formatLength(expectedUs).c_str(),
                  elapsed, elapsed > 0 ? double(doneUs) / usPerSecond / elapsed : 0.0);
    out_ << line << std::flush;
}

void RenderProgress::drawLine(std::int64_t doneUs, std::int64_t expectedUs, double elapsed) {
    const int percent = percentOf(doneUs, expectedUs);
    const int filled = percent * barCells / 100;
    const double speed = elapsed > 0 ? double(doneUs) / usPerSecond / elapsed : 0.0;
    const double left = speed > 0 ? double(expectedUs - doneUs) / usPerSecond / speed : 0.0;
    char line[160];
    std::snprintf(line, sizeof line, "\r[%s%s] %3d %%  %s of ~%s  %.1f s  %.1fx  ~%.0f s left\033[K",
                  std::string(std::size_t(filled), '#').c_str(),
                  std::string(std::size_t(barCells - filled), '.').c_str(), percent,
                  formatLength(doneUs).c_str(), formatLength(expectedUs).c_str(), elapsed, speed, left);
    out_ << line << std::flush;
    lineOpen_ = true;
}

void RenderProgress::endLine() {
    if (!lineOpen_) return;
    out_ << "\n";
    lineOpen_ = false;
}

}  // namespace vesk::app
