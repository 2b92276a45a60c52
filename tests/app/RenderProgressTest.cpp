// A render's progress where no terminal shows it (a log, CI): one line at each tenth of
// the expected length, never more however often it is told, and lengths as people read them.
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "app/RenderProgress.h"

namespace vesk::app {
namespace {

TEST(RenderProgress, OffATerminalSaysEachTenthOnceOnItsOwnLine) {
    std::ostringstream out;
    RenderProgress progress(out, ProgressDisplay::Lines);
    constexpr std::int64_t expectedUs = 60'000'000;
    for (std::int64_t doneUs = 0; doneUs <= expectedUs; doneUs += 10'000) progress.update(doneUs, expectedUs);
    progress.endLine();
    std::istringstream lines(out.str());
    int count = 0;
    for (std::string line; std::getline(lines, line); ++count)
        EXPECT_NE(line.find("rendered " + std::to_string((count + 1) * 10) + " %"), std::string::npos) << line;
    EXPECT_EQ(count, 9);  // 100 % is said by the line that names the finished file
    EXPECT_NE(out.str().find("of about 1:00.0"), std::string::npos);
    EXPECT_EQ(formatLength(166'510'000), "2:46.5");
}

}  // namespace
}  // namespace vesk::app
