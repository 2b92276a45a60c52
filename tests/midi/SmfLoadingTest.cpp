// Choosing and loading a file: the dialog's defaults and fields, the checks in their
// order and their boxes, the size limits, the header check.
#include <gtest/gtest.h>

#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "midi/SmfLoading.h"
#include "platform/headless/HeadlessPlatform.h"
#include "support/FileDialogAnswers.h"
#include "support/SmfBuilder.h"

namespace vesk::midi {
namespace {

using platform::headless::HeadlessPlatform;
using platform::headless::Record;
using test::runAnswer;

struct Loader {
    HeadlessPlatform platform;
    SmfFile file;
    std::uint32_t background = 0;  // the scene's, as each load sets it
    Loader() { allocSmfBuffer(file); }

    // Runs one choose-and-load inside the loop; the boxes shown, in order.
    bool load(std::vector<std::string>* boxes = nullptr, SmfSource* source = nullptr) {
        bool loaded = false;
        AskEveryTime dialog;
        SmfSource& from = source ? *source : dialog;
        platform.runAt(platform.nowMs(), [&] {
            loaded = chooseAndLoadSmf(file, platform, [this](std::uint32_t c) { background = c; }, from);
        });
        platform.stopAt(platform.nowMs() + 100000, 7);  // unless the dialog's quit ends it first
        platform.loop().run();
        if (boxes)
            for (const Record& r : platform.records(Record::Kind::MessageBox)) boxes->push_back(r.text);
        return loaded;
    }
};

const std::string fileOpenError = "ファイルオープンのエラーです！";
const std::string fileSizeError = "ファイルサイズのエラーです！";
const std::string channelError = "チャネルのエラーです。";

TEST(SmfLoading, ChannelTextIsReadLikeAtoi) {
    const struct {
        const char* text;
        int value;
    } cases[] = {{"1", 1}, {"16", 16}, {" 7", 7}, {"+3", 3}, {"-1", -1}, {"ab", 0}, {"", 0}, {"1x", 1}};
    for (const auto& c : cases) EXPECT_EQ(parseChannelText(c.text), c.value) << c.text;
}

TEST(SmfLoading, BadChannelsAskAgainAndAGoodOneLoadsWithItsChannel) {
    Loader l;
    const std::string path = test::writeTestFile("ok.mid", test::SmfBuilder().endOfTrack().bytes());
    for (const char* bad : {"0", "17", "", "ab"}) l.platform.answerDialog(runAnswer(path, bad));
    l.platform.answerDialog(runAnswer(path, "16"));
    std::vector<std::string> boxes;
    ASSERT_TRUE(l.load(&boxes));
    EXPECT_EQ(boxes, std::vector<std::string>(4, channelError));
    EXPECT_EQ(l.file.listenChannel, 15);
    EXPECT_EQ(l.file.smfPath, path);
    EXPECT_EQ(l.file.loadCount, 1);
    EXPECT_EQ(l.background, 0xFF020000u);
    // Every showing opened with the defaults.
    for (const Record& r : l.platform.records(Record::Kind::Dialog))
        EXPECT_EQ(r.text, "Select SMF");
}

TEST(SmfLoading, CloseBoxAtTheFirstShowingTriesAnEmptyNameThenQuitEndsTheRun) {
    Loader l;
    l.platform.answerDialog(test::closeBoxAnswer());
    l.platform.answerDialog(test::quitAnswer());
    std::vector<std::string> boxes;
    EXPECT_FALSE(l.load(&boxes));
    EXPECT_EQ(boxes, std::vector<std::string>{fileOpenError});
    EXPECT_EQ(l.platform.loop().exitCode(), 0);  // the dialog's quit, not the test's 7
    EXPECT_EQ(l.file.loadCount, 0);
}

TEST(SmfLoading, FileSizesAtTheBufferLimitAndBackgroundsAlternate) {
    const struct {
        std::size_t size;
        bool loads;
    } cases[] = {{196607, true}, {196608, false}, {300000, false}, {0, false}, {22, true}};
    Loader l;
    std::uint32_t expectedBackground = 0xFF020000u;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.size);
        const std::string path = test::writeTestFile("size.mid", test::Bytes(c.size, 0));
        l.platform.answerDialog(runAnswer(path, "1"));
        std::vector<std::string> boxes;
        const std::size_t before = l.platform.records(Record::Kind::MessageBox).size();
        EXPECT_EQ(l.load(), c.loads);
        const auto after = l.platform.records(Record::Kind::MessageBox);
        EXPECT_EQ(after.size() - before, c.loads ? 0u : 1u);
        if (!c.loads) {
            EXPECT_EQ(after.back().text, fileSizeError);
        }
        // Every file opened counts, loaded or not, and the background alternates.
        EXPECT_EQ(l.background, expectedBackground);
        expectedBackground = expectedBackground == 0xFF020000u ? 0xFF050000u : 0xFF020000u;
    }
    EXPECT_EQ(l.file.loadCount, 5);
}

TEST(SmfLoading, WithoutABufferNothingIsReadAndTheMemoryErrorIsShown) {
    Loader l;
    freeSmfBuffer(l.file);
    l.platform.answerDialog(runAnswer(test::writeTestFile("m.mid", test::SmfBuilder().endOfTrack().bytes()), "1"));
    std::vector<std::string> boxes;
    EXPECT_FALSE(l.load(&boxes));
    EXPECT_EQ(boxes, std::vector<std::string>{"メモリのエラーです！"});
}

TEST(SmfLoading, AGivenFilePlaysWithoutTheDialogWhichThenOffersItForEnter) {
    Loader l;
    const std::string path = test::writeTestFile("given.mid", test::SmfBuilder().endOfTrack().bytes());
    GivenThenAsk given({path, 4});
    ASSERT_TRUE(l.load(nullptr, &given));
    EXPECT_TRUE(l.platform.records(Record::Kind::Dialog).empty());
    EXPECT_EQ(l.file.smfPath, path);
    EXPECT_EQ(l.file.listenChannel, 4);

    l.file.smfPath.clear();
    platform::headless::DialogAnswer enter;  // Run, nothing typed: the fields as offered
    enter.controlId = runButton;
    l.platform.answerDialog(enter);
    ASSERT_TRUE(l.load(nullptr, &given));
    EXPECT_EQ(l.platform.records(Record::Kind::Dialog).size(), 1u);
    EXPECT_EQ(l.file.smfPath, path);
    EXPECT_EQ(l.file.listenChannel, 4);
}

TEST(SmfLoading, EveryBoxAlsoSaysOnALineWhatHappenedToWhichFile) {
    Loader l;
    std::ostringstream log;
    l.platform.modalUi().setErrorLog(&log);
    const std::string missing = (test::TestFolder::path() / "missing.mid").string();
    const std::string empty = test::writeTestFile("empty.mid", {});
    l.platform.answerDialog(runAnswer(missing, "1"));
    l.platform.answerDialog(runAnswer(empty, "17"));
    l.platform.answerDialog(runAnswer(empty, "1"));
    EXPECT_FALSE(l.load());
    EXPECT_EQ(log.str(), "vesk: cannot open \"" + missing + "\": No such file or directory (\"" + fileOpenError +
                             "\")\n"
                             "vesk: the channel is not a number from 1 to 16; \"" + empty +
                             "\" is not played (\"" + channelError + "\")\n"
                             "vesk: \"" + empty + "\" is empty (\"" + fileSizeError + "\")\n");
}

TEST(SmfHeader, RefusesWhatItCannotPlayAndPlacesTheTrack) {
    auto header = [](test::Bytes bytes) {
        SmfFile f;
        allocSmfBuffer(f);
        std::copy(bytes.begin(), bytes.end(), f.smfBuffer.get());
        f.smfLength = int(bytes.size());
        const auto error = parseSmfHeader(f);
        return std::make_pair(error, std::move(f));
    };
    const test::Bytes ok = test::SmfBuilder(480).endOfTrack().bytes();
    {
        auto [error, f] = header(ok);
        EXPECT_FALSE(error);
        EXPECT_EQ(f.division, 480);
        EXPECT_EQ(f.readPos, 22);
        EXPECT_EQ(f.trackEnd, 26);
    }
    test::Bytes strangeChunks = ok;
    strangeChunks[0] = 'X';
    strangeChunks[14] = 'Y';
    EXPECT_FALSE(header(strangeChunks).first);
    EXPECT_EQ(header(test::SmfBuilder(480, 1).endOfTrack().bytes()).first, SmfError::Format);
    EXPECT_EQ(header(test::SmfBuilder(0xE728).endOfTrack().bytes()).first, SmfError::Format);
    EXPECT_EQ(header(test::SmfBuilder(0).endOfTrack().bytes()).first, SmfError::Format);
    EXPECT_EQ(header(test::Bytes(ok.begin(), ok.begin() + 14)).first, SmfError::Format);
    auto [error, f] = header(test::SmfBuilder(96).endOfTrack().bytes(0xFFFFFFFF));
    EXPECT_FALSE(error);
    EXPECT_EQ(f.trackEnd, 22 + 0xFFFFFFFFll);
    EXPECT_EQ(f.readEnd(), 26);  // never past the bytes loaded
}

}  // namespace
}  // namespace vesk::midi
