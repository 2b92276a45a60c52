// The headless backend: virtual one-shot timers, scripted dialogs and boxes, records.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "platform/headless/HeadlessPlatform.h"

namespace vesk::platform {
namespace {

using headless::DialogAnswer;
using headless::HeadlessPlatform;
using headless::Record;

TEST(HeadlessTimers, FireInDeadlineOrderAndKillCancelsOnlyPendingOnes) {
    HeadlessPlatform p;
    OneShotTimers& timers = p.timers();
    std::vector<std::pair<std::int64_t, std::string>> fired;
    auto note = [&](std::string name) { return [&, name] { fired.emplace_back(p.nowMs(), name); }; };
    timers.start(30, 1, note("c"));
    const TimerId b = timers.start(20, 1, note("b"));
    timers.start(10, 1, note("a1"));
    timers.start(10, 1, note("a2"));  // same deadline: armed later, fires later
    const TimerId killed = timers.start(15, 1, note("never"));
    timers.kill(killed);
    // A callback arms the next at an absolute deadline: no drift from when it ran.
    timers.startAt(25'000, 1, [&] {
        fired.emplace_back(p.nowMs(), "d");
        timers.startAt(50'000, 1, note("e"));
        timers.kill(b);  // already fired: no effect
    });
    EXPECT_EQ(timers.start(5, 1, {}), noTimer);
    p.stopAt(100);
    p.loop().run();
    const std::vector<std::pair<std::int64_t, std::string>> expected = {
        {10, "a1"}, {10, "a2"}, {20, "b"}, {25, "d"}, {30, "c"}, {50, "e"}};
    EXPECT_EQ(fired, expected);
}

TEST(HeadlessTimers, KeepFiringWhileABoxIsOpenAndWhileTheWindowThreadSleeps) {
    HeadlessPlatform p;
    p.setMessageBoxOpenMs(300);
    std::vector<std::int64_t> fired;
    std::function<void()> every50 = [&] {
        fired.push_back(p.nowMs());
        p.timers().startAt((std::int64_t(fired.size()) + 1) * 50'000, 1, every50);
    };
    p.timers().startAt(50'000, 1, every50);
    p.runAt(0, [&] {
        p.modalUi().showMessageBox("box", BoxOwner::None);  // 0..300
        p.desktop().sleep(200);                             // 300..500
        p.loop().postQuit(0);
    });
    p.loop().run();
    EXPECT_EQ(fired, (std::vector<std::int64_t>{50, 100, 150, 200, 250, 300, 350, 400, 450, 500}));
}

// A dialog like the file dialog: two edit fields with limits, two buttons, a close box.
DialogTemplate fileDialog() {
    DialogTemplate d;
    d.caption = "Select SMF";
    d.width = 199;
    d.height = 165;
    d.controls = {
        {ControlKind::Edit, 1000, 70, 45, 80, 20, "", controlStyle::border, 254},
        {ControlKind::Edit, 1001, 70, 100, 25, 20, "", controlStyle::border, 2},
        {ControlKind::Button, 1, 35, 140, 50, 14, "実行", controlStyle::defaultButton},
        {ControlKind::Button, 1002, 105, 140, 50, 15, "終了", 0},
        {ControlKind::Static, noControlId, 10, 15, 150, 25, "読み込むSMFを指定してください。", 0},
    };
    return d;
}

struct FileDialogProcedure final : DialogProcedure {
    void onInit(DialogContext& d) override {
        d.setControlText(1000, "vobe.mid");
        d.setControlText(1001, "1");
    }
    void onCommand(DialogContext& d, int id) override {
        commands.push_back(id);
        if (id == 1) {
            file = d.controlText(1000, 254);
            channel = d.controlText(1001, 2);
            d.endDialog(1);
        } else if (id == 1002) {
            d.endDialog(20);
        }
    }
    void onClose(DialogContext& d) override {
        ++closes;
        d.endDialog(1);
    }
    std::vector<int> commands;
    int closes = 0;
    std::string file, channel;
};

TEST(HeadlessTimers, OnTheRealClockTimersRunOnTheirOwnThreadAndPostToTheWindow) {
    HeadlessPlatform p(64, 64, headless::HeadlessClock::Real);
    struct Window final : WindowHandler {
        std::vector<Message> seen;
        void handleMessage(const Message& m) override { seen.push_back(m); }
    } window;
    p.loop().setHandler(&window);
    const auto windowThread = std::this_thread::get_id();
    std::thread::id timerThread;
    p.timers().start(20, 1, [&] {
        timerThread = std::this_thread::get_id();
        p.loop().post({MessageType::MidiInput, 0x403C90});
    });
    p.runAt(5, [&] { p.loop().post({MessageType::KeyDown, 1}); });
    p.stopAt(60, 3);
    EXPECT_EQ(p.loop().run(), 3);
    EXPECT_EQ(window.seen, (std::vector<Message>{{MessageType::KeyDown, 1}, {MessageType::MidiInput, 0x403C90}}));
    EXPECT_NE(timerThread, windowThread);
    EXPECT_GE(p.nowMs(), 60);
}

TEST(HeadlessDialog, ScriptedAnswersTypePressAndCloseWithinTheFieldLimits) {
    HeadlessPlatform p;
    const DialogTemplate dialog = fileDialog();
    // Pressing a static text or an unknown id does nothing; the dialog waits for the next answer.
    p.answerDialog({{}, DialogAnswer::Action::Press, noControlId, 100});
    p.answerDialog({{{1000, "曲.mid"}, {1001, "123"}}, DialogAnswer::Action::Press, 1, 100});
    // The close box presses no button, whatever control the answer names.
    p.answerDialog({{}, DialogAnswer::Action::Close, 1, 50});
    p.answerDialog({{}, DialogAnswer::Action::Press, 1002, 50});

    std::vector<int> results;
    FileDialogProcedure first, second, third;
    p.runAt(0, [&] {
        results.push_back(p.modalUi().runDialog(dialog, first));
        results.push_back(p.modalUi().runDialog(dialog, second));
        results.push_back(p.modalUi().runDialog(dialog, third));
        // No answer left and no default: the run ends at this showing.
        FileDialogProcedure fourth;
        results.push_back(p.modalUi().runDialog(dialog, fourth));
    });
    EXPECT_EQ(p.loop().run(), 0);

    EXPECT_EQ(results, (std::vector<int>{1, 1, 20, dialogAbandoned}));
    EXPECT_EQ(first.commands, (std::vector<int>{1}));
    EXPECT_EQ(first.file, "曲.mid");
    EXPECT_EQ(first.channel, "12");  // the channel field takes two characters
    EXPECT_EQ(second.closes, 1);
    EXPECT_TRUE(second.commands.empty());

    const auto dialogs = p.records(Record::Kind::Dialog);
    ASSERT_EQ(dialogs.size(), 4u);
    EXPECT_EQ(dialogs[0].timeMs, 200);
    EXPECT_EQ(dialogs[0].text, "Select SMF");
    EXPECT_EQ(dialogs[1].fields, (std::vector<std::pair<int, std::string>>{{1000, "vobe.mid"}, {1001, "1"}}));
    EXPECT_EQ(dialogs[3].result, dialogAbandoned);
    // The control pressed last: run, the close box, quit; none before the run ended.
    std::vector<int> lastControls;
    for (const Record& r : dialogs) lastControls.push_back(r.lastControl);
    EXPECT_EQ(lastControls, (std::vector<int>{1, 0, 1002, 0}));
}

TEST(HeadlessDialog, DefaultAnswerServesOnceTheScriptIsSpent) {
    HeadlessPlatform p;
    p.setDefaultDialogAnswer(DialogAnswer{{}, DialogAnswer::Action::Press, 1002, 10});
    FileDialogProcedure procedure;
    int result = 0;
    p.runAt(0, [&] {
        result = p.modalUi().runDialog(fileDialog(), procedure);
        p.loop().postQuit(0);
    });
    p.loop().run();
    EXPECT_EQ(result, 20);
}

TEST(HeadlessRecords, DesktopServicesAndModesAreRecordedWithTheirFieldsAsTheyHappen) {
    HeadlessPlatform p;
    p.acceptModes({{800, 600, 16}});
    std::vector<Record> heard;
    p.onRecord([&](const Record& r) { heard.push_back(r); });
    p.runAt(100, [&] {
        p.desktop().beep(880, 40);
        p.desktop().sleep(250);  // virtual time moves on meanwhile
        p.desktop().setPointerPosition(-1, 5000);
        p.display().setDisplayMode(640, 480, 8);
        p.display().setDisplayMode(800, 600, 16);
        p.loop().postQuit(0);
    });
    p.loop().run();

    const struct {
        Record::Kind kind;
        std::int64_t timeMs;
        std::vector<int> fields;  // beep: hz, ms; sleep: ms; pointer: x, y; mode: w, h, bits, accepted
    } expected[] = {
        {Record::Kind::Beep, 100, {880, 40}},
        {Record::Kind::Sleep, 100, {250}},
        {Record::Kind::Pointer, 350, {-1, 5000}},
        {Record::Kind::DisplayMode, 350, {640, 480, 8, false}},
        {Record::Kind::DisplayMode, 350, {800, 600, 16, true}},
    };
    // The listener takes them: a long run with a trace keeps none.
    EXPECT_TRUE(p.records().empty());
    const std::vector<Record>& records = heard;
    ASSERT_EQ(records.size(), std::size(expected));
    for (std::size_t i = 0; i < records.size(); ++i) {
        const Record& r = records[i];
        EXPECT_EQ(r.kind, expected[i].kind) << i;
        EXPECT_EQ(r.timeMs, expected[i].timeMs) << i;
        std::vector<int> fields;
        switch (r.kind) {
        case Record::Kind::Beep: fields = {r.hz, r.ms}; break;
        case Record::Kind::Sleep: fields = {r.ms}; break;
        case Record::Kind::Pointer: fields = {r.x, r.y}; break;
        case Record::Kind::DisplayMode: fields = {r.width, r.height, r.bits, r.accepted}; break;
        default: break;
        }
        EXPECT_EQ(fields, expected[i].fields) << i;
    }
    EXPECT_EQ(p.currentMode(), (headless::DisplayMode{800, 600, 16}));
}

TEST(DialogText, CutsOnlyBetweenWholeCharacters) {
    const struct {
        std::string text;
        std::size_t max;
        std::string expected;
    } cases[] = {
        {"vobe.mid", 254, "vobe.mid"}, {"16", 2, "16"},      {"123", 2, "12"},
        {"曲.mid", 2, ""},            {"曲.mid", 3, "曲"}, {"a曲", 3, "a"},
        {"", 2, ""},
    };
    for (const auto& c : cases) EXPECT_EQ(truncateUtf8(c.text, c.max), c.expected) << c.text;
}

}  // namespace
}  // namespace vesk::platform
